// POSIX backend: creating, removing and opening directories.
#include "r3/internal-dir.h"

#include <olma/fs.h>
#include <olma/path.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int rtDirNativeCreate(const char *pszPath, uint32_t fMode, uint32_t fCreate) {
    // The platform has no content-indexing attribute, so the creation flags have
    // nothing to do here; the permission bits do apply.
    (void)fCreate;
    RTPATHNATIVECHAR *pszNative = nullptr;
    int rc = RTPathToNative(&pszNative, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    if (mkdir(pszNative, (mode_t)(fMode & 07777)) != 0)
        rc = RTErrConvertFromErrno(errno);
    RTPathNativeFree(pszNative);
    return rc;
}

int RTDirRemove(const char *pszPath) {
    if (!RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    RTPATHNATIVECHAR *pszNative = nullptr;
    int rc = RTPathToNative(&pszNative, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    if (rmdir(pszNative) != 0)
        rc = RTErrConvertFromErrno(errno);
    RTPathNativeFree(pszNative);
    return rc;
}

int rtDirNativeOpen(DirHandle *pDir) {
    // The stored path ends with a separator, which makes the kernel follow a final
    // symbolic link. Refusing links needs the path without it.
    bool const fNoFollow = (pDir->openFlags & RTDIR_F_NO_SYMLINKS) && !pDir->endsWithSlash;
    char *pszOpen = pDir->path;
    size_t cch = pDir->pathLength;
    char chSaved = '\0';
    if (fNoFollow && cch > 1 && pszOpen[cch - 1] == '/') {
        chSaved = pszOpen[cch - 1];
        pszOpen[cch - 1] = '\0';
    }

    int fOpen = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (fNoFollow ? O_NOFOLLOW : 0);
    int fd = open(pszOpen, fOpen);
    int rc = 0;
    if (fd < 0) {
        int const iErr = errno;
        struct stat St;
        if (fNoFollow && (iErr == ELOOP || iErr == ENOTDIR) && lstat(pszOpen, &St) == 0 && S_ISLNK(St.st_mode))
            rc = ERR_IS_A_SYMLINK;
        else
            rc = RTErrConvertFromErrno(iErr);
    }
    if (chSaved)
        pszOpen[cch - 1] = chSaved;
    if (RT_FAILURE(rc))
        return rc;
    pDir->hNative = (uintptr_t)fd;
    pDir->objectDirectory = false;
    return 0;
}

void rtDirNativeClose(DirHandle *pDir) {
    close((int)pDir->hNative);
    pDir->hNative = RTDIR_NATIVE_INVALID;
}
