// Windows backend: creating, removing and opening directories (Win32 calls for
// creation and removal, native opens for handles), reading their listings, and the
// handle-relative steps of removing a tree.
#include "r3/nt/internal-fs-nt.h"
#include "r3/nt/internal-r3-nt.h"

#include "r3/internal-dir.h"
#include "r3/internal-file.h"

#include <olma/mem.h>
#include <olma/path.h>
#include <olma/string.h>
#include <olma/utf16.h>

namespace {

/** Whether the file system takes open-reparse-point for directories: -1 not known
 *  yet, 1 yes, 0 no. Unlocked; concurrent opens at worst repeat the probe. */
constinit int volatile g_iDirOpenReparseSupported = -1;

/** FileAttributeTagInformation. */
constexpr FILE_INFORMATION_CLASS kFileAttributeTagInformation = (FILE_INFORMATION_CLASS)35;
struct RTDIRATTRTAGINFO {
    ULONG FileAttributes;
    ULONG ReparseTag;
};
constexpr ULONG kReparseTagSymlink = 0xA000000C;

} // namespace

int rtDirNativeCreate(const char *pszPath, uint32_t fMode, uint32_t fCreate) {
    // The permission bits of the mode mean nothing to this platform.
    (void)fMode;
    RTPATHNATIVECHAR *pwszPath = nullptr;
    int rc = RTPathToNative(&pwszPath, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    if (!CreateDirectoryW((LPCWSTR)pwszPath, nullptr))
        rc = RTErrConvertFromWinError(GetLastError());
    else if (!(fCreate & RTDIRCREATE_FLAGS_NOT_CONTENT_INDEXED_DONT_SET) &&
             !SetFileAttributesW((LPCWSTR)pwszPath, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED) &&
             !(fCreate & RTDIRCREATE_FLAGS_NOT_CONTENT_INDEXED_NOT_CRITICAL))
        rc = RTErrConvertFromWinError(GetLastError());
    RTPathNativeFree(pwszPath);
    return rc;
}

int RTDirRemove(const char *pszPath) {
    if (!RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    RTPATHNATIVECHAR *pwszPath = nullptr;
    int rc = RTPathToNative(&pwszPath, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    if (!RemoveDirectoryW((LPCWSTR)pwszPath))
        rc = RTErrConvertFromWinError(GetLastError());
    RTPathNativeFree(pwszPath);
    return rc;
}

int rtDirNativeOpen(DirHandle *pDir) {
    // The filter also goes along in the platform's form, for the platform's own matching.
    if (pDir->filterKind == RTDIRFILTER_WINNT && pDir->filterText) {
        RTUTF16 *pwszFilter = nullptr;
        size_t cwcFilter = 0;
        int rc = RTStrToUtf16Ex(pDir->filterText, RTSTR_MAX, &pwszFilter, 0, &cwcFilter, RTSTR_TAG);
        if (RT_FAILURE(rc))
            return rc;
        if (cwcFilter >= 0x7FFF) {
            RTUtf16Free(pwszFilter);
            return ERR_FILENAME_TOO_LONG;
        }
        pDir->nativeFilter.Buffer = pwszFilter;
        pDir->nativeFilter.Length = (uint16_t)(cwcFilter * sizeof(RTUTF16));
        pDir->nativeFilter.MaximumLength = (uint16_t)(pDir->nativeFilter.Length + sizeof(RTUTF16));
    }

    ACCESS_MASK fAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    ULONG const fShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    ULONG fOptions = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    // A final link is only looked at, rather than followed, when the caller wants
    // links refused and did not ask for the directory behind it with a separator.
    bool fReparse = g_iDirOpenReparseSupported != 0 && (pDir->openFlags & RTDIR_F_NO_SYMLINKS) && !pDir->endsWithSlash;
    if (fReparse)
        fOptions |= FILE_OPEN_REPARSE_POINT;

    HANDLE hDir = INVALID_HANDLE_VALUE;
    bool fObjDir = false;
    for (;;) {
        int rc = RTNtPathOpen(pDir->path, fAccess, fShare, fOptions, OBJ_CASE_INSENSITIVE, &hDir, &fObjDir);
        if (RT_SUCCESS(rc)) {
            if (fReparse) {
                if (g_iDirOpenReparseSupported == -1)
                    g_iDirOpenReparseSupported = 1;
                RTDIRATTRTAGINFO TagInfo = {0, 0};
                IO_STATUS_BLOCK Ios;
                NTSTATUS rcNt =
                    NtQueryInformationFile(hDir, &Ios, &TagInfo, sizeof(TagInfo), kFileAttributeTagInformation);
                if (NT_SUCCESS(rcNt) && (TagInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    RTNtPathClose(hDir);
                    hDir = INVALID_HANDLE_VALUE;
                    if (TagInfo.ReparseTag == kReparseTagSymlink)
                        return ERR_IS_A_SYMLINK;
                    // A junction or another kind of reparse point: follow it.
                    fReparse = false;
                    fOptions &= ~FILE_OPEN_REPARSE_POINT;
                    continue;
                }
            }
            break;
        }
        if (rc == ERR_ACCESS_DENIED && (fAccess & FILE_TRAVERSE)) {
            fAccess &= ~FILE_TRAVERSE;
            fReparse = false;
            fOptions &= ~FILE_OPEN_REPARSE_POINT;
            continue;
        }
        if (fReparse && rc == ERR_INVALID_PARAMETER) {
            if (g_iDirOpenReparseSupported == -1)
                g_iDirOpenReparseSupported = 0;
            fReparse = false;
            fOptions &= ~FILE_OPEN_REPARSE_POINT;
            continue;
        }
        return rc;
    }

    pDir->hNative = (uintptr_t)hDir;
    pDir->objectDirectory = fObjDir;
    return 0;
}

void rtDirNativeClose(DirHandle *pDir) {
    (void)RTNtPathClose((HANDLE)pDir->hNative);
    pDir->hNative = RTDIR_NATIVE_INVALID;
}

namespace {

/** Size of the batch of entries one listing call fills. */
constexpr ULONG kDirEnumBufferSize = 16384;
constexpr NTSTATUS kNtStatusCannotDelete = (NTSTATUS)0xc0000121;

} // namespace

int rtDirNativeReadOne(DirHandle *pDir, uint32_t *pfMode) {
    if (!pDir->enumBuffer) {
        pDir->enumBuffer = RTMemTmpAlloc(kDirEnumBufferSize);
        if (!pDir->enumBuffer)
            return ERR_NO_TMP_MEMORY;
        pDir->dataUnread = false;
    }
    if (!pDir->dataUnread) {
        // The platform applies the filter too (it only looks at it on the first call);
        // the handle's own matcher still decides.
        UNICODE_STRING Filter;
        Filter.Length = pDir->nativeFilter.Length;
        Filter.MaximumLength = pDir->nativeFilter.MaximumLength;
        Filter.Buffer = (PWSTR)pDir->nativeFilter.Buffer;
        IO_STATUS_BLOCK Ios;
        rtNtIosPreset(&Ios);
        NTSTATUS rcNt = NtQueryDirectoryFile(
            (HANDLE)pDir->hNative, nullptr, nullptr, nullptr, &Ios, pDir->enumBuffer, kDirEnumBufferSize,
            (FILE_INFORMATION_CLASS)kNtFileBothDirectoryInformation, FALSE, Filter.Buffer ? &Filter : nullptr, FALSE);
        if (rcNt == kNtStatusNoMoreFiles || rcNt == kNtStatusNoSuchFile)
            return ERR_NO_MORE_FILES;
        if (!NT_SUCCESS(rcNt))
            return RTErrConvertFromNtStatus(rcNt);
        pDir->enumOffset = 0;
        pDir->dataUnread = true;
    }

    const FILE_BOTH_DIR_INFORMATION *pInfo =
        (const FILE_BOTH_DIR_INFORMATION *)((const uint8_t *)pDir->enumBuffer + pDir->enumOffset);
    if (pInfo->NextEntryOffset)
        pDir->enumOffset += pInfo->NextEntryOffset;
    else
        pDir->dataUnread = false;

    char *pszName = pDir->entryName;
    size_t cchName = 0;
    int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)pInfo->FileName, pInfo->FileNameLength / sizeof(RTUTF16), &pszName,
                             RTDIR_ENTRY_NAME_MAX, &cchName, RTSTR_TAG);
    if (RT_FAILURE(rc)) {
        pDir->entryName[0] = '\0';
        pDir->entryNameLength = 0;
        return rc;
    }
    pDir->entryNameLength = cchName;
    // For reparse points the listing carries the tag where the EA size would be.
    uint32_t const uReparseTag = (pInfo->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? pInfo->EaSize : 0;
    *pfMode = RTFsModeFromAttributes(pInfo->FileAttributes << RTFS_DOS_SHIFT, pszName, cchName, uReparseTag, 0);
    return 0;
}

namespace {

/** The native name of pszName: relative to pParent's handle, or the path converted. */
struct RTDIRNTNAME {
    UNICODE_STRING Name;
    HANDLE hRoot;
    RTUTF16 *pwszRelative;
};

int rtDirNtNameInit(RTDIRNTNAME *pName, DirHandle *pParent, const char *pszName) {
    pName->pwszRelative = nullptr;
    pName->hRoot = nullptr;
    if (!pParent)
        return RTNtPathFromUtf8(&pName->Name, &pName->hRoot, pszName);
    size_t cwc = 0;
    int rc = RTStrToUtf16Ex(pszName, RTSTR_MAX, &pName->pwszRelative, 0, &cwc, RTSTR_TAG);
    if (RT_FAILURE(rc))
        return rc;
    if (cwc >= 0x7fff) {
        RTUtf16Free(pName->pwszRelative);
        return ERR_FILENAME_TOO_LONG;
    }
    pName->Name.Buffer = (PWSTR)pName->pwszRelative;
    pName->Name.Length = (USHORT)(cwc * sizeof(RTUTF16));
    pName->Name.MaximumLength = (USHORT)(pName->Name.Length + sizeof(RTUTF16));
    pName->hRoot = (HANDLE)pParent->hNative;
    return 0;
}

void rtDirNtNameDelete(RTDIRNTNAME *pName) {
    if (pName->pwszRelative)
        RTUtf16Free(pName->pwszRelative);
    else
        RTNtPathFree(&pName->Name, &pName->hRoot);
}

/** Opens the object pszName names (relative to pParent's handle, or a path when
 *  pParent is null) itself, never what a reparse point leads to. A file system that
 *  does not take the option has no reparse points to follow. */
int rtDirNtOpenNoFollow(DirHandle *pParent, const char *pszName, ACCESS_MASK fAccess, HANDLE *phHandle) {
    RTDIRNTNAME Name;
    int rc = rtDirNtNameInit(&Name, pParent, pszName);
    if (RT_FAILURE(rc))
        return rc;
    ULONG const fShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ULONG const fOptions = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    rc = RTNtPathOpenRelative(Name.hRoot, &Name.Name, fAccess, fShare, fOptions | FILE_OPEN_REPARSE_POINT,
                              OBJ_CASE_INSENSITIVE, phHandle, nullptr);
    if (rc == ERR_INVALID_PARAMETER)
        rc = RTNtPathOpenRelative(Name.hRoot, &Name.Name, fAccess, fShare, fOptions, OBJ_CASE_INSENSITIVE, phHandle,
                                  nullptr);
    rtDirNtNameDelete(&Name);
    return rc;
}

} // namespace

int rtDirNativeOpenNoFollow(DirHandle *pDir, DirHandle *pParent, const char *pszName) {
    HANDLE hDir = INVALID_HANDLE_VALUE;
    int rc = rtDirNtOpenNoFollow(pParent, pszName,
                                 FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &hDir);
    if (RT_FAILURE(rc))
        return rc;

    // Opened as itself, a reparse point shows as one; a file system without the tag
    // query still reports the attribute.
    FILE_BASIC_INFORMATION BasicInfo = {};
    IO_STATUS_BLOCK Ios;
    rtNtIosPreset(&Ios);
    NTSTATUS rcNt = NtQueryInformationFile(hDir, &Ios, &BasicInfo, sizeof(BasicInfo),
                                           (FILE_INFORMATION_CLASS)kNtFileBasicInformation);
    if (!NT_SUCCESS(rcNt))
        rc = RTErrConvertFromNtStatus(rcNt);
    else if (BasicInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        rc = ERR_IS_A_SYMLINK;
    else if (!(BasicInfo.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        rc = ERR_NOT_A_DIRECTORY;
    if (RT_FAILURE(rc)) {
        NtClose(hDir);
        return rc;
    }
    pDir->hNative = (uintptr_t)hDir;
    pDir->objectDirectory = false;
    return 0;
}

int rtDirNativeUnlink(DirHandle *pParent, const char *pszName) {
    HANDLE hObj = INVALID_HANDLE_VALUE;
    int rc = rtDirNtOpenNoFollow(pParent, pszName, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                 &hObj);
    if (RT_FAILURE(rc))
        return rc;

    FILE_DISPOSITION_INFORMATION DispInfo = {};
    DispInfo.DoDeleteFile = TRUE;
    IO_STATUS_BLOCK Ios;
    rtNtIosPreset(&Ios);
    NTSTATUS rcNt = NtSetInformationFile(hObj, &Ios, &DispInfo, sizeof(DispInfo),
                                         (FILE_INFORMATION_CLASS)kNtFileDispositionInformation);
    if (rcNt == kNtStatusCannotDelete) {
        // Read-only (copied so from its source, say): the attribute goes, then the object.
        FILE_BASIC_INFORMATION BasicInfo = {};
        rtNtIosPreset(&Ios);
        if (NT_SUCCESS(NtQueryInformationFile(hObj, &Ios, &BasicInfo, sizeof(BasicInfo),
                                              (FILE_INFORMATION_CLASS)kNtFileBasicInformation)) &&
            (BasicInfo.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
            BasicInfo.FileAttributes &= ~(ULONG)FILE_ATTRIBUTE_READONLY;
            if (!BasicInfo.FileAttributes)
                BasicInfo.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            // Zero times leave the times as they are.
            BasicInfo.CreationTime.QuadPart = BasicInfo.LastAccessTime.QuadPart = 0;
            BasicInfo.LastWriteTime.QuadPart = BasicInfo.ChangeTime.QuadPart = 0;
            rtNtIosPreset(&Ios);
            if (NT_SUCCESS(NtSetInformationFile(hObj, &Ios, &BasicInfo, sizeof(BasicInfo),
                                                (FILE_INFORMATION_CLASS)kNtFileBasicInformation))) {
                rtNtIosPreset(&Ios);
                rcNt = NtSetInformationFile(hObj, &Ios, &DispInfo, sizeof(DispInfo),
                                            (FILE_INFORMATION_CLASS)kNtFileDispositionInformation);
            }
        }
    }
    rc = NT_SUCCESS(rcNt) ? 0 : RTErrConvertFromNtStatus(rcNt);
    rcNt = NtClose(hObj);
    if (RT_SUCCESS(rc) && !NT_SUCCESS(rcNt))
        rc = RTErrConvertFromNtStatus(rcNt);
    return rc;
}
