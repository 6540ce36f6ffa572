// The "%Rh" directives: hex dumps of memory, byte counts with units, and result values.
#include <olma/string.h>
#include "common/string/internal-formatrt.h"

namespace {

constexpr char g_szHexDigits[] = "0123456789abcdef";

inline void rtStrFmtHexByte(RTSTRFMTRTOUT &Out, uint8_t b) {
    const char ach[2] = {g_szHexDigits[b >> 4], g_szHexDigits[b & 0xf]};
    Out.put(ach, 2);
}

/** One line of a dump: address, offset, the bytes in hex and as characters. */
void rtStrFmtHexLine(RTSTRFMTRTOUT &Out, const uint8_t *pb, uint64_t uAddr, size_t off, size_t cLine, size_t cPerLine,
                     int cchAddr) {
    if (off)
        Out.putCh('\n');
    Out.putHex(uAddr + off, cchAddr);
    Out.putCh('/');
    Out.putHex(off, 4);
    Out.putCh(':');
    for (size_t i = 0; i < cPerLine; i++) {
        if (i < cLine) {
            // Every eighth column is marked so that long lines stay readable.
            Out.putCh(i && i % 8 == 0 ? '-' : ' ');
            rtStrFmtHexByte(Out, pb[off + i]);
        } else
            Out.put("   ", 3);
    }
    Out.putCh(' ');
    for (size_t i = 0; i < cLine; i++) {
        const uint8_t b = pb[off + i];
        Out.putCh(b >= 0x20 && b <= 0x7e ? (char)b : '.');
    }
}

void rtStrFmtHexDump(RTSTRFMTRTOUT &Out, const uint8_t *pb, uint64_t uAddr, size_t cb, size_t cPerLine, int cchAddr,
                     bool fDitto) {
    size_t cDitto = 0;
    for (size_t off = 0; off < cb; off += cPerLine) {
        const size_t cLine = cb - off < cPerLine ? cb - off : cPerLine;
        const bool fLast = cb - off <= cPerLine;
        // Repeated lines collapse into one marker line; the first and the last are always shown.
        if (fDitto && off && !fLast && __builtin_memcmp(&pb[off], &pb[off - cPerLine], cPerLine) == 0) {
            cDitto++;
            continue;
        }
        if (cDitto) {
            Out.putCh('\n');
            Out.putRepeat('*', (size_t)cchAddr);
            Out.putStr(" ****  <ditto x ");
            Out.putU(cDitto);
            Out.putCh('>');
            cDitto = 0;
        }
        rtStrFmtHexLine(Out, pb, uAddr, off, cLine, cPerLine, cchAddr);
    }
}

/** "%Rhx?" and "%RhX?"; the cursor is after the letter that picks the form. */
void rtStrFmtHex(RTSTRFMTRTOUT &Out, char chForm, bool fWithAddr, va_list *pArgs, int cchWidth, int cchPrecision,
                 unsigned fFlags) {
    const uint8_t *pb = va_arg(*pArgs, const uint8_t *);
    const uint64_t uAddr = fWithAddr ? va_arg(*pArgs, uint64_t) : (uint64_t)(uintptr_t)pb;
    if (rtStrFmtIsBadPtr(pb)) {
        Out.put("<null>", 6);
        return;
    }
    const size_t cb = cchPrecision >= 0 ? (size_t)cchPrecision : 16;
    if (!cb)
        return;

    // The data's own address has the width of a pointer; a shown address needs 16
    // digits only when it or the end of the dump lies beyond 32 bits.
    int cchAddr = (int)sizeof(void *) * 2;
    if (fWithAddr)
        cchAddr = uAddr > 0xffffffffu || uAddr + cb > UINT64_C(0x100000000) ? 16 : 8;

    if (chForm == 's') {
        if (fWithAddr) {
            Out.putHex(uAddr, cchAddr);
            Out.put(": ", 2);
        }
        const char chSep = fFlags & RTSTR_F_THOUSAND_SEP ? ':' : fFlags & RTSTR_F_SPECIAL ? '\0' : ' ';
        for (size_t i = 0; i < cb; i++) {
            if (i && chSep)
                Out.putCh(chSep);
            rtStrFmtHexByte(Out, pb[i]);
        }
        return;
    }
    const size_t cPerLine = cchWidth > 0 ? (size_t)cchWidth : 16;
    rtStrFmtHexDump(Out, pb, uAddr, cb, cPerLine, cchAddr, chForm == 'D');
}

/** "%Rhc?" and "%Rhu?": a byte count scaled to the largest unit not above it. */
void rtStrFmtSize(RTSTRFMTRTOUT &Out, char chUnits, bool fByteSuffix, uint64_t cb, int cchPrecision, unsigned fFlags) {
    static constexpr const char *s_apszIec[] = {"Ki", "Mi", "Gi", "Ti", "Pi", "Ei"};
    static constexpr const char *s_apszBin[] = {"K", "M", "G", "T", "P", "E"};
    static constexpr const char *s_apszDec[] = {"k", "M", "G", "T", "P", "E"};
    const bool fBinary = chUnits != 'i';
    const unsigned cDigits = cchPrecision < 0 ? 1 : cchPrecision > 3 ? 3 : (unsigned)cchPrecision;

    unsigned iUnit = 0; // 0: below the smallest unit
    uint64_t uUnit = 1;
    for (unsigned i = 1; i <= 6; i++) {
        const uint64_t uNext = fBinary ? UINT64_C(1) << (10 * i) : uUnit * 1000;
        if (uNext > cb)
            break;
        uUnit = uNext;
        iUnit = i;
    }

    const char *pszUnit = "";
    if (!iUnit)
        Out.putU(cb);
    else {
        uint64_t uInt = cb / uUnit;
        uint64_t uRem = cb % uUnit;
        char achFrac[3];
        // Digit by digit: the remainder times ten always fits in 64 bits, the
        // remainder times a thousand does not for the largest units.
        for (unsigned i = 0; i < cDigits; i++) {
            uRem *= 10;
            achFrac[i] = (char)('0' + uRem / uUnit);
            uRem %= uUnit;
        }
        if (!fBinary && uRem * 2 >= uUnit) {
            // Half up, carried through the fraction into the integer part.
            unsigned i = cDigits;
            while (i > 0 && achFrac[i - 1] == '9')
                achFrac[--i] = '0';
            if (i > 0)
                achFrac[i - 1]++;
            else
                uInt++;
        }
        Out.putU(uInt);
        if (cDigits) {
            Out.putCh('.');
            Out.put(achFrac, cDigits);
        }
        pszUnit = (fBinary ? chUnits == 'b' ? s_apszIec : s_apszBin : s_apszDec)[iUnit - 1];
    }
    if (*pszUnit || fByteSuffix) {
        if (fFlags & RTSTR_F_BLANK)
            Out.putCh(' ');
        Out.putStr(pszUnit);
        if (fByteSuffix)
            Out.putCh('B');
    }
}

} // namespace

size_t rtstrFormatRtHex(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                        int cchWidth, int cchPrecision, unsigned fFlags) {
    const char *psz = *ppszFormat; // at the 'h'
    const char chFamily = psz[1];
    if (!chFamily) {
        *ppszFormat = psz + 1;
        return 0;
    }
    if (chFamily == 'r') {
        *ppszFormat = psz + 2;
        return rtStrFmtRtWinError(pfnOutput, pvArgOutput, ppszFormat, pArgs);
    }
    if (chFamily != 'x' && chFamily != 'X' && chFamily != 'c' && chFamily != 'u') {
        *ppszFormat = psz + 2;
        return 0;
    }

    const char chForm = psz[2];
    if (!chForm) {
        *ppszFormat = psz + 2;
        return 0;
    }
    *ppszFormat = psz + 3;
    RTSTRFMTRTOUT Out(pfnOutput, pvArgOutput);
    if (chFamily == 'x' || chFamily == 'X') {
        if (chForm != 'd' && chForm != 'D' && chForm != 's')
            return 0;
        rtStrFmtHex(Out, chForm, chFamily == 'X', pArgs, cchWidth, cchPrecision, fFlags);
    } else {
        if (chForm != 'b' && chForm != 'B' && chForm != 'i')
            return 0;
        rtStrFmtSize(Out, chForm, chFamily == 'c', va_arg(*pArgs, uint64_t), cchPrecision, fFlags);
    }
    return Out.done();
}
