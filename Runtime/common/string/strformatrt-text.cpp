// The %R directives that print text taken from their argument: base names, big-endian
// UTF-16, function names, escaped XML and JSON strings, durations and the bits of x86
// control registers.
#include <olma/string.h>
#include "common/string/internal-formatrt.h"

namespace {

inline bool rtStrFmtIsPathSep(char ch) {
    return ch == '/' || ch == '\\' || ch == ':';
}

/** "%Rbn": the last component of a path, with the separators that end it. */
void rtStrFmtBaseName(RTSTRFMTRTOUT &Out, const char *pszPath) {
    if (rtStrFmtIsBadPtr(pszPath)) {
        rtStrFmtRtBadPtr(Out, pszPath, "!BadBaseName", -1, 0);
        return;
    }
    const char *pszName = pszPath;
    const char *psz = pszPath;
    for (; *psz; psz++)
        if (rtStrFmtIsPathSep(psz[0]) && psz[1] && !rtStrFmtIsPathSep(psz[1]))
            pszName = psz + 1;
    Out.put(pszName, (size_t)(psz - pszName));
}

/** One big-endian UTF-16 code point within cwcLeft units; false at a terminator or
 *  an invalid sequence. Unlike the general decoder this one never looks at the unit
 *  after a high surrogate that ends the bound: the bound is all the caller promised
 *  to be readable, and such a surrogate counts as invalid. */
bool rtStrFmtGetBigCp(const RTUTF16 *&pwsz, size_t &cwcLeft, RTUNICP &uCp) {
    if (!cwcLeft)
        return false;
    const uint16_t wc = (uint16_t)((uint16_t)pwsz[0] >> 8 | (uint16_t)pwsz[0] << 8);
    if (!wc)
        return false;
    if (wc < 0xd800 || (wc >= 0xe000 && wc <= 0xfffd)) {
        uCp = wc;
        pwsz++;
        cwcLeft--;
        return true;
    }
    if (wc <= 0xdbff && cwcLeft >= 2) {
        const uint16_t wc2 = (uint16_t)((uint16_t)pwsz[1] >> 8 | (uint16_t)pwsz[1] << 8);
        if (wc2 >= 0xdc00 && wc2 <= 0xdfff) {
            uCp = 0x10000 + ((RTUNICP)(wc & 0x3ff) << 10 | (wc2 & 0x3ff));
            pwsz += 2;
            cwcLeft -= 2;
            return true;
        }
    }
    return false;
}

/** "%lRbs": big-endian UTF-16 units, at most the precision, written as UTF-8. */
void rtStrFmtBigUtf16(RTSTRFMTRTOUT &Out, const RTUTF16 *pwsz, int cchWidth, int cchPrecision, unsigned fFlags) {
    if (rtStrFmtIsBadPtr(pwsz)) {
        rtStrFmtRtPadded(Out, "<NULL>", 6, cchWidth, fFlags);
        return;
    }
    if (cchPrecision < 0)
        return;

    // Width counts code points, so they are counted before anything is written.
    size_t cCps = 0;
    const RTUTF16 *pwszCur = pwsz;
    size_t cwcLeft = (size_t)cchPrecision;
    RTUNICP uCp;
    while (rtStrFmtGetBigCp(pwszCur, cwcLeft, uCp))
        cCps++;

    const size_t cPad = rtStrFmtPadCount(cchWidth, cCps);
    if (!(fFlags & RTSTR_F_LEFT))
        Out.putRepeat(' ', cPad);
    pwszCur = pwsz;
    cwcLeft = (size_t)cchPrecision;
    while (rtStrFmtGetBigCp(pwszCur, cwcLeft, uCp)) {
        char ach[8];
        Out.put(ach, (size_t)(RTStrPutCp(ach, uCp) - ach));
    }
    if (fFlags & RTSTR_F_LEFT)
        Out.putRepeat(' ', cPad);
}

/** "%Rfn": the bare function name out of a signature such as
 *  "int __cdecl RTErrConvertFromNtStatus(long)". Blanks inside a template argument
 *  list do not start a name, so "std::pair<int, int> foo(void)" gives "foo". */
void rtStrFmtFunctionName(RTSTRFMTRTOUT &Out, const char *pszSig) {
    if (rtStrFmtIsBadPtr(pszSig)) {
        rtStrFmtRtBadPtr(Out, pszSig, "!BadFnNm", -1, 0);
        return;
    }
    const char *pszName = pszSig;
    const char *psz = pszSig;
    unsigned cAngles = 0;
    while (*psz) {
        const char ch = *psz;
        if ((ch == ' ' || ch == '\t') && !cAngles) {
            while (*psz == ' ' || *psz == '\t')
                psz++;
            while (*psz == '(')
                psz++;
            pszName = psz;
            continue;
        }
        if (ch == '(')
            break;
        if (ch == '<')
            cAngles++;
        else if (ch == '>' && cAngles)
            cAngles--;
        psz++;
    }
    Out.put(pszName, (size_t)(psz - pszName));
}

/** "%RMas", "%RMes", "%RMjs". Width counts the text before escaping. */
void rtStrFmtEscaped(RTSTRFMTRTOUT &Out, char chKind, const char *psz, int cchWidth, int cchPrecision,
                     unsigned fFlags) {
    if (rtStrFmtIsBadPtr(psz))
        psz = "<NULL>";
    const size_t cch = rtStrNLen(psz, cchPrecision >= 0 ? (size_t)cchPrecision : RTSTR_MAX);
    const size_t cPad = rtStrFmtPadCount(cchWidth, cch);
    const bool fQuoted = chKind != 'e';

    if (fQuoted)
        Out.putCh('"');
    if (!(fFlags & RTSTR_F_LEFT))
        Out.putRepeat(' ', cPad);

    size_t offRun = 0; // start of the bytes that pass unchanged
    for (size_t off = 0; off < cch; off++) {
        const unsigned char uch = (unsigned char)psz[off];
        const char *pszEsc = nullptr;
        char szHex[7];
        if (chKind == 'j') {
            switch (uch) {
            case '"':
                pszEsc = "\\\"";
                break;
            case '\\':
                pszEsc = "\\\\";
                break;
            case '\b':
                pszEsc = "\\b";
                break;
            case '\t':
                pszEsc = "\\t";
                break;
            case '\n':
                pszEsc = "\\n";
                break;
            case '\f':
                pszEsc = "\\f";
                break;
            default:
                if (uch < 0x20) {
                    static constexpr char s_szDigits[] = "0123456789abcdef";
                    szHex[0] = '\\';
                    szHex[1] = 'u';
                    szHex[2] = '0';
                    szHex[3] = '0';
                    szHex[4] = s_szDigits[uch >> 4];
                    szHex[5] = s_szDigits[uch & 0xf];
                    szHex[6] = '\0';
                    pszEsc = szHex;
                }
                break;
            }
        } else {
            switch (uch) {
            case '<':
                pszEsc = "&lt;";
                break;
            case '>':
                pszEsc = "&gt;";
                break;
            case '&':
                pszEsc = "&amp;";
                break;
            case '"':
                pszEsc = "&quot;";
                break;
            case '\'':
                if (chKind == 'e')
                    pszEsc = "&apos;";
                break;
            case '\n':
                if (chKind == 'a')
                    pszEsc = "&#xA;";
                break;
            case '\r':
                if (chKind == 'a')
                    pszEsc = "&#xD;";
                break;
            default:
                break;
            }
        }
        if (pszEsc) {
            Out.put(&psz[offRun], off - offRun);
            Out.putStr(pszEsc);
            offRun = off + 1;
        }
    }
    Out.put(&psz[offRun], cch - offRun);

    if (fFlags & RTSTR_F_LEFT)
        Out.putRepeat(' ', cPad);
    if (fQuoted)
        Out.putCh('"');
}

/** Names of the bits of CR0 and CR4, by bit number; null for bits without one. */
constexpr const char *g_apszCr0Bits[32] = {"PE",    "MP",    "EM",    "TS",    "ET",    "NE",    nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           "WP",    nullptr, "AM",    nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, "NW",    "CD",    "PG"};
constexpr const char *g_apszCr4Bits[32] = {"VME",   "PVI",    "TSD",         "DE",    "PSE",   "PAE",  "MCE",  "PGE",
                                           "PCE",   "OSFXSR", "OSXMMEEXCPT", nullptr, nullptr, "VMXE", "SMXE", nullptr,
                                           nullptr, "PCIDE",  "OSXSAVE",     nullptr, "SMEP",  "SMAP"};

void rtStrFmtX86Reg(RTSTRFMTRTOUT &Out, uint32_t uValue, const char *const *papszBits) {
    Out.putHex(uValue, 8);
    if (!uValue)
        return;
    Out.putCh('{');
    bool fFirst = true;
    uint32_t fUnknown = 0;
    for (unsigned iBit = 0; iBit < 32; iBit++) {
        if (!(uValue & (UINT32_C(1) << iBit)))
            continue;
        if (!papszBits[iBit]) {
            fUnknown |= UINT32_C(1) << iBit;
            continue;
        }
        if (!fFirst)
            Out.putCh(',');
        Out.putStr(papszBits[iBit]);
        fFirst = false;
    }
    if (fUnknown) {
        if (!fFirst)
            Out.putCh(',');
        Out.put("unkn=", 5);
        Out.putNum(fUnknown, 16, -1, -1, 0);
    }
    Out.putCh('}');
}

/** Does the format continue with the given text? Stops at the format's end. */
bool rtStrFmtStartsWith(const char *psz, const char *pszWord, size_t cchWord) {
    for (size_t i = 0; i < cchWord; i++)
        if (psz[i] != pszWord[i])
            return false;
    return true;
}

} // namespace

size_t rtstrFormatRtText(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                         int cchWidth, int cchPrecision, unsigned fFlags, char chArgSize) {
    const char *psz = *ppszFormat; // at the family letter
    const char chFamily = *psz++;
    *ppszFormat = psz;
    RTSTRFMTRTOUT Out(pfnOutput, pvArgOutput);

    switch (chFamily) {
    case 'b':
        if (!*psz)
            return 0;
        *ppszFormat = psz + 1;
        if (*psz == 'n')
            rtStrFmtBaseName(Out, va_arg(*pArgs, const char *));
        else if (*psz == 's' && chArgSize == 'l')
            rtStrFmtBigUtf16(Out, va_arg(*pArgs, const RTUTF16 *), cchWidth, cchPrecision, fFlags);
        break;

    case 'f':
        if (!*psz)
            return 0;
        *ppszFormat = psz + 1;
        if (*psz == 'n')
            rtStrFmtFunctionName(Out, va_arg(*pArgs, const char *));
        break;

    case 'D':
        if (rtStrFmtStartsWith(psz, "timespec", 8)) {
            *ppszFormat = psz + 8;
            const int64_t *pi64 = va_arg(*pArgs, const int64_t *);
            if (rtStrFmtIsBadPtr(pi64))
                rtStrFmtRtBadPtr(Out, pi64, "!BadRD", -1, 0);
            else {
                Out.putNum((uint64_t)*pi64, 10, -1, -1, RTSTR_F_VALSIGNED | RTSTR_F_THOUSAND_SEP | RTSTR_F_64BIT);
                Out.put(" ns", 3);
            }
        }
        break;

    case 'M': {
        if (!psz[0])
            return 0;
        if (!psz[1]) {
            *ppszFormat = psz + 1;
            return 0;
        }
        const char chKind = psz[0];
        if (psz[1] != 's' || (chKind != 'a' && chKind != 'e' && chKind != 'j')) {
            *ppszFormat = psz + 1;
            return 0;
        }
        *ppszFormat = psz + 2;
        rtStrFmtEscaped(Out, chKind, va_arg(*pArgs, const char *), cchWidth, cchPrecision, fFlags);
        break;
    }

    case 'A': {
        if (!rtStrFmtStartsWith(psz, "x86", 3))
            return 0;
        psz += 3;
        *ppszFormat = psz;
        if (*psz != '[')
            return 0;
        const char *pszName = ++psz;
        while (*psz && *psz != ']')
            psz++;
        if (!*psz) {
            *ppszFormat = psz;
            return 0;
        }
        *ppszFormat = psz + 1;
        // The value belongs to the directive whatever register it names, so that an
        // unknown name does not shift the arguments of the directives after it.
        const uint32_t uValue = va_arg(*pArgs, uint32_t);
        const size_t cchName = (size_t)(psz - pszName);
        if (cchName == 3 && rtStrFmtStartsWith(pszName, "cr0", 3))
            rtStrFmtX86Reg(Out, uValue, g_apszCr0Bits);
        else if (cchName == 3 && rtStrFmtStartsWith(pszName, "cr4", 3))
            rtStrFmtX86Reg(Out, uValue, g_apszCr4Bits);
        break;
    }

    default:
        break;
    }
    return Out.done();
}
