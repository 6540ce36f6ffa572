// Pieces of the random-number code shared between the portable part and the
// platform backends, plus the test hook that replaces the process-wide generator.
#pragma once

#include <olma/rand.h>

/** Fills the buffer from the platform's random source. ERR_NOT_SUPPORTED when the
 *  platform has none (or it cannot be reached); the buffer is then undefined. */
[[nodiscard]] int rtRandNativeGetBytes(void *pv, size_t cb);

/** Creates a generator that draws every number from the platform's random source.
 *  ERR_NOT_SUPPORTED when there is none; ERR_NO_MEMORY when the block cannot be had. */
[[nodiscard]] int rtRandCreateSystem(RTRAND *phRand);

/** The Park-Miller draw on the generator's state fields, for implementations that
 *  fall back to it. */
uint32_t rtRandParkMillerGetU32(RandGenerator *pThis, uint32_t u32Min, uint32_t u32Max);

/** Processor time-stamp counter (0 on processors without one). */
uint64_t rtRandReadTsc();

/** RTRandU32Ex with the set-up's status: the status of creating the process-wide
 *  generator, and the number through *pu32 on success. */
[[nodiscard]] int rtRandProcessGetU32(uint32_t u32Min, uint32_t u32Max, uint32_t *pu32);

/** Test hook: makes sure the process-wide generator has been set up, installs the
 *  given generator in its place (null restores nothing: the draws then fail) and
 *  returns the one that was installed. Not used by the product. */
RTRAND rtRandTestSwapProcessGenerator(RTRAND hRand);
