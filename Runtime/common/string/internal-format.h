// Internal interface between the format engine and the %R type handlers.
#pragma once

#include <olma/string.h>

/** Handles a "%R..." directive. The cursor points at the 'R'; the handler moves it
 *  past the directive, takes its arguments and returns the bytes written through
 *  the output callback (0 and nothing written for an unknown name). */
size_t rtstrFormatRt(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs, int cchWidth,
                     int cchPrecision, unsigned fFlags, char chArgSize);

/** A pointer this close to either end of the address space is never read: null,
 *  small offsets from null and small negative values are typical corrupt arguments. */
inline bool rtStrFmtIsBadPtr(const void *pv) {
    return (uintptr_t)pv + 0x1000 < 0x2000;
}

/** Blanks needed to pad a piece of cch characters (or code points) to cchWidth. */
inline size_t rtStrFmtPadCount(int cchWidth, size_t cch) {
    return cchWidth > 0 && (size_t)cchWidth > cch ? (size_t)cchWidth - cch : 0;
}

/** Room for the longest text rtStrFmtBadPtrText writes: "<", 16 digits, marker, ">". */
constexpr size_t RTSTR_FMT_BADPTR_MAX = 64;

/** "<NULL>" or "<address!marker>" (address at pointer width) in place of data that
 *  must not be read; returns the length. Markers longer than the room are cut. */
size_t rtStrFmtBadPtrText(char (&achBuf)[RTSTR_FMT_BADPTR_MAX], const void *pv, const char *pszMarker);
