// Synchronisation objects: auto-reset event semaphores, manual-reset multi-event
// semaphores, the recursive critical section, the fast mutex and the read/write
// semaphore (write side).
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <olma/time.h>

/** RTMSINTERVAL (milliseconds) that waits forever. */
constexpr RTMSINTERVAL RT_INDEFINITE_WAIT = UINT32_MAX;

/* --- Wait flags for the extended waits --- */
constexpr uint32_t RTSEMWAIT_FLAGS_RELATIVE = 0x01;
constexpr uint32_t RTSEMWAIT_FLAGS_ABSOLUTE = 0x02;
constexpr uint32_t RTSEMWAIT_FLAGS_NANOSECS = 0x04;
constexpr uint32_t RTSEMWAIT_FLAGS_MILLISECS = 0x08;
constexpr uint32_t RTSEMWAIT_FLAGS_INDEFINITE = 0x10;
constexpr uint32_t RTSEMWAIT_FLAGS_NORESUME = 0x20;
constexpr uint32_t RTSEMWAIT_FLAGS_RESUME = 0x40;
constexpr uint32_t RTSEMWAIT_FLAGS_VALID_MASK = 0x7f;
/** Millisecond timeouts from this value on cannot be expressed in nanoseconds and
 *  count as indefinite. */
constexpr uint64_t RTSEMWAIT_MS_INDEFINITE_THRESHOLD = UINT64_C(18446744073709);

/** True for a flag combination the extended waits accept. */
constexpr bool RTSEMWAIT_FLAGS_ARE_VALID(uint32_t f) {
    if (f & ~RTSEMWAIT_FLAGS_VALID_MASK)
        return false;
    const uint32_t fResume = f & (RTSEMWAIT_FLAGS_NORESUME | RTSEMWAIT_FLAGS_RESUME);
    if (fResume != RTSEMWAIT_FLAGS_NORESUME && fResume != RTSEMWAIT_FLAGS_RESUME)
        return false;
    if (f & RTSEMWAIT_FLAGS_INDEFINITE)
        return (f & ~(RTSEMWAIT_FLAGS_INDEFINITE | RTSEMWAIT_FLAGS_NORESUME | RTSEMWAIT_FLAGS_RESUME)) == 0;
    const uint32_t fKind = f & (RTSEMWAIT_FLAGS_RELATIVE | RTSEMWAIT_FLAGS_ABSOLUTE);
    const uint32_t fUnit = f & (RTSEMWAIT_FLAGS_NANOSECS | RTSEMWAIT_FLAGS_MILLISECS);
    return (fKind == RTSEMWAIT_FLAGS_RELATIVE || fKind == RTSEMWAIT_FLAGS_ABSOLUTE) &&
           (fUnit == RTSEMWAIT_FLAGS_NANOSECS || fUnit == RTSEMWAIT_FLAGS_MILLISECS);
}

/* --- Event semaphore: auto-reset, one waiter wakes per signal --- */
struct RTSEMEVENTINTERNAL;
typedef RTSEMEVENTINTERNAL *RTSEMEVENT;
constexpr RTSEMEVENT NIL_RTSEMEVENT = nullptr;
constexpr uint32_t RTSEMEVENT_FLAGS_NO_LOCK_VAL = 0x1;
constexpr uint32_t RTSEMEVENT_FLAGS_BOOTSTRAP_HACK = 0x4;

[[nodiscard]] int RTSemEventCreate(RTSEMEVENT *phEventSem);
/** Flags: RTSEMEVENT_FLAGS_NO_LOCK_VAL and RTSEMEVENT_FLAGS_BOOTSTRAP_HACK only. */
[[nodiscard]] int RTSemEventCreateEx(RTSEMEVENT *phEventSem, uint32_t fFlags);
int RTSemEventSignal(RTSEMEVENT hEventSem);
[[nodiscard]] int RTSemEventWait(RTSEMEVENT hEventSem, RTMSINTERVAL cMillies);
[[nodiscard]] int RTSemEventWaitEx(RTSEMEVENT hEventSem, uint32_t fFlags, uint64_t uTimeout);
int RTSemEventDestroy(RTSEMEVENT hEventSem);

/* --- Multi-event semaphore: manual-reset, a signal wakes every waiter --- */
struct RTSEMEVENTMULTIINTERNAL;
typedef RTSEMEVENTMULTIINTERNAL *RTSEMEVENTMULTI;
constexpr RTSEMEVENTMULTI NIL_RTSEMEVENTMULTI = nullptr;
constexpr uint32_t RTSEMEVENTMULTI_FLAGS_NO_LOCK_VAL = 0x1;

[[nodiscard]] int RTSemEventMultiCreate(RTSEMEVENTMULTI *phEventMultiSem);
/** Flags: 0 or RTSEMEVENTMULTI_FLAGS_NO_LOCK_VAL. */
[[nodiscard]] int RTSemEventMultiCreateEx(RTSEMEVENTMULTI *phEventMultiSem, uint32_t fFlags);
int RTSemEventMultiSignal(RTSEMEVENTMULTI hEventMultiSem);
int RTSemEventMultiReset(RTSEMEVENTMULTI hEventMultiSem);
/** Waits, resuming after interruptions. */
[[nodiscard]] int RTSemEventMultiWait(RTSEMEVENTMULTI hEventMultiSem, RTMSINTERVAL cMillies);
/** Waits; an interruption ends the wait with ERR_INTERRUPTED. */
[[nodiscard]] int RTSemEventMultiWaitNoResume(RTSEMEVENTMULTI hEventMultiSem, RTMSINTERVAL cMillies);
[[nodiscard]] int RTSemEventMultiWaitEx(RTSEMEVENTMULTI hEventMultiSem, uint32_t fFlags, uint64_t uTimeout);
int RTSemEventMultiDestroy(RTSEMEVENTMULTI hEventMultiSem);

/* --- Critical section: recursive lock owned by one thread --- */
constexpr uint32_t RTCRITSECT_MAGIC = 0x19790326;
constexpr uint32_t RTCRITSECT_MAGIC_DEAD = ~RTCRITSECT_MAGIC;
/** Entering twice from the owner fails with ERR_SEM_NESTED. */
constexpr uint32_t RTCRITSECT_FLAGS_NO_NESTING = 0x1;
/** Chosen while the runtime is not initialised yet; recorded only. */
constexpr uint32_t RTCRITSECT_FLAGS_BOOTSTRAP_HACK = 0x2;
constexpr uint32_t RTCRITSECT_FLAGS_NO_LOCK_VAL = 0x4;
/** Every operation succeeds without doing anything. */
constexpr uint32_t RTCRITSECT_FLAGS_NOP = 0x8;
constexpr uint32_t RTCRITSECT_FLAGS_VALID_MASK = 0xf;
/** The owner field of a free critical section. */
constexpr uint32_t RTCRITSECT_NO_OWNER = UINT32_MAX;

/** Critical section record, owned (and usually embedded) by its user. A zeroed
 *  record is not usable until RTCritSectInit. */
struct RTCRITSECT {
    /** RTCRITSECT_MAGIC while usable; its complement after delete; the failure
     *  status when initialisation failed. */
    uint32_t magic;
    /** -1 when free, else outstanding enters plus waiting threads, minus one. */
    int32_t lockers;
    /** Native id of the owner, RTCRITSECT_NO_OWNER when none. */
    uint32_t owner;
    /** Recursion depth of the owner. */
    uint32_t nestings;
    uint32_t flags;
    /** Where waiting threads sleep. */
    RTSEMEVENT waitEvent;
};

[[nodiscard]] int RTCritSectInit(RTCRITSECT *pCritSect);
/** Class, subclass and name are accepted for lock validation and otherwise ignored. */
[[nodiscard]] int RTCritSectInitEx(RTCRITSECT *pCritSect, uint32_t fFlags, void *hClass, uint32_t uSubClass,
                                   const char *pszNameFmt, ...);
[[nodiscard]] int RTCritSectEnter(RTCRITSECT *pCritSect);
[[nodiscard]] int RTCritSectTryEnter(RTCRITSECT *pCritSect);
int RTCritSectLeave(RTCRITSECT *pCritSect);
int RTCritSectDelete(RTCRITSECT *pCritSect);
/** True when the calling thread owns the section. */
bool RTCritSectIsOwner(const RTCRITSECT *pCritSect);

/* --- Fast mutex: a critical section without nesting --- */
typedef RTCRITSECT *RTSEMFASTMUTEX;
constexpr RTSEMFASTMUTEX NIL_RTSEMFASTMUTEX = nullptr;

[[nodiscard]] int RTSemFastMutexCreate(RTSEMFASTMUTEX *phFastMtx);
[[nodiscard]] int RTSemFastMutexRequest(RTSEMFASTMUTEX hFastMtx);
int RTSemFastMutexRelease(RTSEMFASTMUTEX hFastMtx);
int RTSemFastMutexDestroy(RTSEMFASTMUTEX hFastMtx);

/* --- Read/write semaphore (this system only takes it for writing) --- */
struct RTSEMRWINTERNAL;
typedef RTSEMRWINTERNAL *RTSEMRW;
constexpr RTSEMRW NIL_RTSEMRW = nullptr;
constexpr uint32_t RTSEMRW_FLAGS_NO_LOCK_VAL = 0x1;

[[nodiscard]] int RTSemRWCreate(RTSEMRW *phRWSem);
/** Flags: 0 or RTSEMRW_FLAGS_NO_LOCK_VAL. */
[[nodiscard]] int RTSemRWCreateEx(RTSEMRW *phRWSem, uint32_t fFlags);
[[nodiscard]] int RTSemRWRequestWrite(RTSEMRW hRWSem, RTMSINTERVAL cMillies);
int RTSemRWReleaseWrite(RTSEMRW hRWSem);
int RTSemRWDestroy(RTSEMRW hRWSem);
/** True when the calling thread holds the semaphore for writing. */
bool RTSemRWIsWriteOwner(RTSEMRW hRWSem);
