// Runtime heap front end: test hook for failing allocations and a count of live blocks.
#include <olma/mem.h>
#include "internal-mem.h"

namespace {
constinit uint32_t g_cFailCountdown = 0;
constinit size_t g_cOutstanding = 0;

// True when the armed countdown reaches this allocation.
bool rtMemShouldFail() {
    uint32_t c = __atomic_load_n(&g_cFailCountdown, __ATOMIC_RELAXED);
    while (c != 0) {
        if (__atomic_compare_exchange_n(&g_cFailCountdown, &c, c - 1, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED))
            return c == 1;
    }
    return false;
}
} // namespace

uint32_t RTMemTestFailNth(uint32_t n) {
    return __atomic_exchange_n(&g_cFailCountdown, n, __ATOMIC_RELAXED);
}

size_t RTMemTestOutstanding() {
    return __atomic_load_n(&g_cOutstanding, __ATOMIC_RELAXED);
}

void *RTMemTmpAlloc(size_t cb) {
    if (rtMemShouldFail())
        return nullptr;
    void *pv = rtMemNativeAlloc(cb ? cb : 1, false);
    if (pv)
        __atomic_add_fetch(&g_cOutstanding, 1, __ATOMIC_RELAXED);
    return pv;
}

void *RTMemAllocZ(size_t cb, const char *pszTag) {
    (void)pszTag;
    if (rtMemShouldFail())
        return nullptr;
    void *pv = rtMemNativeAlloc(cb ? cb : 1, true);
    if (pv)
        __atomic_add_fetch(&g_cOutstanding, 1, __ATOMIC_RELAXED);
    return pv;
}

void *RTMemRealloc(void *pv, size_t cbNew, const char *pszTag) {
    if (!pv)
        return RTMemAllocZ(cbNew, pszTag);
    if (cbNew == 0) {
        RTMemFree(pv);
        return nullptr;
    }
    if (rtMemShouldFail())
        return nullptr;
    return rtMemNativeRealloc(pv, cbNew);
}

void RTMemFree(void *pv) {
    if (!pv)
        return;
    __atomic_sub_fetch(&g_cOutstanding, 1, __ATOMIC_RELAXED);
    rtMemNativeFree(pv);
}
