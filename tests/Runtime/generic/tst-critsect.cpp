// Critical section and fast mutex: nesting, hand-over between threads, the no-op
// and no-nesting flavours, deletion under a waiter, and mutual exclusion under load.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include <olma/mem.h>
#include <olma/semaphore.h>
#include "generic/internal-sem.h"
#include "Runtime/thread-helpers.h"
#if !defined(_WIN32)
#include <csignal>
#endif

namespace {

class CritSect : public testing::Test {
protected:
    void SetUp() override { tsthelp::InitThreads(); }
};

/** What another thread gets from TryEnter (leaving again if it got in). */
int TryEnterFromOtherThread(RTCRITSECT *pCritSect) {
    int rc = 1;
    std::thread([&] {
        rc = RTCritSectTryEnter(pCritSect);
        if (rc == 0)
            EXPECT_EQ(RTCritSectLeave(pCritSect), 0);
    }).join();
    return rc;
}

TEST_F(CritSect, OwnerNestsAndNeedsAsManyLeaves) {
    RTCRITSECT Cs;
    ASSERT_EQ(RTCritSectInit(&Cs), 0);
    EXPECT_EQ(Cs.magic, RTCRITSECT_MAGIC);
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(Cs.owner, RTCRITSECT_NO_OWNER);
    EXPECT_FALSE(RTCritSectIsOwner(&Cs));

    ASSERT_EQ(RTCritSectEnter(&Cs), 0);
    ASSERT_EQ(RTCritSectEnter(&Cs), 0);
    ASSERT_EQ(RTCritSectTryEnter(&Cs), 0);
    EXPECT_EQ(Cs.nestings, 3u);
    EXPECT_EQ(Cs.lockers, 2);
    EXPECT_EQ(Cs.owner, RTThreadNativeSelf());
    EXPECT_TRUE(RTCritSectIsOwner(&Cs));

    for (int cLeft = 3; cLeft > 0; cLeft--) {
        SCOPED_TRACE(testing::Message() << cLeft << " enters outstanding");
        EXPECT_EQ(TryEnterFromOtherThread(&Cs), ERR_SEM_BUSY);
        EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    }
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(Cs.owner, RTCRITSECT_NO_OWNER);
    EXPECT_EQ(TryEnterFromOtherThread(&Cs), 0);
    EXPECT_EQ(RTCritSectDelete(&Cs), 0);
    EXPECT_EQ(Cs.magic, RTCRITSECT_MAGIC_DEAD);
}

TEST_F(CritSect, WaiterGetsTheSectionWhenTheOwnerLeaves) {
    RTCRITSECT Cs;
    ASSERT_EQ(RTCritSectInit(&Cs), 0);
    ASSERT_EQ(RTCritSectEnter(&Cs), 0);
    ASSERT_EQ(RTCritSectEnter(&Cs), 0);

    std::atomic<int> rcEnter{1};
    std::atomic<RTNATIVETHREAD> idWaiter{NIL_RTNATIVETHREAD};
    std::atomic<RTNATIVETHREAD> idOwnerSeen{NIL_RTNATIVETHREAD};
    RTSEMEVENT hDone = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hDone), 0);
    tsthelp::AdoptedThread Waiter("cswaiter", [&] {
        idWaiter = RTThreadNativeSelf();
        rcEnter = RTCritSectEnter(&Cs);
        idOwnerSeen = Cs.owner;
        // Hold on until the main thread has looked.
        EXPECT_EQ(RTSemEventWait(hDone, RT_INDEFINITE_WAIT), 0);
        EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    });
    ASSERT_TRUE(Waiter.WaitBlocked(RTTHREADSTATE_CRITSECT));
    EXPECT_EQ(Cs.lockers, 2); // two enters plus one waiter, minus one

    // The first leave only undoes the nesting: the waiter keeps waiting.
    EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    EXPECT_EQ(rcEnter.load(), 1);
    EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    ASSERT_TRUE(tsthelp::WaitFor([&] { return rcEnter.load() != 1; }));
    EXPECT_EQ(rcEnter.load(), 0);
    EXPECT_EQ(idOwnerSeen.load(), idWaiter.load());
    EXPECT_FALSE(RTCritSectIsOwner(&Cs));
    EXPECT_EQ(RTCritSectTryEnter(&Cs), ERR_SEM_BUSY);
    EXPECT_EQ(RTSemEventSignal(hDone), 0);
    Waiter.join();
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(RTCritSectDelete(&Cs), 0);
    EXPECT_EQ(RTSemEventDestroy(hDone), 0);
}

TEST_F(CritSect, LeaveByAThreadThatDoesNotOwnItIsRefused) {
    RTCRITSECT Cs;
    ASSERT_EQ(RTCritSectInit(&Cs), 0);
    int rc = 1;
    std::thread([&] { rc = RTCritSectLeave(&Cs); }).join();
    EXPECT_EQ(rc, ERR_NOT_OWNER);
    ASSERT_EQ(RTCritSectEnter(&Cs), 0);
    std::thread([&] { rc = RTCritSectLeave(&Cs); }).join();
    EXPECT_EQ(rc, ERR_NOT_OWNER);
    EXPECT_TRUE(RTCritSectIsOwner(&Cs));
    EXPECT_EQ(Cs.lockers, 0);
    EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    EXPECT_EQ(RTCritSectDelete(&Cs), 0);
}

TEST_F(CritSect, FlagsAndDeadSections) {
    RTCRITSECT Cs;
    EXPECT_EQ(RTCritSectInitEx(&Cs, 0x10, nullptr, 0, "x"), ERR_INVALID_PARAMETER);

    // No-op sections let everything through, even unbalanced leaves.
    ASSERT_EQ(RTCritSectInitEx(&Cs, RTCRITSECT_FLAGS_NOP, nullptr, 0, "nop"), 0);
    EXPECT_EQ(RTCritSectLeave(&Cs), 0);
    EXPECT_EQ(RTCritSectEnter(&Cs), 0);
    EXPECT_EQ(TryEnterFromOtherThread(&Cs), 0);
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(RTCritSectDelete(&Cs), 0);

    // Sections that were never set up, or are gone, refuse every operation.
    RTCRITSECT Zeroed = {};
    for (RTCRITSECT *p : {&Zeroed, &Cs}) {
        SCOPED_TRACE(p == &Cs ? "deleted" : "zeroed");
        EXPECT_EQ(RTCritSectEnter(p), ERR_SEM_DESTROYED);
        EXPECT_EQ(RTCritSectTryEnter(p), ERR_SEM_DESTROYED);
        EXPECT_EQ(RTCritSectLeave(p), ERR_SEM_DESTROYED);
        EXPECT_EQ(RTCritSectDelete(p), ERR_SEM_DESTROYED);
        EXPECT_FALSE(RTCritSectIsOwner(p));
    }
}

TEST_F(CritSect, FailedInitKeepsTheStatusInTheMagic) {
    const size_t cBlocksBefore = RTMemTestOutstanding();
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        ASSERT_LT(n, 10u);
        RTCRITSECT Cs;
        RTMemTestFailNth(n);
        const int rc = RTCritSectInit(&Cs);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTCritSectDelete(&Cs), 0);
            break;
        }
        EXPECT_EQ(rc, ERR_NO_MEMORY);
        EXPECT_EQ(Cs.magic, (uint32_t)ERR_NO_MEMORY);
        EXPECT_EQ(RTCritSectEnter(&Cs), ERR_SEM_DESTROYED);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

TEST_F(CritSect, DeleteWakesWaitersWithDestroyed) {
    RTCRITSECT Cs;
    ASSERT_EQ(RTCritSectInit(&Cs), 0);
    ASSERT_EQ(RTCritSectEnter(&Cs), 0);
    std::atomic<int> rc1{1}, rc2{1};
    {
        tsthelp::AdoptedThread W1("csdel1", [&] { rc1 = RTCritSectEnter(&Cs); });
        tsthelp::AdoptedThread W2("csdel2", [&] { rc2 = RTCritSectEnter(&Cs); });
        ASSERT_TRUE(W1.WaitBlocked(RTTHREADSTATE_CRITSECT));
        ASSERT_TRUE(W2.WaitBlocked(RTTHREADSTATE_CRITSECT));
        EXPECT_EQ(RTCritSectDelete(&Cs), 0);
    }
    EXPECT_EQ(rc1.load(), ERR_SEM_DESTROYED);
    EXPECT_EQ(rc2.load(), ERR_SEM_DESTROYED);
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(Cs.waitEvent, NIL_RTSEMEVENT);
}

TEST_F(CritSect, ExcludesUnderContention) {
    RTCRITSECT Cs;
    ASSERT_EQ(RTCritSectInit(&Cs), 0);
    constexpr int cThreads = 4;
    constexpr int cIterations = 3000;
    // Plain (non-atomic) data: only the section keeps it consistent.
    uint64_t uCounter = 0;
    int cInside = 0;
    std::atomic<int> cOverlaps{0}, cFailures{0};
    std::vector<std::thread> Threads;
    for (int t = 0; t < cThreads; t++)
        Threads.emplace_back([&, t] {
            for (int i = 0; i < cIterations; i++) {
                const bool fNest = (i + t) % 3 == 0;
                if (RTCritSectEnter(&Cs) != 0 || (fNest && RTCritSectEnter(&Cs) != 0)) {
                    cFailures++;
                    continue;
                }
                if (++cInside != 1)
                    cOverlaps++;
                uCounter++;
                cInside--;
                if (fNest)
                    (void)RTCritSectLeave(&Cs);
                if (RTCritSectLeave(&Cs) != 0)
                    cFailures++;
            }
        });
    for (auto &Thread : Threads)
        Thread.join();
    EXPECT_EQ(cFailures.load(), 0);
    EXPECT_EQ(cOverlaps.load(), 0);
    EXPECT_EQ(uCounter, (uint64_t)cThreads * cIterations);
    EXPECT_EQ(Cs.lockers, -1);
    EXPECT_EQ(RTCritSectDelete(&Cs), 0);
}

TEST_F(CritSect, FastMutexRefusesNesting) {
    RTSEMFASTMUTEX hMtx = NIL_RTSEMFASTMUTEX;
    ASSERT_EQ(RTSemFastMutexCreate(&hMtx), 0);
    ASSERT_EQ(RTSemFastMutexRequest(hMtx), 0);
    EXPECT_EQ(RTSemFastMutexRequest(hMtx), ERR_SEM_NESTED);
    EXPECT_EQ(RTCritSectTryEnter(hMtx), ERR_SEM_NESTED);
    // Still held exactly once: one release frees it.
    EXPECT_EQ(hMtx->lockers, 0);
    EXPECT_EQ(hMtx->nestings, 1u);
    EXPECT_EQ(TryEnterFromOtherThread(hMtx), ERR_SEM_BUSY);
    EXPECT_EQ(RTSemFastMutexRelease(hMtx), 0);
    EXPECT_EQ(TryEnterFromOtherThread(hMtx), 0);
    EXPECT_EQ(RTSemFastMutexDestroy(hMtx), 0);

    EXPECT_EQ(RTSemFastMutexDestroy(NIL_RTSEMFASTMUTEX), 0);
    EXPECT_EQ(RTSemFastMutexRequest((RTSEMFASTMUTEX)(uintptr_t)0x20), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemFastMutexRelease(NIL_RTSEMFASTMUTEX), ERR_INVALID_HANDLE);
}

TEST_F(CritSect, FastMutexCreateFailsCleanlyWithoutMemory) {
    const size_t cBlocksBefore = RTMemTestOutstanding();
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        ASSERT_LT(n, 10u);
        RTSEMFASTMUTEX hMtx = NIL_RTSEMFASTMUTEX;
        RTMemTestFailNth(n);
        const int rc = RTSemFastMutexCreate(&hMtx);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTSemFastMutexDestroy(hMtx), 0);
            break;
        }
        EXPECT_EQ(rc, ERR_NO_MEMORY);
        EXPECT_EQ(hMtx, NIL_RTSEMFASTMUTEX);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

#if !defined(_WIN32)
// A waiter that cannot be woken is fatal: the leave reports it and traps.
void LeaveWithBrokenWaitEvent() {
    RTCRITSECT Cs;
    if (RTCritSectInit(&Cs) != 0 || RTCritSectEnter(&Cs) != 0)
        exit(1);
    // Pretend a thread waits, on an event that is no event any more.
    static RTSEMEVENTINTERNAL s_Broken = {RTSEMEVENT_MAGIC + 1, 1, nullptr};
    Cs.lockers++;
    Cs.waitEvent = &s_Broken;
    (void)RTCritSectLeave(&Cs);
    exit(2);
}

TEST(CritSectDeathTest, FailedWakeUpIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        LeaveWithBrokenWaitEvent(), testing::KilledBySignal(SIGTRAP),
        "!!Assertion Failed!!\nExpression: RT_SUCCESS_NP\\(rc\\)\nLocation  : .*critsect-generic.cpp\\([0-9]+\\) "
        ".*RTCritSectLeave.*\nRTSemEventSignal -> ERR_INVALID_HANDLE\n");
}
#endif

} // namespace
