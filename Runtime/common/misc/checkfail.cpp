// Reports for failed compiler-inserted checks (stack cookie, stack variable guard,
// stack pointer, range, context). They run on a damaged stack, so they use fixed
// texts, a small local buffer and no formatter.
#include <olma/cdefs.h>
#include "common/misc/internal-assert.h"

namespace {
void rtCheckWrite(const char *psz) {
    size_t cch = 0;
    while (psz[cch] != '\0')
        cch++;
    rtAssertWriteStdErr(psz, cch);
}

/** A pointer-sized value as fixed-width lower-case hexadecimal without prefix: 8
 *  digits on 32-bit hosts, 16 on 64-bit ones. */
void rtCheckWriteHexPtr(uintptr_t u) {
    char ach[sizeof(uintptr_t) * 2];
    for (size_t i = sizeof(ach); i-- > 0; u >>= 4)
        ach[i] = "0123456789abcdef"[u & 0xf];
    rtAssertWriteStdErr(ach, sizeof(ach));
}

/** "0x" and lower-case hexadecimal without leading zeros. */
void rtCheckWriteHexPrefixed(uint64_t u) {
    char ach[2 + 16];
    size_t off = sizeof(ach);
    do {
        ach[--off] = "0123456789abcdef"[u & 0xf];
        u >>= 4;
    } while (u);
    ach[--off] = 'x';
    ach[--off] = '0';
    rtAssertWriteStdErr(&ach[off], sizeof(ach) - off);
}

/** A null-like name is shown as the pointer it was. */
void rtCheckWriteName(const char *psz) {
    if (RT_VALID_PTR(psz))
        rtCheckWrite(psz);
    else {
        rtCheckWrite("<pszString=");
        rtCheckWriteHexPtr((uintptr_t)psz);
        rtCheckWrite(">");
    }
}

const RTCHECKCONTEXT *rtCheckCtxOrEmpty(const RTCHECKCONTEXT *pCtx) {
    static constexpr RTCHECKCONTEXT s_Empty = {0, 0, 0};
    return RT_VALID_PTR(pCtx) ? pCtx : &s_Empty;
}
} // namespace

extern "C" void rtCheckFailStackCookie(uintptr_t uExpected, uintptr_t uFound, const RTCHECKCONTEXT *pCtx) {
    rtCheckWrite("\r\n\r\n!!Stack cookie corruption!!\r\n\r\nexpected");
    rtCheckWriteHexPtr(uExpected);
    rtCheckWrite(", found ");
    rtCheckWriteHexPtr(uFound);
    rtCheckWrite("\r\n");
    rtCheckFailureExit(RTCHECK_FAST_FAIL_STACK_COOKIE, pCtx);
}

extern "C" void rtCheckFailStackVariable(uintptr_t uFrameBase, const RTCHECKVARDESC *pVar, const RTCHECKCONTEXT *pCtx) {
    rtCheckWrite("\r\n\r\n!!Stack corruption!!\r\n\r\n");
    if (RT_VALID_PTR(pVar)) {
        rtCheckWriteHexPtr(uFrameBase + (uintptr_t)pVar->offFrame);
        rtCheckWrite(" LB ");
        rtCheckWriteHexPrefixed(pVar->cbVar);
        rtCheckWrite(" - ");
        rtCheckWriteName(pVar->pszName);
    } else {
        // Without a descriptor only the frame is known.
        rtCheckWriteHexPtr(uFrameBase);
        rtCheckWrite(" LB 0x0 - ");
        rtCheckWriteName(nullptr);
    }
    rtCheckWrite("\r\n");
    rtCheckFailureExit(RTCHECK_FAST_FAIL_STACK_GUARD, pCtx);
}

extern "C" void rtCheckFailStackPointer(const RTCHECKCONTEXT *pCtx) {
    const RTCHECKCONTEXT *p = rtCheckCtxOrEmpty(pCtx);
    rtCheckWrite("\r\n\r\n!!ESP check failed!!\r\n\r\neip=");
    rtCheckWriteHexPtr(p->uPc);
    rtCheckWrite(" esp=");
    rtCheckWriteHexPtr(p->uSp);
    rtCheckWrite(" ebp=");
    rtCheckWriteHexPtr(p->uBp);
    rtCheckWrite("\r\n");
    rtCheckFailureExit(RTCHECK_FAST_FAIL_STACK_POINTER, pCtx);
}

extern "C" void rtCheckFailRange(const RTCHECKCONTEXT *pCtx) {
    rtCheckWrite("\r\n\r\n!!Range check failed at ");
    rtCheckWriteHexPtr(rtCheckCtxOrEmpty(pCtx)->uPc);
    rtCheckWrite("!!\r\n");
    rtCheckFailureExit(RTCHECK_FAST_FAIL_RANGE, pCtx);
}

extern "C" void rtCheckFailContext(const RTCHECKCONTEXT *pCtx) {
    const RTCHECKCONTEXT *p = rtCheckCtxOrEmpty(pCtx);
    rtCheckWrite("\r\n\r\n!!Context (stack) check failed!!\r\n\r\nPC=");
    rtCheckWriteHexPtr(p->uPc);
    rtCheckWrite(" SP=");
    rtCheckWriteHexPtr(p->uSp);
    rtCheckWrite(" BP=");
    rtCheckWriteHexPtr(p->uBp);
    rtCheckWrite("\r\n");
    rtCheckFailureExit(RTCHECK_FAST_FAIL_CONTEXT, pCtx);
}
