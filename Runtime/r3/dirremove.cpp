// Removing a directory tree without ever following a link: each directory is entered
// relative to its parent's open handle, and links are removed as links.
#include "r3/internal-dir.h"
#include "r3/internal-file.h"

#include <olma/path.h>
#include <olma/string.h>

#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

namespace {

constexpr char kHostSlash = PATH_STYLE == PATH_STYLE_DOS ? '\\' : '/';

/** A handle on the directory pszName inside pParent (or at the path pszName when pParent
 *  is null), opened without following a link. Its path is what an open by path would
 *  give: absolute, with a separator at the end. */
int rtDirOpenNoFollow(DirHandle **ppDir, DirHandle *pParent, const char *pszName, size_t cchName) {
    char *pszPath;
    if (pParent) {
        pszPath = RTStrAlloc(pParent->pathLength + cchName + 2, RTSTR_TAG);
        if (pszPath) {
            rtMemCopy(pszPath, pParent->path, pParent->pathLength);
            rtMemCopy(pszPath + pParent->pathLength, pszName, cchName);
            pszPath[pParent->pathLength + cchName] = kHostSlash;
            pszPath[pParent->pathLength + cchName + 1] = '\0';
        }
    } else
        pszPath = RTPathAbsExDup(nullptr, pszName, PATH_STYLE_HOST | PATHABS_TRAILING_SLASH);
    if (!pszPath)
        return ERR_NO_MEMORY;

    DirHandle *pDir = nullptr;
    int rc = rtDirAllocHandle(&pDir, pszPath, rtStrNLen(pszPath, RTSTR_MAX), nullptr, 0, RTDIRFILTER_NONE,
                              RTDIR_F_NO_SYMLINKS, false);
    RTStrFree(pszPath);
    if (RT_FAILURE(rc))
        return rc;
    rc = rtDirNativeOpenNoFollow(pDir, pParent, pszName);
    if (RT_FAILURE(rc)) {
        rtDirFreeHandle(pDir);
        return rc;
    }
    *ppDir = pDir;
    return 0;
}

int rtDirRemoveContents(DirHandle *pDir, unsigned uDepth);

/** Removes what pszName names in pParent (or at the path pszName): a directory with
 *  everything in it, anything else (links of every kind included) by itself. */
int rtDirRemoveObject(DirHandle *pParent, const char *pszName, size_t cchName, unsigned uDepth) {
    DirHandle *pDir = nullptr;
    int rc = rtDirOpenNoFollow(&pDir, pParent, pszName, cchName);
    if (RT_SUCCESS(rc)) {
        rc = uDepth <= RTDIR_REMOVE_MAX_DEPTH ? rtDirRemoveContents(pDir, uDepth) : ERR_FILENAME_TOO_LONG;
        const int rcClose = RTDirClose(pDir);
        if (RT_SUCCESS(rc))
            rc = rcClose;
        if (RT_FAILURE(rc))
            return rc;
    } else if (rc != ERR_IS_A_SYMLINK && (rc != ERR_NOT_A_DIRECTORY || !pParent))
        return rc;
    // Not a directory to enter (any more): it goes as what it is, a link as a link. The
    // path the caller named must be a directory or a link, though.
    return rtDirNativeUnlink(pParent, pszName);
}

int rtDirRemoveContents(DirHandle *pDir, unsigned uDepth) {
    for (;;) {
        RTDIRENTRY Entry;
        int rc = RTDirRead(pDir, &Entry);
        if (rc == ERR_NO_MORE_FILES)
            return 0;
        if (RT_FAILURE(rc))
            return rc;
        if ((Entry.mode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY && !RTDirEntryIsLink(Entry.mode))
            rc = rtDirRemoveObject(pDir, Entry.name, Entry.nameLength, uDepth + 1);
        else
            rc = rtDirNativeUnlink(pDir, Entry.name);
        // Something else removed it meanwhile: as good as done.
        if (RT_FAILURE(rc) && rc != ERR_FILE_NOT_FOUND)
            return rc;
    }
}

} // namespace

int RTDirRemoveRecursive(const char *pszPath) {
    if (!RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    if (!*pszPath)
        return ERR_PATH_ZERO_LENGTH;
    if (int rcFault = rtFsTestFault())
        return rcFault;

    // A separator at the end would make the platform follow a final link.
    size_t const cchRoot = RTPathRootSpecLen(pszPath);
    size_t cch = rtStrNLen(pszPath, RTSTR_MAX);
    while (cch > cchRoot && cch > 1 && rtPathIsSep(pszPath[cch - 1], true /*fDos*/))
        cch--;
    char *pszTrimmed = RTStrDupN(pszPath, cch, RTSTR_TAG);
    if (!pszTrimmed)
        return ERR_NO_STR_MEMORY;
    int rc = rtDirRemoveObject(nullptr, pszTrimmed, cch, 0);
    RTStrFree(pszTrimmed);
    return rc;
}
