// Read/write semaphore, write side: recursion, ownership, waiting writers with and
// without time-out, and destruction rules.
#include <gtest/gtest.h>

#include <atomic>

#include <olma/mem.h>
#include <olma/semaphore.h>
#include "Runtime/thread-helpers.h"

namespace {

class SemRW : public testing::Test {
protected:
    void SetUp() override { tsthelp::InitThreads(); }
};

TEST_F(SemRW, WriterRecursesAndReleasesInOrder) {
    RTSEMRW hRW = NIL_RTSEMRW;
    ASSERT_EQ(RTSemRWCreate(&hRW), 0);
    EXPECT_EQ(RTSemRWReleaseWrite(hRW), ERR_NOT_OWNER);
    EXPECT_FALSE(RTSemRWIsWriteOwner(hRW));
    ASSERT_EQ(RTSemRWRequestWrite(hRW, 0), 0);
    ASSERT_EQ(RTSemRWRequestWrite(hRW, RT_INDEFINITE_WAIT), 0);
    EXPECT_TRUE(RTSemRWIsWriteOwner(hRW));
    EXPECT_EQ(RTSemRWDestroy(hRW), ERR_SEM_BUSY);

    int rcOther = 1;
    std::thread([&] { rcOther = RTSemRWReleaseWrite(hRW); }).join();
    EXPECT_EQ(rcOther, ERR_NOT_OWNER);

    EXPECT_EQ(RTSemRWReleaseWrite(hRW), 0);
    EXPECT_TRUE(RTSemRWIsWriteOwner(hRW));
    EXPECT_EQ(RTSemRWReleaseWrite(hRW), 0);
    EXPECT_FALSE(RTSemRWIsWriteOwner(hRW));
    EXPECT_EQ(RTSemRWReleaseWrite(hRW), ERR_NOT_OWNER);
    EXPECT_EQ(RTSemRWDestroy(hRW), 0);
}

TEST_F(SemRW, OtherWriterTimesOutOrWaits) {
    RTSEMRW hRW = NIL_RTSEMRW;
    ASSERT_EQ(RTSemRWCreate(&hRW), 0);
    ASSERT_EQ(RTSemRWRequestWrite(hRW, 0), 0);

    for (RTMSINTERVAL cMillies : {0u, 15u}) {
        SCOPED_TRACE(testing::Message() << cMillies << " ms");
        int rc = 1;
        std::thread([&] { rc = RTSemRWRequestWrite(hRW, cMillies); }).join();
        EXPECT_EQ(rc, ERR_TIMEOUT);
    }

    std::atomic<int> rcWaiter{1};
    std::atomic<bool> fWasOwner{false};
    {
        tsthelp::AdoptedThread Waiter("rwwaiter", [&] {
            rcWaiter = RTSemRWRequestWrite(hRW, RT_INDEFINITE_WAIT);
            if (rcWaiter == 0) {
                fWasOwner = RTSemRWIsWriteOwner(hRW);
                EXPECT_EQ(RTSemRWReleaseWrite(hRW), 0);
            }
        });
        ASSERT_TRUE(Waiter.WaitBlocked(RTTHREADSTATE_RW_WRITE));
        EXPECT_EQ(rcWaiter.load(), 1);
        EXPECT_EQ(RTSemRWReleaseWrite(hRW), 0);
    }
    EXPECT_EQ(rcWaiter.load(), 0);
    EXPECT_TRUE(fWasOwner.load());
    // Both released: free for anybody, and destroyable.
    ASSERT_EQ(RTSemRWRequestWrite(hRW, 0), 0);
    EXPECT_EQ(RTSemRWReleaseWrite(hRW), 0);
    EXPECT_EQ(RTSemRWDestroy(hRW), 0);
}

TEST_F(SemRW, WritersTakeTurnsUnderContention) {
    RTSEMRW hRW = NIL_RTSEMRW;
    ASSERT_EQ(RTSemRWCreate(&hRW), 0);
    constexpr int cThreads = 3;
    constexpr int cIterations = 500;
    uint64_t uCounter = 0;
    std::atomic<int> cFailures{0};
    std::vector<std::thread> Threads;
    for (int t = 0; t < cThreads; t++)
        Threads.emplace_back([&] {
            for (int i = 0; i < cIterations; i++) {
                if (RTSemRWRequestWrite(hRW, RT_INDEFINITE_WAIT) != 0) {
                    cFailures++;
                    continue;
                }
                uCounter++;
                if (RTSemRWReleaseWrite(hRW) != 0)
                    cFailures++;
            }
        });
    for (auto &Thread : Threads)
        Thread.join();
    EXPECT_EQ(cFailures.load(), 0);
    EXPECT_EQ(uCounter, (uint64_t)cThreads * cIterations);
    EXPECT_EQ(RTSemRWDestroy(hRW), 0);
}

TEST_F(SemRW, BadHandlesAndFlags) {
    RTSEMRW hRW = NIL_RTSEMRW;
    EXPECT_EQ(RTSemRWCreateEx(&hRW, 2), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTSemRWDestroy(NIL_RTSEMRW), 0);
    auto hLow = (RTSEMRW)(uintptr_t)0x100;
    EXPECT_EQ(RTSemRWDestroy(hLow), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemRWRequestWrite(NIL_RTSEMRW, 0), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemRWRequestWrite(hLow, 0), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTSemRWReleaseWrite(hLow), ERR_INVALID_HANDLE);
    EXPECT_FALSE(RTSemRWIsWriteOwner(hLow));
}

TEST_F(SemRW, CreateFailsCleanlyWithoutMemory) {
    const size_t cBlocksBefore = RTMemTestOutstanding();
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        ASSERT_LT(n, 20u);
        RTSEMRW hRW = NIL_RTSEMRW;
        RTMemTestFailNth(n);
        const int rc = RTSemRWCreate(&hRW);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTSemRWDestroy(hRW), 0);
            break;
        }
        EXPECT_EQ(rc, ERR_NO_MEMORY);
        EXPECT_EQ(hRW, NIL_RTSEMRW);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

} // namespace
