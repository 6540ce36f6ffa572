// Assertion messages: both go straight to the standard-error handle (the stream
// layer may be what broke), are kept for post-mortem inspection, and are shown to
// the hooks. The caller's error state survives every message.
#include <olma/assert.h>
#include <olma/err.h>
#include <olma/string.h>
#include "common/misc/internal-assert.h"

constinit PFNRTASSERTMSG1HOOK g_pfnRTAssertMsg1Hook = nullptr;
constinit PFNRTASSERTMSG2HOOK g_pfnRTAssertMsg2Hook = nullptr;
constinit RTASSERTMSG1RECORD g_RTAssertMsg1 = {};
constinit char g_szRTAssertMsg2[RTASSERT_MSG2_SIZE] = {};
constinit size_t g_cchRTAssertMsg2 = 0;

namespace {
constexpr const char g_szMsg1Format[] = "\n!!Assertion Failed!!\nExpression: %s\nLocation  : %s(%d) %s\n";

void rtAssertMsg2Worker(bool fAppend, const char *pszFormat, va_list va) {
    va_list vaCopy;
    size_t cchOld = fAppend ? __atomic_load_n(&g_cchRTAssertMsg2, __ATOMIC_ACQUIRE) : 0;
    if (cchOld >= RTASSERT_MSG2_SIZE)
        cchOld = RTASSERT_MSG2_SIZE - 1;
    if (!fAppend || cchOld < RTASSERT_MSG2_APPEND_LIMIT) {
        va_copy(vaCopy, va);
        const size_t cch =
            RTStrPrintfV(&g_szRTAssertMsg2[cchOld], sizeof(g_szRTAssertMsg2) - cchOld, pszFormat, vaCopy);
        va_end(vaCopy);
        __atomic_store_n(&g_cchRTAssertMsg2, cchOld + cch, __ATOMIC_RELEASE);
    }

    RTERRVARS SavedErr;
    RTErrVarsSave(&SavedErr);
    if (PFNRTASSERTMSG2HOOK pfnHook = g_pfnRTAssertMsg2Hook) {
        va_copy(vaCopy, va);
        pfnHook(pszFormat, vaCopy);
        va_end(vaCopy);
    }
    char szMsg[4096];
    va_copy(vaCopy, va);
    const size_t cch = RTStrPrintfV(szMsg, sizeof(szMsg), pszFormat, vaCopy);
    va_end(vaCopy);
    rtAssertWriteStdErr(szMsg, cch);
    RTErrVarsRestore(&SavedErr);
}
} // namespace

void RTAssertMsg1(const char *pszExpr, unsigned uLine, const char *pszFile, const char *pszFunction) {
    RTERRVARS SavedErr;
    RTErrVarsSave(&SavedErr);

    g_RTAssertMsg1.pszExpr = pszExpr;
    g_RTAssertMsg1.pszFile = pszFile;
    g_RTAssertMsg1.uLine = uLine;
    g_RTAssertMsg1.pszFunction = pszFunction;
    RTStrPrintf(g_RTAssertMsg1.szMsg, sizeof(g_RTAssertMsg1.szMsg), g_szMsg1Format, pszExpr, pszFile, (int)uLine,
                pszFunction);

    if (PFNRTASSERTMSG1HOOK pfnHook = g_pfnRTAssertMsg1Hook)
        pfnHook(g_szMsg1Format, pszExpr, pszFile, (int)uLine, pszFunction);

    char szMsg[2048];
    const size_t cch = RTStrPrintf(szMsg, sizeof(szMsg), g_szMsg1Format, RT_VALID_PTR(pszExpr) ? pszExpr : "<none>",
                                   RT_VALID_PTR(pszFile) ? pszFile : "<none>", (int)uLine,
                                   RT_VALID_PTR(pszFunction) ? pszFunction : "");
    rtAssertWriteStdErr(szMsg, cch);

    RTErrVarsRestore(&SavedErr);
}

void RTAssertMsg2V(const char *pszFormat, va_list va) {
    rtAssertMsg2Worker(false, pszFormat, va);
}

void RTAssertMsg2(const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    rtAssertMsg2Worker(false, pszFormat, va);
    va_end(va);
}

void RTAssertMsg2AddV(const char *pszFormat, va_list va) {
    rtAssertMsg2Worker(true, pszFormat, va);
}

void RTAssertMsg2Add(const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    rtAssertMsg2Worker(true, pszFormat, va);
    va_end(va);
}

void RTAssertPanic() {
    rtAssertPanicNative();
}
