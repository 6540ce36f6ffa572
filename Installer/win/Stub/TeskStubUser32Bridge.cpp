// Windows, bootstrapper image only: the three USER32 functions behind the installer's
// message boxes, resolved from the system directory on first call so that the image
// keeps importing nothing but kernel32 and ntdll. The call sites use the ordinary
// declarations; their import slots are defined here. (Stands in until the runtime's
// lazy imports cover USER32.)
#include "r3/win/internal-win.h"

namespace {

HMODULE user32() {
    static HMODULE s_hMod = nullptr;
    HMODULE hMod = __atomic_load_n(&s_hMod, __ATOMIC_ACQUIRE);
    if (!hMod) {
        hMod = LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!hMod) // systems without the search flags
            hMod = LoadLibraryW(L"user32.dll");
        __atomic_store_n(&s_hMod, hMod, __ATOMIC_RELEASE);
    }
    return hMod;
}

template <typename TPfn> TPfn resolve(TPfn *ppSlot, TPfn pfnSelf, const char *pszName) {
    HMODULE hMod = user32();
    TPfn pfn = hMod ? (TPfn)(void *)GetProcAddress(hMod, pszName) : nullptr;
    if (!pfn || pfn == pfnSelf)
        return nullptr;
    __atomic_store_n(ppSlot, pfn, __ATOMIC_RELEASE);
    return pfn;
}

int WINAPI resolveMessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT);
int WINAPI resolveMessageBoxA(HWND, LPCSTR, LPCSTR, UINT);
HWND WINAPI resolveGetDesktopWindow();

} // namespace

#if defined(_WIN64)
#define TESKSTUB_IMP(name, args) "__imp_" #name
#else
#define TESKSTUB_IMP(name, args) "__imp__" #name "@" #args
#endif
extern "C" {
decltype(&MessageBoxW) g_pfnStubMessageBoxW __asm__(TESKSTUB_IMP(MessageBoxW, 16)) = resolveMessageBoxW;
decltype(&MessageBoxA) g_pfnStubMessageBoxA __asm__(TESKSTUB_IMP(MessageBoxA, 16)) = resolveMessageBoxA;
decltype(&GetDesktopWindow) g_pfnStubGetDesktopWindow __asm__(TESKSTUB_IMP(GetDesktopWindow,
                                                                           0)) = resolveGetDesktopWindow;
}

namespace {

int WINAPI resolveMessageBoxW(HWND hWnd, LPCWSTR pwszText, LPCWSTR pwszCaption, UINT fType) {
    auto pfn = resolve(&g_pfnStubMessageBoxW, &resolveMessageBoxW, "MessageBoxW");
    return pfn ? pfn(hWnd, pwszText, pwszCaption, fType) : 0;
}

int WINAPI resolveMessageBoxA(HWND hWnd, LPCSTR pszText, LPCSTR pszCaption, UINT fType) {
    auto pfn = resolve(&g_pfnStubMessageBoxA, &resolveMessageBoxA, "MessageBoxA");
    return pfn ? pfn(hWnd, pszText, pszCaption, fType) : 0;
}

HWND WINAPI resolveGetDesktopWindow() {
    auto pfn = resolve(&g_pfnStubGetDesktopWindow, &resolveGetDesktopWindow, "GetDesktopWindow");
    return pfn ? pfn() : nullptr;
}

} // namespace
