// UTF-8: validation, length computations, conversions to UTF-16 and to code-point
// arrays, and code-point stepping.
//
// Every conversion measures first and then converts without checking again, so the
// output is allocated once at its exact size. The measuring loops are the only place
// where malformed input is detected; they never read a byte beyond the bound or
// beyond the first byte that cannot continue a sequence (a terminator included).
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/string/internal-str.h"
#include "common/string/internal-utf.h"

namespace {

/** Smallest value each sequence length may encode; anything below is overlong. */
constexpr RTUNICP g_auUtf8MinValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

/**
 * Decodes one multi-byte sequence (the lead byte is at least 0x80) with at most
 * cchLeft bytes available. Applies the lead-byte, length, continuation, overlong,
 * non-character and surrogate checks; accepts 4-byte forms above U+10FFFF and the
 * 5- and 6-byte forms. Continuation bytes are read one after the other and the
 * first one that fails stops the read, so a terminator is never read past.
 */
inline int rtUtf8DecodeMulti(const unsigned char *puch, size_t cchLeft, RTUNICP *puCp, size_t *pcb) {
    const unsigned uLead = puch[0];
    size_t cb;
    RTUNICP uCp;
    if ((uLead & 0xe0) == 0xc0) {
        cb = 2;
        uCp = uLead & 0x1f;
    } else if ((uLead & 0xf0) == 0xe0) {
        cb = 3;
        uCp = uLead & 0x0f;
    } else if ((uLead & 0xf8) == 0xf0) {
        cb = 4;
        uCp = uLead & 0x07;
    } else if ((uLead & 0xfc) == 0xf8) {
        cb = 5;
        uCp = uLead & 0x03;
    } else if ((uLead & 0xfe) == 0xfc) {
        cb = 6;
        uCp = uLead & 0x01;
    } else
        return ERR_INVALID_UTF8_ENCODING; // a continuation byte, 0xfe or 0xff
    if (cchLeft < cb)
        return ERR_INVALID_UTF8_ENCODING;
    for (size_t i = 1; i < cb; i++) {
        const unsigned uch = puch[i];
        if ((uch & 0xc0) != 0x80)
            return ERR_INVALID_UTF8_ENCODING;
        uCp = (uCp << 6) | (uch & 0x3f);
    }
    if (uCp < g_auUtf8MinValue[cb])
        return ERR_INVALID_UTF8_ENCODING;
    if (cb == 3) {
        if (uCp >= 0xd800 && uCp <= 0xdfff)
            return ERR_CODE_POINT_SURROGATE;
        if (uCp >= 0xfffe)
            return ERR_INVALID_CODE_POINT;
    }
    *puCp = uCp;
    *pcb = cb;
    return 0;
}

/**
 * Validates up to the terminator or the bound, counting code points and the bytes
 * consumed (the latter also on failure: up to the start of the bad sequence).
 */
int rtUtf8Length(const char *psz, size_t cch, size_t *pcCps, size_t *pcchActual) {
    const unsigned char *puch = (const unsigned char *)psz;
    size_t off = 0;
    size_t cCps = 0;
    int rc = 0;
    while (off < cch) {
        const unsigned uch = puch[off];
        if (uch < 0x80) {
            if (!uch)
                break;
            off++;
        } else {
            RTUNICP uCp;
            size_t cb;
            rc = rtUtf8DecodeMulti(&puch[off], cch - off, &uCp, &cb);
            if (rc != 0)
                break;
            off += cb;
        }
        cCps++;
    }
    *pcCps = cCps;
    *pcchActual = off;
    return rc;
}

/**
 * UTF-16 units needed for the text (without terminator). Stricter than plain
 * validation: UTF-16 cannot carry anything above U+10FFFF.
 */
int rtUtf8CalcUtf16Length(const char *psz, size_t cch, size_t *pcwc) {
    const unsigned char *puch = (const unsigned char *)psz;
    size_t off = 0;
    size_t cwc = 0;
    while (off < cch) {
        const unsigned uch = puch[off];
        if (uch < 0x80) {
            if (!uch)
                break;
            off++;
            cwc++;
            continue;
        }
        RTUNICP uCp;
        size_t cb;
        int rc = rtUtf8DecodeMulti(&puch[off], cch - off, &uCp, &cb);
        if (rc != 0)
            return rc;
        if (cb >= 4) {
            if (uCp > 0x10ffff)
                return ERR_CODE_POINT_OUT_OF_RANGE;
            cwc++;
        }
        off += cb;
        cwc++;
    }
    *pcwc = cwc;
    return 0;
}

/**
 * Converts text that rtUtf8CalcUtf16Length accepted with the same bound. cwc is the
 * room before the terminator; the output is always terminated.
 */
int rtUtf8RecodeAsUtf16(const char *psz, size_t cch, RTUTF16 *pwsz, size_t cwc) {
    const unsigned char *puch = (const unsigned char *)psz;
    RTUTF16 *pwszEnd = pwsz + cwc;
    size_t off = 0;
    int rc = 0;
    while (off < cch) {
        const unsigned uch = puch[off];
        if (uch < 0x80) {
            if (!uch)
                break;
            if (pwsz >= pwszEnd) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *pwsz++ = (RTUTF16)uch;
            off++;
        } else if ((uch & 0xe0) == 0xc0) {
            if (pwsz >= pwszEnd) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *pwsz++ = (RTUTF16)(((uch & 0x1f) << 6) | (puch[off + 1] & 0x3f));
            off += 2;
        } else if ((uch & 0xf0) == 0xe0) {
            if (pwsz >= pwszEnd) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            *pwsz++ = (RTUTF16)(((uch & 0x0f) << 12) | ((puch[off + 1] & 0x3f) << 6) | (puch[off + 2] & 0x3f));
            off += 3;
        } else {
            if (pwszEnd - pwsz < 2) {
                rc = ERR_BUFFER_OVERFLOW;
                break;
            }
            const RTUNICP uCp = (((RTUNICP)uch & 0x07) << 18) | (((RTUNICP)puch[off + 1] & 0x3f) << 12) |
                                ((puch[off + 2] & 0x3f) << 6) | (puch[off + 3] & 0x3f);
            const RTUNICP uOff = uCp - 0x10000;
            *pwsz++ = (RTUTF16)(0xd800 + (uOff >> 10));
            *pwsz++ = (RTUTF16)(0xdc00 + (uOff & 0x3ff));
            off += 4;
        }
    }
    *pwsz = 0;
    return rc;
}

/** Converts text that rtUtf8Length accepted with the same bound into code points. */
int rtUtf8RecodeAsUni(const char *psz, size_t cch, RTUNICP *paCps, size_t cCps) {
    const unsigned char *puch = (const unsigned char *)psz;
    RTUNICP *puEnd = paCps + cCps;
    size_t off = 0;
    int rc = 0;
    while (off < cch) {
        const unsigned uch = puch[off];
        if (!uch)
            break;
        if (paCps >= puEnd) {
            rc = ERR_BUFFER_OVERFLOW;
            break;
        }
        if (uch < 0x80) {
            *paCps++ = uch;
            off++;
            continue;
        }
        // The sequence length follows from the count of leading one bits.
        size_t cb = 2;
        while (uch & (0x80u >> cb))
            cb++;
        RTUNICP uCp = uch & (0x7fu >> cb);
        for (size_t i = 1; i < cb; i++)
            uCp = (uCp << 6) | (puch[off + i] & 0x3f);
        *paCps++ = uCp;
        off += cb;
    }
    *paCps = 0;
    return rc;
}

} // namespace

int RTStrValidateEncodingEx(const char *psz, size_t cch, uint32_t fFlags) {
    if (fFlags & ~(RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED | RTSTR_VALIDATE_ENCODING_EXACT_LENGTH))
        return ERR_INVALID_PARAMETER;
    size_t cCps;
    size_t cchActual;
    int rc = rtUtf8Length(psz, cch, &cCps, &cchActual);
    if (rc != 0)
        return rc;
    if (fFlags & RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED) {
        // Stopping exactly at the bound means no terminator was inside it.
        if (cchActual >= cch)
            return ERR_BUFFER_OVERFLOW;
        if ((fFlags & RTSTR_VALIDATE_ENCODING_EXACT_LENGTH) && cchActual + 1 != cch)
            return ERR_BUFFER_UNDERFLOW;
    } else if ((fFlags & RTSTR_VALIDATE_ENCODING_EXACT_LENGTH) && cchActual != cch)
        return ERR_BUFFER_UNDERFLOW;
    return 0;
}

size_t RTStrUniLen(const char *psz) {
    size_t cCps;
    size_t cchActual;
    int rc = rtUtf8Length(psz, RTSTR_MAX, &cCps, &cchActual);
    return rc == 0 ? cCps : 0;
}

int RTStrCalcUtf16LenEx(const char *psz, size_t cch, size_t *pcwc) {
    size_t cwc;
    int rc = rtUtf8CalcUtf16Length(psz, cch, &cwc);
    *pcwc = rc == 0 ? cwc : ~(size_t)0;
    return rc;
}

int RTStrToUtf16(const char *psz, RTUTF16 **ppwsz, const char *pszTag) {
    *ppwsz = nullptr;
    return RTStrToUtf16Ex(psz, RTSTR_MAX, ppwsz, 0, nullptr, pszTag);
}

int RTStrToUtf16Ex(const char *psz, size_t cch, RTUTF16 **ppwsz, size_t cwc, size_t *pcwc, const char *pszTag) {
    (void)pszTag;
    return rtUtfConvert(
        ppwsz, cwc, pcwc, ERR_NO_UTF16_MEMORY,
        [=](size_t *pcwcResult) { return rtUtf8CalcUtf16Length(psz, cch, pcwcResult); },
        [=](RTUTF16 *pwsz, size_t cwcMax) { return rtUtf8RecodeAsUtf16(psz, cch, pwsz, cwcMax); });
}

int RTStrToUniEx(const char *psz, size_t cch, RTUNICP **ppaCps, size_t cCps, size_t *pcCps) {
    // The conversion is bounded by what the measuring pass consumed.
    size_t cchActual = 0;
    return rtUtfConvert(
        ppaCps, cCps, pcCps, ERR_NO_CODE_POINT_MEMORY,
        [&](size_t *pcCpsResult) { return rtUtf8Length(psz, cch, pcCpsResult, &cchActual); },
        [&](RTUNICP *paCps, size_t cCpsMax) { return rtUtf8RecodeAsUni(psz, cchActual, paCps, cCpsMax); });
}

int RTStrGetCpEx(const char **ppsz, RTUNICP *pCp) {
    const unsigned char *puch = (const unsigned char *)*ppsz;
    if (*puch < 0x80) {
        *pCp = *puch;
        *ppsz += 1;
        return 0;
    }
    size_t cb;
    int rc = rtUtf8DecodeMulti(puch, RTSTR_MAX, pCp, &cb);
    if (rc != 0) {
        *pCp = RTUNICP_INVALID;
        *ppsz += 1;
        return rc;
    }
    *ppsz += cb;
    return 0;
}

RTUNICP RTStrGetCp(const char *psz) {
    RTUNICP uCp;
    (void)RTStrGetCpEx(&psz, &uCp);
    return uCp;
}

int RTStrGetCpNEx(const char **ppsz, size_t *pcch, RTUNICP *pCp) {
    if (*pcch == 0) {
        *pCp = RTUNICP_INVALID;
        return ERR_END_OF_STRING;
    }
    const unsigned char *puch = (const unsigned char *)*ppsz;
    if (*puch < 0x80) {
        *pCp = *puch;
        *ppsz += 1;
        *pcch -= 1;
        return 0;
    }
    size_t cb;
    int rc = rtUtf8DecodeMulti(puch, *pcch, pCp, &cb);
    if (rc != 0) {
        *pCp = RTUNICP_INVALID;
        cb = 1;
    }
    *ppsz += cb;
    *pcch -= cb;
    return rc;
}

char *RTStrPutCp(char *psz, RTUNICP uCp) {
    unsigned char *puch = (unsigned char *)psz;
    if (uCp < 0x80) {
        *puch++ = (unsigned char)uCp;
    } else if (uCp < 0x800) {
        *puch++ = (unsigned char)(0xc0 | (uCp >> 6));
        *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
    } else if (uCp < 0x10000) {
        *puch++ = (unsigned char)(0xe0 | (uCp >> 12));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 6) & 0x3f));
        *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
    } else if (uCp < 0x200000) {
        *puch++ = (unsigned char)(0xf0 | (uCp >> 18));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 12) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 6) & 0x3f));
        *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
    } else if (uCp < 0x4000000) {
        *puch++ = (unsigned char)(0xf8 | (uCp >> 24));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 18) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 12) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 6) & 0x3f));
        *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
    } else if (uCp <= 0x7fffffff) {
        *puch++ = (unsigned char)(0xfc | (uCp >> 30));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 24) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 18) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 12) & 0x3f));
        *puch++ = (unsigned char)(0x80 | ((uCp >> 6) & 0x3f));
        *puch++ = (unsigned char)(0x80 | (uCp & 0x3f));
    } else {
        // No form carries more than 31 bits; a visible stand-in beats silently
        // dropping the value.
        *puch++ = 0x7f;
    }
    return (char *)puch;
}

const char *RTStrPrevCp(const char *pszStart, const char *psz) {
    if (psz <= pszStart)
        return pszStart;
    const unsigned char *puchStart = (const unsigned char *)pszStart;
    const unsigned char *puch = (const unsigned char *)psz - 1;
    if (*puch < 0x80)
        return (const char *)puch;
    if ((*puch & 0xc0) == 0xc0)
        return pszStart; // a lead byte with nothing after it
    // Walk back over the continuation bytes to the lead byte that must announce
    // exactly that many of them.
    unsigned cContinuation = 1;
    while (puch > puchStart) {
        puch--;
        const unsigned uch = *puch;
        if ((uch & 0xc0) != 0x80) {
            const unsigned uMask = 0xff00u >> (cContinuation + 2);      // leading ones plus the zero after
            const unsigned uPattern = (0xff00u >> (cContinuation + 1)); // the leading ones alone
            if ((uch & uMask & 0xff) == (uPattern & 0xff))
                return (const char *)puch;
            return pszStart;
        }
        if (++cContinuation > 5)
            return pszStart;
    }
    return pszStart;
}
