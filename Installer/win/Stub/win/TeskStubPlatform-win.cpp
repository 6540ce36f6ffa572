// Windows backend of the installer's platform seam: the real kernel32 calls, and MSI,
// CRYPT32, USER32, SHELL32 and comctl32 (lazy imports from the system directory in the
// bootstrapper image, import libraries in programs on the ordinary runtime).
#include "r3/win/internal-win.h"
#include <commctrl.h>
#include <msi.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <olma/err.h>
#include "TeskStubPlatform.h"

namespace {

bool winFindLibraryRedirection(char *pszMarker, size_t cbMarker) {
    static const WCHAR s_wszSuffix[] = L".local";
    WCHAR wszPath[4100];
    const DWORD cwcMax = RT_ELEMENTS(wszPath) - RT_ELEMENTS(s_wszSuffix);
    const DWORD cwc = GetModuleFileNameW(nullptr, wszPath, cwcMax);
    // Without its own path the program would not have started (its start-up records it).
    if (cwc == 0 || cwc >= cwcMax)
        return false;
    __builtin_memcpy(&wszPath[cwc], s_wszSuffix, sizeof(s_wszSuffix));
    if (GetFileAttributesW(wszPath) == INVALID_FILE_ATTRIBUTES) {
        // Only a clear "not there" rules it out; one this process may not look at can
        // still be there for the loader.
        const DWORD dwErr = GetLastError();
        if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND)
            return false;
    }
    if (!WideCharToMultiByte(CP_UTF8, 0, wszPath, -1, pszMarker, (int)cbMarker, nullptr, nullptr))
        pszMarker[0] = '\0';
    return true;
}

int winFindResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
    HRSRC hRsrc = FindResourceExW(nullptr, MAKEINTRESOURCEW(10), (LPCWSTR)pwszName, 0);
    if (!hRsrc)
        return ERR_IO_GEN_FAILURE;
    const DWORD cbData = SizeofResource(nullptr, hRsrc);
    *pcbData = cbData;
    if (cbData == 0)
        return ERR_NO_DATA;
    HGLOBAL hGlobal = LoadResource(nullptr, hRsrc);
    const void *pvData = hGlobal ? LockResource(hGlobal) : nullptr;
    if (!pvData)
        return ERR_IO_GEN_FAILURE;
    *ppvData = pvData;
    return 0;
}

bool winHostIs64Bit() {
#if defined(_WIN64)
    // A 64-bit process only runs on 64-bit Windows (and the WOW64 question would say no).
    return true;
#else
    typedef BOOL(WINAPI * PFNISWOW64PROCESS)(HANDLE, PBOOL);
    PFNISWOW64PROCESS pfnIsWow64Process =
        (PFNISWOW64PROCESS)(void *)GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process");
    if (!pfnIsWow64Process)
        return true;
    BOOL fIsWow64 = TRUE;
    if (!pfnIsWow64Process(GetCurrentProcess(), &fIsWow64))
        return false;
    return fIsWow64 != FALSE;
#endif
}

StubHandle winAcquireMutex(const RTUTF16 *pwszName, bool *pfHeldElsewhere) {
    *pfHeldElsewhere = false;
    SetLastError(NO_ERROR);
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, (LPCWSTR)pwszName);
    if (!hMutex)
        return 0;
    // An existing object means another installer is running, whether it holds the mutex
    // or only keeps it open as earlier installers do. The one exception is a mutex whose
    // holder died: the wait hands it over, and this run goes on as its new holder.
    const bool fExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    const DWORD dwWait = WaitForSingleObject(hMutex, 0);
    if (dwWait == WAIT_ABANDONED || (dwWait == WAIT_OBJECT_0 && !fExisted))
        return (StubHandle)hMutex;
    if (dwWait == WAIT_OBJECT_0)
        ReleaseMutex(hMutex);
    CloseHandle(hMutex);
    *pfHeldElsewhere = fExisted || dwWait == WAIT_TIMEOUT;
    return 0;
}

void winReleaseMutex(StubHandle hMutex) {
    ReleaseMutex((HANDLE)hMutex);
    CloseHandle((HANDLE)hMutex);
}

bool winAllocConsole(uint32_t *puLastError) {
    if (AllocConsole())
        return true;
    *puLastError = GetLastError();
    return false;
}

void winFreeConsole() {
    FreeConsole();
}

void winMessageBoxW(const RTUTF16 *pwszText, const RTUTF16 *pwszCaption, uint32_t fFlags) {
    MessageBoxW(GetDesktopWindow(), (LPCWSTR)pwszText, (LPCWSTR)pwszCaption, fFlags);
}

void winMessageBoxA(const char *pszText, const char *pszCaption, uint32_t fFlags) {
    MessageBoxA(GetDesktopWindow(), pszText, pszCaption, fFlags);
}

uint32_t winMsiSetInternalUI(uint32_t uLevel) {
    return (uint32_t)MsiSetInternalUI((INSTALLUILEVEL)uLevel, nullptr);
}

uint32_t winMsiEnableLog(uint32_t fLogMode, const RTUTF16 *pwszLogFile, uint32_t fAttributes) {
    return MsiEnableLogW(fLogMode, (LPCWSTR)pwszLogFile, fAttributes);
}

void winInitCommonControls(uint32_t fClasses) {
    INITCOMMONCONTROLSEX Init = {sizeof(Init), fClasses};
    InitCommonControlsEx(&Init);
}

uint32_t winMsiInstallProduct(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParameters) {
    return MsiInstallProductW((LPCWSTR)pwszPackage, (LPCWSTR)pwszParameters);
}

StubHandle winLoadMessageModule(const RTUTF16 *pwszName) {
    // Data only: nothing of the module runs. The process's library search is limited
    // to the system directory by the runtime's initialisation.
    return (StubHandle)LoadLibraryExW((LPCWSTR)pwszName, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

void winFreeMessageModule(StubHandle hModule) {
    FreeLibrary((HMODULE)hModule);
}

uint32_t winFormatMessage(uint32_t fFlags, StubHandle hModule, uint32_t uMessageId, uint32_t uLanguage,
                          RTUTF16 **ppwszText) {
    return FormatMessageW(fFlags, (LPCVOID)hModule, uMessageId, uLanguage, (LPWSTR)ppwszText, 0, nullptr);
}

void winFreeMessage(RTUTF16 *pwszText) {
    LocalFree(pwszText);
}

void *winCertCreateCertificateContext(uint32_t fEncoding, const void *pvData, uint32_t cbData) {
    return (void *)CertCreateCertificateContext(fEncoding, (const BYTE *)pvData, cbData);
}

void *winCertOpenStore(uint32_t uProvider, uint32_t fEncoding, uintptr_t hCryptProv, uint32_t fFlags,
                       const RTUTF16 *pwszStoreName) {
    return CertOpenStore((LPCSTR)(uintptr_t)uProvider, fEncoding, (HCRYPTPROV_LEGACY)hCryptProv, fFlags, pwszStoreName);
}

bool winCertAddCertificateContextToStore(void *hStore, void *pCertContext, uint32_t uDisposition) {
    return CertAddCertificateContextToStore((HCERTSTORE)hStore, (PCCERT_CONTEXT)pCertContext, uDisposition, nullptr) !=
           FALSE;
}

bool winCertCloseStore(void *hStore, uint32_t fFlags) {
    return CertCloseStore((HCERTSTORE)hStore, fFlags) != FALSE;
}

bool winCertFreeCertificateContext(void *pCertContext) {
    return CertFreeCertificateContext((PCCERT_CONTEXT)pCertContext) != FALSE;
}

uint32_t winGetLastError() {
    return GetLastError();
}

int winFileOperation(uint32_t uOperation, const RTUTF16 *pwszFrom, const RTUTF16 *pwszTo, uint16_t fFlags) {
    SHFILEOPSTRUCTW Op = {};
    Op.hwnd = nullptr;
    Op.wFunc = uOperation;
    Op.pFrom = (PCZZWSTR)pwszFrom;
    Op.pTo = (PCZZWSTR)pwszTo;
    Op.fFlags = fFlags;
    return SHFileOperationW(&Op);
}

constexpr StubPlatform kWinPlatform = {
    winFindLibraryRedirection,
    winFindResource,
    winHostIs64Bit,
    winAcquireMutex,
    winReleaseMutex,
    winAllocConsole,
    winFreeConsole,
    "CONOUT$",
    winMessageBoxW,
    winMessageBoxA,
    winMsiSetInternalUI,
    winMsiEnableLog,
    winInitCommonControls,
    winMsiInstallProduct,
    winLoadMessageModule,
    winFreeMessageModule,
    winFormatMessage,
    winFreeMessage,
    winCertCreateCertificateContext,
    winCertOpenStore,
    winCertAddCertificateContextToStore,
    winCertCloseStore,
    winCertFreeCertificateContext,
    winGetLastError,
    winFileOperation,
};

} // namespace

const StubPlatform g_StubPlatformDefault = kWinPlatform;
constinit StubPlatform g_StubPlatform = kWinPlatform;
