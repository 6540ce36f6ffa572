// UTF-16: lengths, conversion to UTF-8, code-point stepping, ASCII copies and
// UTF-16 string memory.
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/string/internal-str.h"
#include "common/string/internal-utf.h"

namespace {

/**
 * UTF-8 bytes needed for the text (without terminator). The count reached is stored
 * also on failure. A high surrogate only pairs with a low one inside the bound.
 */
int rtUtf16CalcUtf8Length(const RTUTF16 *pwsz, size_t cwc, size_t *pcch) {
    size_t cch = 0;
    size_t off = 0;
    int rc = 0;
    while (off < cwc) {
        const RTUTF16 wc = pwsz[off];
        if (wc < 0x80) {
            if (!wc)
                break;
            cch += 1;
            off++;
        } else if (wc < 0x800) {
            cch += 2;
            off++;
        } else if (wc < 0xd800 || wc > 0xdfff) {
            if (wc >= 0xfffe) {
                rc = ERR_INVALID_CODE_POINT;
                break;
            }
            cch += 3;
            off++;
        } else {
            if (wc >= 0xdc00 || off + 1 >= cwc) {
                rc = ERR_INVALID_UTF16_ENCODING;
                break;
            }
            const RTUTF16 wc2 = pwsz[off + 1];
            if (wc2 < 0xdc00 || wc2 > 0xdfff) {
                rc = ERR_INVALID_UTF16_ENCODING;
                break;
            }
            cch += 4;
            off += 2;
        }
    }
    *pcch = cch;
    return rc;
}

/**
 * Converts into a buffer with room for cch bytes before the terminator. Stops at the
 * first sequence that does not fit or is malformed; the output is terminated where
 * it stopped and the bytes written are reported in every case.
 */
int rtUtf16RecodeAsUtf8(const RTUTF16 *pwsz, size_t cwc, char *psz, size_t cch, size_t *pcchWritten) {
    unsigned char *puch = (unsigned char *)psz;
    unsigned char *const puchStart = puch;
    unsigned char *const puchEnd = puch + cch;
    size_t off = 0;
    int rc = 0;
    while (off < cwc) {
        const RTUTF16 wc = pwsz[off];
        if (wc < 0x80) {
            if (!wc)
                break;
            if (puch >= puchEnd) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *puch++ = (unsigned char)wc;
            off++;
        } else if (wc < 0x800) {
            if (puchEnd - puch < 2) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *puch++ = (unsigned char)(0xc0 | (wc >> 6));
            *puch++ = (unsigned char)(0x80 | (wc & 0x3f));
            off++;
        } else if (wc < 0xd800 || wc > 0xdfff) {
            if (wc >= 0xfffe) {
                rc = ERR_INVALID_CODE_POINT;
                break;
            }
            if (puchEnd - puch < 3) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *puch++ = (unsigned char)(0xe0 | (wc >> 12));
            *puch++ = (unsigned char)(0x80 | ((wc >> 6) & 0x3f));
            *puch++ = (unsigned char)(0x80 | (wc & 0x3f));
            off++;
        } else {
            const RTUTF16 wc2 = wc < 0xdc00 && off + 1 < cwc ? pwsz[off + 1] : 0;
            if (wc2 < 0xdc00 || wc2 > 0xdfff) {
                rc = ERR_INVALID_UTF16_ENCODING;
                break;
            }
            if (puchEnd - puch < 4) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            const RTUNICP uCp = ((((RTUNICP)wc & 0x3ff) << 10) | (wc2 & 0x3ff)) + 0x10000;
            *puch++ = (unsigned char)(0xf0 | (uCp >> 18));
            *puch++ = (unsigned char)(0x80 | ((uCp >> 12) & 0x3f));
            *puch++ = (unsigned char)(0x80 | ((uCp >> 6) & 0x3f));
            *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
            off += 2;
        }
    }
    *puch = '\0';
    *pcchWritten = (size_t)(puch - puchStart);
    return rc;
}

inline RTUTF16 rtUtf16Swap(RTUTF16 wc) {
    return (RTUTF16)((wc >> 8) | (wc << 8));
}

/** Shared body of the host-order and big-endian decoders. */
template <bool a_fSwap> int rtUtf16GetCpWorker(const RTUTF16 **ppwsz, RTUNICP *pCp) {
    const RTUTF16 *pwsz = *ppwsz;
    const RTUTF16 wc = a_fSwap ? rtUtf16Swap(pwsz[0]) : pwsz[0];
    int rc;
    if (wc < 0xd800 || (wc >= 0xe000 && wc <= 0xfffd)) {
        *pCp = wc;
        *ppwsz = pwsz + 1;
        return 0;
    }
    if (wc >= 0xfffe)
        rc = ERR_INVALID_CODE_POINT;
    else if (wc < 0xdc00) {
        // The unit after a high surrogate is read even at the end of the text: a
        // terminator there is simply not a low surrogate.
        const RTUTF16 wc2 = a_fSwap ? rtUtf16Swap(pwsz[1]) : pwsz[1];
        if (wc2 >= 0xdc00 && wc2 <= 0xdfff) {
            *pCp = ((((RTUNICP)wc & 0x3ff) << 10) | (wc2 & 0x3ff)) + 0x10000;
            *ppwsz = pwsz + 2;
            return 0;
        }
        rc = ERR_INVALID_UTF16_ENCODING;
    } else
        rc = ERR_INVALID_UTF16_ENCODING;
    *pCp = RTUNICP_INVALID;
    *ppwsz = pwsz + 1;
    return rc;
}

/** Rounds a byte count up to whole units; false when that cannot be represented. */
inline bool rtUtf16RoundBytes(size_t cb, size_t *pcbRounded) {
    if (cb > ~(size_t)0 - 1)
        return false;
    *pcbRounded = (cb + 1) & ~(size_t)1;
    return true;
}

} // namespace

size_t RTUtf16Len(const RTUTF16 *pwsz) {
    if (!pwsz)
        return 0;
    size_t cwc = 0;
    while (pwsz[cwc])
        cwc++;
    return cwc;
}

int RTUtf16CalcUtf8LenEx(const RTUTF16 *pwsz, size_t cwc, size_t *pcch) {
    size_t cch;
    int rc = rtUtf16CalcUtf8Length(pwsz, cwc, &cch);
    *pcch = rc == 0 ? cch : ~(size_t)0;
    return rc;
}

int RTUtf16ToUtf8Ex(const RTUTF16 *pwsz, size_t cwc, char **ppsz, size_t cch, size_t *pcch, const char *pszTag) {
    (void)pszTag;
    return rtUtfConvert(
        ppsz, cch, pcch, ERR_NO_STR_MEMORY,
        [=](size_t *pcchResult) { return rtUtf16CalcUtf8Length(pwsz, cwc, pcchResult); },
        [=](char *psz, size_t cchMax) {
            size_t cchWritten;
            return rtUtf16RecodeAsUtf8(pwsz, cwc, psz, cchMax, &cchWritten);
        });
}

int RTUtf16CopyAscii(RTUTF16 *pwszDst, size_t cwcDst, const char *pszSrc) {
    if (cwcDst == 0)
        return ERR_BUFFER_OVERFLOW;
    // Look at most one byte beyond what fits: that is enough to know the text was cut.
    const size_t cchSrc = rtStrNLen(pszSrc, cwcDst);
    const bool fCut = cchSrc >= cwcDst;
    const size_t cchCopy = fCut ? cwcDst - 1 : cchSrc;
    bool fReplaced = false;
    for (size_t i = 0; i < cchCopy; i++) {
        unsigned char uch = (unsigned char)pszSrc[i];
        if (uch > 0x7f) {
            uch = 0x7f;
            fReplaced = true;
        }
        pwszDst[i] = uch;
    }
    pwszDst[cchCopy] = 0;
    if (fCut)
        return ERR_BUFFER_OVERFLOW;
    return fReplaced ? ERR_OUT_OF_RANGE : 0;
}

int RTUtf16GetCpEx(const RTUTF16 **ppwsz, RTUNICP *pCp) {
    return rtUtf16GetCpWorker<false>(ppwsz, pCp);
}

int RTUtf16BigGetCpEx(const RTUTF16 **ppwsz, RTUNICP *pCp) {
    return rtUtf16GetCpWorker<true>(ppwsz, pCp);
}

RTUTF16 *RTUtf16Alloc(size_t cb, const char *pszTag) {
    (void)pszTag;
    size_t cbAlloc;
    if (!rtUtf16RoundBytes(cb, &cbAlloc))
        return nullptr;
    if (cbAlloc < sizeof(RTUTF16))
        cbAlloc = sizeof(RTUTF16);
    RTUTF16 *pwsz = (RTUTF16 *)RTMemTmpAlloc(cbAlloc);
    if (pwsz)
        pwsz[0] = 0;
    return pwsz;
}

int RTUtf16Realloc(RTUTF16 **ppwsz, size_t cbNew, const char *pszTag) {
    size_t cbAlloc;
    if (!rtUtf16RoundBytes(cbNew, &cbAlloc))
        return ERR_NO_UTF16_MEMORY;
    RTUTF16 *pwszOld = *ppwsz;
    if (cbAlloc == 0) {
        RTMemFree(pwszOld);
        *ppwsz = nullptr;
        return 0;
    }
    RTUTF16 *pwsz;
    if (!pwszOld) {
        pwsz = (RTUTF16 *)RTMemTmpAlloc(cbAlloc);
        if (!pwsz)
            return ERR_NO_UTF16_MEMORY;
        pwsz[0] = 0;
    } else {
        pwsz = (RTUTF16 *)RTMemRealloc(pwszOld, cbAlloc, pszTag);
        if (!pwsz)
            return ERR_NO_UTF16_MEMORY;
    }
    pwsz[cbAlloc / sizeof(RTUTF16) - 1] = 0;
    *ppwsz = pwsz;
    return 0;
}

RTUTF16 *RTUtf16Dup(const RTUTF16 *pwsz, const char *pszTag) {
    (void)pszTag;
    if (!pwsz)
        return nullptr;
    const size_t cb = (RTUtf16Len(pwsz) + 1) * sizeof(RTUTF16);
    RTUTF16 *pwszDup = (RTUTF16 *)RTMemTmpAlloc(cb);
    if (pwszDup)
        rtMemCopy(pwszDup, pwsz, cb);
    return pwszDup;
}

void RTUtf16Free(RTUTF16 *pwsz) {
    RTMemFree(pwsz);
}
