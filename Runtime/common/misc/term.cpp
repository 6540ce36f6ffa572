// Termination callbacks: a singly linked list, newest first, behind a fast mutex
// that is created on the first registration.
#include <olma/initterm.h>
#include <olma/mem.h>
#include <olma/once.h>
#include <olma/semaphore.h>
#include "common/misc/internal-term.h"

namespace {
struct RTTERMCALLBACKREC {
    RTTERMCALLBACKREC *pNext;
    PFNRTTERMCALLBACK pfnCallback;
    void *pvUser;
};

constinit RTONCE g_TermInitOnce = RTONCE_INITIALIZER;
constinit RTSEMFASTMUTEX g_hTermFastMutex = NIL_RTSEMFASTMUTEX;
constinit RTTERMCALLBACKREC *g_pTermCallbackHead = nullptr;
constinit uint32_t g_cTermCallbacks = 0;

int rtTermInitOnce(void *pvUser) {
    (void)pvUser;
    RTSEMFASTMUTEX hFastMutex = NIL_RTSEMFASTMUTEX;
    const int rc = RTSemFastMutexCreate(&hFastMutex);
    if (RT_SUCCESS(rc))
        g_hTermFastMutex = hFastMutex;
    return rc;
}
} // namespace

int RTTermRegisterCallback(PFNRTTERMCALLBACK pfnCallback, void *pvUser) {
    if (!RT_VALID_PTR((const void *)pfnCallback))
        return ERR_INVALID_POINTER;
    int rc = RTOnce(&g_TermInitOnce, rtTermInitOnce, nullptr);
    if (RT_FAILURE(rc))
        return rc;

    auto *pRec = (RTTERMCALLBACKREC *)RTMemAllocZ(sizeof(RTTERMCALLBACKREC), __FILE__);
    if (!pRec)
        return ERR_NO_MEMORY;
    pRec->pfnCallback = pfnCallback;
    pRec->pvUser = pvUser;

    rc = RTSemFastMutexRequest(g_hTermFastMutex);
    if (RT_FAILURE(rc)) {
        RTMemFree(pRec);
        return rc;
    }
    pRec->pNext = g_pTermCallbackHead;
    g_pTermCallbackHead = pRec;
    g_cTermCallbacks++;
    (void)RTSemFastMutexRelease(g_hTermFastMutex);
    return rc;
}

void rtTermRunCallbacks(RTTERMREASON enmReason, int32_t iStatus) {
    if (g_hTermFastMutex == NIL_RTSEMFASTMUTEX)
        return;
    for (;;) {
        // One at a time, without holding the lock during the call: a callback may
        // well register another one.
        if (RT_FAILURE(RTSemFastMutexRequest(g_hTermFastMutex)))
            return;
        RTTERMCALLBACKREC *pRec = g_pTermCallbackHead;
        if (pRec) {
            g_pTermCallbackHead = pRec->pNext;
            g_cTermCallbacks--;
        }
        (void)RTSemFastMutexRelease(g_hTermFastMutex);
        if (!pRec)
            return;
        pRec->pfnCallback(enmReason, iStatus, pRec->pvUser);
        RTMemFree(pRec);
    }
}

uint32_t rtTermCallbackCount() {
    if (g_hTermFastMutex == NIL_RTSEMFASTMUTEX || RT_FAILURE(RTSemFastMutexRequest(g_hTermFastMutex)))
        return 0;
    const uint32_t c = g_cTermCallbacks;
    (void)RTSemFastMutexRelease(g_hTermFastMutex);
    return c;
}
