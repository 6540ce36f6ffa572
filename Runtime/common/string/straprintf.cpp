// Formatting into new memory. Short texts are formatted on the stack and cost a
// single allocation of their exact size.
#include <olma/mem.h>
#include <olma/string.h>
#include "common/string/internal-str.h"

namespace {

constexpr size_t RTSTR_APRINTF_STACK = 2048;
constexpr size_t RTSTR_APRINTF_MAX_STEP = 0x100000;    // 1 MiB
constexpr size_t RTSTR_APRINTF_HUGE_STEP = 0x40000000; // 1 GiB
/** The length is returned as an int, so the text must stay below this. */
constexpr size_t RTSTR_APRINTF_MAX_TOTAL = 0x7fffffff;

struct RTSTRAPRINTFBUF {
    char *pch;     // the stack buffer or the heap block
    size_t cbBuf;  // its size
    size_t offEnd; // text length so far
    bool fHeap;
    bool fFailed;
    const char *pszTag;
};

bool rtStrAPrintfGrow(RTSTRAPRINTFBUF *pBuf, size_t cbPiece) {
    size_t cbStep = pBuf->cbBuf < RTSTR_APRINTF_MAX_STEP ? pBuf->cbBuf : RTSTR_APRINTF_MAX_STEP;
    if (cbPiece >= cbStep) {
        if (cbPiece > RTSTR_APRINTF_HUGE_STEP)
            return false;
        cbStep = (cbPiece + 4095) & ~(size_t)4095;
        if (cbStep > RTSTR_APRINTF_HUGE_STEP)
            return false;
    }
    if (cbStep > RTSTR_APRINTF_MAX_TOTAL - pBuf->cbBuf)
        return false;
    const size_t cbNew = pBuf->cbBuf + cbStep;
    char *pchNew;
    if (!pBuf->fHeap) {
        pchNew = RTStrAlloc(cbNew, pBuf->pszTag);
        if (!pchNew)
            return false;
        rtMemCopy(pchNew, pBuf->pch, pBuf->offEnd);
        pBuf->fHeap = true;
    } else {
        pchNew = (char *)RTMemRealloc(pBuf->pch, cbNew, pBuf->pszTag);
        if (!pchNew)
            return false;
    }
    pBuf->pch = pchNew;
    pBuf->cbBuf = cbNew;
    return true;
}

size_t rtStrAPrintfOutput(void *pvArg, const char *pachChars, size_t cbChars) {
    RTSTRAPRINTFBUF *pBuf = (RTSTRAPRINTFBUF *)pvArg;
    if (pBuf->fFailed || !pachChars)
        return 0;
    // One byte always stays free for the terminator.
    if (cbChars >= pBuf->cbBuf - pBuf->offEnd && !rtStrAPrintfGrow(pBuf, cbChars)) {
        pBuf->fFailed = true;
        return 0;
    }
    rtMemCopy(pBuf->pch + pBuf->offEnd, pachChars, cbChars);
    pBuf->offEnd += cbChars;
    return cbChars;
}

} // namespace

int RTStrAPrintfV(char **ppszBuffer, const char *pszFormat, va_list args, const char *pszTag) {
    char achStack[RTSTR_APRINTF_STACK];
    RTSTRAPRINTFBUF Buf = {achStack, sizeof(achStack), 0, false, false, pszTag};
    RTStrFormatV(rtStrAPrintfOutput, &Buf, nullptr, nullptr, pszFormat, args);

    *ppszBuffer = nullptr;
    if (Buf.fFailed) {
        if (Buf.fHeap)
            RTMemFree(Buf.pch);
        return -1;
    }
    char *psz;
    if (Buf.fHeap) {
        // Giving back the slack is only an optimisation: keep the block if it fails.
        psz = (char *)RTMemRealloc(Buf.pch, Buf.offEnd + 1, pszTag);
        if (!psz)
            psz = Buf.pch;
    } else {
        psz = RTStrAlloc(Buf.offEnd + 1, pszTag);
        if (!psz)
            return -1;
        rtMemCopy(psz, achStack, Buf.offEnd);
    }
    psz[Buf.offEnd] = '\0';
    *ppszBuffer = psz;
    return (int)Buf.offEnd;
}

int RTStrAPrintf(char **ppszBuffer, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int cch = RTStrAPrintfV(ppszBuffer, pszFormat, args, RTSTR_TAG);
    va_end(args);
    return cch;
}
