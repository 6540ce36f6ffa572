// Extraction and verification: every applicable package is written from the loaded image
// into the extraction directory and then proven to be exactly those bytes, held against
// other writers from its creation until clean-up.
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/path.h>
#include <olma/string.h>
#include "TeskStub.h"

constinit FNEXTRACTAFTERWRITE *g_pfnExtractAfterWriteHook = nullptr;

namespace {

/** Write access, create new, deny write, owner-only permissions: every extracted file is
 *  new, whether it gets a unique name or keeps its own. */
constexpr uint64_t kfOpenNew = 0x1C000222;
/** Read access, open existing, deny none: the first re-opening, while the writer is open. */
constexpr uint64_t kfOpenFirstReread = 0x1C000781;
/** Read access, open existing, deny write: the handle kept until clean-up. */
constexpr uint64_t kfOpenKept = 0x721;
/** The comparison reads the file back in blocks of this size. */
constexpr size_t kcbCompareBlock = 65536;
/** The run of X characters that becomes a unique name. */
constexpr char kszUniqueTemplate[] = "XXXXXXXXXXXXXXXXXXXXXXXX";

} // namespace

int ExtractPackageFile(const char *pszResourceName, const char *pszFilePath, RTFILE hFile, unsigned iPackage) {
    int rc;
    if (hFile == NIL_RTFILE) {
        // A file already there under the name is replaced by removing it and making a new
        // one, never by writing into it: it may be a link that someone planted to a file
        // elsewhere, which writing would overwrite. A link is refused by the removal.
        rc = RTFileDelete(pszFilePath);
        if (RT_SUCCESS(rc) || rc == ERR_FILE_NOT_FOUND)
            rc = RTFileOpen(&hFile, pszFilePath, kfOpenNew);
        if (RT_FAILURE(rc))
            return PrintErrorStatus(rc, "#%u: Failed to create/replace '%s' for writing: %Rrc", iPackage, pszFilePath,
                                    rc);
    }
    CleanupRecord *pRec = AddCleanupRecord(pszFilePath, true /*isFile*/);
    if (!pRec) {
        // Nothing would ever close or remove the file made (or emptied) just now.
        RTFileClose(hFile);
        (void)RTFileDelete(pszFilePath);
        return ERR_NO_MEMORY;
    }
    pRec->packageIndex = (int32_t)iPackage;
    pRec->handle.hFile = hFile;

    // The payload is written and compared straight from the loaded image.
    const void *pvData = nullptr;
    uint32_t cbData = 0;
    rc = FindResourceData(pszResourceName, &pvData, &cbData);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: Failed to locate resource '%s': %Rrc", iPackage, pszResourceName, rc);
    const uint8_t *pbData = (const uint8_t *)pvData;
    rc = RTFileWrite(hFile, pbData, cbData, nullptr);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: RTFileWrite('%s',, %#x,) failed: %Rrc", iPackage, pszFilePath, cbData, rc);
    if (g_pfnExtractAfterWriteHook)
        g_pfnExtractAfterWriteHook(hFile, pszFilePath);
    FsObjInfo InfoWritten;
    rc = RTFileQueryInfo(hFile, &InfoWritten, FSOBJ_ADD_UNIX);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: RTFileQueryInfo failed on '%s': %Rrc", iPackage, pszFilePath, rc);

    // From here on one handle that refuses writers is always open: the writer until the
    // first re-opening stands, the kept handle from the second on.
    RTFILE hFirst = NIL_RTFILE;
    rc = RTFileOpen(&hFirst, pszFilePath, kfOpenFirstReread);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: First re-opening of '%s' failed: %Rrc", iPackage, pszFilePath, rc);
    rc = RTFileClose(hFile);
    if (RT_FAILURE(rc)) {
        // A handle whose close failed is gone all the same; its number may soon name
        // another object, which clean-up must not close.
        pRec->handle.hFile = NIL_RTFILE;
        RTFileClose(hFirst);
        return PrintErrorStatus(rc, "#%u: RTFileClose('%s') failed: %Rrc", iPackage, pszFilePath, rc);
    }
    pRec->handle.hFile = hFirst;
    RTFILE hKept = NIL_RTFILE;
    rc = RTFileOpen(&hKept, pszFilePath, kfOpenKept);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: Second re-opening of '%s' failed: %Rrc", iPackage, pszFilePath, rc);
    pRec->handle.hFile = hKept;
    rc = RTFileClose(hFirst);
    if (RT_FAILURE(rc))
        PrintError("#%u: Failed to close 2nd handle to '%s': %Rrc", iPackage, pszFilePath, rc);

    FsObjInfo InfoKept;
    rc = RTFileQueryInfo(hKept, &InfoKept, FSOBJ_ADD_UNIX);
    if (RT_FAILURE(rc))
        return PrintErrorStatus(rc, "#%u: RTFileQueryInfo failed on '%s': %Rrc", iPackage, pszFilePath, rc);
    if (InfoKept.size != (int64_t)cbData)
        return PrintErrorStatus(ERR_STATE_CHANGED, "#%u: File size of '%s' changed: %'RU64, expected %'RU32", iPackage,
                                pszFilePath, (uint64_t)InfoKept.size, cbData);
    if (InfoKept.additional.unixAttr.inode != InfoWritten.additional.unixAttr.inode)
        return PrintErrorStatus(ERR_STATE_CHANGED, "#%u: File ID of '%s' changed: %#RX64, expected %#RX64", iPackage,
                                pszFilePath, InfoKept.additional.unixAttr.inode, InfoWritten.additional.unixAttr.inode);
    // Another name for the file, made by someone else, would outlive the clean-up.
    if (InfoKept.additional.unixAttr.hardLinks != 1)
        return PrintErrorStatus(ERR_STATE_CHANGED, "#%u: File '%s' has %RU32 names, expected 1", iPackage, pszFilePath,
                                InfoKept.additional.unixAttr.hardLinks);

    uint8_t abBlock[kcbCompareBlock];
    for (uint32_t off = 0; off < cbData;) {
        const size_t cbBlock = cbData - off < kcbCompareBlock ? cbData - off : kcbCompareBlock;
        rc = RTFileRead(hKept, abBlock, cbBlock, nullptr);
        if (RT_FAILURE(rc))
            return PrintErrorStatus(rc, "#%u: RTFileRead failed on '%s' at offset %#RX32: %Rrc", iPackage, pszFilePath,
                                    off, rc);
        if (__builtin_memcmp(abBlock, pbData + off, cbBlock) != 0)
            return PrintErrorStatus(ERR_STATE_CHANGED,
                                    "#%u: File '%s' has change (mismatch in %#zx byte block at %#RX32)", iPackage,
                                    pszFilePath, cbBlock, off);
        off += (uint32_t)cbBlock;
    }
    return 0;
}

int ExtractPackages(unsigned cPackages, const char *pszDirectory, bool fExtractOnly, CleanupRecord **ppDirRecord) {
    CleanupRecord *pDirRecord = *ppDirRecord;
    if (!RTDirExists(pszDirectory)) {
        if (pDirRecord)
            return ShowError("RTDirExists failed on '%s' which we just created!", pszDirectory);
        int rc = RTDirCreate(pszDirectory, 0700, 0);
        if (RT_FAILURE(rc))
            return ShowError("Failed to create extraction path '%s': %Rrc", pszDirectory, rc);
        pDirRecord = AddCleanupRecord(pszDirectory, false /*isFile*/);
        if (!pDirRecord)
            return PrintErrorFailure("Failed to add cleanup record for dir '%s'", pszDirectory);
        *ppDirRecord = pDirRecord;
    } else if (!pDirRecord) {
        // A --path directory that was there before: used, never removed.
        pDirRecord = AddCleanupRecord(pszDirectory, false /*isFile*/);
        if (!pDirRecord)
            return PrintErrorFailure("Failed to add cleanup record for existing dir '%s'", pszDirectory);
        pDirRecord->dontDelete = true;
        *ppDirRecord = pDirRecord;
    }

    int rc = RTDirOpen(&pDirRecord->handle.hDir, pszDirectory);
    if (RT_FAILURE(rc))
        return ShowError("Failed to open extraction path '%s': %Rrc", pszDirectory, rc);
    (void)RTPathSetCurrent(pszDirectory);

    for (unsigned iPackage = 0; iPackage < cPackages; iPackage++) {
        const PackageHeader *pHeader = FindPackageHeader(iPackage);
        if (!pHeader)
            return 1;
        if (!fExtractOnly && !PackageRunsOnHost(pHeader))
            continue;
        const bool fAllArch = pHeader->architecture == (uint32_t)PackageArch::All;
        // The name comes from the executable, which anyone may have edited: it must be a
        // plain file name before it is joined to the directory. The name itself is not
        // repeated, since it may hold anything.
        const PackageNameFault enmFault = CheckPackageFileName(pHeader->fileName, sizeof(pHeader->fileName));
        if (enmFault != PackageNameFault::None)
            return ShowError("Internal package error: The file name of package #%u %s", iPackage,
                             PackageNameFaultText(enmFault));

        // Packages that others refer to by name keep it; the rest get a fresh name that
        // nobody can predict, with the suffix that says how they are run.
        char szPath[TESKSTUB_PATH_MAX];
        RTFILE hFile = NIL_RTFILE;
        if (fExtractOnly || fAllArch) {
            rc = RTPathJoin(szPath, sizeof(szPath), pszDirectory, pHeader->fileName);
            if (RT_FAILURE(rc))
                return ShowError("Internal error: Build extraction file name failed: %Rrc", rc);
        } else {
            rc = RTPathJoin(szPath, sizeof(szPath), pszDirectory, kszUniqueTemplate);
            const char *pszSuffix = RTPathSuffix(pHeader->fileName);
            if (RT_SUCCESS(rc) && pszSuffix)
                rc = RTStrCat(szPath, sizeof(szPath), pszSuffix);
            if (RT_FAILURE(rc))
                return ShowError("Internal error: Build extraction file name failed: %Rrc", rc);
            rc = RTFileCreateTemp(&hFile, szPath, kfOpenNew);
            if (RT_FAILURE(rc))
                return ShowError("Failed to create unique filename for '%s' in '%s': %Rrc", pHeader->fileName,
                                 pszDirectory, rc);
        }
        rc = ExtractPackageFile(pHeader->resourceName, szPath, hFile, iPackage);
        if (RT_FAILURE(rc))
            return ShowError("Error extracting package #%u (%s): %Rrc", iPackage, pHeader->fileName, rc);
    }
    return 0;
}
