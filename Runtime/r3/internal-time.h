// Clock sources behind RTTimeNanoTS, exposed so that each one can be read and checked.
#pragma once

#include <olma/cdefs.h>

#if defined(RT_OS_WINDOWS)
enum : uint32_t {
    RTTIME_SOURCE_NONE = 0,
    /** GetTickCount: milliseconds, 32 bits, wraps after about 49.7 days. */
    RTTIME_SOURCE_TICK_COUNT,
    /** The interrupt time the kernel keeps in the page shared with user mode. */
    RTTIME_SOURCE_SHARED_PAGE,
    /** ntdll's RtlGetInterruptTimePrecise. */
    RTTIME_SOURCE_PRECISE
};
/** Picks a source from the Windows version (what the first reading does). */
uint32_t rtTimeChooseSource();
/** The source RTTimeNanoTS uses (chosen on first use). */
uint32_t rtTimeNanoTSSource();
/** One reading from the given source; 0 when the source is not available. */
uint64_t rtTimeNanoTSFrom(uint32_t uSource);
#endif
