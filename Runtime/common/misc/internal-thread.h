// The thread record, the registry that holds the records and the hooks the locks
// use to mark a thread as blocked.
#pragma once

#include <olma/thread.h>
#include <olma/semaphore.h>

constexpr uint32_t RTTHREADINT_MAGIC = 0x18740529;
constexpr uint32_t RTTHREADINT_MAGIC_DEAD = 0x19360614;

/** Creation flags. */
constexpr uint32_t RTTHREADFLAGS_WAITABLE = 0x1;
/** Internal flags. */
constexpr uint32_t RTTHREADINT_FLAGS_ALIEN = 0x1;
constexpr uint32_t RTTHREADINT_FLAGS_IN_TREE = 0x4;
constexpr uint32_t RTTHREADINT_FLAGS_MAIN = 0x8;

/** Native handle value meaning "none". */
constexpr uintptr_t RTTHREAD_NO_NATIVE_HANDLE = ~(uintptr_t)0;

struct RTTHREADINT {
    /** The tree key. */
    RTNATIVETHREAD nativeId;
    RTTHREADINT *left;
    RTTHREADINT *right;
    uint8_t height;
    uint32_t magic;
    uint32_t refs;
    uint32_t state;
    /** Set together with a blocked state when the thread really sleeps in the kernel. */
    uint32_t reallySleeping;
    uintptr_t nativeHandle;
    RTSEMEVENTMULTI terminatedEvent;
    RTSEMEVENTMULTI secondEvent;
    uint32_t type;
    uint32_t flags;
    uint32_t intFlags;
    int32_t exitStatus;
    char name[RTTHREAD_NAME_LEN + 1];
};

/** Sets the registry up and adopts the calling thread as "main". 0, or
 *  INF_ALREADY_INITIALIZED when the registry exists already, or a failure status
 *  (after which nothing is left set up). */
[[nodiscard]] int rtThreadInit();
/** True once rtThreadInit succeeded. */
bool rtThreadIsInitialized();
/** Takes and releases the registry lock for writing; failure is fatal. */
void rtThreadLockRW();
void rtThreadUnLockRW();
/** Makes a record for the calling thread and puts it in the registry. */
[[nodiscard]] int rtThreadAdopt(RTTHREADTYPE enmType, uint32_t fFlags, uint32_t fIntFlags, const char *pszName);
void rtThreadInsert(RTTHREADINT *pThread, RTNATIVETHREAD nativeId);
void rtThreadRemove(RTTHREADINT *pThread);
/** The record registered for a native id (no reference taken), or null. */
RTTHREADINT *rtThreadLookupNative(RTNATIVETHREAD nativeId);
/** Registry counters (threads in the tree, and those of one type). */
uint32_t rtThreadTreeCount();
uint32_t rtThreadTypeCount(RTTHREADTYPE enmType);

/** Blocking bookkeeping of the locks (a null thread is ignored). */
void rtThreadSetBlocked(RTTHREADINT *pThread, RTTHREADSTATE enmState, bool fReallySleeping);
void rtThreadClearBlocked(RTTHREADINT *pThread, RTTHREADSTATE enmState);

/* Balanced search tree keyed by nativeId; the registry keeps one, the functions
 * take the root so that they work on any tree. */
/** False when the key is present already. */
bool rtThreadTreeInsert(RTTHREADINT **ppRoot, RTTHREADINT *pNode);
/** Unlinks and returns the node with the key, or null. */
RTTHREADINT *rtThreadTreeRemove(RTTHREADINT **ppRoot, RTNATIVETHREAD key);
RTTHREADINT *rtThreadTreeLookup(RTTHREADINT *pRoot, RTNATIVETHREAD key);

/* Backend. */
/** Looks up what naming threads needs (absence is fine). */
void rtThreadNativeInit();
/** Gives the calling thread its name at the operating-system level. */
void rtThreadNativeSetName(const char *pszName);
void rtThreadNativeCloseHandle(uintptr_t hNative);
