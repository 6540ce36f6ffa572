// Logging hooks: the entry points the rest of the runtime calls. No logger instance is
// ever created, so each hook checks its pointers and returns; none of them may create
// a logger, open a file or read configuration.
#include <olma/assert.h>
#include <olma/log.h>
#include "common/compiler/internal-startup.h"

constinit RTLOGGER *g_pRTLogDefaultInstance = nullptr;
constinit RTLOGGER *g_pRTLogRelDefaultInstance = nullptr;
constinit PFNRTLOGRELGETTER g_pfnRTLogRelGetter = nullptr;
constinit PFNRTLOGFORWARDER g_pfnRTLogForwarder = nullptr;

void RTLogLoggerExV(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, va_list va) {
    if (PFNRTLOGFORWARDER pfn = g_pfnRTLogForwarder)
        pfn(pLogger, fFlags, iGroup, pszFormat, va);
}

void RTLogLoggerEx(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    RTLogLoggerExV(pLogger, fFlags, iGroup, pszFormat, va);
    va_end(va);
}

void RTLogLogger(RTLOGGER *pLogger, const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    RTLogLoggerExV(pLogger, 0, UINT32_MAX, pszFormat, va);
    va_end(va);
}

RTLOGGER *RTLogRelGetDefaultInstanceEx(uint32_t fFlags) {
    if (PFNRTLOGRELGETTER pfn = g_pfnRTLogRelGetter)
        return pfn(fFlags);
    return nullptr;
}

void RTLogRelPrintf(const char *pszFormat, ...) {
    RTLOGGER *pLogger = RTLogRelGetDefaultInstanceEx(RTLOGREL_NOTE_FLAGS);
    if (!pLogger)
        return;
    va_list va;
    va_start(va, pszFormat);
    RTLogLoggerExV(pLogger, RTLOGREL_NOTE_FLAGS, UINT32_MAX, pszFormat, va);
    va_end(va);
}

void RTLogFlush(RTLOGGER *pLogger) {
    // A logger proper would write out its buffer here; without one there is nothing.
    (void)pLogger;
}

void rtLogExitFlush(bool fInitialized) {
    if (!fInitialized)
        return;
    if (RTLOGGER *pLogger = g_pRTLogDefaultInstance)
        RTLogFlush(pLogger);
    if (RTLOGGER *pLogger = g_pRTLogRelDefaultInstance)
        RTLogFlush(pLogger);
}

namespace {

/** Writes one assertion text into an instance and flushes it, when it exists. */
void rtLogAssertInto(RTLOGGER *pLogger, const char *pszFormat, va_list va) {
    if (!pLogger)
        return;
    va_list vaCopy;
    va_copy(vaCopy, va);
    RTLogLoggerExV(pLogger, 0, UINT32_MAX, pszFormat, vaCopy);
    va_end(vaCopy);
    RTLogFlush(pLogger);
}

void rtLogAssertMsg2V(const char *pszFormat, va_list va) {
    rtLogAssertInto(g_pRTLogRelDefaultInstance, pszFormat, va);
    rtLogAssertInto(g_pRTLogDefaultInstance, pszFormat, va);
}

void rtLogAssertMsg1(const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    rtLogAssertMsg2V(pszFormat, va);
    va_end(va);
}

void rtLogInstallAssertHooks() {
    g_pfnRTAssertMsg1Hook = rtLogAssertMsg1;
    g_pfnRTAssertMsg2Hook = rtLogAssertMsg2V;
}

} // namespace

RT_SECOND_STAGE_INITIALIZER(rtLogInstallAssertHooks);
