// Event and multi-event semaphores on top of the backend's kernel events. The
// reference count lets a thread that is still waiting keep the kernel event alive
// while another thread destroys the semaphore: the waiter wakes, sees the changed
// magic and drops the last reference.
#include <olma/semaphore.h>
#include <olma/mem.h>
#include <olma/thread.h>
#include <olma/time.h>
#include "common/misc/internal-thread.h"
#include "generic/internal-sem.h"

namespace {
constexpr uint64_t RT_NS_PER_MS = UINT64_C(1000000);

template <typename T> bool rtSemIsValid(T *pThis, uint32_t uMagic) {
    return RT_VALID_PTR(pThis) && __atomic_load_n(&pThis->magic, __ATOMIC_ACQUIRE) == uMagic;
}

template <typename T> void rtSemRetain(T *pThis) {
    __atomic_add_fetch(&pThis->refs, 1, __ATOMIC_ACQUIRE);
}

template <typename T> void rtSemRelease(T *pThis) {
    if (__atomic_sub_fetch(&pThis->refs, 1, __ATOMIC_ACQ_REL) == 0) {
        rtKEventClose(pThis->event);
        pThis->event = nullptr;
        RTMemFree(pThis);
    }
}

template <typename T> int rtSemCreate(T **ppThis, uint32_t uMagic, bool fManualReset) {
    auto *pThis = (T *)RTMemAllocZ(sizeof(T), __FILE__);
    if (!pThis)
        return ERR_NO_MEMORY;
    int rc = rtKEventCreate(&pThis->event, fManualReset);
    if (RT_FAILURE(rc)) {
        RTMemFree(pThis);
        return rc;
    }
    pThis->refs = 1;
    __atomic_store_n(&pThis->magic, uMagic, __ATOMIC_RELEASE);
    *ppThis = pThis;
    return 0;
}

/** Destroy: the magic changes first so that every waiter woken by the signal below
 *  knows why. Only one caller can win the change, so a second destroy of the same
 *  record cannot drop the owner's reference twice. */
template <typename T> bool rtSemDestroy(T *pThis, uint32_t uMagic) {
    uint32_t uExpected = uMagic;
    if (!__atomic_compare_exchange_n(&pThis->magic, &uExpected, uMagic + 1, false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
        return false;
    (void)rtKEventSet(pThis->event);
    rtSemRelease(pThis);
    return true;
}

/** The wait shared by both kinds. The caller holds a reference. */
int rtSemWait(RTKEVENT hEvent, const uint32_t *puMagic, uint32_t uMagic, uint32_t fFlags, uint64_t uTimeout,
              RTTHREADSTATE enmState) {
    bool fIndefinite = (fFlags & RTSEMWAIT_FLAGS_INDEFINITE) != 0;
    uint64_t cNsLeft = 0;
    if (!fIndefinite) {
        if (uTimeout == UINT64_MAX)
            fIndefinite = true;
        else if (fFlags & RTSEMWAIT_FLAGS_MILLISECS) {
            // Past this value the nanosecond count would overflow.
            if (uTimeout >= RTSEMWAIT_MS_INDEFINITE_THRESHOLD)
                fIndefinite = true;
            else
                cNsLeft = uTimeout * RT_NS_PER_MS;
        } else
            cNsLeft = uTimeout;
    }
    uint64_t u64Last = 0;
    if (!fIndefinite && (fFlags & (RTSEMWAIT_FLAGS_ABSOLUTE | RTSEMWAIT_FLAGS_RESUME))) {
        u64Last = RTTimeNanoTS();
        if (fFlags & RTSEMWAIT_FLAGS_ABSOLUTE)
            cNsLeft = cNsLeft > u64Last ? cNsLeft - u64Last : 0;
    }

    RTTHREAD hSelf = RTThreadSelf();
    for (;;) {
        rtThreadSetBlocked(hSelf, enmState, true);
        const RTKWAIT enmWait = rtKEventWait(hEvent, fIndefinite ? RTKEVENT_WAIT_INDEFINITE : cNsLeft);
        rtThreadClearBlocked(hSelf, enmState);

        if (__atomic_load_n(puMagic, __ATOMIC_ACQUIRE) != uMagic)
            return ERR_SEM_DESTROYED;
        switch (enmWait) {
        case RTKWAIT::Signalled:
            return 0;
        case RTKWAIT::Abandoned:
            return ERR_SEM_OWNER_DIED;
        case RTKWAIT::Timeout:
            return ERR_TIMEOUT;
        case RTKWAIT::Interrupted:
            if (!(fFlags & RTSEMWAIT_FLAGS_RESUME))
                return ERR_INTERRUPTED;
            if (!fIndefinite && cNsLeft != 0) {
                const uint64_t u64Now = RTTimeNanoTS();
                const uint64_t cNsElapsed = u64Now - u64Last;
                u64Last = u64Now;
                cNsLeft = cNsElapsed < cNsLeft ? cNsLeft - cNsElapsed : 0;
            }
            break;
        default:
            return ERR_INTERNAL_ERROR_4;
        }
    }
}

uint32_t rtSemMsFlags(RTMSINTERVAL cMillies, uint32_t fResume) {
    if (cMillies == RT_INDEFINITE_WAIT)
        return RTSEMWAIT_FLAGS_INDEFINITE | fResume;
    return RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_MILLISECS | fResume;
}
} // namespace

/* --- Event semaphore --- */

int RTSemEventCreate(RTSEMEVENT *phEventSem) {
    return RTSemEventCreateEx(phEventSem, 0);
}

int RTSemEventCreateEx(RTSEMEVENT *phEventSem, uint32_t fFlags) {
    if (fFlags & ~(RTSEMEVENT_FLAGS_NO_LOCK_VAL | RTSEMEVENT_FLAGS_BOOTSTRAP_HACK))
        return ERR_INVALID_PARAMETER;
    if (!RT_VALID_PTR(phEventSem))
        return ERR_INVALID_POINTER;
    return rtSemCreate(phEventSem, RTSEMEVENT_MAGIC, false /*fManualReset*/);
}

int RTSemEventSignal(RTSEMEVENT hEventSem) {
    RTSEMEVENTINTERNAL *pThis = hEventSem;
    if (!rtSemIsValid(pThis, RTSEMEVENT_MAGIC))
        return ERR_INVALID_HANDLE;
    rtSemRetain(pThis);
    const int rc = rtKEventSet(pThis->event);
    rtSemRelease(pThis);
    return rc;
}

int RTSemEventWait(RTSEMEVENT hEventSem, RTMSINTERVAL cMillies) {
    return RTSemEventWaitEx(hEventSem, rtSemMsFlags(cMillies, RTSEMWAIT_FLAGS_RESUME), cMillies);
}

int RTSemEventWaitEx(RTSEMEVENT hEventSem, uint32_t fFlags, uint64_t uTimeout) {
    RTSEMEVENTINTERNAL *pThis = hEventSem;
    if (!pThis)
        return ERR_INVALID_PARAMETER;
    if (!rtSemIsValid(pThis, RTSEMEVENT_MAGIC))
        return ERR_INVALID_HANDLE;
    if (!RTSEMWAIT_FLAGS_ARE_VALID(fFlags))
        return ERR_INVALID_FLAGS;
    rtSemRetain(pThis);
    const int rc = rtSemWait(pThis->event, &pThis->magic, RTSEMEVENT_MAGIC, fFlags, uTimeout, RTTHREADSTATE_EVENT);
    // Destroy wakes a single waiter of this auto-reset event; pass the wake-up on so
    // that every other waiter learns of the destruction too instead of sleeping on.
    if (rc == ERR_SEM_DESTROYED)
        (void)rtKEventSet(pThis->event);
    rtSemRelease(pThis);
    return rc;
}

int RTSemEventDestroy(RTSEMEVENT hEventSem) {
    RTSEMEVENTINTERNAL *pThis = hEventSem;
    if (!pThis)
        return 0;
    if (!RT_VALID_PTR(pThis) || !rtSemDestroy(pThis, RTSEMEVENT_MAGIC))
        return ERR_INVALID_HANDLE;
    return 0;
}

/* --- Multi-event semaphore --- */

int RTSemEventMultiCreate(RTSEMEVENTMULTI *phEventMultiSem) {
    return RTSemEventMultiCreateEx(phEventMultiSem, 0);
}

int RTSemEventMultiCreateEx(RTSEMEVENTMULTI *phEventMultiSem, uint32_t fFlags) {
    if (fFlags & ~RTSEMEVENTMULTI_FLAGS_NO_LOCK_VAL)
        return ERR_INVALID_PARAMETER;
    if (!RT_VALID_PTR(phEventMultiSem))
        return ERR_INVALID_POINTER;
    return rtSemCreate(phEventMultiSem, RTSEMEVENTMULTI_MAGIC, true /*fManualReset*/);
}

int RTSemEventMultiSignal(RTSEMEVENTMULTI hEventMultiSem) {
    RTSEMEVENTMULTIINTERNAL *pThis = hEventMultiSem;
    if (!rtSemIsValid(pThis, RTSEMEVENTMULTI_MAGIC))
        return ERR_INVALID_PARAMETER;
    rtSemRetain(pThis);
    const int rc = rtKEventSet(pThis->event);
    rtSemRelease(pThis);
    return rc;
}

int RTSemEventMultiReset(RTSEMEVENTMULTI hEventMultiSem) {
    RTSEMEVENTMULTIINTERNAL *pThis = hEventMultiSem;
    if (!rtSemIsValid(pThis, RTSEMEVENTMULTI_MAGIC))
        return ERR_INVALID_PARAMETER;
    rtSemRetain(pThis);
    const int rc = rtKEventReset(pThis->event);
    rtSemRelease(pThis);
    return rc;
}

int RTSemEventMultiWait(RTSEMEVENTMULTI hEventMultiSem, RTMSINTERVAL cMillies) {
    return RTSemEventMultiWaitEx(hEventMultiSem, rtSemMsFlags(cMillies, RTSEMWAIT_FLAGS_RESUME), cMillies);
}

int RTSemEventMultiWaitNoResume(RTSEMEVENTMULTI hEventMultiSem, RTMSINTERVAL cMillies) {
    return RTSemEventMultiWaitEx(hEventMultiSem, rtSemMsFlags(cMillies, RTSEMWAIT_FLAGS_NORESUME), cMillies);
}

int RTSemEventMultiWaitEx(RTSEMEVENTMULTI hEventMultiSem, uint32_t fFlags, uint64_t uTimeout) {
    RTSEMEVENTMULTIINTERNAL *pThis = hEventMultiSem;
    if (!rtSemIsValid(pThis, RTSEMEVENTMULTI_MAGIC) || !RTSEMWAIT_FLAGS_ARE_VALID(fFlags))
        return ERR_INVALID_PARAMETER;
    rtSemRetain(pThis);
    const int rc =
        rtSemWait(pThis->event, &pThis->magic, RTSEMEVENTMULTI_MAGIC, fFlags, uTimeout, RTTHREADSTATE_EVENT_MULTI);
    rtSemRelease(pThis);
    return rc;
}

int RTSemEventMultiDestroy(RTSEMEVENTMULTI hEventMultiSem) {
    RTSEMEVENTMULTIINTERNAL *pThis = hEventMultiSem;
    if (!pThis)
        return 0;
    if (!RT_VALID_PTR(pThis) || !rtSemDestroy(pThis, RTSEMEVENTMULTI_MAGIC))
        return ERR_INVALID_PARAMETER;
    return 0;
}
