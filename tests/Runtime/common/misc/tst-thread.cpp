// Thread records and the registry: adoption of "main" (including every allocation
// failing in turn), the balanced tree, adoption of further threads, reuse of a
// native id, reference counting, blocking bookkeeping and thread-local storage.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <olma/mem.h>
#include <olma/thread.h>
#if defined(__linux__)
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include "common/misc/internal-thread.h"
#include "Runtime/thread-helpers.h"

namespace {

// The registry is set up before any test of this program runs (other tests here
// need it): every allocation of the set-up fails in turn first. What happened is
// checked by the first test.
struct InitAttempt {
    uint32_t nFail;
    int rc;
    bool fInitialized;
    bool fHasSelf;
    uint32_t cInTree;
    size_t cLeakedBlocks;
};
std::vector<InitAttempt> g_InitAttempts;
bool g_fSelfBeforeInit = true;

class ThreadInitEnvironment : public testing::Environment {
public:
    void SetUp() override {
        g_fSelfBeforeInit = RTThreadSelf() != NIL_RTTHREAD || rtThreadIsInitialized();
        const size_t cBlocksBefore = RTMemTestOutstanding();
        for (uint32_t n = 1; n < 40; n++) {
            RTMemTestFailNth(n);
            const int rc = rtThreadInit();
            RTMemTestFailNth(0);
            g_InitAttempts.push_back({n, rc, rtThreadIsInitialized(), RTThreadSelf() != NIL_RTTHREAD,
                                      rtThreadTreeCount(), RTMemTestOutstanding() - cBlocksBefore});
            if (rc == 0)
                break;
        }
    }
};
const testing::Environment *g_pThreadInitEnv = testing::AddGlobalTestEnvironment(new ThreadInitEnvironment);

TEST(Thread, InitAdoptsTheCallingThreadAsMain) {
    EXPECT_FALSE(g_fSelfBeforeInit);
    ASSERT_FALSE(g_InitAttempts.empty());
    ASSERT_EQ(g_InitAttempts.back().rc, 0);
    ASSERT_GT(g_InitAttempts.size(), 3u); // semaphore, record and its events at least
    for (const InitAttempt &a : g_InitAttempts) {
        if (a.rc == 0)
            break;
        SCOPED_TRACE(testing::Message() << "failing allocation " << a.nFail);
        EXPECT_EQ(a.rc, ERR_NO_MEMORY);
        EXPECT_FALSE(a.fInitialized);
        EXPECT_FALSE(a.fHasSelf);
        EXPECT_EQ(a.cInTree, 0u);
        EXPECT_EQ(a.cLeakedBlocks, 0u);
    }
    ASSERT_TRUE(rtThreadIsInitialized());

    RTTHREADINT *pMain = RTThreadSelf();
    ASSERT_NE(pMain, nullptr);
    EXPECT_STREQ(RTThreadGetName(pMain), "main");
    EXPECT_EQ(pMain->magic, RTTHREADINT_MAGIC);
    EXPECT_EQ(pMain->type, (uint32_t)RTTHREADTYPE_MAIN_WORKER);
    EXPECT_EQ(pMain->intFlags, RTTHREADINT_FLAGS_ALIEN | RTTHREADINT_FLAGS_IN_TREE | RTTHREADINT_FLAGS_MAIN);
    EXPECT_EQ(pMain->flags, 0u);
    EXPECT_EQ(pMain->refs, 1u); // the adoption's own reference is gone again
    EXPECT_EQ(RTThreadGetState(pMain), RTTHREADSTATE_RUNNING);
    EXPECT_EQ(pMain->exitStatus, ERR_THREAD_NOT_TERMINATED);
    EXPECT_EQ(pMain->nativeHandle, RTTHREAD_NO_NATIVE_HANDLE);
    EXPECT_EQ(RTThreadGetNative(pMain), RTThreadNativeSelf());
    EXPECT_NE(pMain->terminatedEvent, NIL_RTSEMEVENTMULTI);
    EXPECT_NE(pMain->secondEvent, NIL_RTSEMEVENTMULTI);
    EXPECT_EQ(rtThreadLookupNative(RTThreadNativeSelf()), pMain);
    EXPECT_EQ(rtThreadTreeCount(), 1u);
    EXPECT_EQ(rtThreadTypeCount(RTTHREADTYPE_MAIN_WORKER), 1u);
#if defined(__linux__)
    char szName[32] = {};
    ASSERT_EQ(pthread_getname_np(pthread_self(), szName, sizeof(szName)), 0);
    EXPECT_STREQ(szName, "main");
#endif

    // A second call finds everything in place and adopts nothing.
    EXPECT_EQ(rtThreadInit(), INF_ALREADY_INITIALIZED);
    EXPECT_EQ(RTThreadSelf(), pMain);
    EXPECT_EQ(rtThreadTreeCount(), 1u);
}

/** Checks order, heights and balance of a subtree; returns its height. */
int CheckAvl(const RTTHREADINT *pNode, int64_t iMin, int64_t iMax, size_t *pcNodes) {
    if (!pNode)
        return 0;
    EXPECT_GT((int64_t)pNode->nativeId, iMin);
    EXPECT_LT((int64_t)pNode->nativeId, iMax);
    (*pcNodes)++;
    const int hl = CheckAvl(pNode->left, iMin, pNode->nativeId, pcNodes);
    const int hr = CheckAvl(pNode->right, pNode->nativeId, iMax, pcNodes);
    EXPECT_LE(std::abs(hl - hr), 1) << "unbalanced at " << pNode->nativeId;
    const int h = std::max(hl, hr) + 1;
    EXPECT_EQ(pNode->height, h) << "stale height at " << pNode->nativeId;
    return h;
}

TEST(Thread, TreeStaysOrderedAndBalanced) {
    constexpr size_t cNodes = 2000;
    std::vector<RTTHREADINT> aNodes(cNodes);
    std::vector<uint32_t> aKeys(cNodes);
    for (size_t i = 0; i < cNodes; i++)
        aKeys[i] = (uint32_t)(i * 7 + 3);
    aKeys[cNodes - 1] = UINT32_MAX; // the extreme key too
    std::mt19937 Rng(1234);
    std::shuffle(aKeys.begin(), aKeys.end(), Rng);

    RTTHREADINT *pRoot = nullptr;
    for (size_t i = 0; i < cNodes; i++) {
        aNodes[i] = RTTHREADINT{};
        aNodes[i].nativeId = aKeys[i];
        ASSERT_TRUE(rtThreadTreeInsert(&pRoot, &aNodes[i]));
    }
    // Sorted insertion is the classic way to degenerate an unbalanced tree.
    std::vector<RTTHREADINT> aSorted(64);
    for (size_t i = 0; i < aSorted.size(); i++) {
        aSorted[i] = RTTHREADINT{};
        aSorted[i].nativeId = (uint32_t)(100000 + i);
        ASSERT_TRUE(rtThreadTreeInsert(&pRoot, &aSorted[i]));
    }
    size_t cSeen = 0;
    const int h = CheckAvl(pRoot, -1, (int64_t)UINT32_MAX + 1, &cSeen);
    EXPECT_EQ(cSeen, cNodes + aSorted.size());
    EXPECT_LE(h, 16); // 1.44 log2(n) bounds an AVL tree of ~2000 nodes

    // A duplicate key is refused and leaves the tree as it was.
    RTTHREADINT Dup{};
    Dup.nativeId = aKeys[5];
    EXPECT_FALSE(rtThreadTreeInsert(&pRoot, &Dup));
    EXPECT_EQ(rtThreadTreeLookup(pRoot, aKeys[5]), &aNodes[5]);

    for (size_t i = 0; i < cNodes; i++)
        ASSERT_EQ(rtThreadTreeLookup(pRoot, aKeys[i]), &aNodes[i]);
    EXPECT_EQ(rtThreadTreeLookup(pRoot, 1), nullptr);
    EXPECT_EQ(rtThreadTreeRemove(&pRoot, 1), nullptr);

    // Remove every other node, in another random order.
    std::vector<size_t> aOrder;
    for (size_t i = 0; i < cNodes; i += 2)
        aOrder.push_back(i);
    std::shuffle(aOrder.begin(), aOrder.end(), Rng);
    for (size_t i : aOrder)
        ASSERT_EQ(rtThreadTreeRemove(&pRoot, aKeys[i]), &aNodes[i]);
    cSeen = 0;
    CheckAvl(pRoot, -1, (int64_t)UINT32_MAX + 1, &cSeen);
    EXPECT_EQ(cSeen, cNodes / 2 + aSorted.size());
    for (size_t i = 0; i < cNodes; i++)
        EXPECT_EQ(rtThreadTreeLookup(pRoot, aKeys[i]), i % 2 ? &aNodes[i] : nullptr);
}

TEST(Thread, AdoptedThreadsAreRegisteredUntilReleased) {
    tsthelp::InitThreads();
    const uint32_t cBefore = rtThreadTreeCount();
    const uint32_t cDefaultBefore = rtThreadTypeCount(RTTHREADTYPE_DEFAULT);
    const size_t cBlocksBefore = RTMemTestOutstanding();
    constexpr int cThreads = 6;

    std::atomic<int> cAdopted{0};
    std::atomic<bool> fGo{false};
    std::atomic<int> cFailures{0};
    std::vector<std::thread> Threads;
    for (int i = 0; i < cThreads; i++)
        Threads.emplace_back([&, i] {
            char szName[16];
            snprintf(szName, sizeof(szName), "worker%d", i);
            if (rtThreadAdopt(RTTHREADTYPE_DEFAULT, RTTHREADFLAGS_WAITABLE, 0, szName) != 0) {
                cFailures++;
                return;
            }
            RTTHREAD hSelf = RTThreadSelf();
            if (!hSelf || strcmp(RTThreadGetName(hSelf), szName) != 0 ||
                rtThreadLookupNative(RTThreadNativeSelf()) != hSelf || hSelf->flags != 0 || hSelf->refs != 1)
                cFailures++;
            cAdopted++;
            while (!fGo)
                std::this_thread::yield();
            // The last reference goes: the record leaves the tree and is freed.
            if (RTThreadRelease(hSelf) != 0)
                cFailures++;
            if (RTThreadSelf() != NIL_RTTHREAD || rtThreadLookupNative(RTThreadNativeSelf()) != nullptr)
                cFailures++;
        });
    ASSERT_TRUE(tsthelp::WaitFor([&] { return cAdopted + cFailures >= cThreads; }));
    EXPECT_EQ(rtThreadTreeCount(), cBefore + cThreads);
    EXPECT_EQ(rtThreadTypeCount(RTTHREADTYPE_DEFAULT), cDefaultBefore + cThreads);
    fGo = true;
    for (auto &Thread : Threads)
        Thread.join();
    EXPECT_EQ(cFailures.load(), 0);
    EXPECT_EQ(rtThreadTreeCount(), cBefore);
    EXPECT_EQ(rtThreadTypeCount(RTTHREADTYPE_DEFAULT), cDefaultBefore);
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

TEST(Thread, NamesAreCutToFifteenBytes) {
    tsthelp::InitThreads();
    struct Case {
        const char *pszName;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"abcdefghijklmnopqrst", "abcdefghijklmno"},
        {"abcdefghijklmno", "abcdefghijklmno"},
        {"", ""},
        {nullptr, ""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszExpect);
        std::string strName = "?";
        std::string strNative = "?";
        std::thread([&] {
            ASSERT_EQ(rtThreadAdopt(RTTHREADTYPE_IO, 0, 0, c.pszName), 0);
            strName = RTThreadGetName(RTThreadSelf());
#if defined(__linux__)
            char szNative[32] = {};
            pthread_getname_np(pthread_self(), szNative, sizeof(szNative));
            strNative = szNative;
#else
            strNative = strName;
#endif
            RTThreadRelease(RTThreadSelf());
        }).join();
        EXPECT_EQ(strName, c.pszExpect);
        if (c.pszExpect[0]) // an empty name leaves the native one alone on some systems
            EXPECT_EQ(strNative, c.pszExpect);
    }
}

// A thread that ended without telling the runtime leaves its record behind; when
// the id turns up again the stale record is dropped in favour of the new one.
TEST(Thread, ReusedNativeIdReplacesTheStaleRecord) {
    tsthelp::InitThreads();
    const uint32_t cBefore = rtThreadTreeCount();
    const size_t cBlocksBefore = RTMemTestOutstanding();
    std::thread([&] {
        ASSERT_EQ(rtThreadAdopt(RTTHREADTYPE_TIMER, 0, 0, "first"), 0);
        RTTHREAD hFirst = RTThreadSelf();
        ASSERT_EQ(rtThreadAdopt(RTTHREADTYPE_TIMER, 0, 0, "second"), 0);
        RTTHREAD hSecond = RTThreadSelf();
        EXPECT_NE(hSecond, hFirst);
        EXPECT_EQ(rtThreadLookupNative(RTThreadNativeSelf()), hSecond);
        EXPECT_STREQ(RTThreadGetName(hSecond), "second");
        EXPECT_EQ(rtThreadTreeCount(), cBefore + 1);
        EXPECT_EQ(rtThreadTypeCount(RTTHREADTYPE_TIMER), 1u);
        EXPECT_EQ(RTThreadRelease(hSecond), 0u);
    }).join();
    EXPECT_EQ(rtThreadTreeCount(), cBefore);
    EXPECT_EQ(rtThreadTypeCount(RTTHREADTYPE_TIMER), 0u);
    // The stale record was released and freed along the way.
    EXPECT_EQ(RTMemTestOutstanding(), cBlocksBefore);
}

TEST(Thread, ReferenceCounting) {
    tsthelp::InitThreads();
    EXPECT_EQ(RTThreadRelease(NIL_RTTHREAD), 0u);
    EXPECT_EQ(RTThreadRetain(NIL_RTTHREAD), 0u);

    // A record whose count already reached 0 is left alone.
    RTTHREADINT Fake{};
    Fake.magic = RTTHREADINT_MAGIC;
    Fake.refs = 0;
    EXPECT_EQ(RTThreadRelease(&Fake), 0u);
    EXPECT_EQ(Fake.refs, 0u);
    EXPECT_EQ(Fake.magic, RTTHREADINT_MAGIC);

    // Dead records are refused.
    Fake.magic = RTTHREADINT_MAGIC_DEAD;
    Fake.refs = 5;
    EXPECT_EQ(RTThreadRelease(&Fake), 0u);
    EXPECT_EQ(Fake.refs, 5u);
    EXPECT_EQ(RTThreadGetName(&Fake), nullptr);
    EXPECT_EQ(RTThreadGetState(&Fake), RTTHREADSTATE_INVALID);

    RTTHREAD hMain = RTThreadSelf();
    ASSERT_NE(hMain, nullptr);
    EXPECT_EQ(RTThreadRetain(hMain), 2u);
    EXPECT_EQ(RTThreadRelease(hMain), 1u);
}

TEST(Thread, BlockingBookkeeping) {
    struct Case {
        uint32_t uStateBefore;
        RTTHREADSTATE enmSet;
        bool fReallySleeping;
        RTTHREADSTATE enmClear;
        uint32_t uStateBlocked;
        uint32_t uStateAfter;
    };
    const Case aCases[] = {
        // Only a running thread becomes blocked ...
        {RTTHREADSTATE_RUNNING, RTTHREADSTATE_CRITSECT, true, RTTHREADSTATE_CRITSECT, RTTHREADSTATE_CRITSECT,
         RTTHREADSTATE_RUNNING},
        {RTTHREADSTATE_RUNNING, RTTHREADSTATE_EVENT_MULTI, false, RTTHREADSTATE_EVENT_MULTI, RTTHREADSTATE_EVENT_MULTI,
         RTTHREADSTATE_RUNNING},
        {RTTHREADSTATE_INITIALIZING, RTTHREADSTATE_EVENT, true, RTTHREADSTATE_EVENT, RTTHREADSTATE_INITIALIZING,
         RTTHREADSTATE_INITIALIZING},
        {RTTHREADSTATE_TERMINATED, RTTHREADSTATE_RW_WRITE, true, RTTHREADSTATE_RW_WRITE, RTTHREADSTATE_TERMINATED,
         RTTHREADSTATE_TERMINATED},
        // ... and clearing another state than the one set leaves it blocked.
        {RTTHREADSTATE_RUNNING, RTTHREADSTATE_EVENT, true, RTTHREADSTATE_CRITSECT, RTTHREADSTATE_EVENT,
         RTTHREADSTATE_EVENT},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "state " << c.uStateBefore << ", set " << c.enmSet << ", clear "
                                        << c.enmClear);
        RTTHREADINT Rec{};
        Rec.magic = RTTHREADINT_MAGIC;
        Rec.state = c.uStateBefore;
        rtThreadSetBlocked(&Rec, c.enmSet, c.fReallySleeping);
        EXPECT_EQ(Rec.state, c.uStateBlocked);
        EXPECT_EQ(Rec.reallySleeping, c.fReallySleeping ? 1u : 0u);
        rtThreadClearBlocked(&Rec, c.enmClear);
        EXPECT_EQ(Rec.state, c.uStateAfter);
        EXPECT_EQ(Rec.reallySleeping, 0u);
    }
    // Threads the runtime does not know are simply not tracked.
    rtThreadSetBlocked(nullptr, RTTHREADSTATE_EVENT, true);
    rtThreadClearBlocked(nullptr, RTTHREADSTATE_EVENT);
}

#if defined(__linux__)
// The native id is fetched once per thread; a forked child must not keep the
// parent's.
TEST(Thread, NativeIdIsTheKernelsEvenAfterFork) {
    EXPECT_EQ(RTThreadNativeSelf(), (RTNATIVETHREAD)syscall(SYS_gettid));
    const RTNATIVETHREAD idParent = RTThreadNativeSelf();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const RTNATIVETHREAD idChild = RTThreadNativeSelf();
        _exit(idChild == (RTNATIVETHREAD)syscall(SYS_gettid) && idChild != idParent ? 0 : 1);
    }
    int iStatus = -1;
    ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;
    std::thread([&] { EXPECT_EQ(RTThreadNativeSelf(), (RTNATIVETHREAD)syscall(SYS_gettid)); }).join();
}
#endif

TEST(Thread, TlsSlotsArePerThread) {
    const RTTLS iTls = RTTlsAlloc();
    ASSERT_NE(iTls, NIL_RTTLS);
    EXPECT_EQ(RTTlsGet(iTls), nullptr);
    int iMine = 1, iTheirs = 2;
    EXPECT_EQ(RTTlsSet(iTls, &iMine), 0);
    void *pvSeenByOther = &iTheirs;
    void *pvOtherAfterSet = nullptr;
    std::thread([&] {
        pvSeenByOther = RTTlsGet(iTls);
        EXPECT_EQ(RTTlsSet(iTls, &iTheirs), 0);
        pvOtherAfterSet = RTTlsGet(iTls);
    }).join();
    EXPECT_EQ(pvSeenByOther, nullptr);
    EXPECT_EQ(pvOtherAfterSet, &iTheirs);
    EXPECT_EQ(RTTlsGet(iTls), &iMine);
    EXPECT_EQ(RTTlsFree(iTls), 0);

    EXPECT_EQ(RTTlsSet(NIL_RTTLS, &iMine), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTTlsGet(NIL_RTTLS), nullptr);
    EXPECT_EQ(RTTlsFree(NIL_RTTLS), 0);
}

} // namespace
