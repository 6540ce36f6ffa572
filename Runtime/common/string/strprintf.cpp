// Formatting into a caller's buffer: silently truncating, or reporting the size needed.
#include <olma/string.h>
#include "common/string/internal-str.h"

namespace {

struct RTSTRPRINTFBUF {
    char *pch;       // next byte to write
    size_t cbLeft;   // bytes that may still be written, the terminator's byte excluded
    bool fTerminate; // false only for a 0-byte buffer, which gets no terminator
};

/** Stores what still fits of a piece (the end call terminates) and returns the
 *  bytes stored. */
size_t rtStrPrintfStore(RTSTRPRINTFBUF *pBuf, const char *pachChars, size_t cbChars) {
    if (!pachChars) {
        if (pBuf->fTerminate)
            *pBuf->pch = '\0';
        return 0;
    }
    // Padding blanks and encoded characters arrive one byte at a time.
    if (cbChars == 1 && pBuf->cbLeft) {
        *pBuf->pch++ = *pachChars;
        pBuf->cbLeft--;
        return 1;
    }
    // A full buffer is never touched again: a 0-byte one may be a null pointer, as
    // when a caller only measures.
    const size_t cb = cbChars < pBuf->cbLeft ? cbChars : pBuf->cbLeft;
    if (cb) {
        rtMemCopy(pBuf->pch, pachChars, cb);
        pBuf->pch += cb;
        pBuf->cbLeft -= cb;
    }
    return cb;
}

size_t rtStrPrintfOutput(void *pvArg, const char *pachChars, size_t cbChars) {
    return rtStrPrintfStore((RTSTRPRINTFBUF *)pvArg, pachChars, cbChars);
}

/** Accepts everything so that the engine's total is the full length, and stores
 *  what fits. */
size_t rtStrPrintf2Output(void *pvArg, const char *pachChars, size_t cbChars) {
    rtStrPrintfStore((RTSTRPRINTFBUF *)pvArg, pachChars, cbChars);
    return cbChars;
}

} // namespace

size_t RTStrPrintfV(char *pszBuffer, size_t cchBuffer, const char *pszFormat, va_list args) {
    if (cchBuffer == 0)
        return 0;
    RTSTRPRINTFBUF Buf = {pszBuffer, cchBuffer - 1, true};
    return RTStrFormatV(rtStrPrintfOutput, &Buf, nullptr, nullptr, pszFormat, args);
}

size_t RTStrPrintf(char *pszBuffer, size_t cchBuffer, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const size_t cch = RTStrPrintfV(pszBuffer, cchBuffer, pszFormat, args);
    va_end(args);
    return cch;
}

ssize_t RTStrPrintf2V(char *pszBuffer, size_t cchBuffer, const char *pszFormat, va_list args) {
    RTSTRPRINTFBUF Buf = {pszBuffer, cchBuffer ? cchBuffer - 1 : 0, cchBuffer != 0};
    const size_t cch = RTStrFormatV(rtStrPrintf2Output, &Buf, nullptr, nullptr, pszFormat, args);
    if (cch < cchBuffer)
        return (ssize_t)cch;
    return -(ssize_t)(cch + 1);
}

ssize_t RTStrPrintf2(char *pszBuffer, size_t cchBuffer, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const ssize_t cch = RTStrPrintf2V(pszBuffer, cchBuffer, pszFormat, args);
    va_end(args);
    return cch;
}
