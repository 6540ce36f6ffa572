// POSIX backend: runtime initialisation. There is no version classification, library
// hardening or optional entry-point table here; only the executable path comes from
// the system.
#include <unistd.h>
#include <cerrno>
#include "common/path/internal-path.h"
#include "r3/internal-init.h"

int rtR3InitNativeFirst(uint32_t fFlags) {
    (void)fFlags;
    return 0;
}

int rtR3InitNativeHardening(uint32_t fFlags) {
    (void)fFlags;
    return 0;
}

uint32_t rtR3InitNativeProcessId() {
    return (uint32_t)getpid();
}

int rtProcInitExePath(const char *pszPath) {
    if (pszPath)
        return rtPathSetExecPath(pszPath);
    char szPath[RTPATH_EXEC_PATH_MAX];
    const ssize_t cch = readlink("/proc/self/exe", szPath, sizeof(szPath));
    if (cch < 0)
        return RTErrConvertFromErrno(errno);
    if ((size_t)cch >= sizeof(szPath))
        return ERR_BUFFER_OVERFLOW;
    szPath[cch] = '\0';
    return rtPathSetExecPath(szPath);
}
