// POSIX backend: current directory, renaming and the native form of paths.
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#include <olma/mem.h>
#include "common/path/internal-path.h"

namespace {

/** File-mode type bits: directory. */
constexpr uint32_t RTPATH_MODE_TYPE_MASK = 0xF000;
constexpr uint32_t RTPATH_MODE_TYPE_DIRECTORY = 0x4000;

} // namespace

int RTPathGetCurrent(char *pszPath, size_t cbPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (cbPath == 0)
        return ERR_BUFFER_OVERFLOW;
    if (getcwd(pszPath, cbPath))
        return 0;
    if (errno == ERANGE)
        return ERR_BUFFER_OVERFLOW;
    return RTErrConvertFromErrno(errno);
}

int RTPathGetCurrentOnDrive(char chDrive, char *pszPath, size_t cbPath) {
    // There are no drives here, hence no current directory per drive.
    (void)chDrive;
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (cbPath == 0)
        return ERR_BUFFER_OVERFLOW;
    return ERR_NOT_SUPPORTED;
}

int RTPathSetCurrent(const char *pszPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (*pszPath == '\0')
        return ERR_INVALID_PARAMETER;
    if (chdir(pszPath) == 0)
        return 0;
    return RTErrConvertFromErrno(errno);
}

int RTPathRename(const char *pszSrc, const char *pszDst, unsigned fMoveFlags, uint32_t fExpectedType) {
    if (!rtPathValidPtr(pszSrc) || !rtPathValidPtr(pszDst))
        return ERR_INVALID_POINTER;
    if (fExpectedType) {
        struct stat St;
        if (lstat(pszSrc, &St) != 0)
            return RTErrConvertFromErrno(errno);
        const bool fWantDir = (fExpectedType & RTPATH_MODE_TYPE_MASK) == RTPATH_MODE_TYPE_DIRECTORY;
        if (fWantDir && !S_ISDIR(St.st_mode))
            return ERR_NOT_A_DIRECTORY;
        if (!fWantDir && S_ISDIR(St.st_mode))
            return ERR_IS_A_DIRECTORY;
    }
    if (fMoveFlags & RTPATHRENAME_FLAGS_REPLACE) {
        if (rename(pszSrc, pszDst) == 0)
            return 0;
        return RTErrConvertFromErrno(errno);
    }
    // rename() replaces silently; without the replace flag an existing target must stay.
    if (renameat2(AT_FDCWD, pszSrc, AT_FDCWD, pszDst, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return RTErrConvertFromErrno(errno);
    // File systems without the no-replace rename: check first, which leaves a window
    // in which another process can create the target.
    struct stat St;
    if (lstat(pszDst, &St) == 0)
        return ERR_ALREADY_EXISTS;
    if (rename(pszSrc, pszDst) == 0)
        return 0;
    return RTErrConvertFromErrno(errno);
}

int RTPathToNative(RTPATHNATIVECHAR **ppszNative, const char *pszPath) {
    if (!rtPathValidPtr(ppszNative))
        return ERR_INVALID_POINTER;
    *ppszNative = nullptr;
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    return rtPathAbsExDup(nullptr, pszPath, PATH_STYLE_UNIX, ppszNative);
}

void RTPathNativeFree(RTPATHNATIVECHAR *pszNative) {
    RTMemFree(pszNative);
}
