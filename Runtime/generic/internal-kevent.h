// The kernel events under the event and multi-event semaphores: one auto-reset or
// manual-reset event with a relative, interruptible wait. Each backend supplies
// these; the semaphore logic on top of them is shared.
#pragma once

#include <olma/cdefs.h>

typedef void *RTKEVENT;

/** How a kernel wait ended. */
enum class RTKWAIT {
    Signalled,
    Abandoned,
    Interrupted,
    Timeout,
    Other,
};

/** Marks an indefinite wait for rtKEventWait. */
constexpr uint64_t RTKEVENT_WAIT_INDEFINITE = UINT64_MAX;

/** Creates a non-signalled event; a status (converted OS error) on failure. */
[[nodiscard]] int rtKEventCreate(RTKEVENT *phEvent, bool fManualReset);
[[nodiscard]] int rtKEventSet(RTKEVENT hEvent);
[[nodiscard]] int rtKEventReset(RTKEVENT hEvent);
void rtKEventClose(RTKEVENT hEvent);
/** Waits at most cNsTimeout nanoseconds (RTKEVENT_WAIT_INDEFINITE: no limit); the
 *  wait may be interrupted where the platform has such a thing. */
RTKWAIT rtKEventWait(RTKEVENT hEvent, uint64_t cNsTimeout);
