// Text to IPv4 addresses, IPv4 prefixes and MAC addresses.
#include <olma/string.h>
#include "common/string/internal-strnum.h"

int RTNetStrToIPv4AddrEx(const char *pcszAddr, RTNETADDRIPV4 *pAddr, char **ppszNext) {
    if (!RT_VALID_PTR(pcszAddr) || !RT_VALID_PTR(pAddr) || (ppszNext && !RT_VALID_PTR(ppszNext)))
        return ERR_INVALID_PARAMETER;

    const char *psz = pcszAddr;
    char *pszNext;
    for (unsigned i = 0; i < 3; i++) {
        const int rc = RTStrToUInt8Ex(psz, &pszNext, 10, &pAddr->au8[i]);
        if ((rc != 0 && rc != WRN_TRAILING_CHARS) || *pszNext != '.')
            return ERR_INVALID_PARAMETER;
        psz = pszNext + 1;
    }
    const int rc = RTStrToUInt8Ex(psz, &pszNext, 10, &pAddr->au8[3]);
    if (rc != 0 && rc != WRN_TRAILING_CHARS && rc != WRN_TRAILING_SPACES)
        return ERR_INVALID_PARAMETER;
    if (ppszNext)
        *ppszNext = pszNext;
    return rc;
}

int RTNetStrToIPv4Addr(const char *pcszAddr, RTNETADDRIPV4 *pAddr) {
    if (!RT_VALID_PTR(pcszAddr) || !RT_VALID_PTR(pAddr))
        return ERR_INVALID_PARAMETER;
    const int rc = RTNetStrToIPv4AddrEx(RTStrStripL(pcszAddr), pAddr, nullptr);
    return rc == 0 || rc == WRN_TRAILING_SPACES ? 0 : ERR_INVALID_PARAMETER;
}

namespace {

const char *rtNetFindChar(const char *psz, char ch) {
    for (; *psz; psz++)
        if (*psz == ch)
            return psz;
    return nullptr;
}

} // namespace

int RTNetStrToIPv4Cidr(const char *pcszAddr, RTNETADDRIPV4 *pAddr, RTNETADDRIPV4 *pMask) {
    if (!RT_VALID_PTR(pcszAddr) || !RT_VALID_PTR(pAddr) || !RT_VALID_PTR(pMask))
        return ERR_INVALID_PARAMETER;

    uint8_t cPrefix = 32;
    if (const char *pszSlash = rtNetFindChar(pcszAddr, '/')) {
        const int rc = RTStrToUInt8Ex(pszSlash + 1, nullptr, 10, &cPrefix);
        if (rc != 0 || cPrefix > 32)
            return ERR_INVALID_PARAMETER;
    }

    /* The prefix says how many leading numbers must be written out ("10/8"). */
    const unsigned cMinNumbers = cPrefix <= 8 ? 1 : cPrefix <= 16 ? 2 : cPrefix <= 24 ? 3 : 4;
    uint8_t abAddr[4] = {0, 0, 0, 0};
    const char *psz = pcszAddr;
    unsigned cNumbers = 0;
    for (;;) {
        char *pszNext;
        const int rc = RTStrToUInt8Ex(psz, &pszNext, 10, &abAddr[cNumbers]);
        if (RT_FAILURE(rc) || rc == WRN_NUMBER_TOO_BIG)
            return ERR_INVALID_PARAMETER;
        cNumbers++;
        if (*pszNext == '\0' || *pszNext == '/')
            break;
        if (*pszNext != '.' || cNumbers == 4)
            return ERR_INVALID_PARAMETER;
        psz = pszNext + 1;
    }
    if (cNumbers < cMinNumbers)
        return ERR_INVALID_PARAMETER;

    const uint32_t uAddr =
        ((uint32_t)abAddr[0] << 24) | ((uint32_t)abAddr[1] << 16) | ((uint32_t)abAddr[2] << 8) | abAddr[3];
    const uint32_t uMask = cPrefix ? UINT32_C(0xffffffff) << (32 - cPrefix) : 0;
    if (uAddr & ~uMask)
        return ERR_INVALID_PARAMETER; /* host bits set */
    /* A zero first number makes no sense in a network, except that the all-zero
       address names "everything" (with prefix 0 the only address the mask allows). */
    if (abAddr[0] == 0 && !(uAddr == 0 && cPrefix < 32))
        return ERR_INVALID_PARAMETER;

    pAddr->u = uAddr;
    pMask->u = uMask;
    return 0;
}

namespace {

inline bool rtNetIsSpace(char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

} // namespace

int RTNetStrToMacAddr(const char *pszAddr, RTMAC *pMacAddr) {
    if (!RT_VALID_PTR(pszAddr) || !RT_VALID_PTR(pMacAddr))
        return ERR_INVALID_PARAMETER;

    /* Twelve digits without separators, followed by nothing but white space. */
    unsigned cDigits = 0;
    while (cDigits < 12 && rtStrNumClass(pszAddr[cDigits]) < 16)
        cDigits++;
    if (cDigits == 12 && *RTStrStripL(&pszAddr[12]) == '\0') {
        char szDigits[13];
        for (unsigned i = 0; i < 12; i++)
            szDigits[i] = pszAddr[i];
        szDigits[12] = '\0';
        return RTStrConvertHexBytes(szDigits, pMacAddr->au8, sizeof(pMacAddr->au8), 0) == 0 ? 0 : ERR_INVALID_PARAMETER;
    }

    /* Six colon-separated numbers; inner fields may be empty. */
    const char *psz = RTStrStripL(pszAddr);
    for (unsigned i = 0; i < 6; i++) {
        if (i > 0 && i < 5 && *psz == ':') {
            pMacAddr->au8[i] = 0;
            psz++;
            continue;
        }
        char *pszNext;
        const int rc = RTStrToUInt8Ex(psz, &pszNext, 16, &pMacAddr->au8[i]);
        if (i < 5) {
            if ((rc != 0 && rc != WRN_TRAILING_CHARS) || *pszNext != ':')
                return ERR_INVALID_PARAMETER;
            psz = pszNext + 1;
        } else {
            if (rc != 0 && rc != WRN_TRAILING_SPACES)
                return ERR_INVALID_PARAMETER;
            psz = pszNext;
        }
    }
    while (rtNetIsSpace(*psz))
        psz++;
    return *psz == '\0' ? 0 : ERR_INVALID_PARAMETER;
}
