// Random numbers: a generator object with a small table of operations, the
// Park-Miller implementation behind it, and the process-wide generator used for
// unique names.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/** Generator object. Every operation takes the generator it belongs to, so that one
 *  table layout serves every implementation. */
struct RandGenerator {
    uint32_t magic;
    /** Fills count bytes. */
    void (*getBytes)(RandGenerator *pThis, uint8_t *pb, size_t cb);
    /** A number in [min, max] (the range wraps around when max < min). */
    uint32_t (*getU32)(RandGenerator *pThis, uint32_t u32Min, uint32_t u32Max);
    uint64_t (*getU64)(RandGenerator *pThis, uint64_t u64Min, uint64_t u64Max);
    /** Sets the state from a seed. */
    int (*seed)(RandGenerator *pThis, uint64_t u64Seed);
    /** Writes the state text; *pcbState is the buffer size in and, on overflow, the size needed out. */
    int (*saveState)(RandGenerator *pThis, char *pszState, size_t *pcbState);
    /** Reads a state text written by saveState; a malformed text leaves the state alone. */
    int (*restoreState)(RandGenerator *pThis, const char *pszState);
    /** Invalidates and frees the generator. */
    int (*destroy)(RandGenerator *pThis);
    /** Park-Miller state and the reservoir of spare random bits. */
    uint32_t state;
    uint32_t bits;
    uint32_t bitCount;
};
typedef RandGenerator *RTRAND;
constexpr RTRAND NIL_RTRAND = nullptr;

constexpr uint32_t RTRAND_MAGIC = 0x19531118;
constexpr uint32_t RTRAND_MAGIC_DEAD = 0xE6ACEEE7;
/** State of a new Park-Miller generator. */
constexpr uint32_t RTRAND_PARKMILLER_INITIAL_STATE = 0x20080806;
/** Size of the Park-Miller state text with its terminator ("PM:XXXXXXXX,XXXXXXXX,xx;"). */
constexpr size_t RTRAND_PARKMILLER_STATE_SIZE = 25;

[[nodiscard]] int RTRandCreateParkMiller(RTRAND *phRand);
/** Null is accepted (returns 0); anything else that is not a live generator is ERR_INVALID_HANDLE. */
int RTRandDestroy(RTRAND hRand);
[[nodiscard]] int RTRandSeed(RTRAND hRand, uint64_t u64Seed);
/** 0xFFFFFFFF for an invalid generator. */
uint32_t RTRandGetU32Ex(RTRAND hRand, uint32_t u32Min, uint32_t u32Max);

/** A number in [min, max] from the process-wide generator, created on first use.
 *  0xFFFFFFFF when the generator could not be created. */
uint32_t RTRandU32Ex(uint32_t u32Min, uint32_t u32Max);
