// Event and multi-event semaphores: statuses for bad records and flags, auto-reset
// versus manual-reset behaviour, destruction under a waiter, time-outs and the
// millisecond value from which a wait counts as indefinite.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include <olma/mem.h>
#include <olma/semaphore.h>
#include <olma/time.h>
#include "generic/internal-sem.h"
#include "Runtime/thread-helpers.h"

namespace {

class SemEvent : public testing::Test {
protected:
    void SetUp() override { tsthelp::InitThreads(); }
};

TEST_F(SemEvent, AutoResetReleasesOneWaitPerSignal) {
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    EXPECT_EQ(RTSemEventWait(hEvt, 0), ERR_TIMEOUT);
    // Signals do not add up: two signals with nobody waiting release one wait.
    EXPECT_EQ(RTSemEventSignal(hEvt), 0);
    EXPECT_EQ(RTSemEventSignal(hEvt), 0);
    EXPECT_EQ(RTSemEventWait(hEvt, 0), 0);
    EXPECT_EQ(RTSemEventWait(hEvt, 0), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
}

TEST_F(SemEvent, ManualResetStaysSignalledUntilReset) {
    RTSEMEVENTMULTI hEvt = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventMultiCreate(&hEvt), 0);
    EXPECT_EQ(RTSemEventMultiWait(hEvt, 0), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventMultiWaitNoResume(hEvt, 0), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventMultiSignal(hEvt), 0);
    EXPECT_EQ(RTSemEventMultiWait(hEvt, 0), 0);
    EXPECT_EQ(RTSemEventMultiWait(hEvt, 0), 0);
    EXPECT_EQ(RTSemEventMultiWaitNoResume(hEvt, RT_INDEFINITE_WAIT), 0);
    EXPECT_EQ(RTSemEventMultiReset(hEvt), 0);
    EXPECT_EQ(RTSemEventMultiWait(hEvt, 0), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventMultiDestroy(hEvt), 0);
}

TEST_F(SemEvent, CreateFlags) {
    struct Case {
        uint32_t fFlags;
        int rcEvent;
        int rcMulti;
    };
    const Case aCases[] = {
        {0, 0, 0},
        {RTSEMEVENT_FLAGS_NO_LOCK_VAL, 0, 0},
        {RTSEMEVENT_FLAGS_BOOTSTRAP_HACK, 0, ERR_INVALID_PARAMETER},
        {RTSEMEVENT_FLAGS_NO_LOCK_VAL | RTSEMEVENT_FLAGS_BOOTSTRAP_HACK, 0, ERR_INVALID_PARAMETER},
        {0x2, ERR_INVALID_PARAMETER, ERR_INVALID_PARAMETER},
        {0x80000000, ERR_INVALID_PARAMETER, ERR_INVALID_PARAMETER},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.fFlags);
        RTSEMEVENT hEvt = NIL_RTSEMEVENT;
        EXPECT_EQ(RTSemEventCreateEx(&hEvt, c.fFlags), c.rcEvent);
        EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
        RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
        EXPECT_EQ(RTSemEventMultiCreateEx(&hMulti, c.fFlags), c.rcMulti);
        EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
    }
}

TEST_F(SemEvent, BadRecordsAreRefused) {
    // A record that looks like a semaphore but carries the wrong magic, and a
    // pointer into the first page.
    RTSEMEVENTINTERNAL FakeEvt = {RTSEMEVENT_MAGIC + 1, 1, nullptr};
    RTSEMEVENTMULTIINTERNAL FakeMulti = {RTSEMEVENTMULTI_MAGIC + 1, 1, nullptr};
    auto *pLowEvt = (RTSEMEVENT)(uintptr_t)0x10;
    auto *pLowMulti = (RTSEMEVENTMULTI)(uintptr_t)0x10;
    const uint32_t fRel = RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_MILLISECS | RTSEMWAIT_FLAGS_RESUME;

    EXPECT_EQ(RTSemEventSignal(nullptr), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemEventSignal(&FakeEvt), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemEventWait(nullptr, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventWaitEx(nullptr, fRel, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventWait(&FakeEvt, 0), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemEventWait(pLowEvt, 0), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemEventDestroy(nullptr), 0);
    EXPECT_EQ(RTSemEventDestroy(&FakeEvt), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemEventDestroy(pLowEvt), ERR_INVALID_HANDLE);

    EXPECT_EQ(RTSemEventMultiSignal(nullptr), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiSignal(&FakeMulti), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiReset(&FakeMulti), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiWait(nullptr, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiWait(&FakeMulti, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiWaitEx(pLowMulti, fRel, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiDestroy(nullptr), 0);
    EXPECT_EQ(RTSemEventMultiDestroy(&FakeMulti), ERR_INVALID_PARAMETER);

    // The fakes were not touched.
    EXPECT_EQ(FakeEvt.magic, RTSEMEVENT_MAGIC + 1);
    EXPECT_EQ(FakeEvt.refs, 1);
    EXPECT_EQ(FakeMulti.refs, 1);

    // Each semaphore kind refuses the other's records.
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    EXPECT_EQ(RTSemEventMultiSignal((RTSEMEVENTMULTI)(void *)hEvt), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventMultiDestroy((RTSEMEVENTMULTI)(void *)hEvt), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
}

TEST_F(SemEvent, WaitFlagValidation) {
    struct Case {
        uint32_t fFlags;
        bool fValid;
    };
    const uint32_t R = RTSEMWAIT_FLAGS_RELATIVE, A = RTSEMWAIT_FLAGS_ABSOLUTE, NS = RTSEMWAIT_FLAGS_NANOSECS,
                   MS = RTSEMWAIT_FLAGS_MILLISECS, I = RTSEMWAIT_FLAGS_INDEFINITE, NR = RTSEMWAIT_FLAGS_NORESUME,
                   RS = RTSEMWAIT_FLAGS_RESUME;
    const Case aCases[] = {
        {R | MS | NR, true},
        {R | NS | RS, true},
        {A | MS | RS, true},
        {A | NS | NR, true},
        {I | NR, true},
        {I | RS, true},
        {0, false},
        {R | MS, false},
        {R | A | MS | NR, false},
        {R | MS | NS | NR, false},
        {R | MS | NR | RS, false},
        {I, false},
        {I | NR | RS, false},
        {I | R | NR, false},
        {I | MS | RS, false},
        {R | NR, false},
        {MS | NR, false},
        {R | MS | NR | 0x80, false},
    };
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
    // Signalled, so that every valid combination returns at once.
    ASSERT_EQ(RTSemEventMultiSignal(hMulti), 0);
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.fFlags);
        EXPECT_EQ(RTSEMWAIT_FLAGS_ARE_VALID(c.fFlags), c.fValid);
        ASSERT_EQ(RTSemEventSignal(hEvt), 0);
        EXPECT_EQ(RTSemEventWaitEx(hEvt, c.fFlags, 0), c.fValid ? 0 : ERR_INVALID_FLAGS);
        EXPECT_EQ(RTSemEventMultiWaitEx(hMulti, c.fFlags, 0), c.fValid ? 0 : ERR_INVALID_PARAMETER);
    }
    EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
    EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
}

TEST_F(SemEvent, TimeoutsExpire) {
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
    const uint64_t u64Now = RTTimeNanoTS();
    struct Case {
        const char *pszWhat;
        uint32_t fFlags;
        uint64_t uTimeout;
    };
    const uint32_t NR = RTSEMWAIT_FLAGS_NORESUME, RS = RTSEMWAIT_FLAGS_RESUME;
    const Case aCases[] = {
        {"relative 0 ms", RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_MILLISECS | NR, 0},
        {"relative 20 ms", RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_MILLISECS | RS, 20},
        {"relative 15 ms in ns", RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_NANOSECS | NR, 15000000},
        {"absolute in the past", RTSEMWAIT_FLAGS_ABSOLUTE | RTSEMWAIT_FLAGS_NANOSECS | NR, u64Now / 2},
        {"absolute 0", RTSEMWAIT_FLAGS_ABSOLUTE | RTSEMWAIT_FLAGS_MILLISECS | RS, 0},
        {"absolute 20 ms ahead", RTSEMWAIT_FLAGS_ABSOLUTE | RTSEMWAIT_FLAGS_NANOSECS | RS, RTTimeNanoTS() + 20000000},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(RTSemEventWaitEx(hEvt, c.fFlags, c.uTimeout), ERR_TIMEOUT);
        EXPECT_EQ(RTSemEventMultiWaitEx(hMulti, c.fFlags, c.uTimeout), ERR_TIMEOUT);
    }
    EXPECT_EQ(RTSemEventWait(hEvt, 10), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventMultiWait(hMulti, 10), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventMultiWaitNoResume(hMulti, 10), ERR_TIMEOUT);
    EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
    EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
}

// From 18446744073709 ms on, the nanosecond count would overflow: such waits, and
// the all-ones value in either unit, must wait for the signal instead of ending at
// once with a wrapped-around time-out.
TEST_F(SemEvent, HugeMillisecondTimeoutsWaitForTheSignal) {
    struct Case {
        uint32_t fUnit;
        uint64_t uTimeout;
    };
    const Case aCases[] = {
        {RTSEMWAIT_FLAGS_MILLISECS, RTSEMWAIT_MS_INDEFINITE_THRESHOLD - 1},
        {RTSEMWAIT_FLAGS_MILLISECS, RTSEMWAIT_MS_INDEFINITE_THRESHOLD},
        {RTSEMWAIT_FLAGS_MILLISECS, RTSEMWAIT_MS_INDEFINITE_THRESHOLD + 1},
        {RTSEMWAIT_FLAGS_MILLISECS, UINT64_MAX / 1000000 + 1},
        {RTSEMWAIT_FLAGS_MILLISECS, UINT64_MAX},
        {RTSEMWAIT_FLAGS_NANOSECS, UINT64_MAX},
        {RTSEMWAIT_FLAGS_NANOSECS, UINT64_MAX - 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "timeout " << c.uTimeout
                                        << (c.fUnit == RTSEMWAIT_FLAGS_MILLISECS ? " ms" : " ns"));
        RTSEMEVENT hEvt = NIL_RTSEMEVENT;
        RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
        ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
        ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
        std::atomic<int> rcEvt{1}, rcMulti{1};
        {
            tsthelp::AdoptedThread Evt("evtwaiter", [&] {
                rcEvt = RTSemEventWaitEx(hEvt, RTSEMWAIT_FLAGS_RELATIVE | c.fUnit | RTSEMWAIT_FLAGS_RESUME, c.uTimeout);
            });
            tsthelp::AdoptedThread Multi("multiwaiter", [&] {
                rcMulti = RTSemEventMultiWaitEx(hMulti, RTSEMWAIT_FLAGS_RELATIVE | c.fUnit | RTSEMWAIT_FLAGS_NORESUME,
                                                c.uTimeout);
            });
            EXPECT_TRUE(Evt.WaitBlocked(RTTHREADSTATE_EVENT));
            EXPECT_TRUE(Multi.WaitBlocked(RTTHREADSTATE_EVENT_MULTI));
            EXPECT_EQ(RTSemEventSignal(hEvt), 0);
            EXPECT_EQ(RTSemEventMultiSignal(hMulti), 0);
        }
        EXPECT_EQ(rcEvt.load(), 0);
        EXPECT_EQ(rcMulti.load(), 0);
        EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
        EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
    }
}

TEST_F(SemEvent, MultiSignalWakesEveryWaiter) {
    RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
    constexpr int cWaiters = 4;
    std::atomic<int> acRc[cWaiters];
    {
        std::vector<std::unique_ptr<tsthelp::AdoptedThread>> Threads;
        for (int i = 0; i < cWaiters; i++) {
            acRc[i] = 1;
            Threads.push_back(std::make_unique<tsthelp::AdoptedThread>(
                "multi", [&, i] { acRc[i] = RTSemEventMultiWait(hMulti, RT_INDEFINITE_WAIT); }));
        }
        for (auto &pThread : Threads)
            EXPECT_TRUE(pThread->WaitBlocked(RTTHREADSTATE_EVENT_MULTI));
        EXPECT_EQ(RTSemEventMultiSignal(hMulti), 0);
    }
    for (int i = 0; i < cWaiters; i++)
        EXPECT_EQ(acRc[i].load(), 0) << "waiter " << i;
    EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
}

TEST_F(SemEvent, SignalFromAnotherThreadEndsTheWait) {
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    // Ping-pong: each round trip needs exactly one signal per direction.
    RTSEMEVENT hBack = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hBack), 0);
    constexpr int cRounds = 200;
    std::atomic<int> cFailures{0};
    std::thread Peer([&] {
        for (int i = 0; i < cRounds; i++) {
            if (RTSemEventWait(hEvt, RT_INDEFINITE_WAIT) != 0)
                cFailures++;
            if (RTSemEventSignal(hBack) != 0)
                cFailures++;
        }
    });
    for (int i = 0; i < cRounds; i++) {
        ASSERT_EQ(RTSemEventSignal(hEvt), 0);
        ASSERT_EQ(RTSemEventWait(hBack, RT_INDEFINITE_WAIT), 0);
    }
    Peer.join();
    EXPECT_EQ(cFailures.load(), 0);
    EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
    EXPECT_EQ(RTSemEventDestroy(hBack), 0);
}

// Destroying a semaphore must wake every thread that waits on it, and each of them
// must learn why. Two waiters on the auto-reset kind check that the wake-up is not
// swallowed by the first one.
TEST_F(SemEvent, DestroyWhileWaitingEndsEveryWait) {
    const size_t cBlocksBefore = RTMemTestOutstanding();
    RTSEMEVENT hEvt = NIL_RTSEMEVENT;
    RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
    ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
    std::atomic<int> rcEvt1{1}, rcEvt2{1}, rcMulti{1};
    {
        tsthelp::AdoptedThread Evt1("evt1", [&] { rcEvt1 = RTSemEventWait(hEvt, RT_INDEFINITE_WAIT); });
        tsthelp::AdoptedThread Evt2("evt2", [&] { rcEvt2 = RTSemEventWait(hEvt, RT_INDEFINITE_WAIT); });
        tsthelp::AdoptedThread Multi("multi", [&] { rcMulti = RTSemEventMultiWait(hMulti, RT_INDEFINITE_WAIT); });
        ASSERT_TRUE(Evt1.WaitBlocked(RTTHREADSTATE_EVENT));
        ASSERT_TRUE(Evt2.WaitBlocked(RTTHREADSTATE_EVENT));
        ASSERT_TRUE(Multi.WaitBlocked(RTTHREADSTATE_EVENT_MULTI));
        EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
        EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
    }
    EXPECT_EQ(rcEvt1.load(), ERR_SEM_DESTROYED);
    EXPECT_EQ(rcEvt2.load(), ERR_SEM_DESTROYED);
    EXPECT_EQ(rcMulti.load(), ERR_SEM_DESTROYED);
    // The last waiter freed the records.
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

TEST_F(SemEvent, CreateFailsCleanlyWithoutMemory) {
    const size_t cBlocksBefore = RTMemTestOutstanding();
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        ASSERT_LT(n, 10u);
        RTSEMEVENT hEvt = NIL_RTSEMEVENT;
        RTMemTestFailNth(n);
        const int rc = RTSemEventCreate(&hEvt);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
            break;
        }
        EXPECT_EQ(rc, ERR_NO_MEMORY);
        EXPECT_EQ(hEvt, NIL_RTSEMEVENT);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    }
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        ASSERT_LT(n, 10u);
        RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
        RTMemTestFailNth(n);
        const int rc = RTSemEventMultiCreate(&hMulti);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
            break;
        }
        EXPECT_EQ(rc, ERR_NO_MEMORY);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

} // namespace
