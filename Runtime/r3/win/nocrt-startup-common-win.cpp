// Windows, image without a C runtime: what the compiler may call (memory and string
// primitives, stack protector), the atexit hook, and process exit.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-startup.h"

extern "C" {

// The compiler emits calls to these for copies, fills and comparisons; they must not be
// turned back into calls to themselves.
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memcpy(void *pvDst, const void *pvSrc, size_t cb) {
    uint8_t *pbDst = (uint8_t *)pvDst;
    const uint8_t *pbSrc = (const uint8_t *)pvSrc;
    while (cb--)
        *pbDst++ = *pbSrc++;
    return pvDst;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memmove(void *pvDst, const void *pvSrc, size_t cb) {
    uint8_t *pbDst = (uint8_t *)pvDst;
    const uint8_t *pbSrc = (const uint8_t *)pvSrc;
    if (pbDst <= pbSrc || pbDst >= pbSrc + cb) {
        while (cb--)
            *pbDst++ = *pbSrc++;
    } else {
        pbDst += cb;
        pbSrc += cb;
        while (cb--)
            *--pbDst = *--pbSrc;
    }
    return pvDst;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memset(void *pvDst, int ch, size_t cb) {
    uint8_t *pb = (uint8_t *)pvDst;
    while (cb--)
        *pb++ = (uint8_t)ch;
    return pvDst;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) int memcmp(const void *pv1, const void *pv2, size_t cb) {
    const uint8_t *pb1 = (const uint8_t *)pv1;
    const uint8_t *pb2 = (const uint8_t *)pv2;
    for (; cb; cb--, pb1++, pb2++)
        if (*pb1 != *pb2)
            return *pb1 < *pb2 ? -1 : 1;
    return 0;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) size_t strlen(const char *psz) {
    size_t cch = 0;
    while (psz[cch])
        cch++;
    return cch;
}

// Stack protector: the guard is mixed with the time-stamp counter at start-up.
uintptr_t __stack_chk_guard = (uintptr_t)0x2b992ddfa232ULL;

void rtNoCrtStackCookieFailure(uintptr_t uExpected, const void *pvPc);

__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void) {
    rtNoCrtStackCookieFailure(__stack_chk_guard, __builtin_return_address(0));
    for (;;)
        ;
}

int atexit(void (*pfn)(void)) {
    return rtExitHandlerRegister(pfn);
}

} // extern "C"

void rtProcessExit(int rcExit, bool fRunHandlers) {
    if (fRunHandlers) {
        rtExitHandlersRun();
        rtRunTerminators();
    }
    for (;;)
        TerminateProcess(GetCurrentProcess(), (UINT)rcExit);
}
