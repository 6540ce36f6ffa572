// POSIX backend: object information from stat, path queries and file-system types.
#include "r3/posix/internal-fs-posix.h"

#include <olma/string.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/statfs.h>
#include <unistd.h>

int rtPathPosixCheck(const char *pszPath) {
    return RTStrValidateEncodingEx(pszPath, RTSTR_MAX, 0);
}

int rtPathPosixLookupError(const char *pszPath, int iErrno) {
    if (iErrno == ENOTDIR)
        return ERR_PATH_NOT_FOUND;
    if (iErrno != ENOENT)
        return RTErrConvertFromErrno(iErrno);

    // Is the directory part there? Only then is it the final name that is missing.
    size_t cch = strlen(pszPath);
    while (cch > 1 && pszPath[cch - 1] == '/')
        cch--;
    size_t cchDir = cch;
    while (cchDir > 0 && pszPath[cchDir - 1] != '/')
        cchDir--;
    if (cchDir == 0)
        return ERR_FILE_NOT_FOUND; // relative name in the current directory
    char szDir[4096];
    if (cchDir >= sizeof(szDir))
        return ERR_FILE_NOT_FOUND;
    memcpy(szDir, pszPath, cchDir);
    szDir[cchDir] = '\0';
    struct stat st;
    if (stat(szDir, &st) != 0 || !S_ISDIR(st.st_mode))
        return ERR_PATH_NOT_FOUND;
    return ERR_FILE_NOT_FOUND;
}

int64_t rtFsPosixBirthTime(int fd, const char *pszPath, bool fFollow) {
#if defined(STATX_BTIME)
    struct statx stx;
    int rc = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx)
                     : statx(AT_FDCWD, pszPath, fFollow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx);
    if (rc == 0 && (stx.stx_mask & STATX_BTIME))
        return (int64_t)stx.stx_btime.tv_sec * 1000000000 + stx.stx_btime.tv_nsec;
#endif
    return -1;
}

namespace {

int64_t rtFsPosixNs(const struct timespec &ts) {
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void rtFsPosixCopyName(char *pszDst, size_t cbDst, const char *pszSrc) {
    size_t cch = strlen(pszSrc);
    if (cch < cbDst) // a name that does not fit is left out rather than cut
        memcpy(pszDst, pszSrc, cch + 1);
}

} // namespace

uint32_t rtFsPosixModeFromStat(mode_t fStMode, const char *pszName) {
    // The POSIX type values are the mode word's; the attribute half is made up from them.
    // Devices and links also get the attribute the platform with attributes would show.
    uint32_t fMode = RTFsModeNormalize((uint32_t)fStMode & (RTFS_TYPE_MASK | RTFS_UNIX_MASK), pszName, 0, 0);
    if (S_ISCHR(fStMode) || S_ISBLK(fStMode))
        fMode = (fMode & ~RTFS_DOS_NT_NORMAL) | RTFS_DOS_NT_DEVICE;
    else if (S_ISLNK(fStMode))
        fMode = (fMode & ~RTFS_DOS_NT_NORMAL) | RTFS_DOS_NT_REPARSE_POINT;
    return fMode;
}

void rtFsPosixObjInfoFromStat(FsObjInfo *pObjInfo, const struct stat *pSt, int64_t iBirthNs, const char *pszName,
                              uint32_t enmAdditionalKind) {
    memset(pObjInfo, 0, sizeof(*pObjInfo));
    pObjInfo->size = pSt->st_size;
    pObjInfo->allocatedSize = (int64_t)pSt->st_blocks * 512;
    pObjInfo->accessTime = rtFsPosixNs(pSt->st_atim);
    pObjInfo->modificationTime = rtFsPosixNs(pSt->st_mtim);
    pObjInfo->changeTime = rtFsPosixNs(pSt->st_ctim);
    pObjInfo->birthTime = iBirthNs >= 0 ? iBirthNs : pObjInfo->changeTime;

    pObjInfo->mode = rtFsPosixModeFromStat(pSt->st_mode, pszName);

    pObjInfo->additionalKind = enmAdditionalKind;
    switch (enmAdditionalKind) {
    case FSOBJ_ADD_UNIX:
        pObjInfo->additional.unixAttr.uid = pSt->st_uid;
        pObjInfo->additional.unixAttr.gid = pSt->st_gid;
        pObjInfo->additional.unixAttr.hardLinks = (uint32_t)pSt->st_nlink;
        pObjInfo->additional.unixAttr.inodeDevice = (uint32_t)pSt->st_dev;
        pObjInfo->additional.unixAttr.inode = pSt->st_ino;
        pObjInfo->additional.unixAttr.device = (uint32_t)pSt->st_rdev;
        break;
    case FSOBJ_ADD_UNIX_OWNER: {
        pObjInfo->additional.unixOwner.uid = pSt->st_uid;
        struct passwd pw, *pPw = nullptr;
        char szBuf[1024];
        if (getpwuid_r(pSt->st_uid, &pw, szBuf, sizeof(szBuf), &pPw) == 0 && pPw && pPw->pw_name)
            rtFsPosixCopyName(pObjInfo->additional.unixOwner.ownerName,
                              sizeof(pObjInfo->additional.unixOwner.ownerName), pPw->pw_name);
        break;
    }
    case FSOBJ_ADD_UNIX_GROUP: {
        pObjInfo->additional.unixGroup.gid = pSt->st_gid;
        struct group gr, *pGr = nullptr;
        char szBuf[4096];
        if (getgrgid_r(pSt->st_gid, &gr, szBuf, sizeof(szBuf), &pGr) == 0 && pGr && pGr->gr_name)
            rtFsPosixCopyName(pObjInfo->additional.unixGroup.groupName,
                              sizeof(pObjInfo->additional.unixGroup.groupName), pGr->gr_name);
        break;
    }
    default: // nothing, or an extended-attribute size of 0
        break;
    }
}

int RTPathQueryInfoEx(const char *pszPath, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind, uint32_t fFlags) {
    if (!RT_VALID_PTR(pszPath) || !RT_VALID_PTR(pObjInfo))
        return ERR_INVALID_POINTER;
    if (!*pszPath || enmAdditionalKind < FSOBJ_ADD_FIRST || enmAdditionalKind > FSOBJ_ADD_LAST)
        return ERR_INVALID_PARAMETER;
    if (fFlags != 1 && fFlags != 2 && fFlags != 5 && fFlags != 6)
        return ERR_INVALID_PARAMETER;
    int rc = rtPathPosixCheck(pszPath);
    if (RT_FAILURE(rc))
        return rc;

    const bool fFollow = (fFlags & RTPATH_F_FOLLOW_LINK) != 0;
    struct stat st;
    if ((fFollow ? stat(pszPath, &st) : lstat(pszPath, &st)) != 0)
        return rtPathPosixLookupError(pszPath, errno);
    rtFsPosixObjInfoFromStat(pObjInfo, &st, rtFsPosixBirthTime(-1, pszPath, fFollow), pszPath, enmAdditionalKind);
    return 0;
}

int RTFsQueryType(intptr_t hFile, RTFSTYPE *penmType) {
    if (!RT_VALID_PTR(penmType))
        return ERR_INVALID_POINTER;
    *penmType = FSTYPE_UNKNOWN;
    struct statfs stfs;
    if (fstatfs((int)hFile, &stfs) != 0)
        return RTErrConvertFromErrno(errno);
    // Only the file systems that have a name in the type list; all others stay unknown.
    switch ((uint32_t)stfs.f_type) {
    case 0x15013346: // udf
        *penmType = FSTYPE_UDF;
        break;
    case 0x9660: // iso9660
        *penmType = FSTYPE_CDFS;
        break;
    case 0x5346544e: // ntfs, ntfs3
        *penmType = FSTYPE_NTFS;
        break;
    case 0x4d44: // msdos, vfat
        *penmType = FSTYPE_FAT;
        break;
    case 0x2011bab0: // exfat
        *penmType = FSTYPE_EXFAT;
        break;
    case 0xf995e849: // hpfs
        *penmType = FSTYPE_HPFS;
        break;
    default:
        break;
    }
    return 0;
}
