// Windows backend: file handles are kernel32 handles opened with CreateFileW.
#include "r3/internal-file.h"
#include "r3/win/internal-win.h"

#include <olma/path.h>

int rtFileNativeOpen(const char *pszFilename, uint64_t fOpen, RTFILE *phFile, RTFILEACTION *penmAction) {
    RTFILEWINOPENPARAMS params;
    rtFileWinOpenParams(fOpen, &params);
    SECURITY_ATTRIBUTES secAttrs = {sizeof(secAttrs), nullptr, TRUE};

    RTUTF16 *pwszPath = nullptr;
    int rc = RTPathToNative(&pwszPath, pszFilename);
    if (RT_FAILURE(rc))
        return rc;

    HANDLE hFile = CreateFileW((LPCWSTR)pwszPath, params.fAccess, params.fShare, params.fInherit ? &secAttrs : nullptr,
                               params.uDisposition, params.fFlagsAndAttributes, nullptr);
    DWORD dwErr = GetLastError();
    if (hFile == INVALID_HANDLE_VALUE) {
        if (params.uDisposition == RTFILE_WIN_CREATE_NEW && dwErr == ERROR_FILE_EXISTS)
            *penmAction = RTFILEACTION_ALREADY_EXISTS;
        RTPathNativeFree(pwszPath);
        return RTErrConvertFromWinError(dwErr);
    }

    RTFILEACTION enmAction = rtFileWinOpenAction(params.uDisposition, dwErr == ERROR_ALREADY_EXISTS);
    BOOL fOk = TRUE;
    if ((fOpen & RTFILE_O_NOT_CONTENT_INDEXED) &&
        (enmAction == RTFILEACTION_CREATED || enmAction == RTFILEACTION_REPLACED))
        fOk = SetFileAttributesW((LPCWSTR)pwszPath, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    else if ((fOpen & RTFILE_O_ACTION_MASK) == RTFILE_O_OPEN_CREATE && (fOpen & RTFILE_O_TRUNCATE) &&
             enmAction == RTFILEACTION_OPENED) {
        fOk = SetEndOfFile(hFile);
        enmAction = RTFILEACTION_TRUNCATED;
    }
    if (!fOk) {
        rc = RTErrConvertFromWinError(GetLastError());
        CloseHandle(hFile);
        // A file this call created must not outlive its failure.
        if (enmAction == RTFILEACTION_CREATED)
            DeleteFileW((LPCWSTR)pwszPath);
        RTPathNativeFree(pwszPath);
        return rc;
    }
    RTPathNativeFree(pwszPath);

    *penmAction = enmAction;
    *phFile = (RTFILE)hFile;
    return 0;
}

int RTFileClose(RTFILE hFile) {
    if (hFile == NIL_RTFILE)
        return 0;
    const int rcFault = rtFsTestFault();
    if (!CloseHandle((HANDLE)hFile))
        return RTErrConvertFromWinError(GetLastError());
    return rcFault;
}

int RTFileFlush(RTFILE hFile) {
    if (!FlushFileBuffers((HANDLE)hFile))
        return RTErrConvertFromWinError(GetLastError());
    return 0;
}

int RTFileFromNative(RTFILE *phFile, intptr_t uNative) {
    if (!RT_VALID_PTR(phFile))
        return ERR_INVALID_POINTER;
    *phFile = NIL_RTFILE;
    if ((HANDLE)uNative == INVALID_HANDLE_VALUE)
        return ERR_INVALID_HANDLE;
    *phFile = uNative;
    return 0;
}

bool RTFileIsValid(RTFILE hFile) {
    if (hFile == NIL_RTFILE)
        return false;
    switch (GetFileType((HANDLE)hFile)) {
    case FILE_TYPE_DISK:
    case FILE_TYPE_CHAR:
    case FILE_TYPE_PIPE:
    case FILE_TYPE_REMOTE:
        return true;
    case FILE_TYPE_UNKNOWN:
        return GetLastError() == NO_ERROR;
    default:
        return false;
    }
}

namespace {

int rtFileWinRead(RTFILE hFile, void *pvBuf, size_t cb, size_t *pcbDone, bool *pfLowMemory) {
    DWORD cbRead = 0;
    if (!ReadFile((HANDLE)hFile, pvBuf, (DWORD)cb, &cbRead, nullptr)) {
        DWORD dwErr = GetLastError();
        *pfLowMemory = dwErr == ERROR_NOT_ENOUGH_MEMORY;
        return RTErrConvertFromWinError(dwErr);
    }
    *pcbDone = cbRead;
    return 0;
}

int rtFileWinWrite(RTFILE hFile, void *pvBuf, size_t cb, size_t *pcbDone, bool *pfLowMemory) {
    DWORD cbWritten = 0;
    if (!WriteFile((HANDLE)hFile, pvBuf, (DWORD)cb, &cbWritten, nullptr)) {
        DWORD dwErr = GetLastError();
        *pfLowMemory = dwErr == ERROR_NOT_ENOUGH_MEMORY;
        return RTErrConvertFromWinError(dwErr);
    }
    *pcbDone = cbWritten;
    return 0;
}

int rtFileWinFsType(RTFILE hFile, RTFSTYPE *penmType) {
    return RTFsQueryType(hFile, penmType);
}

// One call moves at most a DWORD's worth; keep it page aligned.
constexpr size_t kMaxCall = 0xfffff000;
constexpr RTFILEXFEROPS g_rtFileReadOps = {rtFileWinRead, nullptr, nullptr, kMaxCall};
constexpr RTFILEXFEROPS g_rtFileWriteOps = {rtFileWinWrite, RTFileTell, rtFileWinFsType, kMaxCall};

/** SetFilePointer reports failure as a low half of all ones, which is also a valid
 *  position; only the last error tells them apart, so it is cleared before every call. */
bool rtFileWinSetPointer(RTFILE hFile, int64_t off, DWORD dwMethod, uint64_t *poffNew, DWORD *pdwErr) {
    LONG lHigh = (LONG)((uint64_t)off >> 32);
    SetLastError(NO_ERROR);
    DWORD dwLow = SetFilePointer((HANDLE)hFile, (LONG)(uint32_t)off, &lHigh, dwMethod);
    if (dwLow == INVALID_SET_FILE_POINTER) {
        DWORD dwErr = GetLastError();
        if (dwErr != NO_ERROR) {
            *pdwErr = dwErr;
            return false;
        }
    }
    *poffNew = ((uint64_t)(uint32_t)lHigh << 32) | dwLow;
    return true;
}

} // namespace

int RTFileRead(RTFILE hFile, void *pvBuf, size_t cbToRead, size_t *pcbRead) {
    return rtFileReadWorker(&g_rtFileReadOps, hFile, pvBuf, cbToRead, pcbRead);
}

int RTFileWrite(RTFILE hFile, const void *pvBuf, size_t cbToWrite, size_t *pcbWritten) {
    return rtFileWriteWorker(&g_rtFileWriteOps, hFile, pvBuf, cbToWrite, pcbWritten);
}

int RTFileSeek(RTFILE hFile, int64_t offSeek, unsigned uMethod, uint64_t *poffActual) {
    if (uMethod > RTFILE_SEEK_END)
        return ERR_INVALID_PARAMETER;
    uint64_t offNew = 0;
    DWORD dwErr = 0;
    if (!rtFileWinSetPointer(hFile, offSeek, uMethod, &offNew, &dwErr))
        return RTErrConvertFromWinError(dwErr);
    if (poffActual)
        *poffActual = offNew;
    return 0;
}

uint64_t RTFileTell(RTFILE hFile) {
    uint64_t off = 0;
    DWORD dwErr = 0;
    if (!rtFileWinSetPointer(hFile, 0, FILE_CURRENT, &off, &dwErr))
        return UINT64_MAX;
    return off;
}

namespace {
struct RTWINDISKGEOMETRY {
    LARGE_INTEGER Cylinders;
    DWORD MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};
static_assert(sizeof(RTWINDISKGEOMETRY) == 24);
constexpr DWORD kIoctlDiskGetDriveGeometry = 0x70000;
constexpr DWORD kIoctlDiskGetLengthInfo = 0x7405c;
constexpr DWORD kMediaRemovable = 11;
constexpr DWORD kMediaFixed = 12;
} // namespace

int RTFileQuerySize(RTFILE hFile, uint64_t *pcbSize) {
    if (!RT_VALID_PTR(pcbSize))
        return ERR_INVALID_POINTER;
    DWORD dwHigh = 0;
    SetLastError(NO_ERROR);
    DWORD dwLow = GetFileSize((HANDLE)hFile, &dwHigh);
    DWORD dwErr = dwLow == INVALID_FILE_SIZE ? GetLastError() : NO_ERROR;
    if (dwErr == NO_ERROR) {
        *pcbSize = ((uint64_t)dwHigh << 32) | dwLow;
        return 0;
    }
    int rc = RTErrConvertFromWinError(dwErr);

    // A disk or volume opened directly has no file size, only a geometry.
    RTWINDISKGEOMETRY geometry = {};
    DWORD cbRet = 0;
    if (DeviceIoControl((HANDLE)hFile, kIoctlDiskGetDriveGeometry, nullptr, 0, &geometry, sizeof(geometry), &cbRet,
                        nullptr) &&
        (geometry.MediaType == kMediaFixed || geometry.MediaType == kMediaRemovable)) {
        uint64_t cb = (uint64_t)geometry.Cylinders.QuadPart * geometry.TracksPerCylinder * geometry.SectorsPerTrack *
                      geometry.BytesPerSector;
        LARGE_INTEGER cbLength = {};
        if (DeviceIoControl((HANDLE)hFile, kIoctlDiskGetLengthInfo, nullptr, 0, &cbLength, sizeof(cbLength), &cbRet,
                            nullptr))
            cb = (uint64_t)cbLength.QuadPart;
        *pcbSize = cb;
        return 0;
    }
    return rc;
}

int rtFileNativeRename(const char *pszSrc, const char *pszDst, bool fReplace) {
    return RTPathRename(pszSrc, pszDst, fReplace ? MOVEFILE_REPLACE_EXISTING : 0, RTFS_TYPE_FILE);
}
