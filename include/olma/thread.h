// Threads known to the runtime and thread-local storage. The runtime creates no
// threads of its own; it adopts the thread that initialises it as "main".
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

struct RTTHREADINT;
typedef RTTHREADINT *RTTHREAD;
constexpr RTTHREAD NIL_RTTHREAD = nullptr;

/** Native thread id (the system's thread id). */
typedef uint32_t RTNATIVETHREAD;
constexpr RTNATIVETHREAD NIL_RTNATIVETHREAD = UINT32_MAX;

/** Thread states, as kept in the thread record. */
enum RTTHREADSTATE : uint32_t {
    RTTHREADSTATE_INVALID = 0,
    RTTHREADSTATE_INITIALIZING = 1,
    RTTHREADSTATE_TERMINATED = 2,
    RTTHREADSTATE_RUNNING = 3,
    RTTHREADSTATE_CRITSECT = 4,
    RTTHREADSTATE_EVENT = 5,
    RTTHREADSTATE_EVENT_MULTI = 6,
    RTTHREADSTATE_RW_WRITE = 10,
};

/** Thread types; each has its own counter in the registry. */
enum RTTHREADTYPE : uint32_t {
    RTTHREADTYPE_INVALID = 0,
    RTTHREADTYPE_INFREQUENT_POLLER = 1,
    RTTHREADTYPE_EMULATION = 2,
    RTTHREADTYPE_DEFAULT = 3,
    RTTHREADTYPE_MAIN_WORKER = 4,
    RTTHREADTYPE_IO = 5,
    RTTHREADTYPE_TIMER = 6,
    RTTHREADTYPE_END = 7,
};

/** Longest thread name kept, without the terminator. */
constexpr size_t RTTHREAD_NAME_LEN = 15;

/** The calling thread's record, or null when the runtime does not know it. No
 *  reference is taken. */
RTTHREAD RTThreadSelf();
/** The calling thread's native id. */
RTNATIVETHREAD RTThreadNativeSelf();
/** Adds a reference; returns the new count (0 for a bad record). */
uint32_t RTThreadRetain(RTTHREAD hThread);
/** Drops a reference; returns the new count, 0 when it already was 0. The last
 *  release destroys the record. */
uint32_t RTThreadRelease(RTTHREAD hThread);
/** The record's name, or null for a bad record. */
const char *RTThreadGetName(RTTHREAD hThread);
/** The record's state, RTTHREADSTATE_INVALID for a bad record. */
RTTHREADSTATE RTThreadGetState(RTTHREAD hThread);
/** The record's native id, NIL_RTNATIVETHREAD for a bad record. */
RTNATIVETHREAD RTThreadGetNative(RTTHREAD hThread);

/* --- Thread-local storage --- */
typedef int32_t RTTLS;
constexpr RTTLS NIL_RTTLS = -1;

/** A new slot, NIL_RTTLS when none is left. */
RTTLS RTTlsAlloc();
[[nodiscard]] int RTTlsFree(RTTLS iTls);
/** The calling thread's value in the slot (null when never set). */
void *RTTlsGet(RTTLS iTls);
/** Sets the calling thread's value; the OS error converted on failure. */
[[nodiscard]] int RTTlsSet(RTTLS iTls, void *pvValue);
