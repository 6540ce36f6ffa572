// Windows backend: markers around the .CRT$X?? tables. The linker sorts the sections
// by name, so ".CRT$XIA" comes before every ".CRT$XIU" entry and ".CRT$XIZ" after it.
// With the C runtime linked in, its start-up code runs the first two tables itself and
// the terminators are run from an exit handler registered here.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-inittables.h"

extern "C" {
__attribute__((section(".CRT$XIA"), used)) PFNRTFIRSTSTAGEINIT g_rtXiA = nullptr;
__attribute__((section(".CRT$XIZ"), used)) PFNRTFIRSTSTAGEINIT g_rtXiZ = nullptr;
__attribute__((section(".CRT$XCA"), used)) PFNRTSTAGEFN g_rtXcA = nullptr;
__attribute__((section(".CRT$XCZ"), used)) PFNRTSTAGEFN g_rtXcZ = nullptr;
__attribute__((section(".CRT$XPA"), used)) PFNRTSTAGEFN g_rtXpA = nullptr;
__attribute__((section(".CRT$XPZ"), used)) PFNRTSTAGEFN g_rtXpZ = nullptr;
__attribute__((section(".CRT$XTA"), used)) PFNRTSTAGEFN g_rtXtA = nullptr;
__attribute__((section(".CRT$XTZ"), used)) PFNRTSTAGEFN g_rtXtZ = nullptr;
}

PFNRTFIRSTSTAGEINIT *rtInitTableXiBegin() {
    return &g_rtXiA + 1;
}
PFNRTFIRSTSTAGEINIT *rtInitTableXiEnd() {
    return &g_rtXiZ;
}
PFNRTSTAGEFN *rtInitTableXcBegin() {
    return &g_rtXcA + 1;
}
PFNRTSTAGEFN *rtInitTableXcEnd() {
    return &g_rtXcZ;
}
PFNRTSTAGEFN *rtInitTableXpBegin() {
    return &g_rtXpA + 1;
}
PFNRTSTAGEFN *rtInitTableXpEnd() {
    return &g_rtXpZ;
}
PFNRTSTAGEFN *rtInitTableXtBegin() {
    return &g_rtXtA + 1;
}
PFNRTSTAGEFN *rtInitTableXtEnd() {
    return &g_rtXtZ;
}

#if !defined(RT_NO_CRT)
#include <cstdlib>
/** Nothing in a program refers to this file, so the linker would leave it (and the exit
 *  handler below) out of programs on the C runtime, and their buffered stream output
 *  would be lost at exit; the runtime's link options name this symbol to keep it in. */
extern "C" const char g_rtCrtTerminatorsAnchor = 0;
namespace {
void rtCrtAtExit() {
    rtExitHandlersRun();
    rtRunTerminators();
}
void rtCrtHookTerminators() {
    atexit(rtCrtAtExit);
}
} // namespace
RT_SECOND_STAGE_INITIALIZER(rtCrtHookTerminators);

void rtProcessExit(int rcExit, bool fRunHandlers) {
    if (!fRunHandlers)
        _exit(rcExit);
    exit(rcExit);
}
#endif
