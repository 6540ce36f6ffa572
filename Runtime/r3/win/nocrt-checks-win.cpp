// Windows, image without a C runtime: the report for a corrupted stack cookie and the
// way the process ends after a failed compiler-inserted check.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-startup.h"

namespace {
void rtNoCrtWriteHexFixed(uintptr_t u) {
    char ach[sizeof(uintptr_t) * 2];
    for (size_t i = sizeof(ach); i-- > 0; u >>= 4)
        ach[i] = "0123456789abcdef"[u & 0xf];
    rtRawWriteBytes(ach, sizeof(ach));
}
} // namespace

/** Ends the process after a failed check: fast fail where the processor has it, a
 *  breakpoint under a debugger, else the system's unhandled-exception filter with a
 *  non-continuable 0xC0000409 record, and finally TerminateProcess. */
RT_NORETURN void rtNoCrtCheckFailureExit(unsigned uFastFailCode, const void *pvPc) {
    if (IsProcessorFeaturePresent(23 /*PF_FASTFAIL_AVAILABLE*/))
        __asm__ __volatile__("int $0x29" : : "c"(uFastFailCode) : "memory");
    if (IsDebuggerPresent())
        DebugBreak();

    CONTEXT Ctx;
    __builtin_memset(&Ctx, 0, sizeof(Ctx));
    RtlCaptureContext(&Ctx);
    EXCEPTION_RECORD Rec;
    __builtin_memset(&Rec, 0, sizeof(Rec));
    Rec.ExceptionCode = 0xc0000409;
    Rec.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    Rec.ExceptionAddress = (PVOID)pvPc;
    Rec.NumberParameters = 1;
    Rec.ExceptionInformation[0] = uFastFailCode;
    EXCEPTION_POINTERS Ptrs = {&Rec, &Ctx};
    SetUnhandledExceptionFilter(nullptr);
    UnhandledExceptionFilter(&Ptrs);

    for (;;)
        TerminateProcess(GetCurrentProcess(), 0xc0000409);
}

extern "C" RT_NORETURN void rtNoCrtStackCookieFailure(uintptr_t uExpected, const void *pvPc) {
    rtRawWriteString("\r\n\r\n!!Stack cookie corruption!!\r\n\r\nexpected");
    rtNoCrtWriteHexFixed(uExpected);
    // The compiler's protector compares the frame's copy against the guard and calls
    // us without the copy, so the value actually found is not known here.
    rtRawWriteString(", found ");
    rtRawWriteString(sizeof(uintptr_t) == 8 ? "????????????????" : "????????");
    rtRawWriteBytes("\r\n", 2);
    rtNoCrtCheckFailureExit(2, pvPc);
}
