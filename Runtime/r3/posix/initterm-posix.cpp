// POSIX backend: the static tables are ELF sections whose bounds the linker provides
// as __start_/__stop_ symbols. The C runtime's constructor and destructor phases run
// them, so a program behaves the same whether or not it goes through the start-up
// routine (startup-posix.cpp).
#include <cstdlib>
#include <unistd.h>
#include "common/compiler/internal-inittables.h"

extern "C" {
extern PFNRTFIRSTSTAGEINIT __start_olma_xi[] __attribute__((weak));
extern PFNRTFIRSTSTAGEINIT __stop_olma_xi[] __attribute__((weak));
extern PFNRTSTAGEFN __start_olma_xc[] __attribute__((weak));
extern PFNRTSTAGEFN __stop_olma_xc[] __attribute__((weak));
extern PFNRTSTAGEFN __start_olma_xp[] __attribute__((weak));
extern PFNRTSTAGEFN __stop_olma_xp[] __attribute__((weak));
extern PFNRTSTAGEFN __start_olma_xt[] __attribute__((weak));
extern PFNRTSTAGEFN __stop_olma_xt[] __attribute__((weak));
}

PFNRTFIRSTSTAGEINIT *rtInitTableXiBegin() {
    return __start_olma_xi;
}
PFNRTFIRSTSTAGEINIT *rtInitTableXiEnd() {
    return __stop_olma_xi;
}
PFNRTSTAGEFN *rtInitTableXcBegin() {
    return __start_olma_xc;
}
PFNRTSTAGEFN *rtInitTableXcEnd() {
    return __stop_olma_xc;
}
PFNRTSTAGEFN *rtInitTableXpBegin() {
    return __start_olma_xp;
}
PFNRTSTAGEFN *rtInitTableXpEnd() {
    return __stop_olma_xp;
}
PFNRTSTAGEFN *rtInitTableXtBegin() {
    return __start_olma_xt;
}
PFNRTSTAGEFN *rtInitTableXtEnd() {
    return __stop_olma_xt;
}

/** Nothing in a program need refer to this file, so the linker would leave it (and the
 *  destructor below that flushes the streams) out; the runtime's link options name this
 *  symbol to keep it in. */
extern "C" const char g_rtCrtTerminatorsAnchor = 0;

namespace {
constinit bool g_fShutdownDone = false;

void rtPosixShutdown(bool fRunHandlers) {
    if (__atomic_exchange_n(&g_fShutdownDone, true, __ATOMIC_SEQ_CST))
        return;
    if (fRunHandlers)
        rtExitHandlersRun();
    rtRunTerminators();
}

__attribute__((constructor)) void rtPosixRunInitializers() {
    const int rc = rtRunFirstStageInitializers();
    if (rc != 0) {
        rtRawWriteString("A C static initializor failed (");
        rtRawWriteNumberDecHex((uint32_t)rc);
        rtRawWriteBytes("\r\n", 2);
        _exit(rc);
    }
    rtRunSecondStageInitializers();
}

__attribute__((destructor)) void rtPosixRunTerminators() {
    rtPosixShutdown(true);
}
} // namespace

void rtProcessExit(int rcExit, bool fRunHandlers) {
    if (fRunHandlers)
        rtPosixShutdown(true);
    _exit(rcExit);
}
