// The format engine: scans a printf-style format and hands every piece of output to
// the caller's output callback. Everything that prints in the runtime goes through it.
#include <climits>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/string/internal-format.h"
#include "common/string/internal-str.h"

namespace {

/** Scratch for one rendered number or encoded character; the number formatter
 *  never writes more than 63 characters and a terminator. */
constexpr size_t RTSTR_FMT_TMP = 64;

inline bool rtStrFmtIsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

/** Reads decimal digits, saturating instead of overflowing on absurd widths. */
int rtStrFmtParseInt(const char **ppsz) {
    const char *psz = *ppsz;
    int i = 0;
    while (rtStrFmtIsDigit(*psz)) {
        const int iDigit = *psz++ - '0';
        i = i > (INT_MAX - iDigit) / 10 ? INT_MAX : i * 10 + iDigit;
    }
    *ppsz = psz;
    return i;
}

/** Padding is handed over one blank at a time, each blank being a piece of its own. */
size_t rtStrFmtPad(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, size_t cPad) {
    size_t cch = 0;
    for (size_t i = 0; i < cPad; i++)
        cch += pfnOutput(pvArgOutput, " ", 1);
    return cch;
}

size_t rtStrFmtPadded(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char *pach, size_t cch, int cchWidth,
                      unsigned fFlags) {
    const size_t cPad = rtStrFmtPadCount(cchWidth, cch);
    size_t cchRet = 0;
    if (!(fFlags & RTSTR_F_LEFT))
        cchRet += rtStrFmtPad(pfnOutput, pvArgOutput, cPad);
    if (cch)
        cchRet += pfnOutput(pvArgOutput, pach, cch);
    if (fFlags & RTSTR_F_LEFT)
        cchRet += rtStrFmtPad(pfnOutput, pvArgOutput, cPad);
    return cchRet;
}

size_t rtStrFmtBadPtr(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const void *pv, const char *pszMarker, int cchWidth,
                      unsigned fFlags) {
    char achBuf[RTSTR_FMT_BADPTR_MAX];
    const size_t cch = rtStrFmtBadPtrText(achBuf, pv, pszMarker);
    return rtStrFmtPadded(pfnOutput, pvArgOutput, achBuf, cch, cchWidth, fFlags);
}

/** Next code point of host-order UTF-16 text; false at the terminator or at the
 *  first sequence that does not decode (printing stops there). */
inline bool rtStrFmtUtf16Next(const RTUTF16 **ppwsz, RTUNICP *pCp) {
    return **ppwsz != 0 && RTUtf16GetCpEx(ppwsz, pCp) >= 0;
}

/** One code point as UTF-8 in the caller's 8-byte buffer; returns its length. */
inline size_t rtStrFmtEncodeCp(char *pch, RTUNICP uCp) {
    return (size_t)(RTStrPutCp(pch, uCp) - pch);
}

/** cCps code points, each taken from pfnNext and handed over as UTF-8, padded to a
 *  width that counts code points. */
template <typename FnNext>
size_t rtStrFmtCpsPadded(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, size_t cCps, int cchWidth, unsigned fFlags,
                         FnNext pfnNext) {
    const size_t cPad = rtStrFmtPadCount(cchWidth, cCps);
    size_t cchRet = 0;
    if (!(fFlags & RTSTR_F_LEFT))
        cchRet += rtStrFmtPad(pfnOutput, pvArgOutput, cPad);
    for (size_t i = 0; i < cCps; i++) {
        char achCp[8];
        cchRet += pfnOutput(pvArgOutput, achCp, rtStrFmtEncodeCp(achCp, pfnNext()));
    }
    if (fFlags & RTSTR_F_LEFT)
        cchRet += rtStrFmtPad(pfnOutput, pvArgOutput, cPad);
    return cchRet;
}

size_t rtStrFmtUtf16(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const RTUTF16 *pwsz, int cchWidth, int cchPrecision,
                     unsigned fFlags) {
    const size_t cMax = cchPrecision >= 0 ? (size_t)cchPrecision : RTSTR_MAX;
    size_t cCps = 0;
    RTUNICP uCp;
    for (const RTUTF16 *pwszCur = pwsz; cCps < cMax && rtStrFmtUtf16Next(&pwszCur, &uCp);)
        cCps++;
    // The counting pass proved that these cCps code points decode.
    return rtStrFmtCpsPadded(pfnOutput, pvArgOutput, cCps, cchWidth, fFlags, [&pwsz, &uCp] {
        rtStrFmtUtf16Next(&pwsz, &uCp);
        return uCp;
    });
}

size_t rtStrFmtCps(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const RTUNICP *paCps, int cchWidth, int cchPrecision,
                   unsigned fFlags) {
    const size_t cMax = cchPrecision >= 0 ? (size_t)cchPrecision : RTSTR_MAX;
    size_t cCps = 0;
    while (cCps < cMax && paCps[cCps] != 0)
        cCps++;
    return rtStrFmtCpsPadded(pfnOutput, pvArgOutput, cCps, cchWidth, fFlags, [&paCps] { return *paCps++; });
}

/** The engine proper. It works on a pointer to the argument list so that %N can
 *  hand it a caller's list and every level consumes the same arguments; it makes
 *  no end call, which belongs to the outermost level only. */
size_t rtStrFormatInternal(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, PFNRTSTRFORMAT pfnFormat, void *pvArgFormat,
                           const char *pszFormat, va_list *pArgs) {
    size_t cchTotal = 0;
    if (rtStrFmtIsBadPtr(pszFormat))
        return 0;
    const char *pszRun = pszFormat;
    for (;;) {
        char ch = *pszFormat;
        if (ch != '%' && ch != '\0') {
            pszFormat++;
            continue;
        }
        if (pszFormat != pszRun)
            cchTotal += pfnOutput(pvArgOutput, pszRun, (size_t)(pszFormat - pszRun));
        if (ch == '\0')
            break;
        pszFormat++;
        if (*pszFormat == '%') {
            // "%%": the second '%' starts the next literal run.
            pszRun = pszFormat++;
            continue;
        }

        // Flags.
        unsigned fFlags = 0;
        for (;; pszFormat++) {
            switch (*pszFormat) {
            case '-':
                fFlags |= RTSTR_F_LEFT;
                continue;
            case '+':
                fFlags |= RTSTR_F_PLUS;
                continue;
            case ' ':
                fFlags |= RTSTR_F_BLANK;
                continue;
            case '#':
                fFlags |= RTSTR_F_SPECIAL;
                continue;
            case '\'':
                fFlags |= RTSTR_F_THOUSAND_SEP;
                continue;
            case '0':
                fFlags |= RTSTR_F_ZEROPAD;
                continue;
            default:
                break;
            }
            break;
        }

        // Width.
        int cchWidth = -1;
        if (rtStrFmtIsDigit(*pszFormat)) {
            cchWidth = rtStrFmtParseInt(&pszFormat);
            fFlags |= RTSTR_F_WIDTH;
        } else if (*pszFormat == '*') {
            pszFormat++;
            const int i = va_arg(*pArgs, int);
            if (i < 0) {
                fFlags |= RTSTR_F_LEFT;
                cchWidth = i == INT_MIN ? INT_MAX : -i;
            } else
                cchWidth = i;
            fFlags |= RTSTR_F_WIDTH;
        }

        // Precision.
        int cchPrecision = -1;
        if (*pszFormat == '.') {
            pszFormat++;
            if (*pszFormat == '*') {
                pszFormat++;
                const int i = va_arg(*pArgs, int);
                cchPrecision = i < 0 ? 0 : i;
            } else
                cchPrecision = rtStrFmtParseInt(&pszFormat);
            fFlags |= RTSTR_F_PRECISION;
        }

        // Size prefix. The value-size flags follow what is actually read: l, z and t
        // take the width of their C types, which is 64 bits on LP64 and 64-bit hosts.
        constexpr unsigned fLongSize = sizeof(long) > 4 ? RTSTR_F_64BIT : RTSTR_F_32BIT;
        constexpr unsigned fPtrSize = sizeof(size_t) > 4 ? RTSTR_F_64BIT : RTSTR_F_32BIT;
        char chArgSize = 0;
        switch (*pszFormat) {
        case 'h':
            pszFormat++;
            if (*pszFormat == 'h') {
                pszFormat++;
                chArgSize = 'H';
                fFlags |= RTSTR_F_8BIT;
            } else {
                chArgSize = 'h';
                fFlags |= RTSTR_F_16BIT;
            }
            break;
        case 'l':
            pszFormat++;
            if (*pszFormat == 'l') {
                pszFormat++;
                chArgSize = 'L';
                fFlags |= RTSTR_F_64BIT;
            } else {
                chArgSize = 'l';
                fFlags |= fLongSize;
            }
            break;
        case 'L':
        case 'q':
            pszFormat++;
            chArgSize = 'L';
            fFlags |= RTSTR_F_64BIT;
            break;
        case 'j':
            pszFormat++;
            chArgSize = 'j';
            fFlags |= RTSTR_F_64BIT;
            break;
        case 'z':
        case 't':
            chArgSize = *pszFormat++;
            fFlags |= fPtrSize;
            break;
        case 'I':
            pszFormat++;
            if (pszFormat[0] == '6' && pszFormat[1] == '4') {
                pszFormat += 2;
                chArgSize = 'L';
                fFlags |= RTSTR_F_64BIT;
            } else if (pszFormat[0] == '3' && pszFormat[1] == '2') {
                pszFormat += 2;
                fFlags |= RTSTR_F_32BIT;
            } else {
                chArgSize = 'j';
                fFlags |= RTSTR_F_64BIT;
            }
            break;
        default:
            fFlags |= RTSTR_F_32BIT;
            break;
        }

        // Conversion letter. A format cut short inside a directive ends here, without
        // stepping over its terminator.
        ch = *pszFormat;
        if (ch == '\0')
            break;
        char szTmp[RTSTR_FMT_TMP];
        switch (ch) {
        case 'd':
        case 'i': {
            pszFormat++;
            int64_t i64;
            switch (chArgSize) {
            case 'L':
            case 'j':
                i64 = va_arg(*pArgs, int64_t);
                break;
            case 'l':
                i64 = va_arg(*pArgs, long);
                break;
            case 'z':
            case 't':
                i64 = va_arg(*pArgs, ptrdiff_t);
                break;
            default:
                i64 = va_arg(*pArgs, int);
                break;
            }
            const uint64_t u64 = (uint64_t)i64;
            const int cch = RTStrFormatNumber(szTmp, (uint32_t)u64, (uint32_t)(u64 >> 32), 10, cchWidth, cchPrecision,
                                              fFlags | RTSTR_F_VALSIGNED);
            cchTotal += pfnOutput(pvArgOutput, szTmp, (size_t)cch);
            break;
        }

        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            pszFormat++;
            unsigned uBase = 10;
            if (ch == 'o')
                uBase = 8;
            else if (ch != 'u') {
                uBase = 16;
                if (ch == 'X')
                    fFlags |= RTSTR_F_CAPITAL;
            }
            // h and hh are not narrowed: a negative argument prints as its 32-bit
            // unsigned value, like one without a size.
            uint64_t u64;
            switch (chArgSize) {
            case 'L':
            case 'j':
                u64 = va_arg(*pArgs, uint64_t);
                break;
            case 'l':
                u64 = va_arg(*pArgs, unsigned long);
                break;
            case 'z':
                u64 = va_arg(*pArgs, size_t);
                break;
            case 't':
                u64 = (size_t)va_arg(*pArgs, ptrdiff_t);
                break;
            default:
                u64 = va_arg(*pArgs, unsigned int);
                break;
            }
            const int cch =
                RTStrFormatNumber(szTmp, (uint32_t)u64, (uint32_t)(u64 >> 32), uBase, cchWidth, cchPrecision, fFlags);
            cchTotal += pfnOutput(pvArgOutput, szTmp, (size_t)cch);
            break;
        }

        case 'p': {
            pszFormat++;
            const uint64_t u64 = (uintptr_t)va_arg(*pArgs, void *);
            if (!(fFlags & RTSTR_F_WIDTH)) {
                cchWidth = (int)sizeof(void *) * 2;
                fFlags |= RTSTR_F_WIDTH;
            }
            const int cch = RTStrFormatNumber(szTmp, (uint32_t)u64, (uint32_t)(u64 >> 32), 16, cchWidth, cchPrecision,
                                              fFlags | RTSTR_F_ZEROPAD);
            cchTotal += pfnOutput(pvArgOutput, szTmp, (size_t)cch);
            break;
        }

        case 'c':
            pszFormat++;
            szTmp[0] = (char)va_arg(*pArgs, int);
            cchTotal += rtStrFmtPadded(pfnOutput, pvArgOutput, szTmp, 1, cchWidth, fFlags);
            break;

        case 's':
        case 'S':
            pszFormat++;
            if (chArgSize == 'l') {
                const RTUTF16 *pwsz = va_arg(*pArgs, const RTUTF16 *);
                if (rtStrFmtIsBadPtr(pwsz))
                    cchTotal += rtStrFmtBadPtr(pfnOutput, pvArgOutput, pwsz, "!BadStrW", cchWidth, fFlags);
                else
                    cchTotal += rtStrFmtUtf16(pfnOutput, pvArgOutput, pwsz, cchWidth, cchPrecision, fFlags);
            } else if (chArgSize == 'L') {
                const RTUNICP *paCps = va_arg(*pArgs, const RTUNICP *);
                if (rtStrFmtIsBadPtr(paCps))
                    cchTotal += rtStrFmtBadPtr(pfnOutput, pvArgOutput, paCps, "!BadStrU", cchWidth, fFlags);
                else
                    cchTotal += rtStrFmtCps(pfnOutput, pvArgOutput, paCps, cchWidth, cchPrecision, fFlags);
            } else {
                const char *psz = va_arg(*pArgs, const char *);
                if (rtStrFmtIsBadPtr(psz))
                    cchTotal += rtStrFmtBadPtr(pfnOutput, pvArgOutput, psz, "!BadStr", cchWidth, fFlags);
                else {
                    // strlen is the C library's tuned one where there is one, and the
                    // runtime's own in the image without.
                    const size_t cch = cchPrecision >= 0 ? rtStrNLen(psz, (size_t)cchPrecision) : __builtin_strlen(psz);
                    cchTotal += rtStrFmtPadded(pfnOutput, pvArgOutput, psz, cch, cchWidth, fFlags);
                }
            }
            break;

        case 'a':
        case 'A':
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G': {
            pszFormat++;
            const double rd = va_arg(*pArgs, double);
            const ssize_t cch = RTStrFormatDouble(szTmp, sizeof(szTmp), rd);
            if (cch > 0)
                cchTotal += pfnOutput(pvArgOutput, szTmp, (size_t)cch);
            break;
        }

        case 'M': {
            // The rest of this format is dropped; the new one goes on with the same
            // arguments. An unreadable format pointer ends the output.
            const char *pszNew = va_arg(*pArgs, const char *);
            if (rtStrFmtIsBadPtr(pszNew))
                return cchTotal;
            pszFormat = pszRun = pszNew;
            continue;
        }

        case 'N': {
            pszFormat++;
            const char *pszNested = va_arg(*pArgs, const char *);
            va_list *pNestedArgs = va_arg(*pArgs, va_list *);
            if (!rtStrFmtIsBadPtr(pszNested) && !rtStrFmtIsBadPtr(pNestedArgs))
                cchTotal += rtStrFormatInternal(pfnOutput, pvArgOutput, pfnFormat, pvArgFormat, pszNested, pNestedArgs);
            break;
        }

        case 'R':
            // The handler starts at the 'R' and leaves the cursor after what it took.
            cchTotal +=
                rtstrFormatRt(pfnOutput, pvArgOutput, &pszFormat, pArgs, cchWidth, cchPrecision, fFlags, chArgSize);
            break;

        default:
            if (pfnFormat) {
                const char *pszCursor = pszFormat;
                cchTotal += pfnFormat(pvArgFormat, pfnOutput, pvArgOutput, &pszCursor, pArgs, cchWidth, cchPrecision,
                                      fFlags, chArgSize);
                pszFormat = pszCursor;
            } else
                pszFormat++;
            break;
        }
        pszRun = pszFormat;
    }
    return cchTotal;
}

} // namespace

size_t rtStrFmtBadPtrText(char (&achBuf)[RTSTR_FMT_BADPTR_MAX], const void *pv, const char *pszMarker) {
    if (!pv) {
        rtMemCopy(achBuf, "<NULL>", 6);
        return 6;
    }
    const uint64_t u = (uintptr_t)pv;
    achBuf[0] = '<';
    size_t cch = 1 + (size_t)RTStrFormatNumber(&achBuf[1], (uint32_t)u, (uint32_t)(u >> 32), 16,
                                               (int)sizeof(void *) * 2, -1, RTSTR_F_ZEROPAD | RTSTR_F_WIDTH);
    while (*pszMarker && cch < sizeof(achBuf) - 1)
        achBuf[cch++] = *pszMarker++;
    achBuf[cch++] = '>';
    return cch;
}

size_t RTStrFormatV(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, PFNRTSTRFORMAT pfnFormat, void *pvArgFormat,
                    const char *pszFormat, va_list args) {
    // A list of our own: handlers and %N take the list by address, and a va_list
    // parameter is not addressable as a va_list on every ABI.
    va_list argsCopy;
    va_copy(argsCopy, args);
    const size_t cch = rtStrFormatInternal(pfnOutput, pvArgOutput, pfnFormat, pvArgFormat, pszFormat, &argsCopy);
    va_end(argsCopy);
    pfnOutput(pvArgOutput, nullptr, 0);
    return cch;
}

size_t RTStrFormat(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, PFNRTSTRFORMAT pfnFormat, void *pvArgFormat,
                   const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const size_t cch = RTStrFormatV(pfnOutput, pvArgOutput, pfnFormat, pvArgFormat, pszFormat, args);
    va_end(args);
    return cch;
}
