// Backend half of the assertion module and the reports for failed
// compiler-inserted checks.
#pragma once

#include <olma/cdefs.h>

/** Writes straight to the standard-error handle; failures are ignored. */
void rtAssertWriteStdErr(const char *pch, size_t cch);
/** Breakpoint trap; if it returns (a debugger continued it) the process ends. */
RT_NORETURN void rtAssertPanicNative();

/** Processor state at a failed check. */
struct RTCHECKCONTEXT {
    uintptr_t uPc;
    uintptr_t uSp;
    uintptr_t uBp;
};

/** Describes the local variable whose guard was overwritten. */
struct RTCHECKVARDESC {
    /** Offset of the variable from the frame base. */
    intptr_t offFrame;
    uint32_t cbVar;
    const char *pszName;
};

/** Fast-fail codes of the check failures. */
constexpr unsigned RTCHECK_FAST_FAIL_STACK_COOKIE = 2;
constexpr unsigned RTCHECK_FAST_FAIL_STACK_GUARD = 4;
constexpr unsigned RTCHECK_FAST_FAIL_STACK_POINTER = 4;
constexpr unsigned RTCHECK_FAST_FAIL_RANGE = 8;
constexpr unsigned RTCHECK_FAST_FAIL_CONTEXT = 13;

/* Each writes its report to standard error and ends the process. */
extern "C" {
RT_NORETURN void rtCheckFailStackCookie(uintptr_t uExpected, uintptr_t uFound, const RTCHECKCONTEXT *pCtx);
RT_NORETURN void rtCheckFailStackVariable(uintptr_t uFrameBase, const RTCHECKVARDESC *pVar, const RTCHECKCONTEXT *pCtx);
RT_NORETURN void rtCheckFailStackPointer(const RTCHECKCONTEXT *pCtx);
RT_NORETURN void rtCheckFailRange(const RTCHECKCONTEXT *pCtx);
RT_NORETURN void rtCheckFailContext(const RTCHECKCONTEXT *pCtx);
}

/** Backend: ends the process after a failed check, with the fast-fail code. */
RT_NORETURN void rtCheckFailureExit(unsigned uFastFailCode, const RTCHECKCONTEXT *pCtx);
