// The monotonic clock and sleeping.
#include <gtest/gtest.h>
#include <olma/time.h>

#include "r3/internal-time.h"
#if defined(RT_OS_WINDOWS)
#include "r3/win/internal-win.h"
#endif

namespace {

/** Allowance for the coarsest clock source. The Windows tick counter and the shared
 *  page advance in steps of about 15.6 ms; under Wine the shared page is refreshed
 *  irregularly and can lag a little more, so two steps are allowed. That still
 *  catches a source read in the wrong unit. */
constexpr uint64_t kcNsGranularity = UINT64_C(32000000);

template <typename F> void CheckMonotonicAndSleep(F fnRead) {
    uint64_t uPrev = fnRead();
    for (unsigned i = 0; i < 100000; i++) {
        const uint64_t uNow = fnRead();
        ASSERT_GE(uNow, uPrev) << "reading " << i;
        uPrev = uNow;
    }
    for (RTMSINTERVAL cMs : {1u, 20u, 100u}) {
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

// Windows 9x and NT before 3.50 (classes up to 100) only have the tick counter;
// without a classification the version reported by the system decides.
TEST(Time, SourceFollowsVersionClass) {
    const uint32_t uSaved = WindowsVersionClass;
    WindowsVersionClass = 0; // this host reports a version far above 3.50
    const uint32_t uModern = rtTimeChooseSource();
    EXPECT_NE(uModern, RTTIME_SOURCE_TICK_COUNT);
    struct Case {
        uint32_t uClass;
        bool fTickCount;
    };
    const Case aCases[] = {{1, true}, {7, true}, {100, true}, {101, false}, {116, false}, {199, false}};
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "class " << c.uClass);
        WindowsVersionClass = c.uClass;
        const uint32_t uSource = rtTimeChooseSource();
        if (c.fTickCount)
            EXPECT_EQ(uSource, RTTIME_SOURCE_TICK_COUNT);
        else
            EXPECT_EQ(uSource, uModern);
    }
    WindowsVersionClass = uSaved;
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
