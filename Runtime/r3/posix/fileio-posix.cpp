// POSIX backend: file handles are descriptors; deny modes are kept among this
// runtime's own handles with open-file-description locks.
#include "r3/internal-file.h"
#include "r3/posix/internal-fs-posix.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

/*
 * Deny modes.
 *
 * POSIX has no mandatory share modes, so this runtime makes its handles honour each
 * other's deny modes with advisory open-file-description locks (F_OFD_SETLK), which
 * belong to the open file and not to the process: two handles of one process conflict
 * just as handles of two processes do, and closing a handle drops its locks.
 *
 * The locks sit on bytes far beyond any data, in one region per right: read access,
 * write access, deny read, deny write, deny delete. A handle first takes a lock in each
 * region that describes it (a one-byte lock at a slot of its own; shared where the
 * descriptor can read, exclusive otherwise, hence the slots), then asks whether another
 * handle holds a lock in the regions that would conflict (F_OFD_GETLK over the whole
 * region). Because every handle takes before it asks, two handles opening at the same
 * time can both fail, but never both succeed. Delete and rename ask the deny-delete
 * region before they act.
 *
 * What this does not protect against: programs that do not use this runtime (the locks
 * are advisory and invisible to plain open, unlink or rename), file systems without
 * lock support (the open then goes ahead without the check), descriptors handed to
 * child processes (they keep the open file and its locks alive), and the moment between
 * the check of a delete or rename and the operation itself.
 */
namespace {

constexpr off_t kDenyBase = (off_t)0x7f00000000000000LL;
constexpr off_t kDenyRegionSize = (off_t)1 << 32;
constexpr unsigned kDenySlots = 1u << 20;
enum DenyRegion { kRegionAccessRead = 0, kRegionAccessWrite, kRegionDenyRead, kRegionDenyWrite, kRegionDenyDelete };

constinit std::atomic<uint32_t> g_uDenySlotSeq{0};

/** Lock operations fail with these when the file system or kernel cannot do them. */
bool rtFilePosixLockUnsupported(int iErrno) {
    return iErrno == EINVAL || iErrno == ENOLCK || iErrno == EOPNOTSUPP || iErrno == ENOSYS || iErrno == EBADF ||
           iErrno == EOVERFLOW;
}

/** Takes a one-byte lock in a region. 0, 1 when not supported, -1 when every probed slot
 *  was taken (cannot happen with shared locks). */
int rtFilePosixDenyHold(int fd, DenyRegion enmRegion, bool fShared) {
    uint32_t uSlot =
        ((uint32_t)getpid() * 2654435761u + g_uDenySlotSeq.fetch_add(1, std::memory_order_relaxed) * 40503u) %
        kDenySlots;
    for (unsigned iTry = 0; iTry < 256; iTry++, uSlot = (uSlot + 1) % kDenySlots) {
        struct flock fl = {};
        fl.l_type = fShared ? F_RDLCK : F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = kDenyBase + (off_t)enmRegion * kDenyRegionSize + uSlot;
        fl.l_len = 1;
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0)
            return 0;
        if (errno != EAGAIN && errno != EACCES)
            return rtFilePosixLockUnsupported(errno) ? 1 : -1;
    }
    return -1;
}

/** Does another open file hold a lock in the region? 1 yes, 0 no, -1 cannot tell. */
int rtFilePosixDenyHeld(int fd, DenyRegion enmRegion) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kDenyBase + (off_t)enmRegion * kDenyRegionSize;
    fl.l_len = kDenySlots;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return -1;
    return fl.l_type != F_UNLCK ? 1 : 0;
}

void rtFilePosixDenyDrop(int fd) {
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kDenyBase;
    fl.l_len = 5 * kDenyRegionSize;
    (void)fcntl(fd, F_OFD_SETLK, &fl);
}

/** Records this handle's access and deny mode and checks them against the other
 *  handles. 0 or ERR_SHARING_VIOLATION. */
int rtFilePosixDenyAcquire(int fd, bool fRead, bool fWrite, uint32_t fShare, bool fCanReadLock) {
    if (!fRead && !fWrite)
        return 0; // attribute-only handles take no part in sharing

    const struct {
        bool fWanted;
        DenyRegion enmRegion;
    } aHolds[] = {
        {fRead, kRegionAccessRead},
        {fWrite, kRegionAccessWrite},
        {!(fShare & RTFILE_SHARE_READ), kRegionDenyRead},
        {!(fShare & RTFILE_SHARE_WRITE), kRegionDenyWrite},
        {!(fShare & RTFILE_SHARE_DELETE), kRegionDenyDelete},
    };
    for (const auto &hold : aHolds) {
        if (!hold.fWanted)
            continue;
        int rc = rtFilePosixDenyHold(fd, hold.enmRegion, fCanReadLock);
        if (rc == 1) { // no lock support here: go on without the check
            rtFilePosixDenyDrop(fd);
            return 0;
        }
        if (rc < 0) {
            rtFilePosixDenyDrop(fd);
            return ERR_SHARING_VIOLATION;
        }
    }

    const struct {
        bool fWanted;
        DenyRegion enmRegion;
    } aChecks[] = {
        {fRead, kRegionDenyRead},
        {fWrite, kRegionDenyWrite},
        {!(fShare & RTFILE_SHARE_READ), kRegionAccessRead},
        {!(fShare & RTFILE_SHARE_WRITE), kRegionAccessWrite},
    };
    for (const auto &check : aChecks)
        if (check.fWanted && rtFilePosixDenyHeld(fd, check.enmRegion) == 1) {
            rtFilePosixDenyDrop(fd);
            return ERR_SHARING_VIOLATION;
        }
    return 0;
}

bool rtFilePosixDeleteDenied(const char *pszPath) {
    return rtFilePosixDeleteDeniedAt(AT_FDCWD, pszPath);
}

int rtFilePosixOpenOnce(const char *pszFilename, int fOFlags, mode_t fMode) {
    int fd;
    do
        fd = open(pszFilename, fOFlags, fMode);
    while (fd < 0 && errno == EINTR);
    // Not every file system takes direct I/O; it is a hint, so go on without it.
    if (fd < 0 && errno == EINVAL && (fOFlags & O_DIRECT))
        return rtFilePosixOpenOnce(pszFilename, fOFlags & ~O_DIRECT, fMode);
    return fd;
}

} // namespace

bool rtFilePosixDeleteDeniedAt(int fdDir, const char *pszName) {
    int fd = openat(fdDir, pszName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false; // not readable by us: nothing to ask the locks with
    bool fDenied = rtFilePosixDenyHeld(fd, kRegionDenyDelete) == 1;
    close(fd);
    return fDenied;
}

int rtFileNativeOpen(const char *pszFilename, uint64_t fOpen, RTFILE *phFile, RTFILEACTION *penmAction) {
    int rc = rtPathPosixCheck(pszFilename);
    if (RT_FAILURE(rc))
        return rc;

    const bool fRead = (fOpen & RTFILE_O_READ) != 0;
    const bool fWrite = (fOpen & RTFILE_O_WRITE) != 0;
    int fOFlags = O_NOCTTY;
    if (fRead && fWrite)
        fOFlags |= O_RDWR;
    else if (fWrite)
        fOFlags |= O_WRONLY;
    else
        fOFlags |= O_RDONLY; // read, or attributes only
    if (!(fOpen & RTFILE_O_INHERIT))
        fOFlags |= O_CLOEXEC;
    if (fOpen & RTFILE_O_APPEND)
        fOFlags |= O_APPEND;
    if (fOpen & RTFILE_O_WRITE_THROUGH)
        fOFlags |= O_SYNC;
    if (fOpen & RTFILE_O_NO_CACHE)
        fOFlags |= O_DIRECT;
    // Asynchronous I/O, the temporary and not-content-indexed attributes have no
    // counterpart here and are accepted without effect.
    mode_t fMode = (mode_t)((fOpen & RTFILE_O_CREATE_MODE_MASK) >> RTFILE_O_CREATE_MODE_SHIFT);
    if (!fMode)
        fMode = 0666;

    // Open the existing file or create a new one as separate steps, so the action is
    // exact and so that a file is never truncated before the sharing check has passed.
    const uint64_t fDisp = fOpen & RTFILE_O_ACTION_MASK;
    int fd = -1;
    bool fCreated = false;
    for (unsigned cTries = 0;; cTries++) {
        if (fDisp != RTFILE_O_CREATE) {
            fd = rtFilePosixOpenOnce(pszFilename, fOFlags, 0);
            if (fd < 0 && errno == EACCES && !fRead && !fWrite && fDisp == RTFILE_O_OPEN)
                fd = rtFilePosixOpenOnce(pszFilename, O_PATH | (fOFlags & O_CLOEXEC), 0);
            if (fd >= 0)
                break;
            if (errno != ENOENT || fDisp == RTFILE_O_OPEN)
                return rtPathPosixLookupError(pszFilename, errno);
        }
        fd = rtFilePosixOpenOnce(pszFilename, fOFlags | O_CREAT | O_EXCL, fMode);
        if (fd >= 0) {
            fCreated = true;
            break;
        }
        if (errno == EEXIST && fDisp == RTFILE_O_CREATE) {
            *penmAction = RTFILEACTION_ALREADY_EXISTS;
            return ERR_ALREADY_EXISTS;
        }
        if (errno != EEXIST || cTries >= 16) // EEXIST: it appeared in between; open it
            return rtPathPosixLookupError(pszFilename, errno);
    }

    // Failures past this point must not leave anything behind.
    auto fnFail = [&](int rcFail) {
        close(fd);
        if (fCreated)
            unlink(pszFilename);
        return rcFail;
    };

    struct stat st;
    if (fstat(fd, &st) != 0)
        return fnFail(RTErrConvertFromErrno(errno));
    if (S_ISDIR(st.st_mode))
        return fnFail(ERR_IS_A_DIRECTORY);

    rc = rtFilePosixDenyAcquire(fd, fRead, fWrite, rtFileShareFromFlags(fOpen), fRead);
    if (RT_FAILURE(rc))
        return fnFail(rc);

    RTFILEACTION enmAction = fCreated                           ? RTFILEACTION_CREATED
                             : fDisp == RTFILE_O_CREATE_REPLACE ? RTFILEACTION_REPLACED
                                                                : RTFILEACTION_OPENED;
    if (!fCreated && (fDisp == RTFILE_O_CREATE_REPLACE || (fOpen & RTFILE_O_TRUNCATE)) && S_ISREG(st.st_mode)) {
        int fdTrunc = fd;
        if (!fWrite) { // replacing through a read-only handle: truncate through a second one
            fdTrunc = rtFilePosixOpenOnce(pszFilename, O_WRONLY | O_NOCTTY | O_CLOEXEC, 0);
            if (fdTrunc < 0)
                return fnFail(RTErrConvertFromErrno(errno));
        }
        int rcTrunc = ftruncate(fdTrunc, 0) == 0 ? 0 : RTErrConvertFromErrno(errno);
        if (fdTrunc != fd)
            close(fdTrunc);
        if (RT_FAILURE(rcTrunc))
            return fnFail(rcTrunc);
        enmAction = fDisp == RTFILE_O_CREATE_REPLACE ? RTFILEACTION_REPLACED : RTFILEACTION_TRUNCATED;
    }

    *phFile = fd;
    *penmAction = enmAction;
    return 0;
}

int RTFileClose(RTFILE hFile) {
    if (hFile == NIL_RTFILE)
        return 0;
    const int rcFault = rtFsTestFault();
    if (close((int)hFile) != 0 && errno != EINTR) // after EINTR the descriptor is gone on Linux
        return RTErrConvertFromErrno(errno);
    return rcFault;
}

int RTFileFlush(RTFILE hFile) {
    if (fsync((int)hFile) != 0) {
        // Pipes and terminals have nothing to flush.
        if (errno == EINVAL || errno == EROFS)
            return 0;
        return RTErrConvertFromErrno(errno);
    }
    return 0;
}

int RTFileFromNative(RTFILE *phFile, intptr_t uNative) {
    if (!RT_VALID_PTR(phFile))
        return ERR_INVALID_POINTER;
    *phFile = NIL_RTFILE;
    if (uNative < 0 || uNative > INT_MAX)
        return ERR_INVALID_HANDLE;
    *phFile = uNative;
    return 0;
}

bool RTFileIsValid(RTFILE hFile) {
    if (hFile == NIL_RTFILE || hFile < 0 || hFile > INT_MAX)
        return false;
    return fcntl((int)hFile, F_GETFD) != -1;
}

namespace {

int rtFilePosixRead(RTFILE hFile, void *pvBuf, size_t cb, size_t *pcbDone, bool *pfLowMemory) {
    ssize_t cbRead;
    do
        cbRead = read((int)hFile, pvBuf, cb);
    while (cbRead < 0 && errno == EINTR);
    if (cbRead < 0) {
        *pfLowMemory = errno == ENOMEM;
        return RTErrConvertFromErrno(errno);
    }
    *pcbDone = (size_t)cbRead;
    return 0;
}

int rtFilePosixWrite(RTFILE hFile, void *pvBuf, size_t cb, size_t *pcbDone, bool *pfLowMemory) {
    ssize_t cbWritten;
    do
        cbWritten = write((int)hFile, pvBuf, cb);
    while (cbWritten < 0 && errno == EINTR);
    if (cbWritten < 0) {
        *pfLowMemory = errno == ENOMEM;
        return RTErrConvertFromErrno(errno);
    }
    *pcbDone = (size_t)cbWritten;
    return 0;
}

int rtFilePosixFsType(RTFILE hFile, RTFSTYPE *penmType) {
    return RTFsQueryType(hFile, penmType);
}

// Linux moves at most this much per call anyway.
constexpr RTFILEXFEROPS g_rtFileReadOps = {rtFilePosixRead, nullptr, nullptr, 0x7ffff000};
constexpr RTFILEXFEROPS g_rtFileWriteOps = {rtFilePosixWrite, RTFileTell, rtFilePosixFsType, 0x7ffff000};

} // namespace

int RTFileRead(RTFILE hFile, void *pvBuf, size_t cbToRead, size_t *pcbRead) {
    return rtFileReadWorker(&g_rtFileReadOps, hFile, pvBuf, cbToRead, pcbRead);
}

int RTFileWrite(RTFILE hFile, const void *pvBuf, size_t cbToWrite, size_t *pcbWritten) {
    return rtFileWriteWorker(&g_rtFileWriteOps, hFile, pvBuf, cbToWrite, pcbWritten);
}

int RTFileSeek(RTFILE hFile, int64_t offSeek, unsigned uMethod, uint64_t *poffActual) {
    static constexpr int s_aiWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (uMethod > RTFILE_SEEK_END)
        return ERR_INVALID_PARAMETER;
    off_t off = lseek((int)hFile, (off_t)offSeek, s_aiWhence[uMethod]);
    if (off == (off_t)-1) {
        // A valid descriptor that refuses the offset was asked for a place before the start.
        if (errno == EINVAL)
            return ERR_NEGATIVE_SEEK;
        return RTErrConvertFromErrno(errno);
    }
    if (poffActual)
        *poffActual = (uint64_t)off;
    return 0;
}

uint64_t RTFileTell(RTFILE hFile) {
    off_t off = lseek((int)hFile, 0, SEEK_CUR);
    return off == (off_t)-1 ? UINT64_MAX : (uint64_t)off;
}

int RTFileQuerySize(RTFILE hFile, uint64_t *pcbSize) {
    if (!RT_VALID_PTR(pcbSize))
        return ERR_INVALID_POINTER;
    struct stat st;
    if (fstat((int)hFile, &st) != 0)
        return RTErrConvertFromErrno(errno);
    if (S_ISBLK(st.st_mode)) { // a disk: its size is the medium's
        uint64_t cb = 0;
        if (ioctl((int)hFile, BLKGETSIZE64, &cb) == 0) {
            *pcbSize = cb;
            return 0;
        }
    }
    *pcbSize = (uint64_t)st.st_size;
    return 0;
}

int RTFileQueryInfo(RTFILE hFile, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind) {
    if (hFile == NIL_RTFILE || !RT_VALID_PTR(pObjInfo) || enmAdditionalKind < FSOBJ_ADD_FIRST ||
        enmAdditionalKind > FSOBJ_ADD_LAST)
        return ERR_INVALID_PARAMETER;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    struct stat st;
    if (fstat((int)hFile, &st) != 0)
        return RTErrConvertFromErrno(errno);
    rtFsPosixObjInfoFromStat(pObjInfo, &st, rtFsPosixBirthTime((int)hFile, nullptr, true), nullptr, enmAdditionalKind);
    return 0;
}

int rtFileNativeDelete(const char *pszFilename) {
    int rc = rtPathPosixCheck(pszFilename);
    if (RT_FAILURE(rc))
        return rc;

    struct stat st;
    if (lstat(pszFilename, &st) != 0)
        return rtPathPosixLookupError(pszFilename, errno);
    if (S_ISDIR(st.st_mode))
        return ERR_IS_A_DIRECTORY;
    if (S_ISLNK(st.st_mode)) // links are not deleted through the file call, as reparse points are not
        return ERR_IS_A_SYMLINK;
    if (rtFilePosixDeleteDenied(pszFilename))
        return ERR_SHARING_VIOLATION;
    if (unlink(pszFilename) != 0)
        return rtPathPosixLookupError(pszFilename, errno);
    return 0;
}

int rtFileNativeRename(const char *pszSrc, const char *pszDst, bool fReplace) {
    int rc = rtPathPosixCheck(pszSrc);
    if (RT_SUCCESS(rc))
        rc = rtPathPosixCheck(pszDst);
    if (RT_FAILURE(rc))
        return rc;

    struct stat st;
    if (stat(pszSrc, &st) != 0)
        return rtPathPosixLookupError(pszSrc, errno);
    if (S_ISDIR(st.st_mode))
        return ERR_IS_A_DIRECTORY;
    if (rtFilePosixDeleteDenied(pszSrc))
        return ERR_SHARING_VIOLATION;

    if (fReplace) {
        if (rtFilePosixDeleteDenied(pszDst))
            return ERR_SHARING_VIOLATION;
        if (rename(pszSrc, pszDst) != 0)
            return rtPathPosixLookupError(pszDst, errno); // the source was there a moment ago
        return 0;
    }

    // Without replace an existing target must stay untouched, atomically where the
    // kernel and file system can say so.
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
    if (syscall(SYS_renameat2, AT_FDCWD, pszSrc, AT_FDCWD, pszDst, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno == EEXIST ? ERR_ALREADY_EXISTS : rtPathPosixLookupError(pszDst, errno);
#endif
    if (link(pszSrc, pszDst) == 0) {
        unlink(pszSrc);
        return 0;
    }
    if (errno == EEXIST)
        return ERR_ALREADY_EXISTS;
    struct stat stDst;
    if (lstat(pszDst, &stDst) == 0)
        return ERR_ALREADY_EXISTS;
    if (rename(pszSrc, pszDst) != 0)
        return rtPathPosixLookupError(pszDst, errno);
    return 0;
}
