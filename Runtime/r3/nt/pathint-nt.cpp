// Windows backend: UTF-8 paths to native object-manager paths, and opening by them.
#include "r3/nt/internal-r3-nt.h"
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/path/internal-path.h"

namespace {

/** Longest native path, in UTF-16 units, that a counted string can hold with its terminator. */
constexpr size_t RTNTPATH_MAX_UNITS = 32766;

/** Marks a UTF-8 path that names a native path directly: \\:vuvevu:\ */
constexpr char g_szPassThru[] = ":vuvevu:";
constexpr size_t g_cchPassThru = sizeof(g_szPassThru) - 1;

constexpr NTSTATUS RTNT_STATUS_INVALID_PARAMETER = (NTSTATUS)0xC000000DL;
constexpr NTSTATUS RTNT_STATUS_OBJECT_NAME_INVALID = (NTSTATUS)0xC0000033L;
constexpr NTSTATUS RTNT_STATUS_OBJECT_TYPE_MISMATCH = (NTSTATUS)0xC0000024L;
/** Preset into the I/O status block so that a call that never writes it shows. */
constexpr NTSTATUS RTNT_IOS_PRESET_STATUS = (NTSTATUS)0xC0000365L;
constexpr ULONG_PTR RTNT_IOS_PRESET_INFO = (ULONG_PTR)0xFFFFFFD5;

inline bool rtNtIsSep(char ch) {
    return ch == '\\' || ch == '/';
}

bool rtNtPathIsPassThru(const char *pszPath) {
    if (!rtNtIsSep(pszPath[0]) || !rtNtIsSep(pszPath[1]))
        return false;
    // Byte by byte, so that a shorter string stops at its terminator.
    for (size_t i = 0; i < g_cchPassThru; i++)
        if (pszPath[2 + i] != g_szPassThru[i])
            return false;
    return rtNtIsSep(pszPath[2 + g_cchPassThru]);
}

struct RTNTPREFIX {
    const char *psz;
    size_t cch;
};

/** How much of a path the native prefix replaces, and which prefix that is. */
void rtNtPathClassify(const char *psz, ULONG uMajorVersion, size_t *pcchSkip, RTNTPREFIX *pPrefix) {
    const bool fNew = uMajorVersion >= 4;
    const RTNTPREFIX Drive = fNew ? RTNTPREFIX{"\\??\\", 4} : RTNTPREFIX{"\\DosDevices\\", 12};
    const RTNTPREFIX Unc = fNew ? RTNTPREFIX{"\\??\\UNC\\", 8} : RTNTPREFIX{"\\DosDevices\\UNC\\", 16};
    *pcchSkip = 0;
    *pPrefix = Drive;
    if (rtNtIsSep(psz[0]) && rtNtIsSep(psz[1])) {
        if ((psz[2] == '.' || psz[2] == '?') && rtNtIsSep(psz[3]))
            *pcchSkip = 4;
        else if (psz[2] != '\0' && !rtNtIsSep(psz[2])) {
            *pcchSkip = 2;
            *pPrefix = Unc;
        }
    }
}

/** prefix + UTF-16 of pszRest into a new counted string. */
int rtNtPathBuild(UNICODE_STRING *pNtName, HANDLE *phRootDir, const RTNTPREFIX &Prefix, const char *pszRest) {
    size_t cwcRest;
    int rc = RTStrCalcUtf16LenEx(pszRest, RTSTR_MAX, &cwcRest);
    if (RT_FAILURE(rc))
        return rc;
    const size_t cwc = Prefix.cch + cwcRest;
    if (cwc > RTNTPATH_MAX_UNITS)
        return ERR_FILENAME_TOO_LONG;
    RTUTF16 *pwsz = (RTUTF16 *)RTMemTmpAlloc((cwc + 1) * sizeof(RTUTF16));
    if (!pwsz)
        return ERR_NO_UTF16_MEMORY;
    for (size_t i = 0; i < Prefix.cch; i++)
        pwsz[i] = (RTUTF16)Prefix.psz[i];
    RTUTF16 *pwszRest = &pwsz[Prefix.cch];
    rc = RTStrToUtf16Ex(pszRest, RTSTR_MAX, &pwszRest, cwcRest + 1, nullptr, RTSTR_TAG);
    if (RT_FAILURE(rc)) {
        RTMemFree(pwsz);
        return rc;
    }
    pwsz[cwc] = 0;
    pNtName->Buffer = (PWSTR)pwsz;
    pNtName->Length = (USHORT)(cwc * sizeof(RTUTF16));
    pNtName->MaximumLength = (USHORT)(pNtName->Length + sizeof(RTUTF16));
    *phRootDir = nullptr;
    return 0;
}

NTSTATUS rtNtPathCreateFile(PHANDLE phFile, ACCESS_MASK fAccess, POBJECT_ATTRIBUTES pObjAttr, PIO_STATUS_BLOCK pIos,
                            ULONG fShareAccess, ULONG fCreateOptions) {
    pIos->Status = RTNT_IOS_PRESET_STATUS;
    pIos->Information = RTNT_IOS_PRESET_INFO;
    if (g_pfnrtNtPathCreateFileHook)
        return g_pfnrtNtPathCreateFileHook(phFile, fAccess, pObjAttr, pIos, nullptr, FILE_ATTRIBUTE_NORMAL,
                                           fShareAccess, FILE_OPEN, fCreateOptions, nullptr, 0);
    return NtCreateFile(phFile, fAccess, pObjAttr, pIos, nullptr, FILE_ATTRIBUTE_NORMAL, fShareAccess, FILE_OPEN,
                        fCreateOptions, nullptr, 0);
}

} // namespace

constinit PFNRTNTPATHCREATEFILE g_pfnrtNtPathCreateFileHook = nullptr;

ULONG rtNtPathOsMajorVersion() {
    // The process environment block is found through the thread block, which the
    // segment register addresses; OSMajorVersion sits at a fixed offset in it.
    const uint8_t *pbPeb;
#if defined(_WIN64)
    __asm__("movq %%gs:0x60, %0" : "=r"(pbPeb));
    return *(const ULONG *)(pbPeb + 0x118);
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(pbPeb));
    return *(const ULONG *)(pbPeb + 0xa4);
#endif
}

int rtNtPathFromUtf8Ex(UNICODE_STRING *pNtName, HANDLE *phRootDir, const char *pszPath, ULONG uMajorVersion) {
    if (!rtPathValidPtr(pNtName) || !rtPathValidPtr(phRootDir) || !rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    pNtName->Buffer = nullptr;
    pNtName->Length = pNtName->MaximumLength = 0;
    *phRootDir = nullptr;

    // Native path given directly: everything from the separator after the marker.
    if (rtNtPathIsPassThru(pszPath))
        return rtNtPathBuild(pNtName, phRootDir, RTNTPREFIX{"", 0}, &pszPath[2 + g_cchPassThru]);

    // Long-path form: taken as it is, only the namespace prefix changes.
    if (rtNtIsSep(pszPath[0]) && rtNtIsSep(pszPath[1]) && pszPath[2] == '?' && rtNtIsSep(pszPath[3])) {
        if (uMajorVersion >= 4)
            return rtNtPathBuild(pNtName, phRootDir, RTNTPREFIX{"\\??\\", 4}, &pszPath[4]);
        return rtNtPathBuild(pNtName, phRootDir, RTNTPREFIX{"\\DosDevices\\", 12}, &pszPath[4]);
    }

    // Everything else is made absolute and normalised first.
    size_t cchSkip;
    RTNTPREFIX Prefix;
    rtNtPathClassify(pszPath, uMajorVersion, &cchSkip, &Prefix);
    char szAbs[4100];
    char *pszAbs = szAbs;
    char *pszHeap = nullptr;
    size_t cbAbs = sizeof(szAbs);
    size_t cb = cbAbs;
    int rc = RTPathAbsEx(nullptr, pszPath, PATH_STYLE_DOS, pszAbs, &cb);
    for (unsigned iTry = 1; rc == ERR_BUFFER_OVERFLOW && iTry <= 8; iTry++) {
        size_t cbNew = (cb - cchSkip + Prefix.cch + 95) & ~(size_t)63;
        if (cbNew < cbAbs + 256)
            cbNew = cbAbs + 256;
        if (iTry == 8 && cbNew < 131072)
            cbNew = 131072;
        RTMemFree(pszHeap);
        pszHeap = (char *)RTMemTmpAlloc(cbNew);
        if (!pszHeap)
            return ERR_NO_TMP_MEMORY;
        pszAbs = pszHeap;
        cbAbs = cb = cbNew;
        rc = RTPathAbsEx(nullptr, pszPath, PATH_STYLE_DOS, pszAbs, &cb);
    }
    if (rc == ERR_BUFFER_OVERFLOW)
        rc = ERR_FILENAME_TOO_LONG;
    if (RT_SUCCESS(rc)) {
        // Classified again on the absolute form: a relative path below a UNC current
        // directory needs the UNC prefix, not the drive one.
        rtNtPathClassify(pszAbs, uMajorVersion, &cchSkip, &Prefix);
        rc = rtNtPathBuild(pNtName, phRootDir, Prefix, &pszAbs[cchSkip]);
    }
    RTMemFree(pszHeap);
    return rc;
}

int RTNtPathFromUtf8(UNICODE_STRING *pNtName, HANDLE *phRootDir, const char *pszPath) {
    return rtNtPathFromUtf8Ex(pNtName, phRootDir, pszPath, rtNtPathOsMajorVersion());
}

void RTNtPathFree(UNICODE_STRING *pNtName, HANDLE *phRootDir) {
    (void)phRootDir;
    if (pNtName) {
        RTMemFree(pNtName->Buffer);
        pNtName->Buffer = nullptr;
        pNtName->Length = pNtName->MaximumLength = 0;
    }
}

ACCESS_MASK rtNtPathObjDirAccess(ACCESS_MASK fDesiredAccess) {
    constexpr ACCESS_MASK fAll = 0x10000000 /*GENERIC_ALL*/;
    constexpr ACCESS_MASK fStdAll = 0x1F0000;
    constexpr ACCESS_MASK fWriteish = 0x40020002; // generic write, read control, write data
    constexpr ACCESS_MASK fReadish = 0x80020001;  // generic read, read control, read data
    if ((fDesiredAccess & fAll) || (fDesiredAccess & fStdAll) == fStdAll)
        return 0xF000F; // DIRECTORY_ALL_ACCESS
    ACCESS_MASK fAccess = 0;
    if (fDesiredAccess & fWriteish)
        fAccess |= 0xC; // create object and subdirectory
    if ((fDesiredAccess & fReadish) || !(fDesiredAccess & fWriteish))
        fAccess |= 1; // query
    if (fDesiredAccess & 0x20)
        fAccess |= 2; // traverse
    return fAccess;
}

int RTNtPathOpenRelative(HANDLE hRootDir, UNICODE_STRING *pNtName, ACCESS_MASK fDesiredAccess, ULONG fShareAccess,
                         ULONG fCreateOptions, ULONG fObjAttribs, HANDLE *phHandle, bool *pfObjDir) {
    if (!rtPathValidPtr(pNtName) || !rtPathValidPtr(phHandle) || (pfObjDir && !rtPathValidPtr(pfObjDir)))
        return ERR_INVALID_POINTER;
    *phHandle = INVALID_HANDLE_VALUE;

    OBJECT_ATTRIBUTES ObjAttr;
    InitializeObjectAttributes(&ObjAttr, pNtName, fObjAttribs, hRootDir, nullptr);
    HANDLE hFile = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK Ios;
    NTSTATUS rcNt = rtNtPathCreateFile(&hFile, fDesiredAccess, &ObjAttr, &Ios, fShareAccess, fCreateOptions);

    // Some file systems want directories named with a trailing backslash.
    const USHORT cwcName = pNtName->Length / sizeof(WCHAR);
    if (rcNt == RTNT_STATUS_INVALID_PARAMETER && pNtName->Length < 0xfffc &&
        (cwcName == 0 || pNtName->Buffer[cwcName - 1] != L'\\')) {
        WCHAR *pwszCopy = (WCHAR *)RTMemTmpAlloc(pNtName->Length + 2 * sizeof(WCHAR));
        if (pwszCopy) {
            __builtin_memcpy(pwszCopy, pNtName->Buffer, pNtName->Length);
            pwszCopy[cwcName] = L'\\';
            pwszCopy[cwcName + 1] = 0;
            UNICODE_STRING NameSlash;
            NameSlash.Buffer = pwszCopy;
            NameSlash.Length = (USHORT)(pNtName->Length + sizeof(WCHAR));
            NameSlash.MaximumLength = (USHORT)(NameSlash.Length + sizeof(WCHAR));
            InitializeObjectAttributes(&ObjAttr, &NameSlash, fObjAttribs, hRootDir, nullptr);
            rcNt = rtNtPathCreateFile(&hFile, fDesiredAccess, &ObjAttr, &Ios, fShareAccess, fCreateOptions);
            RTMemFree(pwszCopy);
            InitializeObjectAttributes(&ObjAttr, pNtName, fObjAttribs, hRootDir, nullptr);
        }
    }

    if (NT_SUCCESS(rcNt)) {
        *phHandle = hFile;
        if (pfObjDir)
            *pfObjDir = false;
        return 0;
    }

    if (pfObjDir && (rcNt == RTNT_STATUS_OBJECT_NAME_INVALID || rcNt == RTNT_STATUS_OBJECT_TYPE_MISMATCH)) {
        UNICODE_STRING NameDir = *pNtName;
        if (cwcName > 1 && (NameDir.Buffer[cwcName - 1] == L'\\' || NameDir.Buffer[cwcName - 1] == L'/'))
            NameDir.Length -= sizeof(WCHAR);
        InitializeObjectAttributes(&ObjAttr, &NameDir, fObjAttribs, hRootDir, nullptr);
        HANDLE hDir = nullptr;
        NTSTATUS rcNtDir = NtOpenDirectoryObject(&hDir, rtNtPathObjDirAccess(fDesiredAccess), &ObjAttr);
        if (NT_SUCCESS(rcNtDir)) {
            *phHandle = hDir;
            *pfObjDir = true;
            return 0;
        }
    }
    return RTErrConvertFromNtStatus(rcNt);
}

int RTNtPathOpen(const char *pszPath, ACCESS_MASK fDesiredAccess, ULONG fShareAccess, ULONG fCreateOptions,
                 ULONG fObjAttribs, HANDLE *phHandle, bool *pfObjDir) {
    if (pfObjDir) {
        if (!rtPathValidPtr(pfObjDir))
            return ERR_INVALID_POINTER;
        *pfObjDir = false;
    }
    if (!rtPathValidPtr(phHandle))
        return ERR_INVALID_POINTER;
    *phHandle = INVALID_HANDLE_VALUE;
    UNICODE_STRING NtName;
    HANDLE hRootDir;
    int rc = RTNtPathFromUtf8(&NtName, &hRootDir, pszPath);
    if (RT_FAILURE(rc))
        return rc;
    // Only native names can be object-manager directories.
    rc = RTNtPathOpenRelative(hRootDir, &NtName, fDesiredAccess, fShareAccess, fCreateOptions, fObjAttribs, phHandle,
                              rtNtPathIsPassThru(pszPath) ? pfObjDir : nullptr);
    RTNtPathFree(&NtName, &hRootDir);
    return rc;
}

int RTNtPathClose(HANDLE hHandle) {
    NTSTATUS rcNt = NtClose(hHandle);
    return NT_SUCCESS(rcNt) ? 0 : RTErrConvertFromNtStatus(rcNt);
}
