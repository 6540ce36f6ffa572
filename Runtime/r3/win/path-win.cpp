// Windows backend: Win32 path form, current directories and renaming.
#include "r3/nt/internal-r3-nt.h"
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/path/internal-path.h"

namespace {

/** Size of the UTF-16 buffers for current directories, in units. */
constexpr DWORD RTPATH_CWD_UNITS = 4100;
/** File-mode type bits: directory. */
constexpr uint32_t RTPATH_MODE_TYPE_MASK = 0xF000;
constexpr uint32_t RTPATH_MODE_TYPE_DIRECTORY = 0x4000;

inline bool rtPathWinIsSep(RTUTF16 wc) {
    return wc == '\\' || wc == '/';
}
inline bool rtPathWinIsLetter(RTUTF16 wc) {
    return (wc >= 'A' && wc <= 'Z') || (wc >= 'a' && wc <= 'z');
}

int rtPathWinLastError() {
    return RTErrConvertFromWinError(GetLastError());
}

/** UTF-8 to UTF-16 in memory that RTPathNativeFree releases. */
int rtPathWinToUtf16(const char *pszPath, RTUTF16 **ppwsz, size_t *pcwc) {
    size_t cwc;
    int rc = RTStrCalcUtf16LenEx(pszPath, RTSTR_MAX, &cwc);
    if (RT_FAILURE(rc))
        return rc;
    RTUTF16 *pwsz = (RTUTF16 *)RTMemTmpAlloc((cwc + 1) * sizeof(RTUTF16));
    if (!pwsz)
        return ERR_NO_UTF16_MEMORY;
    RTUTF16 *pwszDst = pwsz;
    rc = RTStrToUtf16Ex(pszPath, RTSTR_MAX, &pwszDst, cwc + 1, nullptr, RTSTR_TAG);
    if (RT_FAILURE(rc)) {
        RTMemFree(pwsz);
        return rc;
    }
    *ppwsz = pwsz;
    *pcwc = cwc;
    return 0;
}

/** Whether the classic Win32 form will do; may replace a drive-relative path by its expansion. */
bool rtPathWinKeepShort(RTUTF16 **ppwsz, size_t cwc) {
    const RTUTF16 *pwsz = *ppwsz;
    if (cwc > 243)
        return false;
    if (rtPathWinIsLetter(pwsz[0]) && pwsz[1] == ':') {
        if (rtPathWinIsSep(pwsz[2]))
            return true;
        WCHAR wszFull[261];
        const DWORD cwcFull = GetFullPathNameW((LPCWSTR)pwsz, RT_ELEMENTS(wszFull), wszFull, nullptr);
        if (cwcFull == 0 || cwcFull >= 244)
            return false;
        RTUTF16 *pwszFull = (RTUTF16 *)RTMemTmpAlloc((cwcFull + 1) * sizeof(RTUTF16));
        if (!pwszFull)
            return false;
        __builtin_memcpy(pwszFull, wszFull, (cwcFull + 1) * sizeof(RTUTF16));
        RTMemFree(*ppwsz);
        *ppwsz = pwszFull;
        return true;
    }
    if (rtPathWinIsSep(pwsz[0]) && rtPathWinIsSep(pwsz[1]) && pwsz[2] != 0 && !rtPathWinIsSep(pwsz[2])) {
        if (pwsz[2] == '?' && !rtPathWinIsSep(pwsz[3]))
            return true;
        return cwc <= 240;
    }
    if (rtPathWinIsSep(pwsz[0]))
        return cwc <= 241;
    // GetCurrentDirectoryW with no buffer counts the terminator.
    return GetCurrentDirectoryW(0, nullptr) + cwc <= 242;
}

} // namespace

int RTPathToNative(RTPATHNATIVECHAR **ppwszNative, const char *pszPath) {
    if (!rtPathValidPtr(ppwszNative))
        return ERR_INVALID_POINTER;
    *ppwszNative = nullptr;
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    RTUTF16 *pwsz;
    size_t cwc;
    int rc = rtPathWinToUtf16(pszPath, &pwsz, &cwc);
    if (RT_FAILURE(rc))
        return rc;
    if (rtPathWinKeepShort(&pwsz, cwc)) {
        *ppwszNative = pwsz;
        return 0;
    }
    RTMemFree(pwsz);

    // Too long for the classic form: the native path, written in the \\?\ form.
    UNICODE_STRING NtName;
    HANDLE hRootDir;
    rc = RTNtPathFromUtf8(&NtName, &hRootDir, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    const RTUTF16 *pwszNt = (const RTUTF16 *)NtName.Buffer;
    if (hRootDir != nullptr || NtName.Length < 4 * sizeof(RTUTF16) || pwszNt[0] != '\\' || pwszNt[1] != '?' ||
        pwszNt[2] != '?' || pwszNt[3] != '\\') {
        // A pass-through name (or an old-style prefix) has no Win32 spelling.
        RTNtPathFree(&NtName, &hRootDir);
        return ERR_INVALID_NAME;
    }
    NtName.Buffer[1] = L'\\';
    NtName.Buffer[NtName.Length / sizeof(WCHAR)] = 0;
    *ppwszNative = (RTUTF16 *)NtName.Buffer;
    return 0;
}

void RTPathNativeFree(RTPATHNATIVECHAR *pwszNative) {
    RTMemFree(pwszNative);
}

int RTPathGetCurrent(char *pszPath, size_t cbPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (cbPath == 0)
        return ERR_BUFFER_OVERFLOW;
    WCHAR wszCwd[RTPATH_CWD_UNITS];
    DWORD cwc = GetCurrentDirectoryW(RTPATH_CWD_UNITS, wszCwd);
    if (cwc == 0)
        return rtPathWinLastError();
    // A directory this deep cannot be handed on whole.
    if (cwc >= RTPATH_CWD_UNITS)
        return ERR_FILENAME_TOO_LONG;
    WCHAR wszFull[RTPATH_CWD_UNITS];
    cwc = GetFullPathNameW(wszCwd, RTPATH_CWD_UNITS, wszFull, nullptr);
    if (cwc == 0)
        return rtPathWinLastError();
    if (cwc >= RTPATH_CWD_UNITS)
        return ERR_FILENAME_TOO_LONG;
    if (wszFull[1] == ':' && wszFull[0] >= 'a' && wszFull[0] <= 'z')
        wszFull[0] = (WCHAR)(wszFull[0] - 'a' + 'A');
    return RTUtf16ToUtf8Ex((const RTUTF16 *)wszFull, RTSTR_MAX, &pszPath, cbPath, nullptr, RTSTR_TAG);
}

int RTPathGetCurrentOnDrive(char chDrive, char *pszPath, size_t cbPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (cbPath == 0)
        return ERR_BUFFER_OVERFLOW;
    const WCHAR wszDrive[3] = {(WCHAR)(unsigned char)chDrive, L':', 0};
    WCHAR wszFull[RTPATH_CWD_UNITS];
    const DWORD cwc = GetFullPathNameW(wszDrive, RTPATH_CWD_UNITS, wszFull, nullptr);
    if (cwc == 0)
        return rtPathWinLastError();
    if (cwc >= RTPATH_CWD_UNITS)
        return ERR_FILENAME_TOO_LONG;
    return RTUtf16ToUtf8Ex((const RTUTF16 *)wszFull, RTSTR_MAX, &pszPath, cbPath, nullptr, RTSTR_TAG);
}

int RTPathSetCurrent(const char *pszPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (*pszPath == '\0')
        return ERR_INVALID_PARAMETER;
    RTUTF16 *pwsz;
    int rc = RTPathToNative(&pwsz, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    size_t cwc = RTUtf16Len(pwsz);
    if (cwc > 1 && rtPathWinIsSep(pwsz[cwc - 1]) && pwsz[cwc - 2] != ':')
        pwsz[cwc - 1] = 0;
    rc = SetCurrentDirectoryW((LPCWSTR)pwsz) ? 0 : rtPathWinLastError();
    RTPathNativeFree(pwsz);
    return rc;
}

int RTPathRename(const char *pszSrc, const char *pszDst, unsigned fMoveFlags, uint32_t fExpectedType) {
    if (!rtPathValidPtr(pszSrc) || !rtPathValidPtr(pszDst))
        return ERR_INVALID_POINTER;
    RTUTF16 *pwszSrc;
    int rc = RTPathToNative(&pwszSrc, pszSrc);
    if (RT_FAILURE(rc))
        return rc;
    RTUTF16 *pwszDst;
    rc = RTPathToNative(&pwszDst, pszDst);
    if (RT_FAILURE(rc)) {
        RTPathNativeFree(pwszSrc);
        return rc;
    }
    if (fExpectedType) {
        const DWORD fAttr = GetFileAttributesW((LPCWSTR)pwszSrc);
        const bool fWantDir = (fExpectedType & RTPATH_MODE_TYPE_MASK) == RTPATH_MODE_TYPE_DIRECTORY;
        if (fAttr == INVALID_FILE_ATTRIBUTES)
            rc = rtPathWinLastError();
        else if (fWantDir && !(fAttr & FILE_ATTRIBUTE_DIRECTORY))
            rc = ERR_NOT_A_DIRECTORY;
        else if (!fWantDir && (fAttr & FILE_ATTRIBUTE_DIRECTORY))
            rc = ERR_IS_A_DIRECTORY;
    }
    if (RT_SUCCESS(rc) && !MoveFileExW((LPCWSTR)pwszSrc, (LPCWSTR)pwszDst, fMoveFlags))
        rc = rtPathWinLastError();
    RTPathNativeFree(pwszDst);
    RTPathNativeFree(pwszSrc);
    return rc;
}
