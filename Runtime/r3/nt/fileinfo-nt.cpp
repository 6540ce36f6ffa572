// Windows backend: file information by handle, deleting files through the native API.
#include "r3/internal-file.h"
#include "r3/nt/internal-fs-nt.h"
#include "r3/nt/internal-r3-nt.h"

#include <atomic>

uint32_t rtFsNtVolumeSerial(HANDLE hHandle) {
    union {
        FILE_FS_VOLUME_INFORMATION info;
        uint8_t ab[2048];
    } u;
    IO_STATUS_BLOCK ios;
    rtNtIosPreset(&ios);
    NTSTATUS rcNt =
        NtQueryVolumeInformationFile(hHandle, &ios, &u, sizeof(u), (FS_INFORMATION_CLASS)kNtFileFsVolumeInformation);
    if (NT_SUCCESS(rcNt) || rcNt == kNtStatusBufferOverflow)
        return u.info.VolumeSerialNumber;
    return 0;
}

void rtFsNtObjInfoFromAll(FsObjInfo *pObjInfo, const FILE_ALL_INFORMATION *pAll, const char *pszName,
                          uint32_t uReparseTag, uint32_t enmAdditionalKind, HANDLE hHandle) {
    __builtin_memset(pObjInfo, 0, sizeof(*pObjInfo));
    pObjInfo->size = pAll->StandardInformation.EndOfFile.QuadPart;
    pObjInfo->allocatedSize = pAll->StandardInformation.AllocationSize.QuadPart;
    pObjInfo->accessTime = rtFsTimeFromNtTicks(pAll->BasicInformation.LastAccessTime.QuadPart);
    pObjInfo->modificationTime = rtFsTimeFromNtTicks(pAll->BasicInformation.LastWriteTime.QuadPart);
    pObjInfo->changeTime = rtFsTimeFromNtTicks(pAll->BasicInformation.ChangeTime.QuadPart);
    pObjInfo->birthTime = rtFsTimeFromNtTicks(pAll->BasicInformation.CreationTime.QuadPart);
    pObjInfo->mode =
        RTFsModeFromAttributes(pAll->BasicInformation.FileAttributes << RTFS_DOS_SHIFT, pszName, 0, uReparseTag, 0);
    pObjInfo->additionalKind = enmAdditionalKind;
    switch (enmAdditionalKind) {
    case FSOBJ_ADD_UNIX: {
        FsObjAddUnix *pUnix = &pObjInfo->additional.unixAttr;
        pUnix->uid = NIL_RTUID;
        pUnix->gid = NIL_RTGID;
        ULONG cLinks = pAll->StandardInformation.NumberOfLinks;
        pUnix->hardLinks = cLinks ? cLinks : 1;
        pUnix->inode = (uint64_t)pAll->InternalInformation.IndexNumber.QuadPart;
        pUnix->inodeDevice = rtFsNtVolumeSerial(hHandle);
        break;
    }
    case FSOBJ_ADD_UNIX_OWNER:
        pObjInfo->additional.unixOwner.uid = NIL_RTUID;
        break;
    case FSOBJ_ADD_UNIX_GROUP:
        pObjInfo->additional.unixGroup.gid = NIL_RTGID;
        break;
    default: // nothing, or an extended-attribute size of 0
        break;
    }
}

int rtFsNtFillZeroedAdditional(FsObjInfo *pObjInfo, uint32_t enmAdditionalKind) {
    pObjInfo->additionalKind = enmAdditionalKind;
    switch (enmAdditionalKind) {
    case FSOBJ_ADD_NOTHING:
    case FSOBJ_ADD_UNIX:
    case FSOBJ_ADD_EASIZE:
        return 0;
    case FSOBJ_ADD_UNIX_OWNER:
        pObjInfo->additional.unixOwner.uid = NIL_RTUID;
        return 0;
    case FSOBJ_ADD_UNIX_GROUP:
        pObjInfo->additional.unixGroup.gid = NIL_RTGID;
        return 0;
    default:
        return ERR_INTERNAL_ERROR;
    }
}

namespace {

using PFNVERIFYCONSOLEIOHANDLE = BOOL(WINAPI *)(HANDLE);
constinit std::atomic<PFNVERIFYCONSOLEIOHANDLE> g_pfnVerifyConsoleIoHandle{nullptr};
constinit std::atomic<bool> g_fVerifyConsoleIoHandleResolved{false};

/** Whether a handle the file queries refused is a console handle. */
bool rtFileNtIsConsole(HANDLE hHandle) {
    if (!g_fVerifyConsoleIoHandleResolved.load(std::memory_order_acquire)) {
        HMODULE hKernel32 = GetModuleHandleW(L"kernel32.dll");
        auto pfn =
            hKernel32 ? (PFNVERIFYCONSOLEIOHANDLE)(void *)GetProcAddress(hKernel32, "VerifyConsoleIoHandle") : nullptr;
        g_pfnVerifyConsoleIoHandle.store(pfn, std::memory_order_relaxed);
        g_fVerifyConsoleIoHandleResolved.exchange(true, std::memory_order_release);
    }
    PFNVERIFYCONSOLEIOHANDLE pfn = g_pfnVerifyConsoleIoHandle.load(std::memory_order_relaxed);
    if (pfn)
        return pfn(hHandle) != FALSE;
    return GetFileType(hHandle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

} // namespace

int RTFileQueryInfo(RTFILE hFile, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind) {
    if (hFile == NIL_RTFILE || !RT_VALID_PTR(pObjInfo) || enmAdditionalKind < FSOBJ_ADD_FIRST ||
        enmAdditionalKind > FSOBJ_ADD_LAST)
        return ERR_INVALID_PARAMETER;
    if (int rcFault = rtFsTestFault())
        return rcFault;

    union {
        FILE_ALL_INFORMATION all;
        uint8_t ab[168];
    } u;
    __builtin_memset(&u, 0, sizeof(u));
    IO_STATUS_BLOCK ios;
    rtNtIosPreset(&ios);
    NTSTATUS rcNt = NtQueryInformationFile((HANDLE)hFile, &ios, &u, kNtAllInfoQuerySize,
                                           (FILE_INFORMATION_CLASS)kNtFileAllInformation);
    if (NT_SUCCESS(rcNt) || rcNt == kNtStatusBufferOverflow) {
        rtFsNtObjInfoFromAll(pObjInfo, &u.all, nullptr, 0, enmAdditionalKind, (HANDLE)hFile);
        return 0;
    }

    int rc = RTErrConvertFromNtStatus(rcNt);
    if (rc == ERR_INVALID_HANDLE || rc == ERR_ACCESS_DENIED || rc == ERR_OBJECT_TYPE_MISMATCH) {
        if (!rtFileNtIsConsole((HANDLE)hFile))
            return ERR_INVALID_HANDLE;
    } else if (rc != ERR_INVALID_INFO_CLASS && rc != ERR_INVALID_DEVICE_REQUEST)
        return rc;

    // Consoles and other devices that answer no file queries: a character-less device.
    __builtin_memset(pObjInfo, 0, sizeof(*pObjInfo));
    pObjInfo->mode = RTFsModeFromAttributes(RTFS_DOS_NT_DEVICE, "", 0, 0, 0);
    return rtFsNtFillZeroedAdditional(pObjInfo, enmAdditionalKind);
}

int rtFileNativeDelete(const char *pszFilename) {
    UNICODE_STRING ntName;
    HANDLE hRootDir;
    int rc = RTNtPathFromUtf8(&ntName, &hRootDir, pszFilename);
    if (RT_FAILURE(rc))
        return rc;

    OBJECT_ATTRIBUTES objAttrs;
    InitializeObjectAttributes(&objAttrs, &ntName, OBJ_CASE_INSENSITIVE, hRootDir, nullptr);
    IO_STATUS_BLOCK ios;
    rtNtIosPreset(&ios);
    HANDLE hFile = nullptr;
    constexpr ACCESS_MASK fAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr ULONG fShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr ULONG fOptions = FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE;
    bool fOpenedAsLink = true;
    NTSTATUS rcNt = NtCreateFile(&hFile, fAccess, &objAttrs, &ios, nullptr, FILE_ATTRIBUTE_NORMAL, fShare, FILE_OPEN,
                                 fOptions | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (rcNt == kNtStatusInvalidParameter) {
        // Some file systems do not take the reparse-point option.
        fOpenedAsLink = false;
        rtNtIosPreset(&ios);
        rcNt = NtCreateFile(&hFile, fAccess, &objAttrs, &ios, nullptr, FILE_ATTRIBUTE_NORMAL, fShare, FILE_OPEN,
                            fOptions, nullptr, 0);
    }
    if (!NT_SUCCESS(rcNt)) {
        RTNtPathFree(&ntName, &hRootDir);
        return RTErrConvertFromNtStatus(rcNt);
    }

    rc = 0;
    if (fOpenedAsLink) {
        FILE_ATTRIBUTE_TAG_INFORMATION tagInfo = {};
        rtNtIosPreset(&ios);
        rcNt = NtQueryInformationFile(hFile, &ios, &tagInfo, sizeof(tagInfo),
                                      (FILE_INFORMATION_CLASS)kNtFileAttributeTagInformation);
        if (NT_SUCCESS(rcNt)) {
            if (tagInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                rc = ERR_IS_A_SYMLINK;
        } else if (rcNt != kNtStatusNotImplemented && rcNt != kNtStatusInvalidInfoClass &&
                   rcNt != kNtStatusInvalidParameter)
            rc = RTErrConvertFromNtStatus(rcNt);
    }
    if (RT_SUCCESS(rc)) {
        FILE_BASIC_INFORMATION basicInfo = {};
        rtNtIosPreset(&ios);
        rcNt = NtQueryInformationFile(hFile, &ios, &basicInfo, sizeof(basicInfo),
                                      (FILE_INFORMATION_CLASS)kNtFileBasicInformation);
        if (!NT_SUCCESS(rcNt))
            rc = RTErrConvertFromNtStatus(rcNt);
        else if (basicInfo.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            rc = ERR_IS_A_DIRECTORY;
        else if (basicInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            rc = ERR_IS_A_SYMLINK;
        else {
            FILE_DISPOSITION_INFORMATION dispInfo = {};
            dispInfo.DoDeleteFile = TRUE;
            rtNtIosPreset(&ios);
            rcNt = NtSetInformationFile(hFile, &ios, &dispInfo, sizeof(dispInfo),
                                        (FILE_INFORMATION_CLASS)kNtFileDispositionInformation);
            if (!NT_SUCCESS(rcNt))
                rc = RTErrConvertFromNtStatus(rcNt);
        }
    }

    rcNt = NtClose(hFile);
    if (RT_SUCCESS(rc) && !NT_SUCCESS(rcNt))
        rc = RTErrConvertFromNtStatus(rcNt);
    RTNtPathFree(&ntName, &hRootDir);
    return rc;
}
