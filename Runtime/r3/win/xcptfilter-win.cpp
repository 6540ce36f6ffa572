// Windows backend: the runtime's top-level exception filter. Crashes (and the trap of a
// fatal assertion without a debugger) pass through it before the system's default
// handling; it keeps the chain of filters intact.
#include "r3/win/internal-win.h"
#include <olma/log.h>

constinit LPTOP_LEVEL_EXCEPTION_FILTER g_pfnrtR3WinPrevXcptFilter = nullptr;

namespace {
constinit bool g_frtR3WinXcptFilterInstalled = false;
} // namespace

LONG WINAPI rtR3WinUnhandledXcptFilter(struct _EXCEPTION_POINTERS *pXcptPtrs) {
    // A crash report would go into the release logger, or else the default one; no
    // instance exists in this program, so the lookups come back empty.
    RTLOGGER *pLogger = RTLogRelGetDefaultInstanceEx(RTLOGREL_NOTE_FLAGS);
    if (!pLogger)
        pLogger = g_pRTLogDefaultInstance;
    if (pLogger && pXcptPtrs && pXcptPtrs->ExceptionRecord)
        RTLogLoggerEx(pLogger, 0, UINT32_MAX, "Unhandled exception %#x at %p\n",
                      (unsigned)pXcptPtrs->ExceptionRecord->ExceptionCode,
                      pXcptPtrs->ExceptionRecord->ExceptionAddress);

    if (LPTOP_LEVEL_EXCEPTION_FILTER pfnPrev = g_pfnrtR3WinPrevXcptFilter)
        return pfnPrev(pXcptPtrs);
    return EXCEPTION_CONTINUE_SEARCH;
}

void rtR3WinInstallXcptFilter(LPTOP_LEVEL_EXCEPTION_FILTER(WINAPI *pfnSet)(LPTOP_LEVEL_EXCEPTION_FILTER)) {
    if (!pfnSet || g_frtR3WinXcptFilterInstalled)
        return;
    g_frtR3WinXcptFilterInstalled = true;
    LPTOP_LEVEL_EXCEPTION_FILTER pfnPrev = pfnSet(rtR3WinUnhandledXcptFilter);
    // Calling ourselves as the "previous" filter would recurse for ever.
    g_pfnrtR3WinPrevXcptFilter = pfnPrev == rtR3WinUnhandledXcptFilter ? nullptr : pfnPrev;
}
