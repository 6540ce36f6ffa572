// Windows backend: native runtime initialisation. Classifies the Windows version,
// restricts where libraries are loaded from, installs the top-level exception filter
// and resolves the optional entry points and the socket library.
#include "r3/win/internal-ldr.h"
#include "r3/internal-init.h"

constinit HMODULE g_hModKernel32 = nullptr;
constinit HMODULE g_hModNtDll = nullptr;
constinit RTR3WINOPTIONAL g_rtR3WinOptional = {};

namespace {

typedef NTSTATUS(NTAPI *PFNRTLGETVERSION)(PRTL_OSVERSIONINFOW);
typedef BOOLEAN(NTAPI *PFNRTLGETNTPRODUCTTYPE)(PULONG);
typedef BOOL(WINAPI *PFNSETDLLDIRECTORYW)(LPCWSTR);
typedef BOOL(WINAPI *PFNSETDEFAULTDLLDIRECTORIES)(DWORD);

template <typename T> T rtR3WinResolve(HMODULE hMod, const char *pszName) {
    return (T)(void *)GetProcAddress(hMod, pszName);
}

void rtR3WinInitVersion() {
    OSVERSIONINFOEXW Info;
    static_assert(sizeof(OSVERSIONINFOEXW) == 284 && sizeof(OSVERSIONINFOW) == 276, "version record sizes");
    __builtin_memset(&Info, 0, sizeof(Info));
    bool fExtended = false;
    bool fHaveInfo = false;

    if (PFNRTLGETVERSION pfn = rtR3WinResolve<PFNRTLGETVERSION>(g_hModNtDll, "RtlGetVersion")) {
        Info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        if (NT_SUCCESS(pfn((PRTL_OSVERSIONINFOW)&Info)))
            fExtended = fHaveInfo = true;
    }
    if (!fHaveInfo) {
        __builtin_memset(&Info, 0, sizeof(Info));
        Info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        if (GetVersionExW((LPOSVERSIONINFOW)&Info))
            fExtended = fHaveInfo = true;
        else {
            __builtin_memset(&Info, 0, sizeof(Info));
            Info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
            fHaveInfo = GetVersionExW((LPOSVERSIONINFOW)&Info) != FALSE;
        }
    }
    if (!fHaveInfo) {
        const DWORD uVersion = GetVersion();
        Info.dwMajorVersion = uVersion & 0xff;
        Info.dwMinorVersion = (uVersion >> 8) & 0xff;
        Info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    }
    if (!fExtended) {
        ULONG uProductType = 0;
        PFNRTLGETNTPRODUCTTYPE pfn = rtR3WinResolve<PFNRTLGETNTPRODUCTTYPE>(g_hModNtDll, "RtlGetNtProductType");
        Info.wProductType = pfn && pfn(&uProductType) ? (BYTE)uProductType : (BYTE)RTWIN_PRODUCT_WORKSTATION;
    }
    WindowsVersionClass = rtR3WinClassifyVersion(Info.dwPlatformId, Info.dwMajorVersion, Info.dwMinorVersion,
                                                 Info.dwBuildNumber, Info.wProductType);
}

void rtR3WinInitOptional() {
    g_rtR3WinOptional.pfnIsDebuggerPresent =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnIsDebuggerPresent)>(g_hModKernel32, "IsDebuggerPresent");
    g_rtR3WinOptional.pfnGetSystemTimeAsFileTime =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnGetSystemTimeAsFileTime)>(g_hModKernel32,
                                                                               "GetSystemTimeAsFileTime");
    g_rtR3WinOptional.pfnIsProcessorFeaturePresent =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnIsProcessorFeaturePresent)>(g_hModKernel32,
                                                                                 "IsProcessorFeaturePresent");
    g_rtR3WinOptional.pfnNtQueryFullAttributesFile =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnNtQueryFullAttributesFile)>(g_hModNtDll,
                                                                                 "NtQueryFullAttributesFile");
}

/** The socket library's last-error functions, when it exists; its absence is fine. */
void rtR3WinInitSockets() {
    HMODULE hMod = GetModuleHandleW(L"ws2_32.dll");
    RTLDRMOD hLdrMod = NIL_RTLDRMOD;
    if (!hMod && RT_SUCCESS(LoadSystemLibrary("ws2_32.dll", true, &hLdrMod)))
        hMod = (HMODULE)GetModuleNativeHandle(hLdrMod);
    if (!hMod && RT_SUCCESS(LoadSystemLibrary("wsock32.dll", true, &hLdrMod)))
        hMod = (HMODULE)GetModuleNativeHandle(hLdrMod);
    if (!hMod)
        return;
    g_pfnrtWsaGetLastError = rtR3WinResolve<PFNRTWSAGETLASTERROR>(hMod, "WSAGetLastError");
    g_pfnrtWsaSetLastError = rtR3WinResolve<PFNRTWSASETLASTERROR>(hMod, "WSASetLastError");
    // The records were opened with never-unload: dropping them keeps the library.
    (void)CloseModule(hLdrMod);
}

} // namespace

int rtR3InitNativeHardening(uint32_t fFlags) {
    int rc = 0;
    // No critical-error or open-file message boxes; the old mode's other bits stay.
    const UINT fOldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetErrorMode(fOldMode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    // Take the current directory out of the library search path.
    if (PFNSETDLLDIRECTORYW pfn = rtR3WinResolve<PFNSETDLLDIRECTORYW>(g_hModKernel32, "SetDllDirectoryW"))
        if (!pfn(L""))
            rc = ERR_INTERNAL_ERROR_3;

    if (WindowsVersionClass > 108 || (fFlags & RTR3INIT_FLAGS_SYSTEM_DLL_PATH)) {
        PFNSETDEFAULTDLLDIRECTORIES pfn =
            rtR3WinResolve<PFNSETDEFAULTDLLDIRECTORIES>(g_hModKernel32, "SetDefaultDllDirectories");
        const DWORD fDirs = (fFlags & RTR3INIT_FLAGS_SYSTEM_DLL_PATH)
                                ? LOAD_LIBRARY_SEARCH_SYSTEM32
                                : LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR;
        if (pfn && !pfn(fDirs) && RT_SUCCESS(rc))
            rc = ERR_INTERNAL_ERROR_4;
    }

    g_rtR3WinOptional.pfnGetCurrentThreadStackLimits =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnGetCurrentThreadStackLimits)>(g_hModKernel32,
                                                                                   "GetCurrentThreadStackLimits");
    g_rtR3WinOptional.pfnSetUnhandledExceptionFilter =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnSetUnhandledExceptionFilter)>(g_hModKernel32,
                                                                                   "SetUnhandledExceptionFilter");
    g_rtR3WinOptional.pfnUnhandledExceptionFilter =
        rtR3WinResolve<decltype(g_rtR3WinOptional.pfnUnhandledExceptionFilter)>(g_hModKernel32,
                                                                                "UnhandledExceptionFilter");
    rtR3WinInstallXcptFilter(g_rtR3WinOptional.pfnSetUnhandledExceptionFilter);
    return rc;
}

int rtR3InitNativeFirst(uint32_t fFlags) {
    HMODULE hModKernel32 = GetModuleHandleW(L"kernel32.dll");
    HMODULE hModNtDll = GetModuleHandleW(L"ntdll.dll");
    if (!hModKernel32 || !hModNtDll)
        return ERR_INTERNAL_ERROR_2;
    g_hModNtDll = hModNtDll;
    g_hModKernel32 = hModKernel32;

    rtR3WinInitVersion();

    int rc = 0;
    if (!(fFlags & RTR3INIT_FLAGS_SKIP_DLL_HARDENING))
        rc = rtR3InitNativeHardening(fFlags);

    rtR3WinInitOptional();
    rtR3WinInitSockets();
    return rc;
}

uint32_t rtR3InitNativeProcessId() {
    return GetCurrentProcessId();
}
