// Windows backend: creating, removing and opening directories (Win32 calls for
// creation and removal, native opens for handles).
#include "r3/nt/internal-r3-nt.h"

#include "r3/internal-dir.h"

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
