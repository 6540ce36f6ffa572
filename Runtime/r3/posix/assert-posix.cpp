// POSIX backend: assertion output to file descriptor 2, the breakpoint trap, and the
// end of the process after a failed check.
#include <csignal>
#include <cstdlib>
#include "common/compiler/internal-startup.h"
#include "common/misc/internal-assert.h"

// The same unbuffered path as the start-up code's raw writers.
void rtAssertWriteStdErr(const char *pch, size_t cch) {
    rtRawWriteNative(pch, cch);
}

void rtAssertPanicNative() {
    raise(SIGTRAP);
    // Ignored, or continued by a debugger: the condition is still fatal.
    abort();
}

void rtCheckFailureExit(unsigned uFastFailCode, const RTCHECKCONTEXT *pCtx) {
    (void)uFastFailCode;
    (void)pCtx;
    // The stack is not to be trusted: no exit handlers, no unwinding.
    abort();
}
