// Prefixed error and information messages on the standard streams.
#include <olma/message.h>
#include <olma/string.h>
#include "common/path/internal-path.h"

namespace {

/** Kept once known; runtime initialisation records the path it comes from. */
constinit const char *g_pszrtMsgProgName = nullptr;

/** The executable's file name, or null while no executable path has been recorded. */
const char *rtMsgProgName() {
    const char *pszName = __atomic_load_n(&g_pszrtMsgProgName, __ATOMIC_ACQUIRE);
    if (pszName)
        return pszName;
    size_t offName = 0;
    const char *pszPath = rtPathGetExecPath(nullptr, &offName);
    if (!pszPath)
        return nullptr;
    pszName = pszPath + offName;
    __atomic_store_n(&g_pszrtMsgProgName, pszName, __ATOMIC_RELEASE);
    return pszName;
}

/** Name and prefix; without a known name only the prefix, rather than a dangling ": ". */
void rtMsgPrintLead(PRTSTREAM pStream, const char *pszPrefix) {
    const char *pszName = rtMsgProgName();
    if (pszName)
        RTStrmPrintf(pStream, "%s: %s", pszName, pszPrefix);
    else
        RTStrmPrintf(pStream, "%s", pszPrefix);
}

} // namespace

int RTMsgPrint(PRTSTREAM pStream, const char *pszPrefix, const char *pszFormat, va_list args) {
    if (!*pszFormat || (pszFormat[0] == '\n' && pszFormat[1] == '\0')) {
        RTStrmPrintf(pStream, "\n");
        return 0;
    }

    va_list argsCopy;
    va_copy(argsCopy, args);
    char *pszMsg = nullptr;
    if (RTStrAPrintfV(&pszMsg, pszFormat, argsCopy, RTSTR_TAG) >= 0 && pszMsg) {
        const char *pszName = rtMsgProgName();
        const char *pszLine = pszMsg;
        while (*pszLine) {
            const char *pszEnd = pszLine;
            while (*pszEnd && *pszEnd != '\n')
                pszEnd++;
            if (pszEnd == pszLine)
                RTStrmPrintf(pStream, "\n");
            else if (pszName)
                RTStrmPrintf(pStream, "%s: %s%.*s\n", pszName, pszPrefix, (int)(pszEnd - pszLine), pszLine);
            else
                RTStrmPrintf(pStream, "%s%.*s\n", pszPrefix, (int)(pszEnd - pszLine), pszLine);
            pszLine = *pszEnd ? pszEnd + 1 : pszEnd;
        }
        RTStrFree(pszMsg);
    } else {
        // No memory for the text: print it straight onto the stream instead.
        rtMsgPrintLead(pStream, pszPrefix);
        RTStrmPrintfV(pStream, pszFormat, args);
        bool fHasNewline = false;
        for (const char *pch = pszFormat; *pch && !fHasNewline; pch++)
            fHasNewline = *pch == '\n';
        if (!fHasNewline)
            RTStrmPrintf(pStream, "\n");
    }
    va_end(argsCopy);
    return 0;
}

int RTMsgError(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    RTMsgPrint(g_pStdErr, "error: ", pszFormat, args);
    va_end(args);
    return 0;
}

int RTMsgInfo(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    RTMsgPrint(g_pStdOut, "info: ", pszFormat, args);
    va_end(args);
    return 0;
}
