// Windows backend: describing an object by path, cheapest platform call first, and
// naming the file system behind a handle.
#include "r3/nt/internal-fs-nt.h"
#include "r3/nt/internal-r3-nt.h"

#include <olma/file.h>

#include <atomic>

namespace {

/** Whether the open-reparse-point option is taken: -1 not known yet, 0 it is not. A
 *  plain integer: concurrent queries at worst repeat the probe. */
constinit int g_iOpenReparsePointOk = -1;

using PFNNTQUERYFULLATTRIBUTESFILE = NTSTATUS(NTAPI *)(POBJECT_ATTRIBUTES, PFILE_NETWORK_OPEN_INFORMATION);
constinit std::atomic<PFNNTQUERYFULLATTRIBUTESFILE> g_pfnNtQueryFullAttributesFile{nullptr};
constinit std::atomic<bool> g_fNtQueryFullAttributesFileResolved{false};

/** The quick-attributes call; older systems lack it. Runtime initialisation has looked
 *  it up already; programs that never ran it (unit tests) look it up here, once. */
PFNNTQUERYFULLATTRIBUTESFILE rtPathNtQuickAttributesFn() {
    if (g_hModNtDll)
        return (PFNNTQUERYFULLATTRIBUTESFILE)g_rtR3WinOptional.pfnNtQueryFullAttributesFile;
    if (!g_fNtQueryFullAttributesFileResolved.load(std::memory_order_acquire)) {
        HMODULE hNtDll = GetModuleHandleW(L"ntdll.dll");
        auto pfn = hNtDll ? (PFNNTQUERYFULLATTRIBUTESFILE)(void *)GetProcAddress(hNtDll, "NtQueryFullAttributesFile")
                          : nullptr;
        g_pfnNtQueryFullAttributesFile.store(pfn, std::memory_order_relaxed);
        g_fNtQueryFullAttributesFileResolved.exchange(true, std::memory_order_release);
    }
    return g_pfnNtQueryFullAttributesFile.load(std::memory_order_relaxed);
}

/** One entry of an object-manager directory listing. */
struct RTNTOBJDIRINFO {
    UNICODE_STRING Name;
    UNICODE_STRING TypeName;
};

constexpr size_t kScratchSize = 8312;
constexpr ACCESS_MASK kDirectoryQueryTraverse = 0x3;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum class Next { Done, ParentListing, ObjectManager };

UNICODE_STRING rtPathNtSub(const UNICODE_STRING *pName, size_t offStart, size_t cwc) {
    UNICODE_STRING sub;
    sub.Buffer = pName->Buffer + offStart;
    sub.Length = (USHORT)(cwc * sizeof(WCHAR));
    sub.MaximumLength = sub.Length;
    return sub;
}

/** Splits a native name at its last separator. Trailing separators of the name are not
 *  part of the final name and are stripped from the parent, down to one character; a
 *  drive's root keeps its separator, since without it the name is the volume. */
bool rtPathNtSplit(const UNICODE_STRING *pName, UNICODE_STRING *pParent, UNICODE_STRING *pFinal) {
    static WCHAR s_wszDot[] = L".";
    const WCHAR *pwc = pName->Buffer;
    size_t cwcEnd = pName->Length / sizeof(WCHAR);
    while (cwcEnd > 1 && pwc[cwcEnd - 1] == '\\')
        cwcEnd--;
    size_t off = cwcEnd;
    while (off > 0 && pwc[off - 1] != '\\')
        off--;
    *pFinal = rtPathNtSub(pName, off, cwcEnd - off);
    if (off == 0) {
        pParent->Buffer = s_wszDot;
        pParent->Length = sizeof(WCHAR);
        pParent->MaximumLength = sizeof(s_wszDot);
        return pFinal->Length != 0;
    }
    size_t cwcParent = off;
    while (cwcParent > 1 && pwc[cwcParent - 1] == '\\' && pwc[cwcParent - 2] != ':')
        cwcParent--;
    *pParent = rtPathNtSub(pName, 0, cwcParent);
    return pFinal->Length != 0;
}

bool rtPathNtEqual(const UNICODE_STRING *pA, const WCHAR *pwsz) {
    size_t cwc = 0;
    while (pwsz[cwc])
        cwc++;
    if (pA->Length != cwc * sizeof(WCHAR))
        return false;
    for (size_t i = 0; i < cwc; i++)
        if (pA->Buffer[i] != pwsz[i])
            return false;
    return true;
}

bool rtPathNtEqual(const UNICODE_STRING *pA, const UNICODE_STRING *pB) {
    if (pA->Length != pB->Length)
        return false;
    for (size_t i = 0; i < pA->Length / sizeof(WCHAR); i++)
        if (pA->Buffer[i] != pB->Buffer[i])
            return false;
    return true;
}

/** The additional block as the handle query gives it, for answers that have no handle. */
void rtPathNtFillAdditional(FsObjInfo *pObjInfo, uint32_t enmAdditionalKind, uint64_t idFile, uint32_t uSerial) {
    pObjInfo->additionalKind = enmAdditionalKind;
    switch (enmAdditionalKind) {
    case FSOBJ_ADD_UNIX:
        pObjInfo->additional.unixAttr.uid = NIL_RTUID;
        pObjInfo->additional.unixAttr.gid = NIL_RTGID;
        pObjInfo->additional.unixAttr.hardLinks = 1;
        pObjInfo->additional.unixAttr.inode = idFile;
        pObjInfo->additional.unixAttr.inodeDevice = uSerial;
        break;
    case FSOBJ_ADD_UNIX_OWNER:
        pObjInfo->additional.unixOwner.uid = NIL_RTUID;
        break;
    case FSOBJ_ADD_UNIX_GROUP:
        pObjInfo->additional.unixGroup.gid = NIL_RTGID;
        break;
    default:
        break;
    }
}

/** Names that are not files: the object manager's own directories, links and devices. */
int rtPathNtQueryObjectManager(HANDLE hRootDir, const UNICODE_STRING *pName, FsObjInfo *pObjInfo,
                               uint32_t enmAdditionalKind, uint8_t *pbScratch) {
    uint32_t fMode = 0;
    if (!hRootDir && pName->Length == sizeof(WCHAR) && pName->Buffer[0] == '\\')
        fMode = RTFS_TYPE_DIRECTORY | RTFS_UNIX_ALL_ACCESS_PERMS | RTFS_DOS_DIRECTORY;
    else {
        UNICODE_STRING parent, final;
        if (!rtPathNtSplit(pName, &parent, &final))
            return ERR_FILE_NOT_FOUND;
        OBJECT_ATTRIBUTES objAttrs;
        InitializeObjectAttributes(&objAttrs, &parent, OBJ_CASE_INSENSITIVE, hRootDir, nullptr);
        HANDLE hDir = nullptr;
        NTSTATUS rcNt = NtOpenDirectoryObject(&hDir, kDirectoryQueryTraverse, &objAttrs);
        if (!NT_SUCCESS(rcNt))
            return RTErrConvertFromNtStatus(rcNt);

        ULONG uContext = 0;
        bool fRestart = true;
        bool fFound = false;
        bool fSingle = false;
        for (;;) {
            ULONG cbReturned = 0;
            rcNt = NtQueryDirectoryObject(hDir, pbScratch, kScratchSize, fSingle, fRestart, &uContext, &cbReturned);
            if (rcNt == kNtStatusNotImplemented && fRestart && !fSingle) {
                // Some implementations only hand out one entry per call.
                fSingle = true;
                continue;
            }
            if (!NT_SUCCESS(rcNt))
                break;
            fRestart = false;
            const RTNTOBJDIRINFO *pEnd =
                fSingle ? (const RTNTOBJDIRINFO *)pbScratch + 1 : (const RTNTOBJDIRINFO *)(pbScratch + kScratchSize);
            for (const RTNTOBJDIRINFO *pEntry = (const RTNTOBJDIRINFO *)pbScratch;
                 pEntry < pEnd && pEntry->Name.Length != 0; pEntry++) {
                if (!rtPathNtEqual(&pEntry->Name, &final))
                    continue;
                if (rtPathNtEqual(&pEntry->TypeName, L"Directory"))
                    fMode = RTFS_TYPE_DIRECTORY | RTFS_UNIX_ALL_ACCESS_PERMS | RTFS_DOS_DIRECTORY;
                else if (rtPathNtEqual(&pEntry->TypeName, L"SymbolicLink"))
                    fMode = RTFS_TYPE_SYMLINK | RTFS_UNIX_ALL_ACCESS_PERMS | RTFS_DOS_NT_REPARSE_POINT;
                else if (rtPathNtEqual(&pEntry->TypeName, L"Device"))
                    fMode = RTFS_TYPE_DEV_CHAR | 0666 | RTFS_DOS_NT_DEVICE;
                else
                    fMode = RTFS_TYPE_FILE | 0666 | RTFS_DOS_NT_NORMAL;
                fFound = true;
                break;
            }
            if (fFound)
                break;
        }
        NtClose(hDir);
        if (!fFound) {
            if (rcNt == kNtStatusNoMoreEntries || rcNt == kNtStatusNoMoreFiles || rcNt == kNtStatusNoSuchFile)
                return ERR_FILE_NOT_FOUND;
            return RTErrConvertFromNtStatus(rcNt);
        }
    }
    __builtin_memset(pObjInfo, 0, sizeof(*pObjInfo));
    pObjInfo->mode = fMode;
    return rtFsNtFillZeroedAdditional(pObjInfo, enmAdditionalKind);
}

/** Objects that cannot be opened (locked, say) are still listed by their directory. */
int rtPathNtQueryParentListing(HANDLE hRootDir, const UNICODE_STRING *pName, FsObjInfo *pObjInfo,
                               uint32_t enmAdditionalKind, const char *pszPath, uint8_t *pbScratch, Next *pNext) {
    *pNext = Next::Done;
    UNICODE_STRING parent, final;
    if (!rtPathNtSplit(pName, &parent, &final))
        return ERR_FILE_NOT_FOUND;

    OBJECT_ATTRIBUTES objAttrs;
    InitializeObjectAttributes(&objAttrs, &parent, OBJ_CASE_INSENSITIVE, hRootDir, nullptr);
    IO_STATUS_BLOCK ios;
    rtNtIosPreset(&ios);
    HANDLE hDir = nullptr;
    NTSTATUS rcNt = NtCreateFile(
        &hDir, FILE_LIST_DIRECTORY | SYNCHRONIZE, &objAttrs, &ios, nullptr, FILE_ATTRIBUTE_NORMAL, kShareAll, FILE_OPEN,
        FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
    if (!NT_SUCCESS(rcNt)) {
        if (rcNt == kNtStatusObjectTypeMismatch || rcNt == kNtStatusObjectNameInvalid) {
            *pNext = Next::ObjectManager;
            return 0;
        }
        return RTErrConvertFromNtStatus(rcNt);
    }

    // The entry with the file id exists from 5.1 on.
    DWORD dwVersion = GetVersion();
    const bool fWithId =
        LOBYTE(LOWORD(dwVersion)) > 5 || (LOBYTE(LOWORD(dwVersion)) == 5 && HIBYTE(LOWORD(dwVersion)) >= 1);
    rtNtIosPreset(&ios);
    rcNt = NtQueryDirectoryFile(
        hDir, nullptr, nullptr, nullptr, &ios, pbScratch, kScratchSize,
        (FILE_INFORMATION_CLASS)(fWithId ? kNtFileIdBothDirectoryInformation : kNtFileBothDirectoryInformation), TRUE,
        &final, FALSE);
    if (!NT_SUCCESS(rcNt)) {
        NtClose(hDir);
        return RTErrConvertFromNtStatus(rcNt);
    }

    // Both entry layouts agree up to the short name; only the id-both one has the id.
    const FILE_ID_BOTH_DIR_INFORMATION *pEntry = (const FILE_ID_BOTH_DIR_INFORMATION *)pbScratch;
    __builtin_memset(pObjInfo, 0, sizeof(*pObjInfo));
    pObjInfo->size = pEntry->EndOfFile.QuadPart;
    pObjInfo->allocatedSize = pEntry->AllocationSize.QuadPart;
    pObjInfo->accessTime = rtFsTimeFromNtTicks(pEntry->LastAccessTime.QuadPart);
    pObjInfo->modificationTime = rtFsTimeFromNtTicks(pEntry->LastWriteTime.QuadPart);
    pObjInfo->changeTime = rtFsTimeFromNtTicks(pEntry->ChangeTime.QuadPart);
    pObjInfo->birthTime = rtFsTimeFromNtTicks(pEntry->CreationTime.QuadPart);
    // For reparse points the directory entry carries the tag where the EA size would be.
    pObjInfo->mode = RTFsModeFromAttributes(pEntry->FileAttributes << RTFS_DOS_SHIFT, pszPath, 0, pEntry->EaSize, 0);
    rtPathNtFillAdditional(pObjInfo, enmAdditionalKind, fWithId ? (uint64_t)pEntry->FileId.QuadPart : 0,
                           enmAdditionalKind == FSOBJ_ADD_UNIX ? rtFsNtVolumeSerial(hDir) : 0);
    NtClose(hDir);
    return 0;
}

/** Opens the object for attributes and asks the handle. */
int rtPathNtQueryByOpen(HANDLE hRootDir, UNICODE_STRING *pName, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind,
                        uint32_t fFlags, const char *pszPath, Next *pNext) {
    *pNext = Next::Done;
    OBJECT_ATTRIBUTES objAttrs;
    InitializeObjectAttributes(&objAttrs, pName, OBJ_CASE_INSENSITIVE, hRootDir, nullptr);
    const bool fFollow = (fFlags & RTPATH_F_FOLLOW_LINK) != 0;
    constexpr ULONG fOptions = FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
    auto fnOpen = [&](HANDLE *phFile, bool fReparse) {
        IO_STATUS_BLOCK ios;
        rtNtIosPreset(&ios);
        return NtCreateFile(phFile, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &objAttrs, &ios, nullptr, FILE_ATTRIBUTE_NORMAL,
                            kShareAll, FILE_OPEN, fOptions | (fReparse ? FILE_OPEN_REPARSE_POINT : 0), nullptr, 0);
    };

    HANDLE hFile = nullptr;
    bool fReparse = g_iOpenReparsePointOk != 0 && !fFollow;
    NTSTATUS rcNt = fnOpen(&hFile, fReparse);
    if ((rcNt == kNtStatusInvalidParameter || rcNt == kNtStatusInvalidParameterMix) && g_iOpenReparsePointOk < 0 &&
        fReparse) {
        rcNt = fnOpen(&hFile, false);
        if (rcNt != kNtStatusInvalidParameter)
            g_iOpenReparsePointOk = 0;
    }
    if (!NT_SUCCESS(rcNt)) {
        if (rcNt == kNtStatusObjectTypeMismatch || rcNt == kNtStatusObjectNameInvalid)
            *pNext = Next::ObjectManager;
        else if (rcNt == kNtStatusAccessDenied || rcNt == kNtStatusSharingViolation)
            *pNext = Next::ParentListing;
        else
            return RTErrConvertFromNtStatus(rcNt);
        return 0;
    }

    IO_STATUS_BLOCK ios;
    FILE_ATTRIBUTE_TAG_INFORMATION tagInfo = {};
    rtNtIosPreset(&ios);
    if (!NT_SUCCESS(NtQueryInformationFile(hFile, &ios, &tagInfo, sizeof(tagInfo),
                                           (FILE_INFORMATION_CLASS)kNtFileAttributeTagInformation)))
        tagInfo.FileAttributes = tagInfo.ReparseTag = 0;
    uint32_t uReparseTag = tagInfo.ReparseTag;
    if ((tagInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && uReparseTag != RTFS_REPARSE_TAG_SYMLINK &&
        !fFollow) {
        // Junctions and other reparse points are described by what they lead to.
        HANDLE hTarget = nullptr;
        if (NT_SUCCESS(fnOpen(&hTarget, false))) {
            NtClose(hFile);
            hFile = hTarget;
            uReparseTag = 0;
        }
    }

    union {
        FILE_ALL_INFORMATION all;
        uint8_t ab[168];
    } u;
    __builtin_memset(&u, 0, sizeof(u));
    rtNtIosPreset(&ios);
    rcNt = NtQueryInformationFile(hFile, &ios, &u, kNtAllInfoQuerySize, (FILE_INFORMATION_CLASS)kNtFileAllInformation);
    if (NT_SUCCESS(rcNt) || rcNt == kNtStatusBufferOverflow) {
        rtFsNtObjInfoFromAll(pObjInfo, &u.all, pszPath, uReparseTag, enmAdditionalKind, hFile);
        NtClose(hFile);
        return 0;
    }
    NtClose(hFile);
    *pNext = Next::ParentListing;
    return 0;
}

int rtPathNtQueryInfoWorker(HANDLE hRootDir, UNICODE_STRING *pName, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind,
                            uint32_t fFlags, const char *pszPath) {
    alignas(8) uint8_t abScratch[kScratchSize];

    // The quick call knows neither link counts nor file ids, so the Unix block skips it.
    PFNNTQUERYFULLATTRIBUTESFILE pfnQuick = rtPathNtQuickAttributesFn();
    if (enmAdditionalKind != FSOBJ_ADD_UNIX && pfnQuick) {
        OBJECT_ATTRIBUTES objAttrs;
        InitializeObjectAttributes(&objAttrs, pName, OBJ_CASE_INSENSITIVE, hRootDir, nullptr);
        FILE_NETWORK_OPEN_INFORMATION netInfo = {};
        NTSTATUS rcNt = pfnQuick(&objAttrs, &netInfo);
        if (NT_SUCCESS(rcNt)) {
            if (!(netInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                __builtin_memset(pObjInfo, 0, sizeof(*pObjInfo));
                pObjInfo->size = netInfo.EndOfFile.QuadPart;
                pObjInfo->allocatedSize = netInfo.AllocationSize.QuadPart;
                pObjInfo->accessTime = rtFsTimeFromNtTicks(netInfo.LastAccessTime.QuadPart);
                pObjInfo->modificationTime = rtFsTimeFromNtTicks(netInfo.LastWriteTime.QuadPart);
                pObjInfo->changeTime = rtFsTimeFromNtTicks(netInfo.ChangeTime.QuadPart);
                pObjInfo->birthTime = rtFsTimeFromNtTicks(netInfo.CreationTime.QuadPart);
                pObjInfo->mode = RTFsModeFromAttributes(netInfo.FileAttributes << RTFS_DOS_SHIFT, pszPath, 0, 0, 0);
                rtPathNtFillAdditional(pObjInfo, enmAdditionalKind, 0, 0);
                return 0;
            }
        } else if (rcNt == kNtStatusObjectTypeMismatch || rcNt == kNtStatusObjectNameInvalid ||
                   rcNt == kNtStatusInvalidParameter)
            return rtPathNtQueryObjectManager(hRootDir, pName, pObjInfo, enmAdditionalKind, abScratch);
        // Some implementations refuse names outside the DOS device namespace with a bad
        // device type; opening the object can still describe them.
        else if (rcNt != kNtStatusAccessDenied && rcNt != kNtStatusSharingViolation && rcNt != kNtStatusBadDeviceType)
            return RTErrConvertFromNtStatus(rcNt);
    }

    Next enmNext;
    int rc = rtPathNtQueryByOpen(hRootDir, pName, pObjInfo, enmAdditionalKind, fFlags, pszPath, &enmNext);
    if (RT_FAILURE(rc) || enmNext == Next::Done)
        return rc;
    if (enmNext == Next::ParentListing) {
        rc = rtPathNtQueryParentListing(hRootDir, pName, pObjInfo, enmAdditionalKind, pszPath, abScratch, &enmNext);
        if (RT_FAILURE(rc) || enmNext == Next::Done)
            return rc;
    }
    return rtPathNtQueryObjectManager(hRootDir, pName, pObjInfo, enmAdditionalKind, abScratch);
}

} // namespace

int rtPathNtQueryByParentListing(const char *pszPath, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind) {
    UNICODE_STRING ntName;
    HANDLE hRootDir;
    int rc = RTNtPathFromUtf8(&ntName, &hRootDir, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    alignas(8) uint8_t abScratch[kScratchSize];
    Next enmNext;
    rc = rtPathNtQueryParentListing(hRootDir, &ntName, pObjInfo, enmAdditionalKind, pszPath, abScratch, &enmNext);
    if (RT_SUCCESS(rc) && enmNext != Next::Done)
        rc = ERR_OBJECT_TYPE_MISMATCH;
    RTNtPathFree(&ntName, &hRootDir);
    return rc;
}

int RTPathQueryInfoEx(const char *pszPath, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind, uint32_t fFlags) {
    if (!RT_VALID_PTR(pszPath) || !RT_VALID_PTR(pObjInfo))
        return ERR_INVALID_POINTER;
    if (!*pszPath || enmAdditionalKind < FSOBJ_ADD_FIRST || enmAdditionalKind > FSOBJ_ADD_LAST)
        return ERR_INVALID_PARAMETER;
    if (fFlags != 1 && fFlags != 2 && fFlags != 5 && fFlags != 6)
        return ERR_INVALID_PARAMETER;

    UNICODE_STRING ntName;
    HANDLE hRootDir;
    int rc = RTNtPathFromUtf8(&ntName, &hRootDir, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    rc = rtPathNtQueryInfoWorker(hRootDir, &ntName, pObjInfo, enmAdditionalKind, fFlags, pszPath);
    RTNtPathFree(&ntName, &hRootDir);
    return rc;
}

int RTFsQueryType(intptr_t hFile, RTFSTYPE *penmType) {
    if (!RT_VALID_PTR(penmType))
        return ERR_INVALID_POINTER;
    *penmType = FSTYPE_UNKNOWN;
    // The nil handle doubles as the current-process pseudo handle; it is no file.
    if (hFile == NIL_RTFILE)
        return ERR_INVALID_HANDLE;

    union {
        FILE_FS_ATTRIBUTE_INFORMATION info;
        uint8_t ab[4112];
    } u;
    IO_STATUS_BLOCK ios;
    rtNtIosPreset(&ios);
    NTSTATUS rcNt = NtQueryVolumeInformationFile((HANDLE)hFile, &ios, &u, sizeof(u),
                                                 (FS_INFORMATION_CLASS)kNtFileFsAttributeInformation);
    if (!NT_SUCCESS(rcNt))
        return RTErrConvertFromNtStatus(rcNt);

    static const struct {
        const WCHAR *pwszName;
        RTFSTYPE enmType;
    } s_aNames[] = {
        {L"NTFS", FSTYPE_NTFS},   {L"FAT", FSTYPE_FAT},   {L"FAT32", FSTYPE_FAT},
        {L"exFAT", FSTYPE_EXFAT}, {L"ReFS", FSTYPE_REFS}, {L"UDF", FSTYPE_UDF},
        {L"CDFS", FSTYPE_CDFS},   {L"HPFS", FSTYPE_HPFS}, {L"TeskSharedFolderFS", FSTYPE_SHARED_FOLDER},
    };
    UNICODE_STRING name;
    name.Buffer = u.info.FileSystemName;
    ULONG cbMax = (ULONG)(sizeof(u) - __builtin_offsetof(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName));
    name.Length = (USHORT)(u.info.FileSystemNameLength < cbMax ? u.info.FileSystemNameLength : cbMax);
    name.MaximumLength = name.Length;
    for (const auto &entry : s_aNames)
        if (rtPathNtEqual(&name, entry.pwszName)) {
            *penmType = entry.enmType;
            break;
        }
    return 0;
}
