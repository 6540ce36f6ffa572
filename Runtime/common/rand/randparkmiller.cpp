// Park-Miller minimal-standard generator with a reservoir of spare bits. Cheap and
// repeatable from a seed; good enough for names that only have to differ between
// attempts, not for secrets.
#include "common/rand/internal-rand.h"

#include <olma/mem.h>
#include <olma/string.h>

namespace {

constexpr uint32_t kModulus = 2147483647; // 2^31 - 1
constexpr uint32_t kMultiplier = 16807;
/** A zero state would stay zero forever; it restarts from this value instead. */
constexpr uint32_t kZeroStateReplacement = 20080806;

/** One step; yields 1 .. 2^31 - 2. */
uint32_t rtRandPmStep(RandGenerator *pThis) {
    uint32_t uState = pThis->state;
    if (uState == 0)
        uState = kZeroStateReplacement;
    uState = (uint32_t)(((uint64_t)uState * kMultiplier) % kModulus);
    pThis->state = uState;
    return uState;
}

/** Takes cBits spare bits from the reservoir, refilling it from a fresh step first
 *  when it holds fewer. Returns the word the bits are taken from (low bits first). */
uint32_t rtRandPmTakeBits(RandGenerator *pThis, unsigned cBits) {
    uint32_t y;
    if (pThis->bitCount < cBits) {
        y = rtRandPmStep(pThis);
        pThis->bits = y;
        pThis->bitCount = 30;
    } else
        y = pThis->bits;
    pThis->bits = y >> cBits;
    pThis->bitCount -= cBits;
    return y;
}

} // namespace

uint32_t rtRandParkMillerGetU32(RandGenerator *pThis, uint32_t u32Min, uint32_t u32Max) {
    uint32_t const uRange = u32Max - u32Min;
    if (uRange == UINT32_MAX) {
        // A step only has 31 bits; the top two come from the reservoir.
        uint32_t const x = rtRandPmStep(pThis);
        uint32_t const y = rtRandPmTakeBits(pThis, 2);
        return u32Min + ((y << 30) | (x >> 1));
    }
    if (uRange == kModulus - 1)
        return u32Min + rtRandPmStep(pThis);
    if (uRange < 0x7FFFFFF)
        return u32Min + ((rtRandPmStep(pThis) >> 1) % (uRange + 1));
    // Wide ranges: 30 bits from the step and 6 from the reservoir keep the modulo
    // bias small.
    uint32_t const x = rtRandPmStep(pThis);
    uint32_t const y = rtRandPmTakeBits(pThis, 6);
    uint64_t const v = ((uint64_t)(y % 64) << 30) + (x >> 1);
    return u32Min + (uint32_t)(v % ((uint64_t)uRange + 1));
}

namespace {

uint64_t rtRandPmGetU64(RandGenerator *pThis, uint64_t u64Min, uint64_t u64Max) {
    uint64_t const uRange = u64Max - u64Min;
    if (uRange <= UINT32_MAX)
        return u64Min + pThis->getU32(pThis, 0, (uint32_t)uRange);

    // The high half is drawn within the range's high half and the low half in full,
    // so a candidate can lie above the range when the range's low half is not all
    // ones. Such candidates are drawn again; at least every second one fits.
    uint32_t const uRangeHi = (uint32_t)(uRange >> 32);
    uint64_t uRel;
    do {
        uint32_t const uHi = pThis->getU32(pThis, 0, uRangeHi);
        uint32_t const uLo = pThis->getU32(pThis, 0, UINT32_MAX);
        uRel = ((uint64_t)uHi << 32) | uLo;
    } while (uRel > uRange);
    return u64Min + uRel;
}

void rtRandPmGetBytes(RandGenerator *pThis, uint8_t *pb, size_t cb) {
    while (cb > 0) {
        uint32_t u = pThis->getU32(pThis, 0, UINT32_MAX);
        size_t const cbNow = cb > 4 ? 4 : cb;
        for (size_t i = 0; i < cbNow; i++, u >>= 8)
            *pb++ = (uint8_t)u;
        cb -= cbNow;
    }
}

int rtRandPmSeed(RandGenerator *pThis, uint64_t u64Seed) {
    pThis->state = (uint32_t)u64Seed;
    pThis->bits = 0;
    pThis->bitCount = 0;
    return 0;
}

void rtRandPutHex(char *pch, uint32_t uValue, unsigned cDigits, const char *pszDigits) {
    while (cDigits-- > 0) {
        pch[cDigits] = pszDigits[uValue & 0xf];
        uValue >>= 4;
    }
}

int rtRandPmSaveState(RandGenerator *pThis, char *pszState, size_t *pcbState) {
    if (*pcbState < RTRAND_PARKMILLER_STATE_SIZE) {
        *pcbState = RTRAND_PARKMILLER_STATE_SIZE;
        return ERR_BUFFER_OVERFLOW;
    }
    // "PM:%08RX32,%08RX32,%02x;": the two words in capitals, the bit count in small letters.
    char *pch = pszState;
    *pch++ = 'P';
    *pch++ = 'M';
    *pch++ = ':';
    rtRandPutHex(pch, pThis->state, 8, "0123456789ABCDEF");
    pch += 8;
    *pch++ = ',';
    rtRandPutHex(pch, pThis->bits, 8, "0123456789ABCDEF");
    pch += 8;
    *pch++ = ',';
    rtRandPutHex(pch, pThis->bitCount, 2, "0123456789abcdef");
    pch += 2;
    *pch++ = ';';
    *pch = '\0';
    return 0;
}

/** Parses one field that has to end exactly at offEnd, followed by chEnd. */
bool rtRandPmParseField(const char *pszState, size_t offStart, size_t offEnd, char chEnd, uint32_t *pu32) {
    char *pszNext = nullptr;
    int rc = RTStrToUInt32Ex(pszState + offStart, &pszNext, 16, pu32);
    return RT_SUCCESS(rc) && pszNext == pszState + offEnd && *pszNext == chEnd;
}

int rtRandPmRestoreState(RandGenerator *pThis, const char *pszState) {
    if (pszState[0] != 'P' || pszState[1] != 'M' || pszState[2] != ':')
        return ERR_PARSE_ERROR;
    uint32_t uState, uBits, uBitCount;
    if (!rtRandPmParseField(pszState, 3, 11, ',', &uState) || !rtRandPmParseField(pszState, 12, 20, ',', &uBits) ||
        !rtRandPmParseField(pszState, 21, 23, ';', &uBitCount) || pszState[24] != '\0')
        return ERR_PARSE_ERROR;
    pThis->state = uState;
    pThis->bits = uBits;
    pThis->bitCount = uBitCount;
    return 0;
}

int rtRandPmDestroy(RandGenerator *pThis) {
    pThis->magic = RTRAND_MAGIC_DEAD;
    RTMemFree(pThis);
    return 0;
}

} // namespace

int RTRandCreateParkMiller(RTRAND *phRand) {
    RandGenerator *pThis = (RandGenerator *)RTMemTmpAlloc(sizeof(*pThis));
    if (!pThis)
        return ERR_NO_MEMORY;
    pThis->magic = RTRAND_MAGIC;
    pThis->getBytes = rtRandPmGetBytes;
    pThis->getU32 = rtRandParkMillerGetU32;
    pThis->getU64 = rtRandPmGetU64;
    pThis->seed = rtRandPmSeed;
    pThis->saveState = rtRandPmSaveState;
    pThis->restoreState = rtRandPmRestoreState;
    pThis->destroy = rtRandPmDestroy;
    pThis->state = RTRAND_PARKMILLER_INITIAL_STATE;
    pThis->bits = 0;
    pThis->bitCount = 0;
    *phRand = pThis;
    return 0;
}
