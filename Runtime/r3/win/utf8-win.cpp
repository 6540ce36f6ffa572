// Windows backend: UTF-8 text in the current ANSI code page.
#include "r3/win/internal-win.h"
#include <olma/err.h>
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>

namespace {
/** The thread's last error as a status; never a success, since the call did fail. */
int rtUtf8WinLastErrorStatus() {
    const int rc = RTErrConvertFromWinError(GetLastError());
    return RT_FAILURE(rc) ? rc : ERR_NO_TRANSLATION;
}
} // namespace

int RTStrUtf8ToCurrentCP(char **ppszString, const char *pszString, const char *pszTag) {
    *ppszString = nullptr;
    if (!*pszString)
        return RTStrDupNEx(ppszString, pszString, 0, pszTag);

    // A UTF-8 code page takes the text as it is, once it is known to be well formed.
    if (GetACP() == CP_UTF8) {
        const int rc = RTStrValidateEncodingEx(pszString, RTSTR_MAX, 0);
        if (RT_FAILURE(rc))
            return rc;
        return RTStrDupNEx(ppszString, pszString, RTSTR_MAX, pszTag);
    }

    RTUTF16 *pwsz = nullptr;
    int rc = RTStrToUtf16Ex(pszString, RTSTR_MAX, &pwsz, 0, nullptr, pszTag);
    if (RT_FAILURE(rc))
        return rc;

    const int cb = WideCharToMultiByte(CP_ACP, 0, (LPCWCH)pwsz, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        rc = rtUtf8WinLastErrorStatus();
    else {
        char *psz = (char *)RTMemTmpAlloc((size_t)cb);
        if (!psz)
            rc = ERR_NO_TMP_MEMORY;
        else if (WideCharToMultiByte(CP_ACP, 0, (LPCWCH)pwsz, -1, psz, cb, nullptr, nullptr) > 0)
            *ppszString = psz;
        else {
            rc = rtUtf8WinLastErrorStatus();
            RTMemFree(psz);
        }
    }
    RTUtf16Free(pwsz);
    return rc;
}
