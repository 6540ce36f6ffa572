// Read/write semaphore built on a critical section and two events. This system only
// takes it for writing (the thread registry), so the read side is not provided;
// the read event is still kept in step so that a read side can be added.
#include <olma/semaphore.h>
#include <olma/mem.h>
#include <olma/thread.h>
#include "common/misc/internal-thread.h"

namespace {
constexpr uint32_t RTSEMRW_MAGIC = 0x19640707;
constexpr uint32_t RTSEMRW_MAGIC_DEAD = 0xe69bf8f8;
constexpr uint32_t RTSEMRW_MARKER = 0xa5a55a5a;
} // namespace

struct RTSEMRWINTERNAL {
    uint32_t magic;
    uint32_t marker;
    /** Guards every counter below. */
    RTCRITSECT cs;
    uint32_t readers;
    /** Write recursion depth of the writer. */
    uint32_t writes;
    /** Read locks the writer took while writing. */
    uint32_t writerReads;
    uint32_t writersWaiting;
    RTNATIVETHREAD writer;
    /** Signalled while readers may enter. */
    RTSEMEVENTMULTI readEvent;
    /** Wakes one waiting writer. */
    RTSEMEVENT writeEvent;
    /** The read event has to be reset before the next writer owns the lock. */
    bool readEventNeedsReset;
};

namespace {
bool rtSemRWIsValid(RTSEMRWINTERNAL *pThis) {
    return RT_VALID_PTR(pThis) && __atomic_load_n(&pThis->magic, __ATOMIC_ACQUIRE) == RTSEMRW_MAGIC;
}

/** Makes the caller the writer; called inside the critical section. */
int rtSemRWTakeWrite(RTSEMRWINTERNAL *pThis, RTNATIVETHREAD hSelf) {
    int rc = 0;
    if (pThis->readEventNeedsReset) {
        pThis->readEventNeedsReset = false;
        rc = RTSemEventMultiReset(pThis->readEvent);
    }
    __atomic_store_n(&pThis->writer, hSelf, __ATOMIC_RELEASE);
    pThis->writes++;
    return rc;
}
} // namespace

int RTSemRWCreate(RTSEMRW *phRWSem) {
    return RTSemRWCreateEx(phRWSem, 0);
}

int RTSemRWCreateEx(RTSEMRW *phRWSem, uint32_t fFlags) {
    if (fFlags & ~RTSEMRW_FLAGS_NO_LOCK_VAL)
        return ERR_INVALID_PARAMETER;
    if (!RT_VALID_PTR(phRWSem))
        return ERR_INVALID_POINTER;
    auto *pThis = (RTSEMRWINTERNAL *)RTMemAllocZ(sizeof(RTSEMRWINTERNAL), __FILE__);
    if (!pThis)
        return ERR_NO_MEMORY;
    int rc = RTSemEventCreate(&pThis->writeEvent);
    if (RT_SUCCESS(rc)) {
        rc = RTSemEventMultiCreate(&pThis->readEvent);
        if (RT_SUCCESS(rc)) {
            rc = RTCritSectInit(&pThis->cs);
            if (RT_SUCCESS(rc)) {
                rc = RTSemEventMultiSignal(pThis->readEvent);
                if (RT_SUCCESS(rc)) {
                    pThis->writer = NIL_RTNATIVETHREAD;
                    pThis->readEventNeedsReset = true;
                    pThis->marker = RTSEMRW_MARKER;
                    __atomic_store_n(&pThis->magic, RTSEMRW_MAGIC, __ATOMIC_RELEASE);
                    *phRWSem = pThis;
                    return 0;
                }
                (void)RTCritSectDelete(&pThis->cs);
            }
            (void)RTSemEventMultiDestroy(pThis->readEvent);
        }
        (void)RTSemEventDestroy(pThis->writeEvent);
    }
    RTMemFree(pThis);
    return rc;
}

int RTSemRWRequestWrite(RTSEMRW hRWSem, RTMSINTERVAL cMillies) {
    RTSEMRWINTERNAL *pThis = hRWSem;
    if (!rtSemRWIsValid(pThis))
        return ERR_INVALID_HANDLE;
    int rc = RTCritSectEnter(&pThis->cs);
    if (RT_FAILURE(rc))
        return rc;

    const RTNATIVETHREAD hSelf = RTThreadNativeSelf();
    if (pThis->readers == 0 &&
        (pThis->writer == hSelf || (pThis->writes == 0 && (pThis->writersWaiting == 0 || cMillies == 0)))) {
        rc = rtSemRWTakeWrite(pThis, hSelf);
        (void)RTCritSectLeave(&pThis->cs);
        return rc;
    }
    if (cMillies == 0) {
        (void)RTCritSectLeave(&pThis->cs);
        return ERR_TIMEOUT;
    }

    pThis->writersWaiting++;
    (void)RTCritSectLeave(&pThis->cs);
    RTTHREAD hThreadSelf = RTThreadSelf();
    for (;;) {
        // Each wait gets the whole interval: the caller's time-out bounds the
        // wait for one wake-up, not the total.
        rtThreadSetBlocked(hThreadSelf, RTTHREADSTATE_RW_WRITE, false);
        const int rcWait = RTSemEventWait(pThis->writeEvent, cMillies);
        rtThreadClearBlocked(hThreadSelf, RTTHREADSTATE_RW_WRITE);
        if (RT_FAILURE(rcWait) && rcWait != ERR_TIMEOUT) {
            rc = rcWait;
            break;
        }
        if (!rtSemRWIsValid(pThis)) {
            rc = ERR_SEM_DESTROYED;
            break;
        }
        rc = RTCritSectEnter(&pThis->cs);
        if (RT_FAILURE(rc))
            break;
        if (pThis->readers == 0 && (pThis->writes == 0 || pThis->writer == hSelf)) {
            pThis->writersWaiting--;
            rc = rtSemRWTakeWrite(pThis, hSelf);
            (void)RTCritSectLeave(&pThis->cs);
            return rc;
        }
        (void)RTCritSectLeave(&pThis->cs);
        // A wake-up that lost the race to another writer waits again; a time-out
        // that still found the lock taken ends the request.
        if (rcWait == ERR_TIMEOUT) {
            rc = ERR_TIMEOUT;
            break;
        }
    }

    if (rtSemRWIsValid(pThis) && RT_SUCCESS(RTCritSectEnter(&pThis->cs))) {
        pThis->writersWaiting--;
        (void)RTCritSectLeave(&pThis->cs);
    }
    return rc;
}

int RTSemRWReleaseWrite(RTSEMRW hRWSem) {
    RTSEMRWINTERNAL *pThis = hRWSem;
    if (!rtSemRWIsValid(pThis))
        return ERR_INVALID_HANDLE;
    int rc = RTCritSectEnter(&pThis->cs);
    if (RT_FAILURE(rc))
        return rc;
    if (pThis->writer != RTThreadNativeSelf() || pThis->writes == 0) {
        (void)RTCritSectLeave(&pThis->cs);
        return ERR_NOT_OWNER;
    }
    pThis->writes--;
    if (pThis->writes == 0) {
        if (pThis->writerReads != 0) {
            pThis->writes++;
            (void)RTCritSectLeave(&pThis->cs);
            return ERR_WRONG_ORDER;
        }
        __atomic_store_n(&pThis->writer, NIL_RTNATIVETHREAD, __ATOMIC_RELEASE);
    }
    if (pThis->writersWaiting > 0)
        rc = RTSemEventSignal(pThis->writeEvent);
    else {
        rc = RTSemEventMultiSignal(pThis->readEvent);
        pThis->readEventNeedsReset = true;
    }
    (void)RTCritSectLeave(&pThis->cs);
    return rc;
}

int RTSemRWDestroy(RTSEMRW hRWSem) {
    RTSEMRWINTERNAL *pThis = hRWSem;
    if (!pThis)
        return 0;
    if (!rtSemRWIsValid(pThis))
        return ERR_INVALID_HANDLE;
    if (RT_FAILURE(RTCritSectTryEnter(&pThis->cs)))
        return ERR_SEM_BUSY;
    if (pThis->readers != 0 || pThis->writes != 0) {
        (void)RTCritSectLeave(&pThis->cs);
        return ERR_SEM_BUSY;
    }
    __atomic_store_n(&pThis->magic, RTSEMRW_MAGIC_DEAD, __ATOMIC_RELEASE);
    int rc = RTSemEventMultiDestroy(pThis->readEvent);
    int rc2 = RTSemEventDestroy(pThis->writeEvent);
    (void)RTCritSectLeave(&pThis->cs);
    int rc3 = RTCritSectDelete(&pThis->cs);
    RTMemFree(pThis);
    if (RT_FAILURE(rc))
        return rc;
    return RT_FAILURE(rc2) ? rc2 : rc3;
}

bool RTSemRWIsWriteOwner(RTSEMRW hRWSem) {
    RTSEMRWINTERNAL *pThis = hRWSem;
    if (!rtSemRWIsValid(pThis))
        return false;
    return __atomic_load_n(&pThis->writer, __ATOMIC_ACQUIRE) == RTThreadNativeSelf();
}
