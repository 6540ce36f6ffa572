// The monotonic clock, sleeping and yielding.
#pragma once

#include <olma/cdefs.h>

/** Milliseconds of a sleep or a wait. */
using RTMSINTERVAL = uint32_t;

/** Nanoseconds from an arbitrary origin; never goes backwards. */
uint64_t RTTimeNanoTS();
/** Suspends the calling thread for the given milliseconds; returns 0. */
int RTThreadSleep(RTMSINTERVAL cMillies);
/** Gives up the processor; true when another thread apparently ran meanwhile. */
bool RTThreadYield();
