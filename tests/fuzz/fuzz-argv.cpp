// Fuzz target: splitting a command string into arguments, in both quoting styles, into
// a new buffer and in place; both ways must give the same vector.
#include <olma/getopt.h>
#include <olma/string.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb == 0)
        return 0;
    // First byte: style and whether to use custom separators.
    const uint32_t fStyle = pb[0] & RTGETOPTARGV_STYLE_MASK;
    const bool fCustomSep = pb[0] & 0x80;
    const std::string strCmd((const char *)pb + 1, cb - 1);
    const char *pszSep = fCustomSep ? ",;\t" : nullptr;

    char **papszNew = nullptr;
    int cNew = 0;
    const int rcNew = ArgvFromString(&papszNew, &cNew, strCmd.c_str(), fStyle, pszSep);

    std::string strInPlace = strCmd;
    char **papszInPlace = nullptr;
    int cInPlace = 0;
    const int rcInPlace =
        ArgvFromString(&papszInPlace, &cInPlace, strInPlace.data(), fStyle | RTGETOPTARGV_IN_PLACE, pszSep);

    if (rcNew != rcInPlace)
        abort();
    if (RT_SUCCESS(rcNew)) {
        if (cNew != cInPlace || papszNew[cNew] || papszInPlace[cInPlace])
            abort();
        for (int i = 0; i < cNew; i++)
            if (strcmp(papszNew[i], papszInPlace[i]) != 0)
                abort();
        ArgvFree(papszNew, false);
        ArgvFree(papszInPlace, true);
    }
    return 0;
}
