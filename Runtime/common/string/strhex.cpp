// Hexadecimal text to bytes and UUID text to its binary form.
#include <olma/string.h>
#include "common/string/internal-strnum.h"

int RTStrConvertHexBytes(const char *pszHex, void *pv, size_t cb, uint32_t fFlags) {
    if (fFlags & ~RTSTRCONVERTHEXBYTES_F_SEP_COLON)
        return ERR_INVALID_FLAGS;
    if (!RT_VALID_PTR(pszHex) || (cb && !RT_VALID_PTR(pv)))
        return ERR_INVALID_POINTER;

    uint8_t *pb = (uint8_t *)pv;
    size_t cbLeft = cb;
    if (!fFlags) {
        for (;;) {
            const unsigned uHi = rtStrNumClass(pszHex[0]);
            if (uHi >= 16)
                break;
            /* pszHex[0] is a digit, so pszHex[1] is at worst the terminator. */
            const unsigned uLo = rtStrNumClass(pszHex[1]);
            if (uLo >= 16)
                return ERR_UNEVEN_INPUT;
            if (!cbLeft)
                return ERR_BUFFER_OVERFLOW;
            *pb++ = (uint8_t)(uHi << 4 | uLo);
            cbLeft--;
            pszHex += 2;
        }
    } else {
        bool fAfterColon = false;
        for (;;) {
            uint8_t b;
            const unsigned uHi = rtStrNumClass(*pszHex);
            if (uHi < 16) {
                b = (uint8_t)uHi;
                pszHex++;
                const unsigned uLo = rtStrNumClass(*pszHex);
                if (uLo < 16) {
                    b = (uint8_t)(b << 4 | uLo);
                    pszHex++;
                }
            } else if (fAfterColon && *pszHex == ':')
                b = 0; /* empty field between two colons */
            else
                break;
            if (!cbLeft)
                return ERR_BUFFER_OVERFLOW;
            *pb++ = b;
            cbLeft--;
            fAfterColon = *pszHex == ':';
            if (fAfterColon)
                pszHex++;
        }
    }

    if (*pszHex == '\0')
        return cbLeft ? ERR_BUFFER_UNDERFLOW : 0;
    if (cbLeft)
        return ERR_BUFFER_UNDERFLOW;
    while (rtStrIsBlankOrTab(*pszHex))
        pszHex++;
    /* Here the trailing-characters remark means that only blanks followed. */
    return *pszHex == '\0' ? WRN_TRAILING_CHARS : WRN_TRAILING_SPACES;
}

int RTUuidFromStr(RTUUID *pUuid, const char *pszString) {
    if (!RT_VALID_PTR(pUuid) || !RT_VALID_PTR(pszString))
        return ERR_INVALID_PARAMETER;

    const char *psz = pszString;
    const bool fBraces = *psz == '{';
    if (fBraces)
        psz++;

    /* 32 digits in text order; every check fails on the terminator, so the scan stops there. */
    static constexpr char s_szLayout[] = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    uint8_t abDigits[32];
    unsigned cDigits = 0;
    for (const char *pszLayout = s_szLayout; *pszLayout; pszLayout++, psz++) {
        if (*pszLayout == '-') {
            if (*psz != '-')
                return ERR_INVALID_UUID_FORMAT;
        } else {
            const unsigned uDigit = rtStrNumClass(*psz);
            if (uDigit >= 16)
                return ERR_INVALID_UUID_FORMAT;
            abDigits[cDigits++] = (uint8_t)uDigit;
        }
    }
    if (fBraces && *psz++ != '}')
        return ERR_INVALID_UUID_FORMAT;
    if (*psz != '\0')
        return ERR_INVALID_UUID_FORMAT;

    uint8_t abText[16];
    for (unsigned i = 0; i < 16; i++)
        abText[i] = (uint8_t)(abDigits[2 * i] << 4 | abDigits[2 * i + 1]);
    /* The first three fields are little-endian integers, the rest stays in text order. */
    static constexpr uint8_t s_aiFromText[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (unsigned i = 0; i < 16; i++)
        pUuid->au8[i] = abText[s_aiFromText[i]];
    return 0;
}
