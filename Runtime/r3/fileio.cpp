// Files, the part every platform shares: open flags, their platform mapping, and the
// transfer loops behind RTFileRead and RTFileWrite.
#include "r3/internal-file.h"

int rtFileRecalcAndValidateFlags(uint64_t *pfOpen) {
    uint64_t fOpen = *pfOpen & UINT64_C(0xffffffff);

    if (!(fOpen & (RTFILE_O_ACCESS_MASK | RTFILE_O_ACCESS_ATTR_MASK)))
        return ERR_INVALID_PARAMETER;
    if (fOpen & (RTFILE_O_RESERVED_80000000 | RTFILE_O_RESERVED_4000 | 0x8))
        return ERR_INVALID_PARAMETER;
    if ((fOpen & RTFILE_O_TRUNCATE) && !(fOpen & RTFILE_O_WRITE))
        return ERR_INVALID_PARAMETER;

    switch (fOpen & RTFILE_O_DENY_MASK) {
    case 0:
        fOpen |= RTFILE_O_DENY_NONE;
        break;
    case 0x10:
    case 0x20:
    case 0x30:
    case 0x40:
    case 0x50:
    case 0x60:
    case 0x70:
    case 0x80:
        break;
    default:
        return ERR_INVALID_PARAMETER;
    }

    switch (fOpen & RTFILE_O_ACTION_MASK) {
    case 0:
        fOpen |= RTFILE_O_OPEN;
        break;
    case RTFILE_O_OPEN_CREATE:
    case RTFILE_O_CREATE:
    case RTFILE_O_CREATE_REPLACE:
    case RTFILE_O_OPEN:
        break;
    default:
        return ERR_INVALID_PARAMETER;
    }

    if ((fOpen & RTFILE_O_NOT_CONTENT_INDEXED) && (fOpen & RTFILE_O_ACTION_MASK) == RTFILE_O_OPEN)
        return ERR_INVALID_PARAMETER;

    *pfOpen = fOpen;
    return 0;
}

uint32_t rtFileShareFromFlags(uint64_t fOpen) {
    // Indexed by the deny value shifted down by four; 0 never reaches here.
    static constexpr uint8_t s_afShare[9] = {
        RTFILE_SHARE_READ | RTFILE_SHARE_WRITE,                       // (0: deny none)
        RTFILE_SHARE_WRITE,                                           // 0x10 deny read
        RTFILE_SHARE_READ,                                            // 0x20 deny write
        0,                                                            // 0x30 deny read and write
        RTFILE_SHARE_READ | RTFILE_SHARE_WRITE | RTFILE_SHARE_DELETE, // 0x40 deny none, allow delete
        RTFILE_SHARE_WRITE | RTFILE_SHARE_DELETE,                     // 0x50 deny read, allow delete
        RTFILE_SHARE_READ | RTFILE_SHARE_DELETE,                      // 0x60 deny write, allow delete
        RTFILE_SHARE_DELETE,                                          // 0x70 deny both, allow delete
        RTFILE_SHARE_READ | RTFILE_SHARE_WRITE,                       // 0x80 deny none
    };
    return s_afShare[((fOpen & RTFILE_O_DENY_MASK) >> 4) % RT_ELEMENTS(s_afShare)];
}

namespace {
// Access rights, as the platform numbers them.
constexpr uint32_t kFileReadData = 0x0001;
constexpr uint32_t kFileWriteData = 0x0002;
constexpr uint32_t kFileAppendData = 0x0004;
constexpr uint32_t kFileReadEa = 0x0008;
constexpr uint32_t kFileWriteEa = 0x0010;
constexpr uint32_t kFileReadAttributes = 0x0080;
constexpr uint32_t kFileWriteAttributes = 0x0100;
constexpr uint32_t kStandardRightsRw = 0x00020000;
constexpr uint32_t kSynchronize = 0x00100000;
constexpr uint32_t kGenericWrite = 0x40000000;

constexpr uint32_t kAccessRead = kStandardRightsRw | kSynchronize | kFileReadData | kFileReadEa | kFileReadAttributes;
constexpr uint32_t kAccessWrite =
    kStandardRightsRw | kSynchronize | kFileWriteData | kFileAppendData | kFileWriteEa | kFileWriteAttributes;
static_assert(kAccessRead == 0x120089 && kAccessWrite == 0x120116);

constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrTemporary = 0x100;
constexpr uint32_t kFlagWriteThrough = 0x80000000;
constexpr uint32_t kFlagOverlapped = 0x40000000;
constexpr uint32_t kFlagNoBuffering = 0x20000000;
} // namespace

void rtFileWinOpenParams(uint64_t fOpen, RTFILEWINOPENPARAMS *pParams) {
    uint32_t uDisposition;
    switch (fOpen & RTFILE_O_ACTION_MASK) {
    case RTFILE_O_OPEN_CREATE:
        uDisposition = RTFILE_WIN_OPEN_ALWAYS;
        break;
    case RTFILE_O_CREATE:
        uDisposition = RTFILE_WIN_CREATE_NEW;
        break;
    case RTFILE_O_CREATE_REPLACE:
        uDisposition = RTFILE_WIN_CREATE_ALWAYS;
        break;
    default:
        uDisposition = (fOpen & RTFILE_O_TRUNCATE) ? RTFILE_WIN_TRUNCATE_EXISTING : RTFILE_WIN_OPEN_EXISTING;
        break;
    }

    // Append means writing without the right to overwrite what is there.
    const uint32_t fWrite = (fOpen & RTFILE_O_APPEND) ? kAccessWrite & ~kFileWriteData : kAccessWrite;
    uint32_t fAccess = 0;
    switch (fOpen & RTFILE_O_ACCESS_MASK) {
    case RTFILE_O_READ:
        fAccess = kAccessRead;
        break;
    case RTFILE_O_WRITE:
        fAccess = fWrite;
        break;
    case RTFILE_O_READWRITE:
        fAccess = kAccessRead | fWrite;
        break;
    }
    if (uDisposition == RTFILE_WIN_TRUNCATE_EXISTING)
        fAccess |= kGenericWrite;

    uint64_t fAttrAccess = fOpen & RTFILE_O_ACCESS_ATTR_MASK;
    if (!fAttrAccess)
        fAttrAccess = (fOpen & RTFILE_O_ACCESS_MASK) << 16;
    if (fAttrAccess & RTFILE_O_ACCESS_ATTR_READ)
        fAccess |= kSynchronize | kFileReadAttributes;
    if (fAttrAccess & RTFILE_O_ACCESS_ATTR_WRITE)
        fAccess |= kSynchronize | kFileWriteAttributes;

    uint32_t fFlagsAndAttributes = (fOpen & RTFILE_O_TEMPORARY) ? kAttrTemporary : kAttrNormal;
    if (fOpen & RTFILE_O_WRITE_THROUGH)
        fFlagsAndAttributes |= kFlagWriteThrough;
    if (fOpen & RTFILE_O_ASYNC_IO)
        fFlagsAndAttributes |= kFlagOverlapped;
    if (fOpen & RTFILE_O_NO_CACHE) {
        // Unbuffered appends would have to be sector aligned; the platform refuses them.
        fFlagsAndAttributes |= kFlagNoBuffering;
        fAccess &= ~kFileAppendData;
    }

    pParams->fAccess = fAccess;
    pParams->fShare = rtFileShareFromFlags(fOpen);
    pParams->uDisposition = uDisposition;
    pParams->fFlagsAndAttributes = fFlagsAndAttributes;
    pParams->fInherit = (fOpen & RTFILE_O_INHERIT) != 0;
}

RTFILEACTION rtFileWinOpenAction(uint32_t uDisposition, bool fAlreadyExisted) {
    switch (uDisposition) {
    case RTFILE_WIN_CREATE_NEW:
        return RTFILEACTION_CREATED;
    case RTFILE_WIN_CREATE_ALWAYS:
        return fAlreadyExisted ? RTFILEACTION_REPLACED : RTFILEACTION_CREATED;
    case RTFILE_WIN_OPEN_EXISTING:
        return RTFILEACTION_OPENED;
    case RTFILE_WIN_OPEN_ALWAYS:
        return fAlreadyExisted ? RTFILEACTION_OPENED : RTFILEACTION_CREATED;
    case RTFILE_WIN_TRUNCATE_EXISTING:
        return RTFILEACTION_TRUNCATED;
    default:
        return RTFILEACTION_INVALID;
    }
}

int RTFileOpenEx(const char *pszFilename, uint64_t fOpen, RTFILE *phFile, RTFILEACTION *penmActionTaken) {
    if (!phFile || !pszFilename)
        return ERR_INVALID_PARAMETER;
    if (!RT_VALID_PTR(phFile) || !RT_VALID_PTR(pszFilename) || (penmActionTaken && !RT_VALID_PTR(penmActionTaken)))
        return ERR_INVALID_POINTER;
    *phFile = NIL_RTFILE;
    if (penmActionTaken)
        *penmActionTaken = RTFILEACTION_INVALID;

    int rc = rtFileRecalcAndValidateFlags(&fOpen);
    if (RT_FAILURE(rc))
        return rc;
    if (!*pszFilename)
        return ERR_PATH_ZERO_LENGTH;
    if (int rcFault = rtFsTestFault())
        return rcFault;

    RTFILE hFile = NIL_RTFILE;
    RTFILEACTION enmAction = RTFILEACTION_INVALID;
    rc = rtFileNativeOpen(pszFilename, fOpen, &hFile, &enmAction);
    if (penmActionTaken)
        *penmActionTaken = enmAction;
    if (RT_SUCCESS(rc))
        *phFile = hFile;
    return rc;
}

int RTFileOpen(RTFILE *phFile, const char *pszFilename, uint64_t fOpen) {
    return RTFileOpenEx(pszFilename, fOpen, phFile, nullptr);
}

int RTFileDelete(const char *pszFilename) {
    if (!RT_VALID_PTR(pszFilename))
        return ERR_INVALID_POINTER;
    if (!*pszFilename)
        return ERR_PATH_ZERO_LENGTH;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    return rtFileNativeDelete(pszFilename);
}

int RTFileRename(const char *pszSrc, const char *pszDst, uint32_t fRename) {
    if (!RT_VALID_PTR(pszSrc) || !RT_VALID_PTR(pszDst))
        return ERR_INVALID_POINTER;
    if (fRename & ~RTFILEMOVE_FLAGS_REPLACE)
        return ERR_INVALID_PARAMETER;
    if (!*pszSrc || !*pszDst)
        return ERR_PATH_ZERO_LENGTH;
    return rtFileNativeRename(pszSrc, pszDst, (fRename & RTFILEMOVE_FLAGS_REPLACE) != 0);
}

namespace {

/** First chunk after a transient shortage: half the request, rounded up to 256, capped. */
size_t rtFileFirstChunk(size_t cbLeft, size_t cbCap) {
    size_t cb = ((cbLeft / 2) + 255) & ~(size_t)255;
    return cb < cbCap ? cb : cbCap;
}

/** The shared transfer loop. A first call of the whole count; with a count output the
 *  first successful call ends it. Without one, the rest is transferred until done, and a
 *  call that moves nothing is rcShort. A transient memory shortage switches to chunks
 *  that halve on every further shortage. */
int rtFileXferLoop(const RTFILEXFEROPS *pOps, RTFILE hFile, uint8_t *pbBuf, size_t cbTotal, size_t *pcbDone,
                   size_t cbChunkCap, int rcShort, bool fWrite) {
    if (pcbDone)
        *pcbDone = 0;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    if (cbTotal == 0)
        return 0;

    size_t cbDone = 0;
    size_t cbChunk = 0; // 0: not chunking
    for (;;) {
        size_t cbLeft = cbTotal - cbDone;
        size_t cbCall = cbChunk ? cbChunk : pOps->cbMaxCall;
        if (cbCall > cbLeft)
            cbCall = cbLeft;

        size_t cbThis = 0;
        bool fLowMemory = false;
        int rc = pOps->pfnXfer(hFile, pbBuf + cbDone, cbCall, &cbThis, &fLowMemory);
        if (RT_FAILURE(rc)) {
            if (fLowMemory) {
                cbChunk = cbChunk ? cbChunk / 2 : rtFileFirstChunk(cbLeft, cbChunkCap);
                if (cbChunk > 8)
                    continue;
            }
            if (fWrite && rc == ERR_DISK_FULL && pOps->pfnTell) {
                uint64_t offCur = pOps->pfnTell(hFile);
                if (offCur != UINT64_MAX) {
                    uint64_t offEnd = offCur + cbCall;
                    RTFSTYPE enmType = FSTYPE_UNKNOWN;
                    if (offEnd >= 0x7fffffff && pOps->pfnQueryFsType &&
                        RT_FAILURE(pOps->pfnQueryFsType(hFile, &enmType)))
                        enmType = FSTYPE_UNKNOWN;
                    rc = rtFileDiskFullStatus(offEnd, enmType);
                }
            }
            if (pcbDone)
                *pcbDone = cbDone;
            return rc;
        }

        if (cbThis > cbCall) // never report more than was asked for
            cbThis = cbCall;
        cbDone += cbThis;
        if (pcbDone) {
            *pcbDone = cbDone;
            return 0;
        }
        if (cbDone == cbTotal)
            return 0;
        if (cbThis == 0)
            return rcShort;
    }
}

} // namespace

int rtFileReadWorker(const RTFILEXFEROPS *pOps, RTFILE hFile, void *pvBuf, size_t cbToRead, size_t *pcbRead) {
    return rtFileXferLoop(pOps, hFile, (uint8_t *)pvBuf, cbToRead, pcbRead, 16384, ERR_EOF, false);
}

int rtFileWriteWorker(const RTFILEXFEROPS *pOps, RTFILE hFile, const void *pvBuf, size_t cbToWrite,
                      size_t *pcbWritten) {
    return rtFileXferLoop(pOps, hFile, (uint8_t *)const_cast<void *>(pvBuf), cbToWrite, pcbWritten, 32768,
                          ERR_WRITE_INCOMPLETE, true);
}

int rtFileDiskFullStatus(uint64_t offEnd, RTFSTYPE enmType) {
    if (offEnd < 0x7fffffff)
        return ERR_DISK_FULL;
    uint64_t cbLimit;
    switch (enmType) {
    case FSTYPE_CDFS:
        cbLimit = UINT64_C(1) << 43;
        break;
    case FSTYPE_FAT:
        cbLimit = UINT64_C(1) << 32;
        break;
    case FSTYPE_HPFS:
        cbLimit = UINT64_C(1) << 31;
        break;
    default:
        return ERR_DISK_FULL;
    }
    return offEnd >= cbLimit ? ERR_FILE_TOO_BIG : ERR_DISK_FULL;
}
