// Windows backend: the monotonic clock from the tick counter or the interrupt time, Sleep and yielding.
#include "r3/win/internal-win.h"
#include "r3/internal-time.h"
#include <olma/time.h>

#include <atomic>

namespace {

typedef ULONGLONG(NTAPI *PFNRTLGETINTERRUPTTIMEPRECISE)(PULONGLONG pPerformanceCounter);

/* Chosen once; threads racing on the first call compute and store the same values. */
constinit std::atomic<uint32_t> g_uTimeSource{RTTIME_SOURCE_NONE};
constinit std::atomic<PFNRTLGETINTERRUPTTIMEPRECISE> g_pfnGetInterruptTimePrecise{nullptr};

PFNRTLGETINTERRUPTTIMEPRECISE rtTimeFindPrecise() {
    HMODULE hmodNtDll = GetModuleHandleW(L"ntdll");
    if (!hmodNtDll)
        return nullptr;
    return (PFNRTLGETINTERRUPTTIMEPRECISE)(void *)GetProcAddress(hmodNtDll, "RtlGetInterruptTimePrecise");
}

/** The interrupt time in 100 ns units, read from the shared user page. The kernel
 *  writes the high word twice around the low word; a torn read shows as two
 *  different high words. */
uint64_t rtTimeReadSharedInterruptTime() {
    volatile const uint32_t *const pu32Low = (volatile const uint32_t *)(uintptr_t)0x7ffe0008;
    volatile const int32_t *const pi32High1 = (volatile const int32_t *)(uintptr_t)0x7ffe000c;
    volatile const int32_t *const pi32High2 = (volatile const int32_t *)(uintptr_t)0x7ffe0010;
    for (;;) {
        const int32_t i32High = *pi32High1;
        const uint32_t u32Low = *pu32Low;
        if (*pi32High2 == i32High)
            return ((uint64_t)(uint32_t)i32High << 32) | u32Low;
    }
}

} // namespace

uint32_t rtTimeChooseSource() {
    /* Windows 9x and the earliest NT releases keep no usable interrupt time. */
    const uint32_t uClass = WindowsVersionClass;
    bool fTickCount;
    if (uClass)
        fTickCount = uClass <= 100;
    else {
        const DWORD dwVersion = GetVersion();
        fTickCount = (dwVersion & 0xff) == 3 && ((dwVersion >> 8) & 0xff) < 50;
    }
    if (fTickCount)
        return RTTIME_SOURCE_TICK_COUNT;
    PFNRTLGETINTERRUPTTIMEPRECISE pfn = rtTimeFindPrecise();
    if (pfn) {
        g_pfnGetInterruptTimePrecise.store(pfn, std::memory_order_relaxed);
        return RTTIME_SOURCE_PRECISE;
    }
    return RTTIME_SOURCE_SHARED_PAGE;
}

uint32_t rtTimeNanoTSSource() {
    uint32_t uSource = g_uTimeSource.load(std::memory_order_acquire);
    if (uSource == RTTIME_SOURCE_NONE) {
        uSource = rtTimeChooseSource();
        g_uTimeSource.store(uSource, std::memory_order_release);
    }
    return uSource;
}

uint64_t rtTimeNanoTSFrom(uint32_t uSource) {
    switch (uSource) {
    case RTTIME_SOURCE_TICK_COUNT:
        return (uint64_t)GetTickCount() * 1000000;
    case RTTIME_SOURCE_SHARED_PAGE:
        return rtTimeReadSharedInterruptTime() * 100;
    case RTTIME_SOURCE_PRECISE: {
        PFNRTLGETINTERRUPTTIMEPRECISE pfn = g_pfnGetInterruptTimePrecise.load(std::memory_order_relaxed);
        if (!pfn) {
            pfn = rtTimeFindPrecise();
            if (!pfn)
                return 0;
            g_pfnGetInterruptTimePrecise.store(pfn, std::memory_order_relaxed);
        }
        ULONGLONG uPerfCounter;
        return (uint64_t)pfn(&uPerfCounter) * 100;
    }
    default:
        return 0;
    }
}

uint64_t RTTimeNanoTS() {
    return rtTimeNanoTSFrom(rtTimeNanoTSSource());
}

int RTThreadSleep(RTMSINTERVAL cMillies) {
    Sleep(cMillies);
    return 0;
}

bool RTThreadYield() {
    const uint64_t uStart = __builtin_ia32_rdtsc();
    Sleep(0);
    const uint64_t uElapsed = __builtin_ia32_rdtsc() - uStart;
    /* A round trip through the scheduler that returns at once costs far less; more
       than this (or a wrapped difference) means another thread had the processor. */
    return uElapsed > 1500;
}
