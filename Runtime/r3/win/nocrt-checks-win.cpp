// Windows, image without a C runtime: the compiler's stack-protector failure ends in the
// stack-cookie report.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-startup.h"
#include "common/misc/internal-assert.h"

namespace {
void rtNoCrtWriteHexFixed(uintptr_t u) {
    char ach[sizeof(uintptr_t) * 2];
    for (size_t i = sizeof(ach); i-- > 0; u >>= 4)
        ach[i] = "0123456789abcdef"[u & 0xf];
    rtRawWriteBytes(ach, sizeof(ach));
}
} // namespace

extern "C" RT_NORETURN void rtNoCrtStackCookieFailure(uintptr_t uExpected, const void *pvPc) {
    rtRawWriteString("\r\n\r\n!!Stack cookie corruption!!\r\n\r\nexpected");
    rtNoCrtWriteHexFixed(uExpected);
    // The compiler's protector compares the frame's copy against the guard and calls us
    // without the copy, so the value actually found is not known here; printing a number
    // would claim one.
    rtRawWriteString(", found ");
    rtRawWriteString(sizeof(uintptr_t) == 8 ? "????????????????" : "????????");
    rtRawWriteBytes("\r\n", 2);
    const RTCHECKCONTEXT Ctx = {(uintptr_t)pvPc, (uintptr_t)__builtin_frame_address(0), 0};
    rtCheckFailureExit(RTCHECK_FAST_FAIL_STACK_COOKIE, &Ctx);
}
