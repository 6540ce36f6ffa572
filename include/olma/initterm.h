// Termination callbacks: functions registered to be told that the runtime ends.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/** Why a termination callback is called. */
enum RTTERMREASON : uint32_t {
    RTTERMREASON_EXIT = 1,
    RTTERMREASON_ABEND = 2,
    RTTERMREASON_SIGNAL = 3,
    RTTERMREASON_UNLOAD = 4,
};

typedef void FNRTTERMCALLBACK(RTTERMREASON enmReason, int32_t iStatus, void *pvUser);
typedef FNRTTERMCALLBACK *PFNRTTERMCALLBACK;

/** Registers a callback (newest first). ERR_INVALID_POINTER for a bad callback,
 *  ERR_NO_MEMORY, or the status of creating or taking the list's lock. */
[[nodiscard]] int RTTermRegisterCallback(PFNRTTERMCALLBACK pfnCallback, void *pvUser);
