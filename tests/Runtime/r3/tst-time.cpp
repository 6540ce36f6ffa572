// The monotonic clock and sleeping.
#include <gtest/gtest.h>
#include <olma/time.h>

#include "r3/internal-time.h"

namespace {

/** Coarsest tick of any clock source (the Windows tick counter and shared page
 *  advance in steps of up to 15.625 ms). */
constexpr uint64_t kcNsGranularity = UINT64_C(16000000);

template <typename F> void CheckMonotonicAndSleep(F fnRead) {
    uint64_t uPrev = fnRead();
    for (unsigned i = 0; i < 100000; i++) {
        const uint64_t uNow = fnRead();
        ASSERT_GE(uNow, uPrev) << "reading " << i;
        uPrev = uNow;
    }
    for (RTMSINTERVAL cMs : {1u, 20u, 50u}) {
        SCOPED_TRACE(testing::Message() << cMs << " ms");
        const uint64_t uStart = fnRead();
        EXPECT_EQ(RTThreadSleep(cMs), 0);
        const uint64_t uEnd = fnRead();
        ASSERT_GE(uEnd, uStart);
        const uint64_t cNsWanted = (uint64_t)cMs * 1000000;
        EXPECT_GE(uEnd - uStart + kcNsGranularity, cNsWanted);
    }
}

TEST(Time, NanoTSMonotonicAndSleepAdvancesIt) {
    CheckMonotonicAndSleep([] { return RTTimeNanoTS(); });
}

TEST(Time, SleepZeroAndYieldReturn) {
    const uint64_t uStart = RTTimeNanoTS();
    EXPECT_EQ(RTThreadSleep(0), 0);
    (void)RTThreadYield(); // whether another thread ran is up to the scheduler
    EXPECT_GE(RTTimeNanoTS(), uStart);
}

#if defined(RT_OS_WINDOWS)
// Every source the clock can choose must itself behave; the machine only picks one.
TEST(Time, EverySourceIsMonotonic) {
    const uint32_t uChosen = rtTimeNanoTSSource();
    EXPECT_TRUE(uChosen == RTTIME_SOURCE_PRECISE || uChosen == RTTIME_SOURCE_SHARED_PAGE) << uChosen;
    for (uint32_t uSource : {RTTIME_SOURCE_TICK_COUNT, RTTIME_SOURCE_SHARED_PAGE, RTTIME_SOURCE_PRECISE}) {
        SCOPED_TRACE(testing::Message() << "source " << uSource);
        if (uSource == RTTIME_SOURCE_PRECISE && uChosen != RTTIME_SOURCE_PRECISE)
            continue; // this system's ntdll lacks the precise function
        CheckMonotonicAndSleep([uSource] { return rtTimeNanoTSFrom(uSource); });
    }
}

// All sources count the same time since boot in the same unit, within their granularity.
TEST(Time, SourcesAgree) {
    const uint64_t uTick = rtTimeNanoTSFrom(RTTIME_SOURCE_TICK_COUNT);
    const uint64_t uShared = rtTimeNanoTSFrom(RTTIME_SOURCE_SHARED_PAGE);
    const uint64_t uDiff = uTick > uShared ? uTick - uShared : uShared - uTick;
    // The tick count wraps after 2^32 ms; only compare when it has not.
    if (uShared < UINT64_C(0xffffffff) * 1000000)
        EXPECT_LT(uDiff, UINT64_C(1000000000)) << "tick " << uTick << " shared " << uShared;
}
#endif

} // namespace
