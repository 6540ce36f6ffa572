// Windows: the semaphore waits are alertable. A queued procedure call ends a wait
// that does not resume with ERR_INTERRUPTED, while a resuming wait goes on and still
// sees the signal.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include <olma/semaphore.h>
#include "Runtime/thread-helpers.h"

namespace {

std::atomic<int> g_cApcs{0};
void CALLBACK CountingApc(ULONG_PTR) {
    g_cApcs++;
}

struct Case {
    const char *pszWhat;
    bool fMulti;
    bool fResume;
    int rcExpect;
};

TEST(SemEventApc, InterruptionEndsOrResumesTheWait) {
    tsthelp::InitThreads();
    const Case aCases[] = {
        {"multi, no resume", true, false, ERR_INTERRUPTED},
        {"multi, resume", true, true, 0},
        {"event, no resume", false, false, ERR_INTERRUPTED},
        {"event, resume", false, true, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        RTSEMEVENT hEvt = NIL_RTSEMEVENT;
        RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
        ASSERT_EQ(RTSemEventCreate(&hEvt), 0);
        ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
        const int cApcsBefore = g_cApcs;
        std::atomic<int> rc{1};
        std::atomic<HANDLE> hThread{nullptr};
        {
            tsthelp::AdoptedThread Waiter("apcwaiter", [&] {
                HANDLE h = nullptr;
                DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                                DUPLICATE_SAME_ACCESS);
                hThread = h;
                const uint32_t fFlags =
                    RTSEMWAIT_FLAGS_INDEFINITE | (c.fResume ? RTSEMWAIT_FLAGS_RESUME : RTSEMWAIT_FLAGS_NORESUME);
                rc = c.fMulti ? RTSemEventMultiWaitEx(hMulti, fFlags, 0) : RTSemEventWaitEx(hEvt, fFlags, 0);
            });
            ASSERT_TRUE(Waiter.WaitBlocked(c.fMulti ? RTTHREADSTATE_EVENT_MULTI : RTTHREADSTATE_EVENT));
            ASSERT_NE(QueueUserAPC(CountingApc, hThread.load(), 0), 0u);
            ASSERT_TRUE(tsthelp::WaitFor([&] { return g_cApcs > cApcsBefore; }));
            if (c.fResume) {
                // Back in the wait after the call: only the signal ends it.
                ASSERT_TRUE(Waiter.WaitBlocked(c.fMulti ? RTTHREADSTATE_EVENT_MULTI : RTTHREADSTATE_EVENT));
                EXPECT_EQ(rc.load(), 1);
                EXPECT_EQ(c.fMulti ? RTSemEventMultiSignal(hMulti) : RTSemEventSignal(hEvt), 0);
            }
        }
        EXPECT_EQ(rc.load(), c.rcExpect);
        CloseHandle(hThread.load());
        EXPECT_EQ(RTSemEventDestroy(hEvt), 0);
        EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
    }
}

// A resuming wait with a time-out goes on after the call with the time that is
// left and ends with the time-out, not with the interruption.
TEST(SemEventApc, ResumedTimedWaitStillTimesOut) {
    tsthelp::InitThreads();
    RTSEMEVENTMULTI hMulti = NIL_RTSEMEVENTMULTI;
    ASSERT_EQ(RTSemEventMultiCreate(&hMulti), 0);
    std::atomic<int> rc{1};
    std::atomic<HANDLE> hThread{nullptr};
    const int cApcsBefore = g_cApcs;
    {
        tsthelp::AdoptedThread Waiter("apctimed", [&] {
            HANDLE h = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
            hThread = h;
            rc = RTSemEventMultiWait(hMulti, 300);
        });
        ASSERT_TRUE(Waiter.WaitBlocked(RTTHREADSTATE_EVENT_MULTI));
        ASSERT_NE(QueueUserAPC(CountingApc, hThread.load(), 0), 0u);
        ASSERT_TRUE(tsthelp::WaitFor([&] { return g_cApcs > cApcsBefore; }));
    }
    EXPECT_EQ(rc.load(), ERR_TIMEOUT);
    CloseHandle(hThread.load());
    EXPECT_EQ(RTSemEventMultiDestroy(hMulti), 0);
}

} // namespace
