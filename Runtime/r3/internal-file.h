// Shared between the portable file layer and the platform backends.
#pragma once

#include <olma/file.h>

/** Checks an open-flags word and fills in the defaults (deny none, open existing);
 *  clears the high half. ERR_INVALID_PARAMETER for any forbidden combination. */
[[nodiscard]] int rtFileRecalcAndValidateFlags(uint64_t *pfOpen);

/** Share bits (what other handles may do), the platform's encoding. */
constexpr uint32_t RTFILE_SHARE_READ = 0x1;
constexpr uint32_t RTFILE_SHARE_WRITE = 0x2;
constexpr uint32_t RTFILE_SHARE_DELETE = 0x4;
/** The share bits of a validated flags word. */
uint32_t rtFileShareFromFlags(uint64_t fOpen);

/** What CreateFileW gets for a validated flags word. Kept as plain numbers so the
 *  mapping is the same (and testable) on every host. */
struct RTFILEWINOPENPARAMS {
    uint32_t fAccess;
    uint32_t fShare;
    uint32_t uDisposition;
    uint32_t fFlagsAndAttributes;
    bool fInherit;
};
constexpr uint32_t RTFILE_WIN_CREATE_NEW = 1;
constexpr uint32_t RTFILE_WIN_CREATE_ALWAYS = 2;
constexpr uint32_t RTFILE_WIN_OPEN_EXISTING = 3;
constexpr uint32_t RTFILE_WIN_OPEN_ALWAYS = 4;
constexpr uint32_t RTFILE_WIN_TRUNCATE_EXISTING = 5;
void rtFileWinOpenParams(uint64_t fOpen, RTFILEWINOPENPARAMS *pParams);
/** The action for a successful CreateFileW, given its disposition and whether the last
 *  error said the file already existed. */
RTFILEACTION rtFileWinOpenAction(uint32_t uDisposition, bool fAlreadyExisted);

/** Backend open; flags are validated, outputs preset to nil and invalid. */
[[nodiscard]] int rtFileNativeOpen(const char *pszFilename, uint64_t fOpen, RTFILE *phFile, RTFILEACTION *penmAction);

/** Backend delete and rename; arguments are checked (valid, non-empty paths). */
[[nodiscard]] int rtFileNativeDelete(const char *pszFilename);
[[nodiscard]] int rtFileNativeRename(const char *pszSrc, const char *pszDst, bool fReplace);

/** One platform transfer. *pfLowMemory tells a failure that is the platform's transient
 *  shortage of kernel memory, which smaller transfers may get around. */
typedef int FNRTFILEXFER(RTFILE hFile, void *pvBuf, size_t cb, size_t *pcbDone, bool *pfLowMemory);
typedef uint64_t FNRTFILETELL(RTFILE hFile);
typedef int FNRTFILEFSTYPE(RTFILE hFile, RTFSTYPE *penmType);
struct RTFILEXFEROPS {
    FNRTFILEXFER *pfnXfer;
    FNRTFILETELL *pfnTell;
    FNRTFILEFSTYPE *pfnQueryFsType;
    /** The largest transfer one platform call takes. */
    size_t cbMaxCall;
};
/** The retry and chunking logic of RTFileRead and RTFileWrite over a transfer primitive. */
[[nodiscard]] int rtFileReadWorker(const RTFILEXFEROPS *pOps, RTFILE hFile, void *pvBuf, size_t cbToRead,
                                   size_t *pcbRead);
[[nodiscard]] int rtFileWriteWorker(const RTFILEXFEROPS *pOps, RTFILE hFile, const void *pvBuf, size_t cbToWrite,
                                    size_t *pcbWritten);
/** Disk full or file too big, from the end of file a failed write would have reached. */
int rtFileDiskFullStatus(uint64_t offEnd, RTFSTYPE enmType);

/** The file-system test hook's verdict for the current call of an entry point: 0, or
 *  the status the call must fail with (see RTFsTestFailNth). */
int rtFsTestFault();
