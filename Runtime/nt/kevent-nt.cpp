// Windows (NT) backend: kernel events are NT event objects; waits are alertable so
// that queued procedure calls and alerts can interrupt them.
#include "r3/win/internal-win.h"
#include <olma/err.h>
#include "generic/internal-kevent.h"

int rtKEventCreate(RTKEVENT *phEvent, bool fManualReset) {
    HANDLE hEvent = nullptr;
    const NTSTATUS rcNt =
        NtCreateEvent(&hEvent, EVENT_ALL_ACCESS, nullptr, fManualReset ? RtNotificationEvent : RtSynchronizationEvent,
                      FALSE /*InitialState*/);
    if (rcNt < 0)
        return RTErrConvertFromNtStatus(rcNt);
    *phEvent = hEvent;
    return 0;
}

int rtKEventSet(RTKEVENT hEvent) {
    const NTSTATUS rcNt = NtSetEvent((HANDLE)hEvent, nullptr);
    return rcNt < 0 ? RTErrConvertFromNtStatus(rcNt) : 0;
}

int rtKEventReset(RTKEVENT hEvent) {
    const NTSTATUS rcNt = NtResetEvent((HANDLE)hEvent, nullptr);
    return rcNt < 0 ? RTErrConvertFromNtStatus(rcNt) : 0;
}

void rtKEventClose(RTKEVENT hEvent) {
    if (hEvent)
        NtClose((HANDLE)hEvent);
}

RTKWAIT rtKEventWait(RTKEVENT hEvent, uint64_t cNsTimeout) {
    LARGE_INTEGER Timeout;
    PLARGE_INTEGER pTimeout = nullptr;
    if (cNsTimeout != RTKEVENT_WAIT_INDEFINITE) {
        // Negative means relative, in 100 ns units.
        Timeout.QuadPart = -(LONGLONG)(cNsTimeout / 100);
        pTimeout = &Timeout;
    }
    const NTSTATUS rcNt = NtWaitForSingleObject((HANDLE)hEvent, TRUE /*Alertable*/, pTimeout);
    switch (rcNt) {
    case STATUS_WAIT_0:
        return RTKWAIT::Signalled;
    case STATUS_ABANDONED_WAIT_0:
        return RTKWAIT::Abandoned;
    case STATUS_USER_APC:
    case STATUS_ALERTED:
        return RTKWAIT::Interrupted;
    case STATUS_TIMEOUT:
        return RTKWAIT::Timeout;
    default:
        return RTKWAIT::Other;
    }
}
