// Fast mutex: a heap critical section that refuses nesting.
#include <olma/semaphore.h>
#include <olma/mem.h>

int RTSemFastMutexCreate(RTSEMFASTMUTEX *phFastMtx) {
    if (!RT_VALID_PTR(phFastMtx))
        return ERR_INVALID_POINTER;
    auto *pCritSect = (RTCRITSECT *)RTMemAllocZ(sizeof(RTCRITSECT), __FILE__);
    if (!pCritSect)
        return ERR_NO_MEMORY;
    const int rc = RTCritSectInitEx(pCritSect, RTCRITSECT_FLAGS_NO_NESTING, nullptr, 0, nullptr);
    if (RT_FAILURE(rc)) {
        RTMemFree(pCritSect);
        return rc;
    }
    *phFastMtx = pCritSect;
    return 0;
}

int RTSemFastMutexRequest(RTSEMFASTMUTEX hFastMtx) {
    if (!RT_VALID_PTR(hFastMtx))
        return ERR_INVALID_HANDLE;
    return RTCritSectEnter(hFastMtx);
}

int RTSemFastMutexRelease(RTSEMFASTMUTEX hFastMtx) {
    if (!RT_VALID_PTR(hFastMtx))
        return ERR_INVALID_HANDLE;
    return RTCritSectLeave(hFastMtx);
}

int RTSemFastMutexDestroy(RTSEMFASTMUTEX hFastMtx) {
    if (!hFastMtx)
        return 0;
    if (!RT_VALID_PTR(hFastMtx))
        return ERR_INVALID_HANDLE;
    const int rc = RTCritSectDelete(hFastMtx);
    if (RT_SUCCESS(rc))
        RTMemFree(hFastMtx);
    return rc;
}
