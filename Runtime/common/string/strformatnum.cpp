// The number formatter behind every integer the runtime prints, and the exact
// binary text of a double.
#include <olma/string.h>
#include "common/string/internal-str.h"

namespace {

/** Longest text the number formatter produces; the caller's buffer holds one more byte. */
constexpr int RTSTR_NUM_MAX = 63;

constexpr char g_achDigitsLower[] = "0123456789abcdef";
constexpr char g_achDigitsUpper[] = "0123456789ABCDEF";
/** "00" to "99", for producing two decimal digits per division. */
constexpr char g_achDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                   "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                   "8081828384858687888990919293949596979899";
static_assert(sizeof(g_achDigitPairs) == 201, "one pair for each of 0 to 99");

/** Writes the digits of u in reverse order and returns their count with the
 *  separators. Common bases get their own loops: a division by a constant or a
 *  shift is far cheaper than a division by a variable, and 32-bit values take
 *  32-bit arithmetic. */
template <typename T>
int rtStrFmtRevDigits(char *pch, T u, unsigned uBase, const char *pachDigits, bool fGroup, int *pcDigits) {
    int cch = 0;
    int cDigits = 0;
    switch (uBase) {
    case 10:
        if (!fGroup) {
            // Two digits per division, and 64-bit values cut into 8-digit chunks so
            // that most of the work is 32-bit arithmetic.
            auto putPair = [&](unsigned uPair) {
                pch[cch++] = g_achDigitPairs[2 * uPair + 1];
                pch[cch++] = g_achDigitPairs[2 * uPair];
            };
            while (u > 0xffffffffu) {
                uint32_t uChunk = (uint32_t)(u % 100000000u);
                u /= 100000000u;
                for (int i = 0; i < 4; i++) {
                    putPair(uChunk % 100);
                    uChunk /= 100;
                }
            }
            uint32_t u32 = (uint32_t)u;
            while (u32 >= 100) {
                putPair(u32 % 100);
                u32 /= 100;
            }
            if (u32 >= 10)
                putPair(u32);
            else
                pch[cch++] = (char)('0' + u32);
            cDigits = cch;
        } else {
            // A counter instead of a modulo per digit decides where the blanks go.
            int cInGroup = 0;
            do {
                if (cInGroup == 3) {
                    pch[cch++] = ' ';
                    cInGroup = 0;
                }
                pch[cch++] = (char)('0' + (unsigned)(u % 10));
                cInGroup++;
                cDigits++;
                u /= 10;
            } while (u != 0);
        }
        break;
    case 16:
        do {
            pch[cch++] = pachDigits[(unsigned)u & 0xf];
            u >>= 4;
        } while (u != 0);
        cDigits = cch;
        break;
    case 8:
        do {
            pch[cch++] = (char)('0' + ((unsigned)u & 7));
            u >>= 3;
        } while (u != 0);
        cDigits = cch;
        break;
    default:
        do {
            pch[cch++] = pachDigits[(unsigned)(u % uBase)];
            u /= uBase;
        } while (u != 0);
        cDigits = cch;
        break;
    }
    *pcDigits = cDigits;
    return cch;
}

} // namespace

int RTStrFormatNumber(char *psz, uint32_t u32ValueLow, uint32_t u32ValueHigh, unsigned uiBase, int cchWidth,
                      int cchPrecision, unsigned fFlags) {
    if (uiBase < 2 || uiBase > 16)
        uiBase = 10;
    if (fFlags & RTSTR_F_LEFT)
        fFlags &= ~RTSTR_F_ZEROPAD;
    if ((fFlags & RTSTR_F_THOUSAND_SEP) && (uiBase != 10 || (fFlags & RTSTR_F_ZEROPAD)))
        fFlags &= ~RTSTR_F_THOUSAND_SEP;

    // Magnitude and sign. A 32-bit value is only negative by its own bit 31, so a
    // sign-extended argument and a plain 32-bit one print the same.
    uint64_t uMagnitude;
    char chSign = 0;
    if ((fFlags & RTSTR_F_64BIT) || u32ValueHigh != 0) {
        const uint64_t u64 = ((uint64_t)u32ValueHigh << 32) | u32ValueLow;
        if ((fFlags & RTSTR_F_VALSIGNED) && (int64_t)u64 < 0) {
            chSign = '-';
            uMagnitude = 0 - u64;
        } else
            uMagnitude = u64;
    } else if ((fFlags & RTSTR_F_VALSIGNED) && (int32_t)u32ValueLow < 0) {
        chSign = '-';
        uMagnitude = (uint32_t)(0u - u32ValueLow);
    } else
        uMagnitude = u32ValueLow;
    if (!chSign && (fFlags & RTSTR_F_VALSIGNED)) {
        if (fFlags & RTSTR_F_PLUS)
            chSign = '+';
        else if (fFlags & RTSTR_F_BLANK)
            chSign = ' ';
    }

    // Digits, least significant first, with the group separators in place.
    const char *pachDigits = (fFlags & RTSTR_F_CAPITAL) ? g_achDigitsUpper : g_achDigitsLower;
    char achRev[72];
    int cchDigits; // digits proper
    const bool fGroup = (fFlags & RTSTR_F_THOUSAND_SEP) != 0;
    int cchRev = uMagnitude <= UINT32_MAX
                     ? rtStrFmtRevDigits(achRev, (uint32_t)uMagnitude, uiBase, pachDigits, fGroup, &cchDigits)
                     : rtStrFmtRevDigits(achRev, uMagnitude, uiBase, pachDigits, fGroup, &cchDigits);

    const char *pszPrefix = "";
    int cchPrefix = 0;
    if (fFlags & RTSTR_F_SPECIAL) {
        if (uiBase == 8) {
            pszPrefix = "0";
            cchPrefix = 1;
        } else if (uiBase == 16) {
            pszPrefix = (fFlags & RTSTR_F_CAPITAL) ? "0X" : "0x";
            cchPrefix = 2;
        }
    }

    // Width padding is computed without the precision zeros; zero padding eats
    // into the precision instead.
    int cchCore = (chSign ? 1 : 0) + cchPrefix + cchRev;
    int iRevStop = 0;
    if (cchCore > RTSTR_NUM_MAX) { // only bases below 4 get here; keep the leading digits
        iRevStop = cchCore - RTSTR_NUM_MAX;
        cchCore = RTSTR_NUM_MAX;
    }
    int cchPad = cchWidth > cchCore ? cchWidth - cchCore : 0;
    if (cchPad > RTSTR_NUM_MAX - cchCore)
        cchPad = RTSTR_NUM_MAX - cchCore;
    int cchPrec = cchPrecision > 0 ? cchPrecision : 0;
    if (fFlags & RTSTR_F_ZEROPAD)
        cchPrec -= cchPad;
    int cchPrecZeros = cchPrec > cchDigits ? cchPrec - cchDigits : 0;
    if (cchPrecZeros > RTSTR_NUM_MAX - cchCore - cchPad)
        cchPrecZeros = RTSTR_NUM_MAX - cchCore - cchPad;

    char *pch = psz;
    if (!(fFlags & (RTSTR_F_LEFT | RTSTR_F_ZEROPAD)))
        for (int i = 0; i < cchPad; i++)
            *pch++ = ' ';
    if (chSign)
        *pch++ = chSign;
    for (int i = 0; i < cchPrefix; i++)
        *pch++ = pszPrefix[i];
    if (fFlags & RTSTR_F_ZEROPAD)
        for (int i = 0; i < cchPad; i++)
            *pch++ = '0';
    for (int i = 0; i < cchPrecZeros; i++)
        *pch++ = '0';
    for (int i = cchRev - 1; i >= iRevStop; i--)
        *pch++ = achRev[i];
    if (fFlags & RTSTR_F_LEFT)
        for (int i = 0; i < cchPad; i++)
            *pch++ = ' ';
    *pch = '\0';
    return (int)(pch - psz);
}

namespace {

/** Hands a text of cch bytes rendered in scratch space to the caller's buffer, cut
 *  like any bounded copy when it does not fit. */
ssize_t rtStrFmtCopyOut(char *pszBuf, size_t cbBuf, const char *pszTmp, size_t cch) {
    const int rc = RTStrCopy(pszBuf, cbBuf, pszTmp);
    return RT_SUCCESS(rc) ? (ssize_t)cch : rc;
}

/** Renders into a scratch buffer when the caller's buffer might be too small for
 *  the formatter's worst case, and reports an overflow instead of writing past it. */
ssize_t rtStrFormatNumberToBuf(char *pszBuf, size_t cbBuf, uint64_t uValue, unsigned uiBase, int cchWidth,
                               int cchPrecision, unsigned fFlags) {
    const uint32_t uLow = (uint32_t)uValue;
    const uint32_t uHigh = (uint32_t)(uValue >> 32);
    if (cbBuf > (size_t)RTSTR_NUM_MAX)
        return RTStrFormatNumber(pszBuf, uLow, uHigh, uiBase, cchWidth, cchPrecision, fFlags);
    char szTmp[RTSTR_NUM_MAX + 1];
    const size_t cch = (size_t)RTStrFormatNumber(szTmp, uLow, uHigh, uiBase, cchWidth, cchPrecision, fFlags);
    return rtStrFmtCopyOut(pszBuf, cbBuf, szTmp, cch);
}

/** Only the presentation flags are the caller's; the value size is the function's. */
constexpr uint32_t RTSTR_F_CALLER_MASK = 0x07ff;

} // namespace

ssize_t RTStrFormatU32(char *pszBuf, size_t cbBuf, uint32_t uValue, unsigned uiBase, int cchWidth, int cchPrecision,
                       uint32_t fFlags) {
    return rtStrFormatNumberToBuf(pszBuf, cbBuf, uValue, uiBase, cchWidth, cchPrecision,
                                  (fFlags & RTSTR_F_CALLER_MASK) | RTSTR_F_32BIT);
}

ssize_t RTStrFormatU64(char *pszBuf, size_t cbBuf, uint64_t uValue, unsigned uiBase, int cchWidth, int cchPrecision,
                       uint32_t fFlags) {
    return rtStrFormatNumberToBuf(pszBuf, cbBuf, uValue, uiBase, cchWidth, cchPrecision,
                                  (fFlags & RTSTR_F_CALLER_MASK) | RTSTR_F_64BIT);
}

ssize_t RTStrFormatDouble(char *pszBuf, size_t cbBuf, double rd) {
    // The bits are printed, not a decimal approximation: the text then round-trips
    // exactly and needs no floating-point code in an image without a C runtime.
    uint64_t uBits;
    __builtin_memcpy(&uBits, &rd, sizeof(uBits));
    const bool fNegative = (uBits >> 63) != 0;
    const unsigned uExp = (unsigned)(uBits >> 52) & 0x7ff;
    const uint64_t uFraction = uBits & UINT64_C(0x000fffffffffffff);

    char szTmp[48];
    char *pch = szTmp;
    *pch++ = fNegative ? '-' : '+';
    auto putStr = [&pch](const char *psz) {
        while (*psz)
            *pch++ = *psz++;
    };
    auto putFraction = [&pch, uFraction]() {
        for (int iShift = 48; iShift >= 0; iShift -= 4)
            *pch++ = g_achDigitsLower[(uFraction >> iShift) & 0xf];
    };
    if (uExp == 0x7ff) {
        if (uFraction == 0)
            putStr("Inf");
        else
            putStr((uFraction >> 51) ? "QNan" : "SNan");
    } else if (uExp == 0) {
        if (uFraction == 0)
            *pch++ = '0';
        else {
            putStr("0m0x");
            putFraction();
        }
    } else {
        putStr("1m0x");
        putFraction();
        *pch++ = '^';
        pch += RTStrFormatNumber(pch, (uint32_t)((int)uExp - 1023), 0, 10, -1, -1, RTSTR_F_VALSIGNED | RTSTR_F_32BIT);
    }
    *pch = '\0';

    const size_t cch = (size_t)(pch - szTmp);
    return rtStrFmtCopyOut(pszBuf, cbBuf, szTmp, cch);
}
