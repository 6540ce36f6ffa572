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
        const char *const pszCp = psz1;
        if (RT_FAILURE(RTStrGetCpEx(&psz1, &uc)))
            return RTStrCmp(pszCp, pszAscii); /* the rest byte by byte, from the invalid byte on */
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
