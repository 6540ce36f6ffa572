// Text to integers: one signed and one unsigned 64-bit parser with base detection and a
// character bound, the whole-string layer above them and the narrowing wrappers.
#include <olma/string.h>
#include "common/string/internal-strnum.h"
#include <limits>

namespace {

/** Where a parse stopped: the first character not taken and how many characters the
 *  bound still allows from there (SIZE_MAX-ish when there is no bound). */
struct RTSTRNUMSTATE {
    const char *pszEnd;
    size_t cchLeft;
    bool fNegative;
    bool fOverflow;
    uint64_t uMagnitude;
};

/** A "0x" or "0X" prefix counts only when a hexadecimal digit follows it and all three
 *  characters lie within the bound; looking further would break the bound. */
inline bool rtStrNumHasHexPrefix(const char *psz, size_t cchLeft) {
    return cchLeft >= 3 && psz[0] == '0' && (psz[1] == 'x' || psz[1] == 'X') && rtStrNumClass(psz[2]) < 16;
}

/** Signs, base detection and digits: everything the two parsers share. Returns 0 or
 *  ERR_NO_DIGITS; overflow is reported through the state. */
int rtStrNumScan(const char *psz, unsigned uBaseAndMaxLen, RTSTRNUMSTATE *pState) {
    unsigned uBase = uBaseAndMaxLen & 0xff;
    if (uBase >= 36)
        uBase = 0;
    size_t cchLeft = uBaseAndMaxLen >> 8;
    if (!cchLeft)
        cchLeft = SIZE_MAX;

    bool fNegative = false;
    while (cchLeft && (*psz == '+' || *psz == '-')) {
        fNegative = *psz == '-' ? !fNegative : false;
        psz++;
        cchLeft--;
    }

    if (uBase == 0) {
        if (rtStrNumHasHexPrefix(psz, cchLeft)) {
            uBase = 16;
            psz += 2;
            cchLeft -= 2;
        } else if (cchLeft >= 2 && psz[0] == '0' && rtStrNumClass(psz[1]) < 8)
            uBase = 8; /* the leading zero is simply the first digit */
        else
            uBase = 10;
    } else if (uBase == 16 && rtStrNumHasHexPrefix(psz, cchLeft)) {
        psz += 2;
        cchLeft -= 2;
    }

    const char *const pszDigits = psz;
    uint64_t u = 0;
    bool fOverflow = false;
    while (cchLeft) {
        const unsigned uDigit = rtStrNumClass(*psz); /* the terminator's class is above every base */
        if (uDigit >= uBase)
            break;
        /* Wrapping arithmetic keeps the low 64 bits, as the overflow result promises. */
        uint64_t uTimes;
        fOverflow |= __builtin_mul_overflow(u, (uint64_t)uBase, &uTimes);
        fOverflow |= __builtin_add_overflow(uTimes, (uint64_t)uDigit, &u);
        psz++;
        cchLeft--;
    }

    pState->pszEnd = psz;
    pState->cchLeft = cchLeft;
    pState->fNegative = fNegative;
    pState->fOverflow = fOverflow;
    pState->uMagnitude = u;
    return psz == pszDigits ? ERR_NO_DIGITS : 0;
}

/** Skips blanks and tabs within the bound; true when nothing else follows before the
 *  terminator or the end of the bound. */
bool rtStrNumOnlyBlanksLeft(const char *psz, size_t cchLeft) {
    while (cchLeft && rtStrIsBlankOrTab(*psz)) {
        psz++;
        cchLeft--;
    }
    return !cchLeft || *psz == '\0';
}

/** The trailing-text remark after a clean parse. */
int rtStrNumTrailing(const RTSTRNUMSTATE *pState) {
    if (!pState->cchLeft || *pState->pszEnd == '\0')
        return 0;
    return rtStrNumOnlyBlanksLeft(pState->pszEnd, pState->cchLeft) ? WRN_TRAILING_SPACES : WRN_TRAILING_CHARS;
}

int rtStrToInt64Core(const char *pszValue, unsigned uBaseAndMaxLen, int64_t *pi64, RTSTRNUMSTATE *pState) {
    int rc = rtStrNumScan(pszValue, uBaseAndMaxLen, pState);
    if (RT_FAILURE(rc)) {
        if (pi64)
            *pi64 = 0;
        return rc;
    }
    const uint64_t u = pState->uMagnitude;
    if (pState->fOverflow)
        rc = WRN_NUMBER_TOO_BIG;
    else if ((u >> 63) && !(pState->fNegative && u == UINT64_C(0x8000000000000000)))
        rc = WRN_NUMBER_TOO_BIG;
    if (pi64)
        *pi64 = (int64_t)(pState->fNegative ? 0 - u : u);
    if (rc == 0)
        rc = rtStrNumTrailing(pState);
    return rc;
}

int rtStrToUInt64Core(const char *pszValue, unsigned uBaseAndMaxLen, uint64_t *pu64, RTSTRNUMSTATE *pState) {
    int rc = rtStrNumScan(pszValue, uBaseAndMaxLen, pState);
    if (RT_FAILURE(rc)) {
        if (pu64)
            *pu64 = 0;
        return rc;
    }
    const uint64_t u = pState->uMagnitude;
    if (pu64)
        *pu64 = pState->fNegative ? 0 - u : u;
    if (pState->fOverflow)
        return WRN_NUMBER_TOO_BIG;
    if (pState->fNegative)
        return WRN_NEGATIVE_UNSIGNED;
    return rtStrNumTrailing(pState);
}

/** Turns a parser result into the strict result of the whole-string layer. */
int rtStrNumFull(int rc, const RTSTRNUMSTATE *pState) {
    /* Stopping at the end of the bound counts like stopping at the terminator; the
       byte behind the bound is not the caller's to look at. */
    if (RT_FAILURE(rc) || !pState->cchLeft || *pState->pszEnd == '\0')
        return rc;
    if (rc == WRN_TRAILING_CHARS)
        return ERR_TRAILING_CHARS;
    if (rc == WRN_TRAILING_SPACES)
        return ERR_TRAILING_SPACES;
    /* Overflow and negated unsigned values skip the parser's trailing check. */
    return rtStrNumOnlyBlanksLeft(pState->pszEnd, pState->cchLeft) ? ERR_TRAILING_SPACES : ERR_TRAILING_CHARS;
}

} // namespace

int RTStrToInt64Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, int64_t *pi64) {
    RTSTRNUMSTATE State;
    const int rc = rtStrToInt64Core(pszValue, uBaseAndMaxLen, pi64, &State);
    if (ppszNext)
        *ppszNext = (char *)State.pszEnd;
    return rc;
}

int RTStrToUInt64Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint64_t *pu64) {
    RTSTRNUMSTATE State;
    const int rc = rtStrToUInt64Core(pszValue, uBaseAndMaxLen, pu64, &State);
    if (ppszNext)
        *ppszNext = (char *)State.pszEnd;
    return rc;
}

namespace {

template <typename T> int rtStrToUnsignedEx(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, T *pValue) {
    uint64_t u64;
    int rc = RTStrToUInt64Ex(pszValue, ppszNext, uBaseAndMaxLen, &u64);
    if (RT_SUCCESS(rc) && u64 > std::numeric_limits<T>::max())
        rc = WRN_NUMBER_TOO_BIG;
    if (pValue)
        *pValue = (T)u64;
    return rc;
}

} // namespace

int RTStrToUInt32Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint32_t *pu32) {
    return rtStrToUnsignedEx(pszValue, ppszNext, uBaseAndMaxLen, pu32);
}

int RTStrToUInt8Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint8_t *pu8) {
    return rtStrToUnsignedEx(pszValue, ppszNext, uBaseAndMaxLen, pu8);
}

int RTStrToInt64Full(const char *pszValue, unsigned uBaseAndMaxLen, int64_t *pi64) {
    RTSTRNUMSTATE State;
    return rtStrNumFull(rtStrToInt64Core(pszValue, uBaseAndMaxLen, pi64, &State), &State);
}

int RTStrToUInt64Full(const char *pszValue, unsigned uBaseAndMaxLen, uint64_t *pu64) {
    RTSTRNUMSTATE State;
    return rtStrNumFull(rtStrToUInt64Core(pszValue, uBaseAndMaxLen, pu64, &State), &State);
}

namespace {

template <typename T> int rtStrToSignedFull(const char *pszValue, unsigned uBaseAndMaxLen, T *pValue) {
    int64_t i64;
    int rc = RTStrToInt64Full(pszValue, uBaseAndMaxLen, &i64);
    if (RT_SUCCESS(rc) && (i64 < std::numeric_limits<T>::min() || i64 > std::numeric_limits<T>::max()))
        rc = WRN_NUMBER_TOO_BIG;
    if (pValue)
        *pValue = (T)i64;
    return rc;
}

template <typename T> int rtStrToUnsignedFull(const char *pszValue, unsigned uBaseAndMaxLen, T *pValue) {
    uint64_t u64;
    int rc = RTStrToUInt64Full(pszValue, uBaseAndMaxLen, &u64);
    if (RT_SUCCESS(rc) && u64 > std::numeric_limits<T>::max())
        rc = WRN_NUMBER_TOO_BIG;
    if (pValue)
        *pValue = (T)u64;
    return rc;
}

} // namespace

int RTStrToInt32Full(const char *pszValue, unsigned uBaseAndMaxLen, int32_t *pi32) {
    return rtStrToSignedFull(pszValue, uBaseAndMaxLen, pi32);
}

int RTStrToInt16Full(const char *pszValue, unsigned uBaseAndMaxLen, int16_t *pi16) {
    return rtStrToSignedFull(pszValue, uBaseAndMaxLen, pi16);
}

int RTStrToInt8Full(const char *pszValue, unsigned uBaseAndMaxLen, int8_t *pi8) {
    return rtStrToSignedFull(pszValue, uBaseAndMaxLen, pi8);
}

int RTStrToUInt32Full(const char *pszValue, unsigned uBaseAndMaxLen, uint32_t *pu32) {
    return rtStrToUnsignedFull(pszValue, uBaseAndMaxLen, pu32);
}

int RTStrToUInt16Full(const char *pszValue, unsigned uBaseAndMaxLen, uint16_t *pu16) {
    return rtStrToUnsignedFull(pszValue, uBaseAndMaxLen, pu16);
}

int RTStrToUInt8Full(const char *pszValue, unsigned uBaseAndMaxLen, uint8_t *pu8) {
    return rtStrToUnsignedFull(pszValue, uBaseAndMaxLen, pu8);
}

int32_t RTStrToInt32(const char *pszValue) {
    int64_t i64;
    const int rc = RTStrToInt64Ex(pszValue, nullptr, 0, &i64);
    return RT_SUCCESS(rc) ? (int32_t)i64 : 0;
}
