// Logging hooks. The runtime's diagnostic notes are written as if a logger could
// receive them; nothing ever creates one, so every note ends in a null check here.
#pragma once

#include <olma/cdefs.h>
#include <cstdarg>

/** A logger instance (never created in this program; only pointers to it exist). */
struct RTLOGGER;

/** Would return the release instance for the given flags. */
typedef RTLOGGER *FNRTLOGRELGETTER(uint32_t fFlags);
typedef FNRTLOGRELGETTER *PFNRTLOGRELGETTER;
/** Would format one log call into an instance. */
typedef void FNRTLOGFORWARDER(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, va_list va);
typedef FNRTLOGFORWARDER *PFNRTLOGFORWARDER;

/* Process-wide pointers, null for the whole run. */
extern RTLOGGER *g_pRTLogDefaultInstance;
extern RTLOGGER *g_pRTLogRelDefaultInstance;
extern PFNRTLOGRELGETTER g_pfnRTLogRelGetter;
extern PFNRTLOGFORWARDER g_pfnRTLogForwarder;

/** Flags the runtime's release notes ask the getter with. */
constexpr uint32_t RTLOGREL_NOTE_FLAGS = 16;

/** Hands one log call to the forwarder when there is one. */
void RTLogLoggerEx(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, ...);
void RTLogLoggerExV(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, va_list va);
/** RTLogLoggerEx with flags 0 and group -1. */
void RTLogLogger(RTLOGGER *pLogger, const char *pszFormat, ...);
/** The release instance the getter hands out for fFlags, or null. */
RTLOGGER *RTLogRelGetDefaultInstanceEx(uint32_t fFlags);
/** Writes a release note: asks the getter for an instance (flags 16) and writes only
 *  when one is handed out. */
void RTLogRelPrintf(const char *pszFormat, ...);
/** Flushes an instance; null is fine and does nothing. */
void RTLogFlush(RTLOGGER *pLogger);
/** The exit hook: when the runtime was initialised, flushes the default and the release
 *  instance (when they exist). */
void rtLogExitFlush(bool fInitialized);
