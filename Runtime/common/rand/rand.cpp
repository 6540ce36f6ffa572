// Generator operations on handles, the generator backed by the platform's random
// source, and the process-wide generator behind unique names.
#include "common/rand/internal-rand.h"

#include <olma/mem.h>
#include <olma/once.h>

#include <atomic>

namespace {

bool rtRandIsValid(RTRAND hRand) {
    return RT_VALID_PTR(hRand) && hRand->magic == RTRAND_MAGIC;
}

/*
 * The platform-backed generator. Names made from it cannot be predicted by another
 * local user who watched earlier names, which a 31-bit Park-Miller state cannot
 * promise. Should the source fail after creation, the draw continues from the
 * Park-Miller fields, which were seeded from the source when the generator was made.
 */

uint32_t rtRandSysRawU32(RandGenerator *pThis) {
    uint32_t u;
    if (RT_SUCCESS(rtRandNativeGetBytes(&u, sizeof(u))))
        return u;
    return rtRandParkMillerGetU32(pThis, 0, UINT32_MAX);
}

uint32_t rtRandSysGetU32(RandGenerator *pThis, uint32_t u32Min, uint32_t u32Max) {
    uint32_t const uRange = u32Max - u32Min;
    if (uRange == UINT32_MAX)
        return u32Min + rtRandSysRawU32(pThis);
    // Draws below 2^32 mod (range + 1) would make the low results more likely than
    // the others; they are drawn again.
    uint32_t const cValues = uRange + 1;
    uint32_t const uReject = (0u - cValues) % cValues;
    uint32_t u;
    do
        u = rtRandSysRawU32(pThis);
    while (u < uReject);
    return u32Min + u % cValues;
}

uint64_t rtRandSysGetU64(RandGenerator *pThis, uint64_t u64Min, uint64_t u64Max) {
    uint64_t const uRange = u64Max - u64Min;
    if (uRange <= UINT32_MAX)
        return u64Min + rtRandSysGetU32(pThis, 0, (uint32_t)uRange);
    uint64_t u;
    if (uRange == UINT64_MAX) {
        u = ((uint64_t)rtRandSysRawU32(pThis) << 32) | rtRandSysRawU32(pThis);
        return u64Min + u;
    }
    uint64_t const cValues = uRange + 1;
    uint64_t const uReject = (0ull - cValues) % cValues;
    do
        u = ((uint64_t)rtRandSysRawU32(pThis) << 32) | rtRandSysRawU32(pThis);
    while (u < uReject);
    return u64Min + u % cValues;
}

void rtRandSysGetBytes(RandGenerator *pThis, uint8_t *pb, size_t cb) {
    if (cb == 0 || RT_SUCCESS(rtRandNativeGetBytes(pb, cb)))
        return;
    while (cb > 0) {
        uint32_t u = rtRandParkMillerGetU32(pThis, 0, UINT32_MAX);
        size_t const cbNow = cb > 4 ? 4 : cb;
        for (size_t i = 0; i < cbNow; i++, u >>= 8)
            *pb++ = (uint8_t)u;
        cb -= cbNow;
    }
}

/** The platform source has no state a caller could set, save or restore. */
int rtRandSysSeed(RandGenerator *, uint64_t) {
    return ERR_NOT_SUPPORTED;
}
int rtRandSysSaveState(RandGenerator *, char *, size_t *) {
    return ERR_NOT_SUPPORTED;
}
int rtRandSysRestoreState(RandGenerator *, const char *) {
    return ERR_NOT_SUPPORTED;
}

int rtRandSysDestroy(RandGenerator *pThis) {
    pThis->magic = RTRAND_MAGIC_DEAD;
    RTMemFree(pThis);
    return 0;
}

} // namespace

int rtRandCreateSystem(RTRAND *phRand) {
    // Ask the source first, so that a platform without one never gets this generator.
    uint32_t au32Seed[3];
    int rc = rtRandNativeGetBytes(au32Seed, sizeof(au32Seed));
    if (RT_FAILURE(rc))
        return rc;
    RandGenerator *pThis = (RandGenerator *)RTMemTmpAlloc(sizeof(*pThis));
    if (!pThis)
        return ERR_NO_MEMORY;
    pThis->magic = RTRAND_MAGIC;
    pThis->getBytes = rtRandSysGetBytes;
    pThis->getU32 = rtRandSysGetU32;
    pThis->getU64 = rtRandSysGetU64;
    pThis->seed = rtRandSysSeed;
    pThis->saveState = rtRandSysSaveState;
    pThis->restoreState = rtRandSysRestoreState;
    pThis->destroy = rtRandSysDestroy;
    pThis->state = au32Seed[0];
    pThis->bits = au32Seed[1];
    pThis->bitCount = au32Seed[2] % 31;
    *phRand = pThis;
    return 0;
}

uint64_t rtRandReadTsc() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_ia32_rdtsc();
#else
    return 0;
#endif
}

int RTRandDestroy(RTRAND hRand) {
    if (hRand == NIL_RTRAND)
        return 0;
    if (!rtRandIsValid(hRand))
        return ERR_INVALID_HANDLE;
    return hRand->destroy(hRand);
}

int RTRandSeed(RTRAND hRand, uint64_t u64Seed) {
    if (!rtRandIsValid(hRand))
        return ERR_INVALID_HANDLE;
    return hRand->seed(hRand, u64Seed);
}

uint32_t RTRandGetU32Ex(RTRAND hRand, uint32_t u32Min, uint32_t u32Max) {
    if (!rtRandIsValid(hRand))
        return UINT32_MAX;
    return hRand->getU32(hRand, u32Min, u32Max);
}

/*
 * The process-wide generator.
 */

namespace {

constinit std::atomic<RandGenerator *> g_pProcessRand{nullptr};

int rtRandProcessInit(void *) {
    RTRAND hRand = NIL_RTRAND;
    int rc = rtRandCreateSystem(&hRand);
    if (rc != 0 && rc != ERR_NO_MEMORY) {
        // No usable platform source: fall back to Park-Miller.
        rc = RTRandCreateParkMiller(&hRand);
        if (RT_SUCCESS(rc))
            rc = RTRandSeed(hRand, rtRandReadTsc() >> 8);
    }
    if (RT_FAILURE(rc)) {
        RTRandDestroy(hRand);
        return rc;
    }
    g_pProcessRand.store(hRand, std::memory_order_release);
    return 0;
}

/** Destroys the generator at termination, unless the process is ending anyway. */
void rtRandProcessCleanup(void *, bool fLazyCleanUpOk) {
    if (fLazyCleanUpOk)
        return;
    RTRandDestroy(g_pProcessRand.exchange(nullptr, std::memory_order_acq_rel));
}

constinit RTONCE g_ProcessRandOnce = RTONCE_INITIALIZER;

int rtRandProcessOnce() {
    return RTOnceEx(&g_ProcessRandOnce, rtRandProcessInit, rtRandProcessCleanup, nullptr);
}

} // namespace

int rtRandProcessGetU32(uint32_t u32Min, uint32_t u32Max, uint32_t *pu32) {
    int rc = rtRandProcessOnce();
    if (RT_FAILURE(rc))
        return rc;
    RandGenerator *pRand = g_pProcessRand.load(std::memory_order_acquire);
    if (!rtRandIsValid(pRand))
        return ERR_INVALID_HANDLE;
    *pu32 = pRand->getU32(pRand, u32Min, u32Max);
    return 0;
}

uint32_t RTRandU32Ex(uint32_t u32Min, uint32_t u32Max) {
    uint32_t u32;
    if (RT_FAILURE(rtRandProcessGetU32(u32Min, u32Max, &u32)))
        return UINT32_MAX;
    return u32;
}

RTRAND rtRandTestSwapProcessGenerator(RTRAND hRand) {
    (void)rtRandProcessOnce();
    return g_pProcessRand.exchange(hRand, std::memory_order_acq_rel);
}
