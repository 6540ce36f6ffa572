// Windows backend: assertion output to the standard-error handle, the breakpoint
// trap, and the end of the process after a failed check.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-startup.h"
#include "common/misc/internal-assert.h"

// The same unbuffered path as the start-up code's raw writers.
void rtAssertWriteStdErr(const char *pch, size_t cch) {
    rtRawWriteNative(pch, cch);
}

void rtAssertPanicNative() {
    DebugBreak();
    // A debugger continued past the trap: the condition is still fatal.
    for (;;)
        TerminateProcess(GetCurrentProcess(), (UINT)EXCEPTION_BREAKPOINT);
}

void rtCheckFailureExit(unsigned uFastFailCode, const RTCHECKCONTEXT *pCtx) {
    if (IsProcessorFeaturePresent(23 /*PF_FASTFAIL_AVAILABLE*/))
        __asm__ __volatile__("int $0x29" : : "c"(uFastFailCode) : "memory"); // the fast-fail trap
    if (IsDebuggerPresent())
        DebugBreak();

    CONTEXT Ctx;
    __builtin_memset(&Ctx, 0, sizeof(Ctx));
    RtlCaptureContext(&Ctx);
    if (RT_VALID_PTR(pCtx)) {
#if defined(_WIN64)
        Ctx.Rip = pCtx->uPc;
        Ctx.Rsp = pCtx->uSp;
        Ctx.Rbp = pCtx->uBp;
#else
        Ctx.Eip = pCtx->uPc;
        Ctx.Esp = pCtx->uSp;
        Ctx.Ebp = pCtx->uBp;
#endif
    }
    EXCEPTION_RECORD Rec;
    __builtin_memset(&Rec, 0, sizeof(Rec));
    Rec.ExceptionCode = 0xc0000409 /*STATUS_STACK_BUFFER_OVERRUN*/;
    Rec.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    Rec.ExceptionAddress = RT_VALID_PTR(pCtx) ? (PVOID)pCtx->uPc : nullptr;
    Rec.NumberParameters = 1;
    Rec.ExceptionInformation[0] = uFastFailCode;
    EXCEPTION_POINTERS Ptrs = {&Rec, &Ctx};
    SetUnhandledExceptionFilter(nullptr);
    UnhandledExceptionFilter(&Ptrs);

    for (;;)
        TerminateProcess(GetCurrentProcess(), 0xc0000409);
}
