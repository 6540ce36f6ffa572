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

/* --- Runtime initialisation --- */
/** Restrict the default library search to the system directory. */
constexpr uint32_t RTR3INIT_FLAGS_SYSTEM_DLL_PATH = 4;
/** Skip the library-loading hardening. */
constexpr uint32_t RTR3INIT_FLAGS_SKIP_DLL_HARDENING = 8;

/** Initialises the runtime for an executable. The first call does the work; later
 *  calls merge their flags, do the library hardening when it was skipped so far and
 *  is now wanted, replace the program path when one is given, and insist on the same
 *  argument count and vector as the first call (ERR_WRONG_ORDER otherwise).
 *  pszProgramPath (optional) replaces the image's own path as the executable path. */
[[nodiscard]] int RTR3Init(int cArgs, char ***ppapszArgs, uint32_t fFlags, const char *pszProgramPath = nullptr);
/** True once RTR3Init has succeeded. */
bool RTR3InitIsInitialized();
