// POSIX backend: creating, removing, opening and reading directories, and the
// descriptor-relative steps of removing a tree.
#include "r3/internal-dir.h"
#include "r3/internal-file.h"
#include "r3/posix/internal-fs-posix.h"

#include <olma/fs.h>
#include <olma/path.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
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
    if (int rcFault = rtFsTestFault())
        return rcFault;
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
    // A directory stream owns the descriptor it was made from.
    if (pDir->enumBuffer)
        closedir((DIR *)pDir->enumBuffer);
    else
        close((int)pDir->hNative);
    pDir->enumBuffer = nullptr;
    pDir->hNative = RTDIR_NATIVE_INVALID;
}

int rtDirNativeReadOne(DirHandle *pDir, uint32_t *pfMode) {
    DIR *pStream = (DIR *)pDir->enumBuffer;
    if (!pStream) {
        pStream = fdopendir((int)pDir->hNative);
        if (!pStream)
            return RTErrConvertFromErrno(errno);
        pDir->enumBuffer = pStream;
    }
    for (;;) {
        errno = 0;
        const struct dirent *pEntry = readdir(pStream);
        if (!pEntry)
            return errno ? RTErrConvertFromErrno(errno) : ERR_NO_MORE_FILES;
        struct stat St;
        if (fstatat(dirfd(pStream), pEntry->d_name, &St, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue; // removed since the listing was read
            return RTErrConvertFromErrno(errno);
        }
        size_t const cchName = strlen(pEntry->d_name);
        if (cchName >= RTDIR_ENTRY_NAME_MAX)
            return ERR_FILENAME_TOO_LONG;
        int rc = rtPathPosixCheck(pEntry->d_name);
        if (RT_FAILURE(rc))
            return rc;
        memcpy(pDir->entryName, pEntry->d_name, cchName + 1);
        pDir->entryNameLength = cchName;
        *pfMode = rtFsPosixModeFromStat(St.st_mode, pDir->entryName);
        return 0;
    }
}

int rtDirNativeOpenNoFollow(DirHandle *pDir, DirHandle *pParent, const char *pszName) {
    int const fdParent = pParent ? (int)pParent->hNative : AT_FDCWD;
    if (!pParent) {
        int rc = rtPathPosixCheck(pszName);
        if (RT_FAILURE(rc))
            return rc;
    }
    int fd = openat(fdParent, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        int const iErr = errno;
        struct stat St;
        if ((iErr == ELOOP || iErr == ENOTDIR) && fstatat(fdParent, pszName, &St, AT_SYMLINK_NOFOLLOW) == 0)
            return S_ISLNK(St.st_mode) ? ERR_IS_A_SYMLINK : ERR_NOT_A_DIRECTORY;
        return pParent ? RTErrConvertFromErrno(iErr) : rtPathPosixLookupError(pszName, iErr);
    }
    pDir->hNative = (uintptr_t)fd;
    pDir->objectDirectory = false;
    return 0;
}

int rtDirNativeUnlink(DirHandle *pParent, const char *pszName) {
    int const fdParent = pParent ? (int)pParent->hNative : AT_FDCWD;
    if (!pParent) {
        int rc = rtPathPosixCheck(pszName);
        if (RT_FAILURE(rc))
            return rc;
    }
    for (bool fMadeWritable = false;;) {
        struct stat St;
        if (fstatat(fdParent, pszName, &St, AT_SYMLINK_NOFOLLOW) != 0)
            return pParent ? RTErrConvertFromErrno(errno) : rtPathPosixLookupError(pszName, errno);
        // The deny modes of this runtime's handles hold here as for RTFileDelete.
        if (S_ISREG(St.st_mode) && rtFilePosixDeleteDeniedAt(fdParent, pszName))
            return ERR_SHARING_VIOLATION;
        if (unlinkat(fdParent, pszName, S_ISDIR(St.st_mode) ? AT_REMOVEDIR : 0) == 0)
            return 0;
        int const iErr = errno;
        // A directory of the tree that its owner may not change (copied with the
        // permissions of its source, say) is made writable once. Through the open
        // descriptor, so nothing but that directory is touched.
        struct stat StParent;
        if ((iErr == EACCES || iErr == EPERM) && pParent && !fMadeWritable && fstat(fdParent, &StParent) == 0 &&
            (StParent.st_mode & S_IRWXU) != S_IRWXU && fchmod(fdParent, (StParent.st_mode & 07777) | S_IRWXU) == 0) {
            fMadeWritable = true;
            continue;
        }
        return pParent ? RTErrConvertFromErrno(iErr) : rtPathPosixLookupError(pszName, iErr);
    }
}
