// The installer's messages: message boxes for a person at the screen, the standard
// streams for silent runs and diagnostics.
#include <olma/message.h>
#include <olma/stream.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"

namespace {

/** Shows a formatted text in a box with the given icon or, when silent, hands it to
 *  pfnSilent. Nothing is shown when the text cannot be formatted. */
void showMessageV(unsigned fBoxFlags, bool fSkipEmpty, void (*pfnSilent)(const char *), const char *pszFormat,
                  va_list args) {
    char *pszText = nullptr;
    if (RTStrAPrintfV(&pszText, pszFormat, args, RTSTR_TAG) < 0 || !pszText)
        return;
    if (fSkipEmpty && !*pszText) {
        RTStrFree(pszText);
        return;
    }
    if (silent)
        pfnSilent(pszText);
    else {
        RTUTF16 *pwszText = nullptr;
        if (RT_SUCCESS(RTStrToUtf16(pszText, &pwszText, RTSTR_TAG))) {
            g_StubPlatform.pfnMessageBoxW(pwszText, u"" TESKSTUB_PRODUCT_TITLE, fBoxFlags);
            RTUtf16Free(pwszText);
        } else
            g_StubPlatform.pfnMessageBoxA(pszText, TESKSTUB_PRODUCT_TITLE, fBoxFlags);
    }
    RTStrFree(pszText);
}

void silentError(const char *pszText) {
    RTMsgError("%s", pszText);
}

void silentInfo(const char *pszText) {
    RTPrintf("%s\n", pszText);
}

int printErrorV(const char *pszFormat, va_list args) {
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int rc = RTStrmPrintf(g_pStdErr, "error: %N\n", pszFormat, &argsCopy);
    va_end(argsCopy);
    return rc;
}

} // namespace

int ShowError(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    showMessageV(STUB_MB_ICONERROR, true /*fSkipEmpty*/, silentError, pszFormat, args);
    va_end(args);
    return 1;
}

void ShowInfo(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    showMessageV(STUB_MB_ICONINFORMATION, false /*fSkipEmpty*/, silentInfo, pszFormat, args);
    va_end(args);
}

int ShowSyntaxError(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list argsCopy;
    va_copy(argsCopy, args);
    ShowError("%N", pszFormat, &argsCopy);
    va_end(argsCopy);
    va_end(args);
    return 2;
}

int PrintError(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int rc = printErrorV(pszFormat, args);
    va_end(args);
    return rc;
}

int PrintErrorFailure(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    printErrorV(pszFormat, args);
    va_end(args);
    return 1;
}

int PrintErrorStatus(int rc, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    printErrorV(pszFormat, args);
    va_end(args);
    return rc;
}
