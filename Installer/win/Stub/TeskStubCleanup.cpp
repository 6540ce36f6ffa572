// Clean-up records: every object the run puts on disk, with the handle that keeps it
// locked until the end, and the removal of them all with retries.
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/mem.h>
#include <olma/string.h>
#include "TeskStub.h"
#include "common/string/internal-str.h"

constinit CleanupList g_CleanupList = {&g_CleanupList, &g_CleanupList};
constinit FNCLEANUPSLEEP *g_pfnCleanupSleep = RTThreadSleep;
constinit FNCLEANUPRELEASE *g_pfnCleanupReleaseHook = nullptr;

namespace {

/** Attempts before clean-up gives up, and the pauses after all but the last. */
constexpr unsigned kCleanupAttempts = 5;
constexpr RTMSINTERVAL kacMsCleanupPause[kCleanupAttempts - 1] = {100, 3000, 3000, 3000};

void unlinkRecord(CleanupRecord *pRec) {
    pRec->prev->next = pRec->next;
    pRec->next->prev = pRec->prev;
    pRec->next = pRec->prev = nullptr;
}

/** Closes the record's handle once, printing a failure. */
void closeRecordHandle(CleanupRecord *pRec) {
    if (pRec->isFile) {
        const RTFILE hFile = pRec->handle.hFile;
        if (hFile != NIL_RTFILE && RTFileIsValid(hFile)) {
            int rc = RTFileClose(hFile);
            if (RT_FAILURE(rc))
                PrintError("Cleanup file '%s' for #%u: RTFileClose(%p) failed: %Rrc", pRec->path, pRec->packageIndex,
                           (void *)hFile, rc);
        }
        pRec->handle.hFile = NIL_RTFILE;
    } else {
        const RTDIR hDir = pRec->handle.hDir;
        if (hDir != NIL_RTDIR && RTDirIsValid(hDir)) {
            int rc = RTDirClose(hDir);
            if (RT_FAILURE(rc))
                PrintError("Cleanup dir '%s' for #%u: RTDirClose(%p) failed: %Rrc", pRec->path, pRec->packageIndex,
                           (void *)hDir, rc);
        }
        pRec->handle.hDir = NIL_RTDIR;
    }
}

/** One attempt on one record; true when the record is done with. */
bool processRecord(CleanupRecord *pRec, bool fLastAttempt) {
    closeRecordHandle(pRec);
    if (pRec->dontDelete)
        return true;
    int rc;
    if (pRec->isFile)
        rc = RTFileDelete(pRec->path);
    else {
        rc = pRec->removeTree ? RTDirRemoveRecursive(pRec->path) : RTDirRemove(pRec->path);
        // Something else (the engine's log, say) still lives in it: not ours to take.
        if (rc == ERR_DIR_NOT_EMPTY)
            return fLastAttempt;
    }
    if (RT_SUCCESS(rc) || rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND)
        return true;
    if (fLastAttempt)
        ShowError(pRec->isFile ? "Failed to delete temporary file '%s': %Rrc"
                               : "Failed to delete temporary directory '%s': %Rrc",
                  pRec->path, rc);
    return false;
}

} // namespace

void InitCleanupRecords() {
    g_CleanupList.next = g_CleanupList.prev = &g_CleanupList;
}

CleanupRecord *AddCleanupRecord(const char *pszPath, bool isFile) {
    const size_t cchPath = rtStrNLen(pszPath, RTSTR_MAX);
    // The record's own path field has room for the terminator.
    CleanupRecord *pRec = (CleanupRecord *)RTMemAllocZ(sizeof(CleanupRecord) + cchPath, RTSTR_TAG);
    if (!pRec) {
        ShowError("Out of memory!");
        return nullptr;
    }
    pRec->packageIndex = -1;
    pRec->isFile = isFile;
    if (isFile)
        pRec->handle.hFile = NIL_RTFILE;
    else
        pRec->handle.hDir = NIL_RTDIR;
    rtMemCopy(pRec->path, pszPath, cchPath + 1);
    // Newest first: the walk meets files before the directories that hold them.
    pRec->next = g_CleanupList.next;
    pRec->prev = &g_CleanupList;
    g_CleanupList.next->prev = pRec;
    g_CleanupList.next = pRec;
    return pRec;
}

CleanupRecord *FindPackageCleanupRecord(unsigned iPackage) {
    for (CleanupLink *pLink = g_CleanupList.next; pLink != &g_CleanupList; pLink = pLink->next) {
        CleanupRecord *pRec = static_cast<CleanupRecord *>(pLink);
        if (pRec->isFile && pRec->packageIndex == (int32_t)iPackage)
            return pRec;
    }
    return nullptr;
}

void ProcessCleanupRecords(const char *pszDirectory) {
    for (unsigned iAttempt = 0;; iAttempt++) {
        const bool fLastAttempt = iAttempt + 1 == kCleanupAttempts;
        for (CleanupLink *pLink = g_CleanupList.next; pLink != &g_CleanupList;) {
            CleanupRecord *pRec = static_cast<CleanupRecord *>(pLink);
            pLink = pLink->next; // before the record goes
            if (processRecord(pRec, fLastAttempt)) {
                unlinkRecord(pRec);
                RTMemFree(pRec);
            }
        }
        if (g_CleanupList.next == &g_CleanupList || fLastAttempt) {
            if (!pszDirectory)
                return;
            // Never reported: the directory's own record has had its say.
            int rc = RTDirRemove(pszDirectory);
            if (RT_SUCCESS(rc) || rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND || fLastAttempt)
                return;
        }
        g_pfnCleanupSleep(kacMsCleanupPause[iAttempt]);
    }
}

void ReleaseCleanupRecords() {
    while (g_CleanupList.next != &g_CleanupList) {
        CleanupRecord *pRec = static_cast<CleanupRecord *>(g_CleanupList.next);
        unlinkRecord(pRec);
        if (g_pfnCleanupReleaseHook)
            g_pfnCleanupReleaseHook(pRec);
        RTMemFree(pRec);
    }
}
