// Recursive critical section built on an event semaphore. The lockers counter
// decides ownership without a kernel call when the section is free; only threads
// that find it taken sleep on the event.
#include <olma/semaphore.h>
#include <olma/assert.h>
#include <olma/thread.h>
#include "common/misc/internal-thread.h"

namespace {
bool rtCritSectIsAlive(const RTCRITSECT *pCritSect) {
    return __atomic_load_n(&pCritSect->magic, __ATOMIC_ACQUIRE) == RTCRITSECT_MAGIC;
}

// Delete clears the flags while late waiters may still look at them.
uint32_t rtCritSectFlags(const RTCRITSECT *pCritSect) {
    return __atomic_load_n(&pCritSect->flags, __ATOMIC_RELAXED);
}

void rtCritSectTake(RTCRITSECT *pCritSect, RTNATIVETHREAD hSelf) {
    pCritSect->nestings = 1;
    __atomic_exchange_n(&pCritSect->owner, hSelf, __ATOMIC_ACQ_REL);
}
} // namespace

int RTCritSectInit(RTCRITSECT *pCritSect) {
    return RTCritSectInitEx(pCritSect, 0, nullptr, 0, "RTCritSect");
}

int RTCritSectInitEx(RTCRITSECT *pCritSect, uint32_t fFlags, void *hClass, uint32_t uSubClass, const char *pszNameFmt,
                     ...) {
    (void)hClass;
    (void)uSubClass;
    (void)pszNameFmt;
    if (fFlags & ~RTCRITSECT_FLAGS_VALID_MASK)
        return ERR_INVALID_PARAMETER;
    pCritSect->lockers = -1;
    pCritSect->owner = RTCRITSECT_NO_OWNER;
    pCritSect->nestings = 0;
    pCritSect->flags = fFlags;
    pCritSect->waitEvent = NIL_RTSEMEVENT;
    const int rc = RTSemEventCreate(&pCritSect->waitEvent);
    // A failed section keeps the failure in its magic: every later operation on it
    // then fails instead of touching a missing event.
    __atomic_store_n(&pCritSect->magic, RT_SUCCESS(rc) ? RTCRITSECT_MAGIC : (uint32_t)rc, __ATOMIC_RELEASE);
    return rc;
}

int RTCritSectEnter(RTCRITSECT *pCritSect) {
    if (!rtCritSectIsAlive(pCritSect))
        return ERR_SEM_DESTROYED;
    if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NOP)
        return 0;
    const RTNATIVETHREAD hSelf = RTThreadNativeSelf();
    if (__atomic_add_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL) > 0) {
        if (__atomic_load_n(&pCritSect->owner, __ATOMIC_ACQUIRE) == hSelf) {
            if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NO_NESTING) {
                __atomic_sub_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL);
                return ERR_SEM_NESTED;
            }
            pCritSect->nestings++;
            return 0;
        }

        RTTHREAD hThreadSelf = RTThreadSelf();
        for (;;) {
            rtThreadSetBlocked(hThreadSelf, RTTHREADSTATE_CRITSECT, false);
            // Delete detaches the event while waiters may be on their way here.
            const int rc = RTSemEventWait(__atomic_load_n(&pCritSect->waitEvent, __ATOMIC_ACQUIRE), RT_INDEFINITE_WAIT);
            rtThreadClearBlocked(hThreadSelf, RTTHREADSTATE_CRITSECT);
            if (!rtCritSectIsAlive(pCritSect))
                return ERR_SEM_DESTROYED;
            if (RT_SUCCESS(rc))
                break;
        }
    }
    rtCritSectTake(pCritSect, hSelf);
    return 0;
}

int RTCritSectTryEnter(RTCRITSECT *pCritSect) {
    if (!rtCritSectIsAlive(pCritSect))
        return ERR_SEM_DESTROYED;
    if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NOP)
        return 0;
    const RTNATIVETHREAD hSelf = RTThreadNativeSelf();
    int32_t iExpected = -1;
    if (!__atomic_compare_exchange_n(&pCritSect->lockers, &iExpected, 0, false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
        if (__atomic_load_n(&pCritSect->owner, __ATOMIC_ACQUIRE) != hSelf)
            return ERR_SEM_BUSY;
        if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NO_NESTING)
            return ERR_SEM_NESTED;
        __atomic_add_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL);
        pCritSect->nestings++;
        return 0;
    }
    rtCritSectTake(pCritSect, hSelf);
    return 0;
}

int RTCritSectLeave(RTCRITSECT *pCritSect) {
    if (!rtCritSectIsAlive(pCritSect))
        return ERR_SEM_DESTROYED;
    if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NOP)
        return 0;
    // Only the owner may leave; a stray leave from another thread would hand the
    // section to a waiter while its owner still works inside it.
    if (__atomic_load_n(&pCritSect->owner, __ATOMIC_ACQUIRE) != RTThreadNativeSelf())
        return ERR_NOT_OWNER;
    if (--pCritSect->nestings > 0) {
        __atomic_sub_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL);
        return 0;
    }
    __atomic_store_n(&pCritSect->owner, RTCRITSECT_NO_OWNER, __ATOMIC_RELEASE);
    if (__atomic_sub_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL) >= 0) {
        const int rc = RTSemEventSignal(__atomic_load_n(&pCritSect->waitEvent, __ATOMIC_ACQUIRE));
        if (RT_FAILURE(rc)) {
            // A waiter that cannot be woken would sleep for ever with the section
            // free: nothing sensible can go on from here.
            RT_ASSERT_FATAL_MSG("RT_SUCCESS_NP(rc)", "RTSemEventSignal -> %Rrc\n", rc);
        }
    }
    return 0;
}

int RTCritSectDelete(RTCRITSECT *pCritSect) {
    if (!rtCritSectIsAlive(pCritSect))
        return ERR_SEM_DESTROYED;
    __atomic_store_n(&pCritSect->magic, RTCRITSECT_MAGIC_DEAD, __ATOMIC_RELEASE);
    __atomic_store_n(&pCritSect->flags, 0u, __ATOMIC_RELAXED);
    pCritSect->nestings = 0;
    __atomic_store_n(&pCritSect->owner, RTCRITSECT_NO_OWNER, __ATOMIC_RELEASE);
    RTSEMEVENT hEvent = __atomic_exchange_n(&pCritSect->waitEvent, NIL_RTSEMEVENT, __ATOMIC_ACQ_REL);
    // Wake every thread still counted so that it sees the dead magic and gives up.
    while (__atomic_sub_fetch(&pCritSect->lockers, 1, __ATOMIC_ACQ_REL) >= 0)
        (void)RTSemEventSignal(hEvent);
    __atomic_store_n(&pCritSect->lockers, -1, __ATOMIC_RELEASE);
    return RTSemEventDestroy(hEvent);
}

bool RTCritSectIsOwner(const RTCRITSECT *pCritSect) {
    if (!rtCritSectIsAlive(pCritSect))
        return false;
    if (rtCritSectFlags(pCritSect) & RTCRITSECT_FLAGS_NOP)
        return true;
    return __atomic_load_n(&pCritSect->owner, __ATOMIC_ACQUIRE) == RTThreadNativeSelf();
}
