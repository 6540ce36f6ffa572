// Windows backend: the system's preferred random number generator from bcrypt.dll.
#include "r3/win/internal-win.h"

#include "common/rand/internal-rand.h"

#include <atomic>

namespace {

typedef LONG(WINAPI *PFNBCRYPTGENRANDOM)(void *hAlgorithm, UCHAR *pbBuffer, ULONG cbBuffer, ULONG dwFlags);
constexpr ULONG kBCryptUseSystemPreferredRng = 0x00000002;

/** Resolved once; the library stays loaded for the life of the process. A failed
 *  lookup is remembered so that every draw does not retry the load. */
constinit std::atomic<PFNBCRYPTGENRANDOM> g_pfnBCryptGenRandom{nullptr};
constinit std::atomic<bool> g_fBCryptResolved{false};

PFNBCRYPTGENRANDOM rtRandWinResolve() {
    if (g_fBCryptResolved.load(std::memory_order_acquire))
        return g_pfnBCryptGenRandom.load(std::memory_order_relaxed);
    PFNBCRYPTGENRANDOM pfn = nullptr;
    // Only ever from the system directory, never from the application's or the
    // current directory.
    HMODULE hMod = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (hMod)
        pfn = (PFNBCRYPTGENRANDOM)(void *)GetProcAddress(hMod, "BCryptGenRandom");
    g_pfnBCryptGenRandom.store(pfn, std::memory_order_relaxed);
    g_fBCryptResolved.store(true, std::memory_order_release);
    return pfn;
}

} // namespace

int rtRandNativeGetBytes(void *pv, size_t cb) {
    PFNBCRYPTGENRANDOM pfn = rtRandWinResolve();
    if (!pfn)
        return ERR_NOT_SUPPORTED;
    uint8_t *pb = (uint8_t *)pv;
    while (cb > 0) {
        ULONG const cbNow = cb > 0x10000000 ? 0x10000000 : (ULONG)cb;
        if (pfn(nullptr, pb, cbNow, kBCryptUseSystemPreferredRng) < 0)
            return ERR_NOT_SUPPORTED;
        pb += cbNow;
        cb -= cbNow;
    }
    return 0;
}
