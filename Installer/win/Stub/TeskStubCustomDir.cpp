// The customisation directory: a ".custom" directory beside the executable is copied
// as a whole into the extraction directory before any package runs.
#include <olma/dir.h>
#include <olma/path.h>
#include <olma/string.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"

namespace {

/** The shell's copy operation, and its flags: no progress display, yes to every
 *  question, directories made without asking, no error dialogs. */
constexpr uint32_t kFileOpCopy = 2;
constexpr uint16_t kfFileOpSilentCopy = 0x614;

/** A path list of one entry: the path, its terminator and the empty entry that ends
 *  the list (8202 bytes). */
typedef RTUTF16 PathList[TESKSTUB_PATH_MAX + 1];

int toPathList(const char *pszPath, PathList &awcList) {
    RTUTF16 *pwsz = awcList;
    size_t cwc = 0;
    int rc = RTStrToUtf16Ex(pszPath, RTSTR_MAX, &pwsz, TESKSTUB_PATH_MAX, &cwc, RTSTR_TAG);
    if (RT_SUCCESS(rc))
        awcList[cwc + 1] = 0;
    return rc;
}

} // namespace

int CopyCustomDirectory(const char *pszExtractionDir) {
    char szSource[TESKSTUB_PATH_MAX];
    int rc = RTPathExecDir(szSource, sizeof(szSource));
    if (RT_SUCCESS(rc))
        rc = RTPathAppend(szSource, sizeof(szSource), ".custom");
    if (RT_FAILURE(rc))
        return ShowError("Failed to construct '.custom' dir path: %Rrc", rc);
    if (!RTDirExists(szSource))
        return 0;

    PathList awcFrom;
    rc = toPathList(szSource, awcFrom);
    if (RT_FAILURE(rc))
        return ShowError("RTStrToUtf16Ex failed on '%s': %Rrc", szSource, rc);
    PathList awcTo;
    rc = toPathList(pszExtractionDir, awcTo);
    if (RT_FAILURE(rc))
        return ShowError("RTStrToUtf16Ex failed on '%s': %Rrc", pszExtractionDir, rc);

    // The record comes before the copy, so that clean-up also finds a copy that broke
    // off half way. Only a copy that made the directory is removed as a whole: a
    // ".custom" already in an existing --path directory is the user's, and the copy
    // merges into it.
    char *pszDest = RTPathJoinA(pszExtractionDir, ".custom");
    if (!pszDest)
        return ShowError("Out of memory!");
    FsObjInfo Info;
    rc = RTPathQueryInfoEx(pszDest, &Info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK);
    const bool fMadeHere = rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND;
    CleanupRecord *pRec = AddCleanupRecord(pszDest, false /*isFile*/);
    if (!pRec) {
        RTStrFree(pszDest);
        return 1;
    }
    pRec->removeTree = fMadeHere;

    const int iResult = g_StubPlatform.pfnFileOperation(kFileOpCopy, awcFrom, awcTo, kfFileOpSilentCopy);
    if (iResult != 0) {
        RTStrFree(pszDest);
        return ShowError("Copying the '.custom' dir failed: %#x", iResult);
    }
    rc = RTDirOpen(&pRec->handle.hDir, pszDest);
    RTStrFree(pszDest);
    if (RT_FAILURE(rc))
        return ShowError("Unable to open the destination .custom directory: %Rrc", rc);
    return 0;
}
