// POSIX backend: assertion output to file descriptor 2, the breakpoint trap, and the
// end of the process after a failed check.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include "common/misc/internal-assert.h"

void rtAssertWriteStdErr(const char *pch, size_t cch) {
    while (cch > 0) {
        const ssize_t cb = write(STDERR_FILENO, pch, cch);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
            return;
        pch += cb;
        cch -= (size_t)cb;
    }
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
