// One-time initialisation. The common case (already done) is a single load; a
// thread that has to wait creates a multi-event semaphore only then, so records
// that never see contention never own a kernel object.
#include <olma/once.h>
#include <olma/initterm.h>
#include <olma/semaphore.h>
#include <olma/time.h>

namespace {
constinit RTONCE g_OnceCleanUpInit = RTONCE_INITIALIZER;
constinit RTCRITSECT g_OnceCleanUpCritSect = {};
/** Head of the cleanup list (self-linked once set up). */
constinit RTLISTNODE g_OnceCleanUpList = {nullptr, nullptr};

RTONCE *rtOnceFromNode(RTLISTNODE *pNode) {
    return (RTONCE *)((char *)pNode - __builtin_offsetof(RTONCE, listNode));
}

void rtOnceListUnlink(RTLISTNODE *pNode) {
    pNode->pPrev->pNext = pNode->pNext;
    pNode->pNext->pPrev = pNode->pPrev;
    pNode->pNext = pNode->pPrev = nullptr;
}

/** Termination: run the recorded cleanups, newest first. */
void rtOnceTermCallback(RTTERMREASON enmReason, int32_t iStatus, void *pvUser) {
    (void)iStatus;
    (void)pvUser;
    if (RT_FAILURE(RTCritSectEnter(&g_OnceCleanUpCritSect)))
        return;
    while (g_OnceCleanUpList.pPrev != &g_OnceCleanUpList) {
        RTONCE *pOnce = rtOnceFromNode(g_OnceCleanUpList.pPrev);
        rtOnceListUnlink(&pOnce->listNode);
        PFNRTONCECLEANUP pfnCleanup = pOnce->cleanup;
        void *pvCleanupUser = pOnce->cleanupUser;
        pOnce->cleanup = nullptr;
        pOnce->cleanupUser = nullptr;
        if (pfnCleanup)
            pfnCleanup(pvCleanupUser, enmReason == RTTERMREASON_EXIT);
    }
    (void)RTCritSectLeave(&g_OnceCleanUpCritSect);
}

int rtOnceInitCleanUp(void *pvUser) {
    (void)pvUser;
    g_OnceCleanUpList.pNext = g_OnceCleanUpList.pPrev = &g_OnceCleanUpList;
    int rc = RTCritSectInit(&g_OnceCleanUpCritSect);
    if (RT_SUCCESS(rc)) {
        rc = RTTermRegisterCallback(rtOnceTermCallback, nullptr);
        if (RT_SUCCESS(rc))
            return rc;
        (void)RTCritSectDelete(&g_OnceCleanUpCritSect);
    }
    return rc;
}

int32_t rtOnceState(RTONCE *pOnce) {
    return __atomic_load_n(&pOnce->state, __ATOMIC_ACQUIRE);
}

bool rtOnceCas(RTONCE *pOnce, int32_t iOld, int32_t iNew) {
    return __atomic_compare_exchange_n(&pOnce->state, &iOld, iNew, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

/** Drops a reference on the record's event; the last user destroys it. */
void rtOnceEventRelease(RTONCE *pOnce) {
    if (__atomic_sub_fetch(&pOnce->eventRefs, 1, __ATOMIC_ACQ_REL) == 0) {
        RTSEMEVENTMULTI hEvent = __atomic_exchange_n(&pOnce->event, NIL_RTSEMEVENTMULTI, __ATOMIC_ACQ_REL);
        rtOnceCas(pOnce, RTONCESTATE_DONE_HAVE_SEM, RTONCESTATE_DONE);
        (void)RTSemEventMultiDestroy(hEvent);
    }
}

/** Takes a reference on the event while the count is positive and the record still
 *  has one; false when it does not. */
bool rtOnceEventRetain(RTONCE *pOnce) {
    int32_t cRefs = __atomic_load_n(&pOnce->eventRefs, __ATOMIC_ACQUIRE);
    while (cRefs > 0 && rtOnceState(pOnce) == RTONCESTATE_BUSY_HAVE_SEM) {
        if (__atomic_compare_exchange_n(&pOnce->eventRefs, &cRefs, cRefs + 1, true, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return true;
    }
    return false;
}

/** A thread that found another one running the initialiser waits for it. */
int rtOnceOtherThread(RTONCE *pOnce) {
    uint32_t cPasses = 0;
    for (;;) {
        const int32_t iState = rtOnceState(pOnce);
        switch (iState) {
        case RTONCESTATE_DONE:
        case RTONCESTATE_DONE_HAVE_SEM:
        case RTONCESTATE_DONE_CREATING_SEM:
            return __atomic_load_n(&pOnce->rc, __ATOMIC_ACQUIRE);

        case RTONCESTATE_BUSY_NO_SEM: {
            if (!rtOnceCas(pOnce, RTONCESTATE_BUSY_NO_SEM, RTONCESTATE_BUSY_CREATING_SEM))
                break;
            RTSEMEVENTMULTI hEvent = NIL_RTSEMEVENTMULTI;
            if (RT_SUCCESS(RTSemEventMultiCreate(&hEvent))) {
                // The reference published with the event belongs to the busy state;
                // whoever ends that state inherits it.
                __atomic_store_n(&pOnce->event, hEvent, __ATOMIC_RELEASE);
                __atomic_store_n(&pOnce->eventRefs, 1, __ATOMIC_RELEASE);
                if (!rtOnceCas(pOnce, RTONCESTATE_BUSY_CREATING_SEM, RTONCESTATE_BUSY_HAVE_SEM)) {
                    // The initialiser finished while the event was being made.
                    if (!rtOnceCas(pOnce, RTONCESTATE_DONE_CREATING_SEM, RTONCESTATE_DONE))
                        return ERR_INTERNAL_ERROR_5;
                    __atomic_store_n(&pOnce->eventRefs, 0, __ATOMIC_RELEASE);
                    __atomic_store_n(&pOnce->event, NIL_RTSEMEVENTMULTI, __ATOMIC_RELEASE);
                    (void)RTSemEventMultiDestroy(hEvent);
                }
            } else if (!rtOnceCas(pOnce, RTONCESTATE_BUSY_CREATING_SEM, RTONCESTATE_BUSY_SPIN) &&
                       !rtOnceCas(pOnce, RTONCESTATE_DONE_CREATING_SEM, RTONCESTATE_DONE))
                return ERR_INTERNAL_ERROR_4;
            break;
        }

        case RTONCESTATE_BUSY_CREATING_SEM:
        case RTONCESTATE_BUSY_SPIN:
            if (++cPasses % 4 == 0)
                RTThreadSleep(1);
            else
                RTThreadYield();
            break;

        case RTONCESTATE_BUSY_HAVE_SEM: {
            if (!rtOnceEventRetain(pOnce))
                break; // The state moved on; look again.
            RTSEMEVENTMULTI hEvent = __atomic_load_n(&pOnce->event, __ATOMIC_ACQUIRE);
            if (hEvent == NIL_RTSEMEVENTMULTI) {
                rtOnceEventRelease(pOnce);
                return ERR_INTERNAL_ERROR_2;
            }
            while (rtOnceState(pOnce) == RTONCESTATE_BUSY_HAVE_SEM) {
                const int rc = RTSemEventMultiWaitEx(hEvent, RTSEMWAIT_FLAGS_INDEFINITE | RTSEMWAIT_FLAGS_NORESUME, 0);
                if (RT_FAILURE(rc) && rc != ERR_INTERRUPTED)
                    break;
            }
            rtOnceEventRelease(pOnce);
            break;
        }

        default:
            return ERR_INTERNAL_ERROR_3;
        }
    }
}

bool rtOnceIsKnownState(int32_t iState) {
    return (iState >= RTONCESTATE_UNINITIALIZED && iState <= RTONCESTATE_DONE_HAVE_SEM) || iState == RTONCESTATE_DONE;
}
} // namespace

int RTOnce(RTONCE *pOnce, PFNRTONCE pfnOnce, void *pvUser) {
    return RTOnceEx(pOnce, pfnOnce, nullptr, pvUser);
}

int RTOnceEx(RTONCE *pOnce, PFNRTONCE pfnOnce, PFNRTONCECLEANUP pfnCleanup, void *pvUser) {
    int32_t iState = rtOnceState(pOnce);
    if (iState == RTONCESTATE_DONE || iState == RTONCESTATE_DONE_HAVE_SEM || iState == RTONCESTATE_DONE_CREATING_SEM)
        return __atomic_load_n(&pOnce->rc, __ATOMIC_ACQUIRE);
    if (!rtOnceIsKnownState(iState))
        return ERR_INTERNAL_ERROR;

    if (pfnCleanup) {
        const int rc = RTOnce(&g_OnceCleanUpInit, rtOnceInitCleanUp, nullptr);
        if (RT_FAILURE(rc))
            return rc;
    }

    if (!rtOnceCas(pOnce, RTONCESTATE_UNINITIALIZED, RTONCESTATE_BUSY_NO_SEM))
        return rtOnceOtherThread(pOnce);

    const int rcOnce = pfnOnce(pvUser);
    __atomic_store_n(&pOnce->rc, rcOnce, __ATOMIC_RELEASE);
    if (pfnCleanup && RT_SUCCESS(rcOnce) && RT_SUCCESS(RTCritSectEnter(&g_OnceCleanUpCritSect))) {
        pOnce->cleanup = pfnCleanup;
        pOnce->cleanupUser = pvUser;
        RTLISTNODE *pNode = &pOnce->listNode;
        pNode->pPrev = g_OnceCleanUpList.pPrev;
        pNode->pNext = &g_OnceCleanUpList;
        g_OnceCleanUpList.pPrev->pNext = pNode;
        g_OnceCleanUpList.pPrev = pNode;
        (void)RTCritSectLeave(&g_OnceCleanUpCritSect);
    }

    if (rtOnceCas(pOnce, RTONCESTATE_BUSY_NO_SEM, RTONCESTATE_DONE) ||
        rtOnceCas(pOnce, RTONCESTATE_BUSY_SPIN, RTONCESTATE_DONE) ||
        rtOnceCas(pOnce, RTONCESTATE_BUSY_CREATING_SEM, RTONCESTATE_DONE_CREATING_SEM))
        return rcOnce;
    if (rtOnceCas(pOnce, RTONCESTATE_BUSY_HAVE_SEM, RTONCESTATE_DONE_HAVE_SEM)) {
        // We inherited the busy state's reference on the event: wake the waiters,
        // then let the last of us destroy it.
        RTSEMEVENTMULTI hEvent = __atomic_load_n(&pOnce->event, __ATOMIC_ACQUIRE);
        __atomic_store_n(&pOnce->state, (int32_t)RTONCESTATE_DONE, __ATOMIC_RELEASE);
        (void)RTSemEventMultiSignal(hEvent);
        rtOnceEventRelease(pOnce);
        return rcOnce;
    }
    return ERR_INTERNAL_ERROR_2;
}

void RTOnceReset(RTONCE *pOnce) {
    if (pOnce->cleanup && pOnce->listNode.pNext && RT_SUCCESS(RTCritSectEnter(&g_OnceCleanUpCritSect))) {
        if (pOnce->listNode.pNext)
            rtOnceListUnlink(&pOnce->listNode);
        (void)RTCritSectLeave(&g_OnceCleanUpCritSect);
    }
    pOnce->cleanup = nullptr;
    pOnce->cleanupUser = nullptr;
    __atomic_store_n(&pOnce->rc, (int32_t)ERR_INTERNAL_ERROR, __ATOMIC_RELEASE);
    __atomic_store_n(&pOnce->state, (int32_t)RTONCESTATE_UNINITIALIZED, __ATOMIC_RELEASE);
}
