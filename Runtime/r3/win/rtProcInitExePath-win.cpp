// Windows backend: the executable path record, from the image's own module file name.
#include "r3/win/internal-win.h"
#include <olma/mem.h>
#include <olma/utf16.h>
#include "common/path/internal-path.h"
#include "r3/internal-init.h"

int rtProcInitExePath(const char *pszPath) {
    if (pszPath)
        return rtPathSetExecPath(pszPath);

    constexpr DWORD cwcMax = 4100;
    WCHAR *pwszPath = (WCHAR *)RTMemTmpAlloc(cwcMax * sizeof(WCHAR));
    if (!pwszPath)
        return ERR_NO_TMP_MEMORY;
    const DWORD cwc = GetModuleFileNameW(GetModuleHandleA(nullptr), pwszPath, cwcMax);
    int rc;
    if (cwc == 0)
        rc = RTErrConvertFromWinError(GetLastError());
    else if (cwc >= cwcMax)
        rc = ERR_FILENAME_TOO_LONG; // truncated: not a path that can be trusted
    else {
        char *pszUtf8 = (char *)RTMemTmpAlloc(RTPATH_EXEC_PATH_MAX);
        if (!pszUtf8)
            rc = ERR_NO_TMP_MEMORY;
        else {
            rc = RTUtf16ToUtf8Ex((const RTUTF16 *)pwszPath, cwc, &pszUtf8, RTPATH_EXEC_PATH_MAX, nullptr, __FILE__);
            if (RT_SUCCESS(rc))
                rc = rtPathSetExecPath(pszUtf8);
            RTMemFree(pszUtf8);
        }
    }
    RTMemFree(pwszPath);
    return rc;
}
