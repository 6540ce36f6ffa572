// One-time initialisation under contention, stored statuses, reset, cleanup
// registration; and the termination-callback list behind it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <olma/initterm.h>
#include <olma/mem.h>
#include <olma/once.h>
#include <olma/time.h>
#include "common/misc/internal-term.h"
#include "Runtime/thread-helpers.h"

namespace {

struct InitCounter {
    std::atomic<int> cCalls{0};
    int rcToReturn = 0;
    /** Keeps the initialiser busy long enough for the others to pile up behind it. */
    RTMSINTERVAL cMsBusy = 0;
};

int CountingInit(void *pvUser) {
    auto *p = (InitCounter *)pvUser;
    p->cCalls++;
    if (p->cMsBusy)
        RTThreadSleep(p->cMsBusy);
    return p->rcToReturn;
}

TEST(Once, RunsOnceAndKeepsTheStatus) {
    for (int rcInit : {0, 42, ERR_NO_MEMORY}) {
        SCOPED_TRACE(testing::Message() << "initialiser returns " << rcInit);
        RTONCE Once = RTONCE_INITIALIZER;
        EXPECT_EQ(Once.state, RTONCESTATE_UNINITIALIZED);
        EXPECT_EQ(Once.rc, ERR_INTERNAL_ERROR);
        InitCounter Counter;
        Counter.rcToReturn = rcInit;
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(RTOnce(&Once, CountingInit, &Counter), rcInit);
        EXPECT_EQ(Counter.cCalls.load(), 1); // a failure is not retried either
        EXPECT_EQ(Once.state, RTONCESTATE_DONE);
        EXPECT_EQ(Once.event, NIL_RTSEMEVENTMULTI);

        RTOnceReset(&Once);
        EXPECT_EQ(Once.state, RTONCESTATE_UNINITIALIZED);
        EXPECT_EQ(Once.rc, ERR_INTERNAL_ERROR);
        EXPECT_EQ(RTOnce(&Once, CountingInit, &Counter), rcInit);
        EXPECT_EQ(Counter.cCalls.load(), 2);
    }
}

TEST(Once, UnknownStatesAreRefused) {
    for (int32_t iState : {0, 8, 15, 17, -1}) {
        SCOPED_TRACE(iState);
        RTONCE Once = RTONCE_INITIALIZER;
        Once.state = iState;
        InitCounter Counter;
        EXPECT_EQ(RTOnce(&Once, CountingInit, &Counter), ERR_INTERNAL_ERROR);
        EXPECT_EQ(Counter.cCalls.load(), 0);
    }
    // The done states hand out whatever status is stored.
    for (int32_t iState : {RTONCESTATE_DONE, RTONCESTATE_DONE_HAVE_SEM, RTONCESTATE_DONE_CREATING_SEM}) {
        SCOPED_TRACE(iState);
        RTONCE Once = RTONCE_INITIALIZER;
        Once.state = iState;
        Once.rc = 7;
        InitCounter Counter;
        EXPECT_EQ(RTOnce(&Once, CountingInit, &Counter), 7);
        EXPECT_EQ(Counter.cCalls.load(), 0);
    }
}

// Many rounds of several threads racing into the same record: the initialiser runs
// once per round and everybody gets its status, whether they arrived while it was
// running (and waited on the event) or afterwards.
TEST(Once, ConcurrentCallersAllGetTheInitialisersStatus) {
    constexpr int cThreads = 4;
    constexpr int cRounds = 60;
    const size_t cBlocksBefore = RTMemTestOutstanding();
    for (int iRound = 0; iRound < cRounds; iRound++) {
        SCOPED_TRACE(testing::Message() << "round " << iRound);
        RTONCE Once = RTONCE_INITIALIZER;
        InitCounter Counter;
        Counter.rcToReturn = 100 + iRound;
        Counter.cMsBusy = iRound % 3 == 0 ? 5 : 0; // some rounds make the others really wait
        std::atomic<int> cReady{0};
        std::atomic<bool> fGo{false};
        std::atomic<int> cWrong{0};
        std::vector<std::thread> Threads;
        for (int t = 0; t < cThreads; t++)
            Threads.emplace_back([&] {
                cReady++;
                while (!fGo)
                    std::this_thread::yield();
                if (RTOnce(&Once, CountingInit, &Counter) != Counter.rcToReturn)
                    cWrong++;
            });
        while (cReady < cThreads)
            std::this_thread::yield();
        fGo = true;
        for (auto &Thread : Threads)
            Thread.join();
        EXPECT_EQ(Counter.cCalls.load(), 1);
        EXPECT_EQ(cWrong.load(), 0);
        EXPECT_EQ(Once.state, RTONCESTATE_DONE);
        // Whoever waited on an event left nothing behind.
        EXPECT_EQ(Once.event, NIL_RTSEMEVENTMULTI);
        EXPECT_EQ(Once.eventRefs, 0);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

TEST(Once, WaitersBlockOnTheEventWhileTheInitialiserRuns) {
    tsthelp::InitThreads();
    RTONCE Once = RTONCE_INITIALIZER;
    RTSEMEVENT hRelease = NIL_RTSEMEVENT;
    ASSERT_EQ(RTSemEventCreate(&hRelease), 0);
    auto pfnInit = [](void *pvUser) -> int {
        return RTSemEventWait((RTSEMEVENT)pvUser, RT_INDEFINITE_WAIT) == 0 ? 55 : -1;
    };
    std::atomic<int> rcFirst{1}, rcSecond{1};
    {
        tsthelp::AdoptedThread First("oncefirst", [&] { rcFirst = RTOnce(&Once, pfnInit, hRelease); });
        ASSERT_TRUE(First.WaitBlocked(RTTHREADSTATE_EVENT)); // inside the initialiser
        tsthelp::AdoptedThread Second("oncesecond", [&] { rcSecond = RTOnce(&Once, pfnInit, hRelease); });
        ASSERT_TRUE(Second.WaitBlocked(RTTHREADSTATE_EVENT_MULTI));
        EXPECT_EQ(Once.state, RTONCESTATE_BUSY_HAVE_SEM);
        EXPECT_NE(Once.event, NIL_RTSEMEVENTMULTI);
        EXPECT_EQ(RTSemEventSignal(hRelease), 0);
    }
    EXPECT_EQ(rcFirst.load(), 55);
    EXPECT_EQ(rcSecond.load(), 55);
    EXPECT_EQ(Once.state, RTONCESTATE_DONE);
    EXPECT_EQ(Once.event, NIL_RTSEMEVENTMULTI);
    EXPECT_EQ(RTSemEventDestroy(hRelease), 0);
}

struct CleanupLog {
    int cCalls = 0;
    void *pvUserSeen = nullptr;
};
CleanupLog g_CleanupLog;

void RecordingCleanup(void *pvUser, bool fLazyCleanUpOk) {
    (void)fLazyCleanUpOk;
    g_CleanupLog.cCalls++;
    g_CleanupLog.pvUserSeen = pvUser;
}

TEST(Once, CleanupIsRecordedOnlyAfterSuccess) {
    RTONCE Failing = RTONCE_INITIALIZER;
    InitCounter FailCounter;
    FailCounter.rcToReturn = ERR_INVALID_PARAMETER;
    EXPECT_EQ(RTOnceEx(&Failing, CountingInit, RecordingCleanup, &FailCounter), ERR_INVALID_PARAMETER);
    EXPECT_EQ(Failing.cleanup, nullptr);
    EXPECT_EQ(Failing.listNode.pNext, nullptr);

    RTONCE Reset = RTONCE_INITIALIZER;
    InitCounter ResetCounter;
    EXPECT_EQ(RTOnceEx(&Reset, CountingInit, RecordingCleanup, &ResetCounter), 0);
    EXPECT_NE(Reset.listNode.pNext, nullptr);
    RTOnceReset(&Reset); // takes it off the list again
    EXPECT_EQ(Reset.listNode.pNext, nullptr);
    EXPECT_EQ(Reset.cleanup, nullptr);

    RTONCE Kept = RTONCE_INITIALIZER;
    InitCounter KeptCounter;
    EXPECT_EQ(RTOnceEx(&Kept, CountingInit, RecordingCleanup, &KeptCounter), 0);
    EXPECT_EQ(Kept.cleanup, &RecordingCleanup);
    EXPECT_EQ(Kept.cleanupUser, &KeptCounter);

    // Termination runs the cleanups that are still recorded, and only those.
    g_CleanupLog = {};
    rtTermRunCallbacks(RTTERMREASON_EXIT, 0);
    EXPECT_EQ(g_CleanupLog.cCalls, 1);
    EXPECT_EQ(g_CleanupLog.pvUserSeen, &KeptCounter);
    EXPECT_EQ(Kept.cleanup, nullptr);
}

struct TermLog {
    std::vector<std::pair<int, RTTERMREASON>> Calls;
};

void RecordingTermCallback(RTTERMREASON enmReason, int32_t iStatus, void *pvUser) {
    (void)iStatus;
    auto *p = (std::pair<TermLog *, int> *)pvUser;
    p->first->Calls.emplace_back(p->second, enmReason);
}

TEST(TermCallback, RegisteredCallbacksRunNewestFirst) {
    EXPECT_EQ(RTTermRegisterCallback(nullptr, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTTermRegisterCallback((PFNRTTERMCALLBACK)(uintptr_t)0x40, nullptr), ERR_INVALID_POINTER);

    rtTermRunCallbacks(RTTERMREASON_EXIT, 0); // start from an empty list
    TermLog Log;
    std::pair<TermLog *, int> aUsers[] = {{&Log, 1}, {&Log, 2}, {&Log, 3}};
    for (auto &User : aUsers)
        ASSERT_EQ(RTTermRegisterCallback(RecordingTermCallback, &User), 0);
    EXPECT_EQ(rtTermCallbackCount(), 3u);
    rtTermRunCallbacks(RTTERMREASON_UNLOAD, 0);
    ASSERT_EQ(Log.Calls.size(), 3u);
    EXPECT_EQ(Log.Calls[0].first, 3);
    EXPECT_EQ(Log.Calls[1].first, 2);
    EXPECT_EQ(Log.Calls[2].first, 1);
    EXPECT_EQ(Log.Calls[0].second, RTTERMREASON_UNLOAD);
    EXPECT_EQ(rtTermCallbackCount(), 0u);
}

TEST(TermCallback, RegistrationFailsCleanlyWithoutMemory) {
    // The list's lock exists after the first registration; what remains to fail is
    // the record itself.
    TermLog Log;
    std::pair<TermLog *, int> User{&Log, 9};
    ASSERT_EQ(RTTermRegisterCallback(RecordingTermCallback, &User), 0);
    const uint32_t cBefore = rtTermCallbackCount();
    const size_t cBlocksBefore = RTMemTestOutstanding();
    RTMemTestFailNth(1);
    EXPECT_EQ(RTTermRegisterCallback(RecordingTermCallback, &User), ERR_NO_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    EXPECT_EQ(rtTermCallbackCount(), cBefore);
    rtTermRunCallbacks(RTTERMREASON_EXIT, 0);
}

} // namespace
