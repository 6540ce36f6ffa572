/* A minimal program image for the packer's tests: code, data and an absolute address
   (so that the image has base relocations when it is linked relocatable). It is
   never run. */
static const char g_szText[] = "fixture";
const char *g_pszText = g_szText;

int fixtureEntry(void) {
    return g_pszText[0];
}
