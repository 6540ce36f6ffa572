// Directory operations by path: create, test and open (with the path and filter
// preparation shared by every platform).
#include "r3/internal-dir.h"
#include "r3/internal-file.h"

#include <olma/fs.h>
#include <olma/path.h>
#include <olma/string.h>

#include "common/string/internal-str.h"

namespace {

constexpr char kHostSlash = PATH_STYLE == PATH_STYLE_DOS ? '\\' : '/';

bool rtDirIsSlash(char ch) {
    return ch == '/' || ch == '\\';
}

/** A copy of cch bytes of the path with exactly one separator at its end (for paths
 *  used as given). */
char *rtDirDupWithOneSlash(const char *pszPath, size_t cch) {
    while (cch > 0 && rtDirIsSlash(pszPath[cch - 1]))
        cch--;
    char *psz = RTStrAlloc(cch + 2, RTSTR_TAG);
    if (psz) {
        rtMemCopy(psz, pszPath, cch);
        psz[cch] = kHostSlash;
        psz[cch + 1] = '\0';
    }
    return psz;
}

/** The directory part (cch bytes of pszPath; "." when empty) in its final form. */
char *rtDirPreparePath(const char *pszPath, size_t cch, bool fFilter, uint32_t fFlags) {
    if (cch == 0)
        pszPath = ".", cch = 1;
    if (fFlags & RTDIR_F_NO_ABS_PATH) {
        if (!fFilter)
            return rtDirDupWithOneSlash(pszPath, cch);
        // The cut-off directory part already ends with its separator or drive colon.
        char *psz = RTStrAlloc(cch + 3, RTSTR_TAG);
        if (psz) {
            rtMemCopy(psz, pszPath, cch);
            psz[cch] = '\0';
            if (RTPathEnsureTrailingSeparator(psz, cch + 3) == 0) {
                RTStrFree(psz);
                psz = nullptr;
            }
        }
        return psz;
    }
    char *pszCopy = RTStrDupN(pszPath, cch, RTSTR_TAG);
    if (!pszCopy)
        return nullptr;
    char *pszAbs = RTPathAbsExDup(nullptr, pszCopy, PATH_STYLE_HOST | PATHABS_TRAILING_SLASH);
    RTStrFree(pszCopy);
    return pszAbs;
}

} // namespace

int RTDirCreate(const char *pszPath, uint32_t fMode, uint32_t fCreate) {
    if (!RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    fMode = RTFsModeNormalize(fMode, pszPath, 0, RTFS_TYPE_DIRECTORY);
    // A consistent mode of another type (a regular file, say) cannot describe a
    // directory either.
    if (!RTFsModeIsValid(fMode) || (fMode & RTFS_TYPE_MASK) != RTFS_TYPE_DIRECTORY)
        return ERR_INVALID_FMODE;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    return rtDirNativeCreate(pszPath, fMode, fCreate);
}

bool RTDirExists(const char *pszPath) {
    if (!RT_VALID_PTR(pszPath) || *pszPath == '\0')
        return false;
    FsObjInfo Info;
    int rc = RTPathQueryInfoEx(pszPath, &Info, FSOBJ_ADD_NOTHING, RTPATH_F_FOLLOW_LINK);
    return RT_SUCCESS(rc) && (Info.mode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY;
}

int RTDirOpen(RTDIR *phDir, const char *pszPath) {
    return RTDirOpenFiltered(phDir, pszPath, RTDIRFILTER_NONE, 0);
}

int RTDirOpenFiltered(RTDIR *phDir, const char *pszPath, RTDIRFILTER enmFilter, uint32_t fFlags) {
    if (!RT_VALID_PTR(phDir) || !RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    if (enmFilter == RTDIRFILTER_UNIX || enmFilter == RTDIRFILTER_UNIX_UPCASED)
        return ERR_NOT_IMPLEMENTED;
    if (enmFilter != RTDIRFILTER_NONE && enmFilter != RTDIRFILTER_WINNT)
        return ERR_INVALID_PARAMETER;
    if (fFlags & ~RTDIR_F_VALID_MASK)
        return ERR_INVALID_FLAGS;
    if (int rcFault = rtFsTestFault())
        return rcFault;

    size_t const cchPath = rtStrNLen(pszPath, RTSTR_MAX);
    const char *pszFilter = enmFilter == RTDIRFILTER_WINNT ? RTPathFilename(pszPath) : nullptr;
    bool fEndsWithSlash;
    size_t cchDir;
    if (pszFilter) {
        cchDir = (size_t)(pszFilter - pszPath);
        fEndsWithSlash = true;
    } else {
        cchDir = cchPath;
        fEndsWithSlash = cchPath > 0 && rtDirIsSlash(pszPath[cchPath - 1]);
    }

    char *pszDir = rtDirPreparePath(pszPath, cchDir, pszFilter != nullptr, fFlags);
    if (!pszDir)
        return ERR_NO_MEMORY;

    DirHandle *pDir = nullptr;
    int rc = rtDirAllocHandle(&pDir, pszDir, rtStrNLen(pszDir, RTSTR_MAX), pszFilter, pszFilter ? cchPath - cchDir : 0,
                              enmFilter, fFlags, fEndsWithSlash);
    RTStrFree(pszDir);
    if (RT_FAILURE(rc))
        return rc;

    rc = rtDirNativeOpen(pDir);
    if (RT_FAILURE(rc)) {
        rtDirFreeHandle(pDir);
        return rc;
    }
    pDir->dataUnread = false;
    pDir->enumBuffer = nullptr;
    *phDir = pDir;
    return 0;
}

bool RTDirIsValid(RTDIR hDir) {
    return RT_VALID_PTR(hDir) && hDir->magic == RTDIR_MAGIC;
}

int RTDirClose(RTDIR hDir) {
    if (!hDir || !RTDirIsValid(hDir))
        return ERR_INVALID_PARAMETER;
    const int rcFault = rtFsTestFault();
    hDir->magic = RTDIR_MAGIC_DEAD;
    if (hDir->hNative != RTDIR_NATIVE_INVALID)
        rtDirNativeClose(hDir); // a failure to close is not reported
    hDir->hNative = RTDIR_NATIVE_INVALID;
    rtDirFreeHandle(hDir);
    return rcFault;
}
