// Thread records and the registry: a balanced tree keyed by native thread id behind
// a read/write semaphore, plus the thread-local slot that finds the current record.
#include <olma/thread.h>
#include <olma/assert.h>
#include <olma/mem.h>
#include "common/misc/internal-thread.h"

namespace {
constinit RTTHREADINT *g_pThreadTree = nullptr;
constinit RTSEMRW g_hThreadRWSem = NIL_RTSEMRW;
constinit uint32_t g_cThreadInTree = 0;
constinit uint32_t g_acThreadTypeStats[RTTHREADTYPE_END] = {};
constinit bool g_fThreadInitialized = false;
constinit RTTLS g_iTlsSelf = NIL_RTTLS;

/* --- The tree (AVL) --- */

uint8_t rtThreadTreeHeight(const RTTHREADINT *pNode) {
    return pNode ? pNode->height : 0;
}

void rtThreadTreeUpdate(RTTHREADINT *pNode) {
    const uint8_t hl = rtThreadTreeHeight(pNode->left);
    const uint8_t hr = rtThreadTreeHeight(pNode->right);
    pNode->height = (uint8_t)((hl > hr ? hl : hr) + 1);
}

RTTHREADINT *rtThreadTreeRotateRight(RTTHREADINT *pNode) {
    RTTHREADINT *pLeft = pNode->left;
    pNode->left = pLeft->right;
    pLeft->right = pNode;
    rtThreadTreeUpdate(pNode);
    rtThreadTreeUpdate(pLeft);
    return pLeft;
}

RTTHREADINT *rtThreadTreeRotateLeft(RTTHREADINT *pNode) {
    RTTHREADINT *pRight = pNode->right;
    pNode->right = pRight->left;
    pRight->left = pNode;
    rtThreadTreeUpdate(pNode);
    rtThreadTreeUpdate(pRight);
    return pRight;
}

RTTHREADINT *rtThreadTreeBalance(RTTHREADINT *pNode) {
    rtThreadTreeUpdate(pNode);
    const int iBalance = (int)rtThreadTreeHeight(pNode->left) - (int)rtThreadTreeHeight(pNode->right);
    if (iBalance > 1) {
        if (rtThreadTreeHeight(pNode->left->left) < rtThreadTreeHeight(pNode->left->right))
            pNode->left = rtThreadTreeRotateLeft(pNode->left);
        return rtThreadTreeRotateRight(pNode);
    }
    if (iBalance < -1) {
        if (rtThreadTreeHeight(pNode->right->right) < rtThreadTreeHeight(pNode->right->left))
            pNode->right = rtThreadTreeRotateRight(pNode->right);
        return rtThreadTreeRotateLeft(pNode);
    }
    return pNode;
}

RTTHREADINT *rtThreadTreeInsertAt(RTTHREADINT *pRoot, RTTHREADINT *pNode, bool *pfInserted) {
    if (!pRoot) {
        pNode->left = pNode->right = nullptr;
        pNode->height = 1;
        *pfInserted = true;
        return pNode;
    }
    if (pNode->nativeId < pRoot->nativeId)
        pRoot->left = rtThreadTreeInsertAt(pRoot->left, pNode, pfInserted);
    else if (pNode->nativeId > pRoot->nativeId)
        pRoot->right = rtThreadTreeInsertAt(pRoot->right, pNode, pfInserted);
    else
        return pRoot;
    return rtThreadTreeBalance(pRoot);
}

/** Unlinks the smallest node of a subtree into *ppMin; returns the new subtree. */
RTTHREADINT *rtThreadTreeRemoveMin(RTTHREADINT *pRoot, RTTHREADINT **ppMin) {
    if (!pRoot->left) {
        *ppMin = pRoot;
        return pRoot->right;
    }
    pRoot->left = rtThreadTreeRemoveMin(pRoot->left, ppMin);
    return rtThreadTreeBalance(pRoot);
}

RTTHREADINT *rtThreadTreeRemoveAt(RTTHREADINT *pRoot, RTNATIVETHREAD key, RTTHREADINT **ppRemoved) {
    if (!pRoot)
        return nullptr;
    if (key < pRoot->nativeId)
        pRoot->left = rtThreadTreeRemoveAt(pRoot->left, key, ppRemoved);
    else if (key > pRoot->nativeId)
        pRoot->right = rtThreadTreeRemoveAt(pRoot->right, key, ppRemoved);
    else {
        *ppRemoved = pRoot;
        RTTHREADINT *pLeft = pRoot->left;
        RTTHREADINT *pRight = pRoot->right;
        pRoot->left = pRoot->right = nullptr;
        pRoot->height = 0;
        if (!pRight)
            return pLeft;
        RTTHREADINT *pMin = nullptr;
        pRight = rtThreadTreeRemoveMin(pRight, &pMin);
        pMin->left = pLeft;
        pMin->right = pRight;
        return rtThreadTreeBalance(pMin);
    }
    return rtThreadTreeBalance(pRoot);
}

/* --- Records --- */

bool rtThreadIsValid(const RTTHREADINT *pThread) {
    return RT_VALID_PTR(pThread) && __atomic_load_n(&pThread->magic, __ATOMIC_ACQUIRE) == RTTHREADINT_MAGIC;
}

void rtThreadFreeRecord(RTTHREADINT *pThread) {
    (void)RTSemEventMultiDestroy(pThread->terminatedEvent);
    (void)RTSemEventMultiDestroy(pThread->secondEvent);
    RTMemFree(pThread);
}

void rtThreadDestroy(RTTHREADINT *pThread) {
    if (__atomic_load_n(&pThread->intFlags, __ATOMIC_ACQUIRE) & RTTHREADINT_FLAGS_IN_TREE) {
        // Removal may release nothing, but keep the record alive across it all the same.
        __atomic_add_fetch(&pThread->refs, 1, __ATOMIC_ACQ_REL);
        rtThreadRemove(pThread);
        __atomic_sub_fetch(&pThread->refs, 1, __ATOMIC_ACQ_REL);
    }
    __atomic_store_n(&pThread->magic, RTTHREADINT_MAGIC_DEAD, __ATOMIC_RELEASE);
    pThread->nativeId = 0;
    RTSEMEVENTMULTI hEvt1 = pThread->terminatedEvent;
    RTSEMEVENTMULTI hEvt2 = pThread->secondEvent;
    pThread->terminatedEvent = NIL_RTSEMEVENTMULTI;
    pThread->secondEvent = NIL_RTSEMEVENTMULTI;
    (void)RTSemEventMultiDestroy(hEvt1);
    (void)RTSemEventMultiDestroy(hEvt2);
    if (g_iTlsSelf != NIL_RTTLS && RTTlsGet(g_iTlsSelf) == pThread)
        (void)RTTlsSet(g_iTlsSelf, nullptr);
    if (pThread->nativeHandle != RTTHREAD_NO_NATIVE_HANDLE) {
        rtThreadNativeCloseHandle(pThread->nativeHandle);
        pThread->nativeHandle = RTTHREAD_NO_NATIVE_HANDLE;
    }
    RTMemFree(pThread);
}

/** Creates the registry semaphore: 0, INF_ALREADY_INITIALIZED when another thread
 *  was first, or the failure. */
int rtThreadCreateRWSem() {
    RTSEMRW hSem = NIL_RTSEMRW;
    const int rc = RTSemRWCreateEx(&hSem, RTSEMRW_FLAGS_NO_LOCK_VAL);
    if (RT_FAILURE(rc))
        return rc;
    RTSEMRW hExpected = NIL_RTSEMRW;
    if (!__atomic_compare_exchange_n(&g_hThreadRWSem, &hExpected, hSem, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        // Another thread was first.
        (void)RTSemRWDestroy(hSem);
        return INF_ALREADY_INITIALIZED;
    }
    return 0;
}
} // namespace

int rtThreadInit() {
    if (__atomic_load_n(&g_hThreadRWSem, __ATOMIC_ACQUIRE) != NIL_RTSEMRW)
        return INF_ALREADY_INITIALIZED;
    int rc = rtThreadCreateRWSem();
    if (rc != 0)
        return rc;

    const RTTLS iTls = RTTlsAlloc();
    if (iTls == NIL_RTTLS)
        rc = ERR_NO_TLS_FOR_SELF;
    else {
        __atomic_store_n(&g_iTlsSelf, iTls, __ATOMIC_RELEASE);
        rtThreadNativeInit();
        rc = rtThreadAdopt(RTTHREADTYPE_MAIN_WORKER, 0, RTTHREADINT_FLAGS_MAIN, "main");
        if (RT_SUCCESS(rc)) {
            __atomic_store_n(&g_fThreadInitialized, true, __ATOMIC_RELEASE);
            return 0;
        }
        __atomic_store_n(&g_iTlsSelf, NIL_RTTLS, __ATOMIC_RELEASE);
        (void)RTTlsFree(iTls);
    }
    RTSEMRW hSem = __atomic_exchange_n(&g_hThreadRWSem, NIL_RTSEMRW, __ATOMIC_ACQ_REL);
    (void)RTSemRWDestroy(hSem);
    return rc;
}

bool rtThreadIsInitialized() {
    return __atomic_load_n(&g_fThreadInitialized, __ATOMIC_ACQUIRE);
}

void rtThreadLockRW() {
    int rc = 0;
    if (__atomic_load_n(&g_hThreadRWSem, __ATOMIC_ACQUIRE) == NIL_RTSEMRW)
        rc = rtThreadInit();
    RTSEMRW hSem = __atomic_load_n(&g_hThreadRWSem, __ATOMIC_ACQUIRE);
    if (hSem != NIL_RTSEMRW)
        rc = RTSemRWRequestWrite(hSem, RT_INDEFINITE_WAIT);
    if (RT_FAILURE(rc))
        RT_ASSERT_FATAL_MSG("RT_SUCCESS_NP(rc)", "%Rra\n", rc);
}

void rtThreadUnLockRW() {
    RTSEMRW hSem = __atomic_load_n(&g_hThreadRWSem, __ATOMIC_ACQUIRE);
    const int rc = RTSemRWReleaseWrite(hSem);
    if (RT_FAILURE(rc))
        RT_ASSERT_FATAL_MSG("RT_SUCCESS_NP(rc)", "%Rra\n", rc);
}

int rtThreadAdopt(RTTHREADTYPE enmType, uint32_t fFlags, uint32_t fIntFlags, const char *pszName) {
    if ((uint32_t)enmType >= RTTHREADTYPE_END || (uint32_t)enmType == RTTHREADTYPE_INVALID)
        return ERR_INVALID_PARAMETER;
    // An adopted thread was not started by us, so nobody can wait for it.
    fFlags &= ~RTTHREADFLAGS_WAITABLE;

    auto *pThread = (RTTHREADINT *)RTMemAllocZ(sizeof(RTTHREADINT), __FILE__);
    if (!pThread)
        return ERR_NO_MEMORY;
    size_t cchName = 0;
    if (pszName)
        while (cchName < RTTHREAD_NAME_LEN && pszName[cchName] != '\0')
            cchName++;
    __builtin_memcpy(pThread->name, pszName ? pszName : "", cchName);
    pThread->name[cchName] = '\0';
    pThread->exitStatus = ERR_THREAD_NOT_TERMINATED;
    pThread->refs = 2 + ((fFlags & RTTHREADFLAGS_WAITABLE) ? 1 : 0);
    pThread->type = enmType;
    pThread->flags = fFlags;
    pThread->intFlags = fIntFlags | RTTHREADINT_FLAGS_ALIEN;
    pThread->state = RTTHREADSTATE_INITIALIZING;
    pThread->nativeHandle = RTTHREAD_NO_NATIVE_HANDLE;
    pThread->nativeId = NIL_RTNATIVETHREAD;
    if (RT_FAILURE(RTSemEventMultiCreate(&pThread->terminatedEvent)) ||
        RT_FAILURE(RTSemEventMultiCreate(&pThread->secondEvent))) {
        rtThreadFreeRecord(pThread);
        return ERR_NO_MEMORY;
    }
    __atomic_store_n(&pThread->magic, RTTHREADINT_MAGIC, __ATOMIC_RELEASE);

    const RTTLS iTls = __atomic_load_n(&g_iTlsSelf, __ATOMIC_ACQUIRE);
    if (iTls == NIL_RTTLS || RT_FAILURE(RTTlsSet(iTls, pThread))) {
        rtThreadDestroy(pThread);
        return ERR_FAILED_TO_SET_SELF_TLS;
    }
    rtThreadNativeSetName(pThread->name);

    rtThreadInsert(pThread, RTThreadNativeSelf());
    __atomic_store_n(&pThread->state, (uint32_t)RTTHREADSTATE_RUNNING, __ATOMIC_RELEASE);
    RTThreadRelease(pThread);
    return 0;
}

void rtThreadInsert(RTTHREADINT *pThread, RTNATIVETHREAD nativeId) {
    rtThreadLockRW();
    if (__atomic_load_n(&pThread->state, __ATOMIC_ACQUIRE) != RTTHREADSTATE_TERMINATED) {
        // A record still registered under this id belongs to a thread that ended
        // without telling us; the id has been reused, so the old record goes.
        RTTHREADINT *pOld = rtThreadTreeLookup(g_pThreadTree, nativeId);
        if (pOld && pOld != pThread &&
            (__atomic_fetch_and(&pOld->intFlags, ~RTTHREADINT_FLAGS_IN_TREE, __ATOMIC_ACQ_REL) &
             RTTHREADINT_FLAGS_IN_TREE)) {
            RTTHREADINT *pRemoved = rtThreadTreeRemove(&g_pThreadTree, nativeId);
            (void)pRemoved;
            g_cThreadInTree--;
            g_acThreadTypeStats[pOld->type]--;
            if (__atomic_load_n(&pOld->intFlags, __ATOMIC_ACQUIRE) & RTTHREADINT_FLAGS_ALIEN)
                RTThreadRelease(pOld);
        }
        pThread->nativeId = nativeId;
        const bool fRc = rtThreadTreeInsert(&g_pThreadTree, pThread);
        if (!fRc)
            RT_ASSERT_FATAL_MSG("fRc", "Lock problem? %p (%RTnthrd) %s\n", pThread, (uintptr_t)nativeId, pThread->name);
        __atomic_fetch_or(&pThread->intFlags, RTTHREADINT_FLAGS_IN_TREE, __ATOMIC_ACQ_REL);
        g_cThreadInTree++;
        g_acThreadTypeStats[pThread->type]++;
    }
    rtThreadUnLockRW();
}

void rtThreadRemove(RTTHREADINT *pThread) {
    rtThreadLockRW();
    if (__atomic_fetch_and(&pThread->intFlags, ~RTTHREADINT_FLAGS_IN_TREE, __ATOMIC_ACQ_REL) &
        RTTHREADINT_FLAGS_IN_TREE) {
        RTTHREADINT *pRemoved = rtThreadTreeRemove(&g_pThreadTree, pThread->nativeId);
        (void)pRemoved;
        g_cThreadInTree--;
        g_acThreadTypeStats[pThread->type]--;
    }
    rtThreadUnLockRW();
}

RTTHREADINT *rtThreadLookupNative(RTNATIVETHREAD nativeId) {
    if (__atomic_load_n(&g_hThreadRWSem, __ATOMIC_ACQUIRE) == NIL_RTSEMRW)
        return nullptr;
    rtThreadLockRW();
    RTTHREADINT *pThread = rtThreadTreeLookup(g_pThreadTree, nativeId);
    rtThreadUnLockRW();
    return pThread;
}

uint32_t rtThreadTreeCount() {
    return __atomic_load_n(&g_cThreadInTree, __ATOMIC_RELAXED);
}

uint32_t rtThreadTypeCount(RTTHREADTYPE enmType) {
    return (uint32_t)enmType < RTTHREADTYPE_END ? __atomic_load_n(&g_acThreadTypeStats[enmType], __ATOMIC_RELAXED) : 0;
}

void rtThreadSetBlocked(RTTHREADINT *pThread, RTTHREADSTATE enmState, bool fReallySleeping) {
    if (!pThread)
        return;
    uint32_t uExpected = RTTHREADSTATE_RUNNING;
    __atomic_compare_exchange_n(&pThread->state, &uExpected, (uint32_t)enmState, false, __ATOMIC_ACQ_REL,
                                __ATOMIC_RELAXED);
    __atomic_store_n(&pThread->reallySleeping, fReallySleeping ? 1u : 0u, __ATOMIC_RELEASE);
}

void rtThreadClearBlocked(RTTHREADINT *pThread, RTTHREADSTATE enmState) {
    if (!pThread)
        return;
    __atomic_store_n(&pThread->reallySleeping, 0u, __ATOMIC_RELEASE);
    uint32_t uExpected = enmState;
    __atomic_compare_exchange_n(&pThread->state, &uExpected, (uint32_t)RTTHREADSTATE_RUNNING, false, __ATOMIC_ACQ_REL,
                                __ATOMIC_RELAXED);
}

bool rtThreadTreeInsert(RTTHREADINT **ppRoot, RTTHREADINT *pNode) {
    bool fInserted = false;
    *ppRoot = rtThreadTreeInsertAt(*ppRoot, pNode, &fInserted);
    return fInserted;
}

RTTHREADINT *rtThreadTreeRemove(RTTHREADINT **ppRoot, RTNATIVETHREAD key) {
    RTTHREADINT *pRemoved = nullptr;
    *ppRoot = rtThreadTreeRemoveAt(*ppRoot, key, &pRemoved);
    return pRemoved;
}

RTTHREADINT *rtThreadTreeLookup(RTTHREADINT *pRoot, RTNATIVETHREAD key) {
    while (pRoot && pRoot->nativeId != key)
        pRoot = key < pRoot->nativeId ? pRoot->left : pRoot->right;
    return pRoot;
}

/* --- Public --- */

RTTHREAD RTThreadSelf() {
    const RTTLS iTls = __atomic_load_n(&g_iTlsSelf, __ATOMIC_ACQUIRE);
    return iTls != NIL_RTTLS ? (RTTHREAD)RTTlsGet(iTls) : NIL_RTTHREAD;
}

uint32_t RTThreadRetain(RTTHREAD hThread) {
    if (!rtThreadIsValid(hThread))
        return 0;
    return __atomic_add_fetch(&hThread->refs, 1, __ATOMIC_ACQ_REL);
}

uint32_t RTThreadRelease(RTTHREAD hThread) {
    if (!rtThreadIsValid(hThread))
        return 0;
    uint32_t cRefs = __atomic_load_n(&hThread->refs, __ATOMIC_ACQUIRE);
    do {
        if (cRefs == 0)
            return 0;
    } while (!__atomic_compare_exchange_n(&hThread->refs, &cRefs, cRefs - 1, true, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
    if (cRefs == 1)
        rtThreadDestroy(hThread);
    return cRefs - 1;
}

const char *RTThreadGetName(RTTHREAD hThread) {
    return rtThreadIsValid(hThread) ? hThread->name : nullptr;
}

RTTHREADSTATE RTThreadGetState(RTTHREAD hThread) {
    return rtThreadIsValid(hThread) ? (RTTHREADSTATE)__atomic_load_n(&hThread->state, __ATOMIC_ACQUIRE)
                                    : RTTHREADSTATE_INVALID;
}

RTNATIVETHREAD RTThreadGetNative(RTTHREAD hThread) {
    return rtThreadIsValid(hThread) ? hThread->nativeId : NIL_RTNATIVETHREAD;
}
