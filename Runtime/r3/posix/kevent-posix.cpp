// POSIX backend: kernel events made of a mutex, a condition variable on the monotonic
// clock and a signalled flag.
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <olma/err.h>
#include <olma/mem.h>
#include "generic/internal-kevent.h"

namespace {
struct RTKEVENTPOSIX {
    pthread_mutex_t mtx;
    pthread_cond_t cond;
    bool fManualReset;
    bool fSignalled;
    /** Bumped by every set of a manual-reset event, so that a waiter that was
     *  released by a set still leaves when a reset follows before it runs. */
    uint64_t uGeneration;
};

timespec rtKEventDeadline(uint64_t cNsTimeout) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t cSecs = cNsTimeout / UINT64_C(1000000000);
    long cNsRest = (long)(cNsTimeout % UINT64_C(1000000000));
    ts.tv_nsec += cNsRest;
    uint64_t cSecsTotal = cSecs;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_nsec -= 1000000000L;
        cSecsTotal++;
    }
    // Saturate instead of wrapping: such a deadline lies centuries ahead anyway.
    constexpr uint64_t cSecsMax = (uint64_t)INT64_MAX / 4;
    if (cSecsTotal > cSecsMax || (uint64_t)ts.tv_sec > cSecsMax - cSecsTotal)
        ts.tv_sec = (time_t)cSecsMax;
    else
        ts.tv_sec += (time_t)cSecsTotal;
    return ts;
}
} // namespace

int rtKEventCreate(RTKEVENT *phEvent, bool fManualReset) {
    auto *pThis = (RTKEVENTPOSIX *)RTMemAllocZ(sizeof(RTKEVENTPOSIX), __FILE__);
    if (!pThis)
        return ERR_NO_MEMORY;
    int rc = pthread_mutex_init(&pThis->mtx, nullptr);
    if (rc == 0) {
        pthread_condattr_t Attr;
        rc = pthread_condattr_init(&Attr);
        if (rc == 0) {
            rc = pthread_condattr_setclock(&Attr, CLOCK_MONOTONIC);
            if (rc == 0)
                rc = pthread_cond_init(&pThis->cond, &Attr);
            pthread_condattr_destroy(&Attr);
            if (rc == 0) {
                pThis->fManualReset = fManualReset;
                *phEvent = pThis;
                return 0;
            }
        }
        pthread_mutex_destroy(&pThis->mtx);
    }
    RTMemFree(pThis);
    return RTErrConvertFromErrno(rc);
}

int rtKEventSet(RTKEVENT hEvent) {
    auto *pThis = (RTKEVENTPOSIX *)hEvent;
    int rc = pthread_mutex_lock(&pThis->mtx);
    if (rc != 0)
        return RTErrConvertFromErrno(rc);
    if (pThis->fManualReset) {
        if (!pThis->fSignalled) {
            pThis->fSignalled = true;
            pThis->uGeneration++;
        }
        rc = pthread_cond_broadcast(&pThis->cond);
    } else {
        pThis->fSignalled = true;
        rc = pthread_cond_signal(&pThis->cond);
    }
    pthread_mutex_unlock(&pThis->mtx);
    return rc == 0 ? 0 : RTErrConvertFromErrno(rc);
}

int rtKEventReset(RTKEVENT hEvent) {
    auto *pThis = (RTKEVENTPOSIX *)hEvent;
    int rc = pthread_mutex_lock(&pThis->mtx);
    if (rc != 0)
        return RTErrConvertFromErrno(rc);
    pThis->fSignalled = false;
    pthread_mutex_unlock(&pThis->mtx);
    return 0;
}

void rtKEventClose(RTKEVENT hEvent) {
    auto *pThis = (RTKEVENTPOSIX *)hEvent;
    if (!pThis)
        return;
    pthread_cond_destroy(&pThis->cond);
    pthread_mutex_destroy(&pThis->mtx);
    RTMemFree(pThis);
}

RTKWAIT rtKEventWait(RTKEVENT hEvent, uint64_t cNsTimeout) {
    auto *pThis = (RTKEVENTPOSIX *)hEvent;
    if (pthread_mutex_lock(&pThis->mtx) != 0)
        return RTKWAIT::Other;
    const uint64_t uGeneration = pThis->uGeneration;
    const bool fIndefinite = cNsTimeout == RTKEVENT_WAIT_INDEFINITE;
    timespec Deadline = {};
    if (!fIndefinite && cNsTimeout != 0)
        Deadline = rtKEventDeadline(cNsTimeout);

    RTKWAIT enmResult = RTKWAIT::Timeout;
    for (;;) {
        if (pThis->fSignalled || (pThis->fManualReset && pThis->uGeneration != uGeneration)) {
            if (!pThis->fManualReset)
                pThis->fSignalled = false;
            enmResult = RTKWAIT::Signalled;
            break;
        }
        if (cNsTimeout == 0)
            break;
        const int rc = fIndefinite ? pthread_cond_wait(&pThis->cond, &pThis->mtx)
                                   : pthread_cond_timedwait(&pThis->cond, &pThis->mtx, &Deadline);
        if (rc == ETIMEDOUT) {
            // A set that raced with the time-out still counts.
            if (pThis->fSignalled || (pThis->fManualReset && pThis->uGeneration != uGeneration)) {
                if (!pThis->fManualReset)
                    pThis->fSignalled = false;
                enmResult = RTKWAIT::Signalled;
            }
            break;
        }
        if (rc != 0 && rc != EINTR) {
            enmResult = RTKWAIT::Other;
            break;
        }
    }
    pthread_mutex_unlock(&pThis->mtx);
    return enmResult;
}
