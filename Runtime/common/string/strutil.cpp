// Bounded copy and concatenation, comparisons and left-stripping of UTF-8 strings.
#include <olma/string.h>
#include "common/string/internal-str.h"

int RTStrCopy(char *pszDst, size_t cbDst, const char *pszSrc) {
    const size_t cchSrc = rtStrNLen(pszSrc, RTSTR_MAX);
    if (cchSrc < cbDst) {
        rtMemCopy(pszDst, pszSrc, cchSrc + 1);
        return 0;
    }
    if (cbDst) {
        rtMemCopy(pszDst, pszSrc, cbDst - 1);
        pszDst[cbDst - 1] = '\0';
    }
    return ERR_BUFFER_OVERFLOW;
}

int RTStrCat(char *pszDst, size_t cbDst, const char *pszSrc) {
    const size_t cchDst = rtStrNLen(pszDst, cbDst);
    if (cchDst >= cbDst)
        return ERR_INVALID_PARAMETER; /* no terminator inside the buffer: nothing safe to append to */
    return RTStrCopy(pszDst + cchDst, cbDst - cchDst, pszSrc);
}

int RTStrCmp(const char *psz1, const char *psz2) {
    if (psz1 == psz2)
        return 0;
    if (!psz1)
        return -1;
    if (!psz2)
        return 1;
    for (;;) {
        const unsigned char ch1 = (unsigned char)*psz1++;
        const unsigned char ch2 = (unsigned char)*psz2++;
        if (ch1 != ch2)
            return ch1 < ch2 ? -1 : 1;
        if (!ch1)
            return 0;
    }
}

namespace {

/** Decodes one code point with the runtime's UTF-8 rules (lead byte, continuation
 *  bytes, overlong forms, the two non-characters and surrogates rejected; forms beyond
 *  0x10FFFF accepted). Returns false on an invalid sequence and then leaves the cursor. */
bool rtStrICmpGetCp(const char **ppsz, RTUNICP *pCp) {
    const unsigned char *pb = (const unsigned char *)*ppsz;
    const unsigned char b0 = pb[0];
    if (b0 < 0x80) {
        *pCp = b0;
        *ppsz += 1;
        return true;
    }
    unsigned cb;
    RTUNICP uc, ucMin;
    if ((b0 & 0xe0) == 0xc0) {
        cb = 2, uc = b0 & 0x1f, ucMin = 0x80;
    } else if ((b0 & 0xf0) == 0xe0) {
        cb = 3, uc = b0 & 0x0f, ucMin = 0x800;
    } else if ((b0 & 0xf8) == 0xf0) {
        cb = 4, uc = b0 & 0x07, ucMin = 0x10000;
    } else if ((b0 & 0xfc) == 0xf8) {
        cb = 5, uc = b0 & 0x03, ucMin = 0x200000;
    } else if ((b0 & 0xfe) == 0xfc) {
        cb = 6, uc = b0 & 0x01, ucMin = 0x4000000;
    } else
        return false;
    /* A terminator is not a continuation byte, so this never reads past it. */
    for (unsigned i = 1; i < cb; i++) {
        if ((pb[i] & 0xc0) != 0x80)
            return false;
        uc = (uc << 6) | (pb[i] & 0x3f);
    }
    if (uc < ucMin)
        return false;
    if (cb == 3 && (uc == 0xfffe || uc == 0xffff || (uc >= 0xd800 && uc <= 0xdfff)))
        return false;
    *pCp = uc;
    *ppsz += cb;
    return true;
}

inline unsigned rtStrFoldAscii(unsigned uc) {
    return uc >= 'A' && uc <= 'Z' ? uc + ('a' - 'A') : uc;
}

} // namespace

int RTStrICmpAscii(const char *psz1, const char *pszAscii) {
    if (psz1 == pszAscii)
        return 0;
    if (!psz1)
        return -1;
    if (!pszAscii)
        return 1;
    for (;;) {
        RTUNICP uc;
        if (!rtStrICmpGetCp(&psz1, &uc))
            return RTStrCmp(psz1, pszAscii); /* the rest byte by byte, from the invalid byte on */
        const unsigned chAscii = (unsigned char)*pszAscii++;
        if (uc != chAscii) {
            if (uc >= 0x80)
                return 1;
            const int iDiff = (int)rtStrFoldAscii(uc) - (int)rtStrFoldAscii(chAscii);
            if (iDiff)
                return iDiff;
        }
        if (!uc)
            return 0;
    }
}

char *RTStrStripL(const char *psz) {
    while (*psz == ' ' || (*psz >= '\t' && *psz <= '\r'))
        psz++;
    return (char *)psz;
}
