// Windows backend: the standard streams come from GetStdHandle; GetConsoleMode tells a
// console from a file or pipe.
#include "r3/win/internal-win.h"
#include "r3/internal-stream.h"

int rtStrmNativeStdHandle(int iStd, RTFILE *phFile, bool *pfConsole) {
    static const DWORD s_adwStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    if (iStd < 0 || iStd > 2)
        return ERR_INVALID_HANDLE;
    HANDLE hNative = GetStdHandle(s_adwStd[iStd]);
    if (hNative == nullptr || hNative == INVALID_HANDLE_VALUE)
        return ERR_INVALID_HANDLE;
    const int rc = RTFileFromNative(phFile, (intptr_t)hNative);
    if (RT_FAILURE(rc))
        return rc;
    DWORD fMode = 0;
    *pfConsole = GetConsoleMode(hNative, &fMode) != FALSE;
    return 0;
}
