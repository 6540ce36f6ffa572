// Termination callbacks, the part the runtime itself uses.
#pragma once

#include <olma/initterm.h>

/** Calls every registered callback, newest first, and forgets them. This system has
 *  no step that calls it; it exists for programs that end the runtime explicitly. */
void rtTermRunCallbacks(RTTERMREASON enmReason, int32_t iStatus);
/** Number of registered callbacks. */
uint32_t rtTermCallbackCount();
