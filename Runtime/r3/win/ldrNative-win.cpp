// Windows backend: module records over LoadLibraryExW, loading of system libraries from
// the system directory only, and the resolver behind the lazy imports.
#include "r3/win/internal-ldr.h"
#include <olma/assert.h>
#include <olma/fs.h>
#include <olma/log.h>
#include <olma/mem.h>
#include <olma/path.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/string/internal-str.h"

constinit int32_t g_frtldrNativeSearchFlags = 0;

namespace {

typedef NTSTATUS(NTAPI *PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION)(ULONG fFlags, PUNICODE_STRING pOriginalName,
                                                                PUNICODE_STRING pExtension,
                                                                PUNICODE_STRING pStaticString,
                                                                PUNICODE_STRING pDynamicString,
                                                                PUNICODE_STRING *ppFullName, PULONG pfNewFlags,
                                                                PSIZE_T pcbFilename, PSIZE_T pcbRequired);
constinit PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION g_pfnrtldrRedirect = nullptr;
constinit bool g_frtldrRedirectResolved = false;

/** Longest UTF-8 path the loader builds. */
constexpr size_t RTLDR_PATH_MAX = 4100;
/** The system directory in UTF-16 units, terminator included. */
constexpr size_t RTLDR_SYSDIR_MAX = 260;

void rtErrInfoSet(RTERRINFO *pErrInfo, int rc, const char *pszFormat, ...) {
    if (!pErrInfo)
        return;
    pErrInfo->fFlags |= RTERRINFO_FLAGS_SET;
    pErrInfo->rc = rc;
    if (pErrInfo->pszMsg && pErrInfo->cbMsg) {
        va_list va;
        va_start(va, pszFormat);
        RTStrPrintfV(pErrInfo->pszMsg, pErrInfo->cbMsg, pszFormat, va);
        va_end(va);
    }
}

void rtErrInfoClear(RTERRINFO *pErrInfo) {
    if (!pErrInfo)
        return;
    pErrInfo->fFlags &= ~RTERRINFO_FLAGS_SET;
    pErrInfo->rc = 0;
    if (pErrInfo->pszMsg && pErrInfo->cbMsg)
        pErrInfo->pszMsg[0] = '\0';
}

/* The native operation table. */
int rtldrNativeClose(RTLDRMODINTERNAL *pMod) {
    if (!(pMod->fFlags & RTLDRLOAD_FLAGS_NO_UNLOAD) && pMod->hNative != NIL_RTLDRNATIVEHANDLE) {
        if (!FreeLibrary((HMODULE)pMod->hNative))
            return RTErrConvertFromWinError(GetLastError());
    }
    pMod->hNative = NIL_RTLDRNATIVEHANDLE;
    return 0;
}

int rtldrNativeGetSymbol(RTLDRMODINTERNAL *pMod, const char *pszSymbol, void **ppvValue) {
    FARPROC pfn = GetProcAddress((HMODULE)pMod->hNative, pszSymbol);
    if (!pfn) {
        *ppvValue = nullptr;
        return RTErrConvertFromWinError(GetLastError());
    }
    *ppvValue = (void *)pfn;
    return 0;
}

int rtldrNativeDone(RTLDRMODINTERNAL *) {
    return 0;
}

int rtldrNativeEnumSymbols(RTLDRMODINTERNAL *, uint32_t, void *, void *) {
    return ERR_NOT_SUPPORTED;
}

constexpr RTLDROPS g_rtldrNativeOps = {
    "native", rtldrNativeClose, rtldrNativeGetSymbol, rtldrNativeDone, rtldrNativeEnumSymbols, {},
};

bool rtldrIsValidMod(RTLDRMODINTERNAL *pMod) {
    return RT_VALID_PTR(pMod) && pMod->u32Magic == RTLDRMOD_MAGIC;
}

bool rtldrIsSep(RTUTF16 wc) {
    return wc == '\\' || wc == '/';
}

RTUTF16 rtldrAsciiLower(RTUTF16 wc) {
    return wc >= 'A' && wc <= 'Z' ? (RTUTF16)(wc + ('a' - 'A')) : wc;
}

bool rtldrIsRegularFile(const char *pszPath) {
    FsObjInfo Info;
    const int rc = RTPathQueryInfoEx(pszPath, &Info, FSOBJ_ADD_NOTHING, RTPATH_F_FOLLOW_LINK);
    return RT_SUCCESS(rc) && (Info.mode & RTFS_TYPE_MASK) == RTFS_TYPE_FILE;
}

/** Loads the module at pszPath when it names a regular file. */
int rtldrOpenIfFile(const char *pszPath, uint32_t fFlags, RTLDRMOD *phLdrMod) {
    if (!rtldrIsRegularFile(pszPath))
        return ERR_MODULE_NOT_FOUND;
    return OpenNativeModule(pszPath, phLdrMod, fFlags, nullptr);
}

[[noreturn]] void rtldrNotConfigured(const char *pszExpr, const char *pszFormat, const char *pszName) {
    RTAssertMsg1(pszExpr, __LINE__, __FILE__, __func__);
    RTAssertMsg2(pszFormat, pszName);
    RTAssertPanic();
}

/** Side-by-side redirection of a system library. Returns 1 when the redirection
 *  decided (the status is in *prc), 0 when the plain system-directory path is to be
 *  tried. */
int rtldrTryRedirection(const char *pszName, const RTUTF16 *pwszSysDir, uint32_t fFlags, RTLDRMOD *phLdrMod, int *prc) {
    if (!g_pfnrtldrRedirect)
        return 0;
    RTUTF16 wszName[RTLDR_SYSDIR_MAX];
    RTUTF16 *pwszName = wszName;
    int rc = RTStrToUtf16Ex(pszName, RTSTR_MAX, &pwszName, RT_ELEMENTS(wszName), nullptr, __FILE__);
    if (RT_FAILURE(rc))
        return 0;

    static constexpr WCHAR s_wszDefExt[] = L".dll";
    UNICODE_STRING Name = {(USHORT)(RTUtf16Len(wszName) * sizeof(RTUTF16)),
                           (USHORT)(RTUtf16Len(wszName) * sizeof(RTUTF16)), (PWSTR)wszName};
    UNICODE_STRING DefExt = {sizeof(s_wszDefExt) - sizeof(WCHAR), sizeof(s_wszDefExt) - sizeof(WCHAR),
                             (PWSTR)s_wszDefExt};
    WCHAR wszStatic[518 / sizeof(WCHAR)];
    UNICODE_STRING Static = {0, (USHORT)sizeof(wszStatic), wszStatic};
    UNICODE_STRING Dynamic = {0, 0, nullptr};
    PUNICODE_STRING pFull = nullptr;
    const NTSTATUS rcNt = g_pfnrtldrRedirect(1, &Name, &DefExt, &Static, &Dynamic, &pFull, nullptr, nullptr, nullptr);
    if (!NT_SUCCESS(rcNt) || !pFull || !pFull->Buffer) {
        if (Dynamic.Buffer)
            RtlFreeUnicodeString(&Dynamic);
        return 0;
    }

    const size_t cwcFull = pFull->Length / sizeof(WCHAR);
    if (rtldrNativeCountSysDirSeparators((const RTUTF16 *)pFull->Buffer, cwcFull, pwszSysDir) < 2) {
        // The redirected file is not under the system directory's top-level directory:
        // not trusted, the system directory itself is used.
        if (Dynamic.Buffer)
            RtlFreeUnicodeString(&Dynamic);
        return 0;
    }

    char *pszPath = (char *)RTMemTmpAlloc(RTLDR_PATH_MAX);
    if (!pszPath) {
        if (Dynamic.Buffer)
            RtlFreeUnicodeString(&Dynamic);
        return 0;
    }
    rc = RTUtf16ToUtf8Ex((const RTUTF16 *)pFull->Buffer, cwcFull, &pszPath, RTLDR_PATH_MAX, nullptr, __FILE__);
    if (Dynamic.Buffer)
        RtlFreeUnicodeString(&Dynamic);
    if (RT_FAILURE(rc)) {
        RTMemFree(pszPath);
        return 0;
    }
    *prc = rtldrOpenIfFile(pszPath, fFlags, phLdrMod);
    RTMemFree(pszPath);
    return 1;
}

} // namespace

size_t rtldrNativeCountSysDirSeparators(const RTUTF16 *pwszFull, size_t cwcFull, const RTUTF16 *pwszSysDir) {
    size_t cSeps = 0;
    size_t iFull = 0;
    size_t iSys = 0;
    while (iFull < cwcFull && pwszSysDir[iSys] != '\0') {
        const RTUTF16 wcFull = pwszFull[iFull];
        const RTUTF16 wcSys = pwszSysDir[iSys];
        if (rtldrIsSep(wcSys)) {
            if (!rtldrIsSep(wcFull))
                break;
            if (iFull > 0)
                cSeps++;
            while (iFull + 1 < cwcFull && rtldrIsSep(pwszFull[iFull + 1]))
                iFull++;
            while (rtldrIsSep(pwszSysDir[iSys + 1]))
                iSys++;
        } else if (wcFull != wcSys &&
                   (wcFull >= 127 || wcSys >= 127 || rtldrAsciiLower(wcFull) != rtldrAsciiLower(wcSys)))
            break;
        iFull++;
        iSys++;
    }
    return cSeps;
}

int rtldrNativeLoad(const char *pszFilename, RTLDRNATIVEHANDLE *phHandle, uint32_t fFlags, RTERRINFO *pErrInfo) {
    if (fFlags & RTLDRLOAD_FLAGS_LOCAL)
        return ERR_INVALID_FLAGS;
    if (!RTPathStartsWithRoot(pszFilename)) {
        // Relative names would be looked up along the search path, which is exactly what
        // this loader exists to avoid.
        RTLogRelPrintf("AssertLogRel %s(%d) %s: %s\n", __FILE__, __LINE__, __func__,
                       "RTPathStartsWithRoot(pszFilename)");
        RTLogRelPrintf("pszFilename='%s'\n", pszFilename);
        return ERR_INTERNAL_ERROR_2;
    }
    if (!g_hModKernel32)
        rtldrNotConfigured("g_hModKernel32",
                           "rtldrNativeLoad(%s,,) is called before Olma has configured the windows loader!\n",
                           pszFilename);

    RTUTF16 *pwszPath = nullptr;
    int rc;
    if ((fFlags & RTLDRLOAD_FLAGS_NO_SUFFIX) || RTPathSuffix(pszFilename))
        rc = RTStrToUtf16(pszFilename, &pwszPath, __FILE__);
    else {
        size_t cwc = 0;
        rc = RTStrCalcUtf16LenEx(pszFilename, RTSTR_MAX, &cwc);
        if (RT_SUCCESS(rc))
            rc = RTStrToUtf16Ex(pszFilename, RTSTR_MAX, &pwszPath, cwc + 5, nullptr, __FILE__);
        if (RT_SUCCESS(rc)) {
            static constexpr RTUTF16 s_wszSuffix[] = u".DLL";
            for (size_t i = 0; i < RT_ELEMENTS(s_wszSuffix); i++)
                pwszPath[cwc + i] = s_wszSuffix[i];
        }
    }
    if (RT_FAILURE(rc)) {
        rtErrInfoSet(pErrInfo, rc, "Error converting UTF-8 to UTF-16 string.");
        return rc;
    }

    for (RTUTF16 *pwc = pwszPath; *pwc; pwc++)
        if (*pwc == '/')
            *pwc = '\\';

    HMODULE hMod;
    const int32_t fSearch = __atomic_load_n(&g_frtldrNativeSearchFlags, __ATOMIC_SEQ_CST);
    if ((fFlags & RTLDRLOAD_FLAGS_NT_SEARCH_DLL_LOAD_DIR) && fSearch != -1) {
        hMod = LoadLibraryExW((LPCWSTR)pwszPath, nullptr,
                              LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                  LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (fSearch == 0) {
            if (hMod)
                __atomic_store_n(&g_frtldrNativeSearchFlags, 1, __ATOMIC_SEQ_CST);
            else if (GetLastError() == ERROR_INVALID_PARAMETER) {
                // The search flags are unknown to this system; plain loading is all there is.
                __atomic_store_n(&g_frtldrNativeSearchFlags, -1, __ATOMIC_SEQ_CST);
                hMod = LoadLibraryExW((LPCWSTR)pwszPath, nullptr, 0);
            } else
                __atomic_store_n(&g_frtldrNativeSearchFlags, 1, __ATOMIC_SEQ_CST);
        }
    } else
        hMod = LoadLibraryExW((LPCWSTR)pwszPath, nullptr, 0);

    if (hMod) {
        *phHandle = (RTLDRNATIVEHANDLE)hMod;
        RTUtf16Free(pwszPath);
        return 0;
    }
    const DWORD uErr = GetLastError();
    rc = RTErrConvertFromWinError(uErr);
    rtErrInfoSet(pErrInfo, rc, "GetLastError=%u", (unsigned)uErr);
    RTUtf16Free(pwszPath);
    return rc;
}

int rtldrNativeLoadSystem(const char *pszName, const char *pszSuffix, uint32_t fFlags, RTLDRMOD *phLdrMod) {
    if (!g_hModKernel32)
        rtldrNotConfigured("g_hModKernel32",
                           "rtldrNativeLoadSystem(%s,,) is called before Olma has configured the windows loader!\n",
                           pszName);

    if (!__atomic_load_n(&g_frtldrRedirectResolved, __ATOMIC_SEQ_CST)) {
        g_pfnrtldrRedirect = (PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION)(void *)GetProcAddress(
            g_hModNtDll ? g_hModNtDll : GetModuleHandleW(L"ntdll.dll"), "RtlDosApplyFileIsolationRedirection_Ustr");
        __atomic_store_n(&g_frtldrRedirectResolved, true, __ATOMIC_SEQ_CST);
    }

    WCHAR wszSysDir[RTLDR_SYSDIR_MAX];
    const UINT cwcSysDir = GetSystemDirectoryW(wszSysDir, RT_ELEMENTS(wszSysDir));
    if (cwcSysDir >= RT_ELEMENTS(wszSysDir))
        return ERR_FILENAME_TOO_LONG;
    if (cwcSysDir == 0)
        return RTErrConvertFromWinError(GetLastError());

    int rc = 0;
    if (rtldrTryRedirection(pszName, (const RTUTF16 *)wszSysDir, fFlags, phLdrMod, &rc))
        return rc;

    char *pszPath = (char *)RTMemTmpAlloc(RTLDR_PATH_MAX);
    if (!pszPath)
        return ERR_NO_TMP_MEMORY;
    rc = RTUtf16ToUtf8Ex((const RTUTF16 *)wszSysDir, cwcSysDir, &pszPath, RTLDR_PATH_MAX, nullptr, __FILE__);
    if (RT_SUCCESS(rc))
        rc = RTPathAppend(pszPath, RTLDR_PATH_MAX, pszName);
    if (RT_SUCCESS(rc) && pszSuffix)
        rc = RTStrCat(pszPath, RTLDR_PATH_MAX, pszSuffix);
    if (RT_SUCCESS(rc))
        rc = rtldrOpenIfFile(pszPath, fFlags, phLdrMod);
    RTMemFree(pszPath);
    return rc;
}

int LoadSystemLibrary(const char *pszName, bool fNeverUnload, RTLDRMOD *phLdrMod) {
    if (!RT_VALID_PTR(phLdrMod))
        return ERR_INVALID_PARAMETER;
    *phLdrMod = NIL_RTLDRMOD;
    if (!RT_VALID_PTR(pszName))
        return ERR_INVALID_PARAMETER;
    // Only a bare name: anything with a directory or drive part could leave the system
    // directory.
    size_t cch = 0;
    for (const char *pch = pszName; *pch; pch++, cch++) {
        if (*pch == '/' || *pch == '\\' || *pch == ':')
            return ERR_INVALID_PARAMETER;
        if (cch >= 3074)
            return ERR_INVALID_PARAMETER;
    }
    const uint32_t fFlags = fNeverUnload ? RTLDRLOAD_FLAGS_NO_UNLOAD : 0;
    if (fFlags & 0xff0)
        return ERR_INVALID_FLAGS;
    return rtldrNativeLoadSystem(pszName, RTPathSuffix(pszName) ? nullptr : ".DLL", fFlags, phLdrMod);
}

int OpenNativeModule(const char *pszPath, RTLDRMOD *phLdrMod, uint32_t fFlags, RTERRINFO *pErrInfo) {
    rtErrInfoClear(pErrInfo);
    if (!RT_VALID_PTR(phLdrMod))
        return ERR_INVALID_POINTER;
    *phLdrMod = NIL_RTLDRMOD;
    if (!RT_VALID_PTR(pszPath))
        return ERR_INVALID_POINTER;
    if (fFlags > RTLDRLOAD_FLAGS_VALID_MASK)
        return ERR_INVALID_PARAMETER;

    RTLDRMODINTERNAL *pMod = (RTLDRMODINTERNAL *)RTMemAllocZ(sizeof(*pMod), __FILE__);
    if (!pMod) {
        rtErrInfoSet(pErrInfo, ERR_NO_MEMORY, "Failed to allocate %zu bytes for the module handle", sizeof(*pMod));
        return ERR_NO_MEMORY;
    }
    pMod->u32Magic = RTLDRMOD_MAGIC;
    pMod->eState = RTLDRMOD_STATE_LOADED;
    pMod->pOps = &g_rtldrNativeOps;
    pMod->hNative = NIL_RTLDRNATIVEHANDLE;
    pMod->fFlags = fFlags;
    const int rc = rtldrNativeLoad(pszPath, &pMod->hNative, fFlags, pErrInfo);
    if (RT_FAILURE(rc)) {
        RTMemFree(pMod);
        return rc;
    }
    *phLdrMod = pMod;
    return 0;
}

int CloseModule(RTLDRMOD hLdrMod) {
    if (hLdrMod == NIL_RTLDRMOD)
        return 0;
    if (!rtldrIsValidMod(hLdrMod))
        return ERR_INVALID_HANDLE;
    const int rc = hLdrMod->pOps->pfnClose(hLdrMod);
    hLdrMod->u32Magic++;
    RTMemFree(hLdrMod);
    return rc;
}

int GetModuleSymbol(RTLDRMOD hLdrMod, const char *pszSymbol, void **ppvValue) {
    if (!rtldrIsValidMod(hLdrMod))
        return ERR_INVALID_HANDLE;
    if (!pszSymbol)
        return ERR_INVALID_PARAMETER;
    if (!RT_VALID_PTR(ppvValue))
        return ERR_INVALID_POINTER;
    return hLdrMod->pOps->pfnGetSymbol(hLdrMod, pszSymbol, ppvValue);
}

RTLDRNATIVEHANDLE GetModuleNativeHandle(RTLDRMOD hLdrMod) {
    if (!rtldrIsValidMod(hLdrMod) || hLdrMod->pOps != &g_rtldrNativeOps)
        return NIL_RTLDRNATIVEHANDLE;
    return hLdrMod->hNative;
}

void *GetSystemLibrarySymbol(const char *pszLibrary, const char *pszSymbol) {
    RTLDRMOD hMod;
    if (RT_FAILURE(LoadSystemLibrary(pszLibrary, true, &hMod)))
        return nullptr;
    void *pv = nullptr;
    if (RT_FAILURE(GetModuleSymbol(hMod, pszSymbol, &pv)))
        pv = nullptr;
    (void)CloseModule(hMod);
    return pv;
}

void rtLdrLazyResolve(RTLDRLAZYLIB *pLib, const char *pszSymbol, void **ppvSlot) {
    RTLDRMOD hMod = __atomic_load_n(&pLib->hMod, __ATOMIC_SEQ_CST);
    if (!hMod) {
        const int rc = LoadSystemLibrary(pLib->pszName, true, &hMod);
        if (RT_FAILURE(rc)) {
            RTAssertMsg2("Lazy loader failed to load \"%s\": %Rrc\n", pLib->pszName, rc);
            RTAssertPanic();
        }
        RTLDRMOD hExpected = nullptr;
        if (!__atomic_compare_exchange_n(&pLib->hMod, &hExpected, hMod, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
            // Another thread stored its record first; the library stays loaded either way.
            (void)CloseModule(hMod);
            hMod = hExpected;
        }
    }
    void *pv = nullptr;
    const int rc = GetModuleSymbol(hMod, pszSymbol, &pv);
    if (RT_FAILURE(rc)) {
        RTAssertMsg2("Lazy loader failed to resolve symbol \"%s\" in \"%s\": %Rrc\n", pszSymbol, pLib->pszName, rc);
        RTAssertPanic();
    }
    __atomic_store_n(ppvSlot, pv, __ATOMIC_SEQ_CST);
}
