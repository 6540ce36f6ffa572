// The %R directives: dispatch on the family letter, and the typed values of the type
// table (sized integers, fixed-width handles, booleans, far pointers, network
// addresses, UUIDs, error-info records), status codes and Windows error values.
#include <olma/err.h>
#include <olma/string.h>
#include "common/string/internal-format.h"
#include "common/string/internal-formatrt.h"

namespace {

/** How a type-table entry is printed. */
enum RTSTRFMTKIND : uint8_t {
    RTSF_INT = 0,
    RTSF_INTW,
    RTSF_BOOL,
    RTSF_FP16,
    RTSF_FP32,
    RTSF_FP64,
    RTSF_IPV4,
    RTSF_IPV6,
    RTSF_MAC,
    RTSF_NETADDR,
    RTSF_UUID,
    RTSF_ERRINFO,
    RTSF_ERRINFO_MSG_ONLY,
};

/** Handles, host addresses and registers follow the pointer width of the build, so
 *  that a 64-bit build reads the whole argument and shows all 16 digits. */
constexpr uint8_t RTSTR_FMT_CB_PTR = sizeof(void *);

struct RTSTRFMTTYPE {
    char szName[11];
    uint8_t cchName;
    uint8_t cb;
    uint8_t uBase;
    RTSTRFMTKIND enmKind;
    uint16_t fFlags;
};

/** Sorted by name (byte order) for the binary search below. No name is a prefix of
 *  another, so the first match of a name against the format is the only one. */
constexpr RTSTRFMTTYPE g_aTypes[] = {
    {"Ci", 2, 4, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Cp", 2, 8, 16, RTSF_INTW, 0},
    {"Cr", 2, 4, 16, RTSF_INTW, 0},
    {"Cu", 2, 4, 10, RTSF_INT, 0},
    {"Cv", 2, 4, 16, RTSF_INTW, 0},
    {"Cx", 2, 4, 16, RTSF_INT, 0},
    {"Gi", 2, 8, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Gp", 2, 8, 16, RTSF_INTW, 0},
    {"Gr", 2, 8, 16, RTSF_INTW, 0},
    {"Gu", 2, 8, 10, RTSF_INT, 0},
    {"Gv", 2, 8, 16, RTSF_INTW, 0},
    {"Gx", 2, 8, 16, RTSF_INT, 0},
    {"Hi", 2, RTSTR_FMT_CB_PTR, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Hp", 2, 8, 16, RTSF_INTW, 0},
    {"Hr", 2, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Hu", 2, RTSTR_FMT_CB_PTR, 10, RTSF_INT, 0},
    {"Hv", 2, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Hx", 2, RTSTR_FMT_CB_PTR, 16, RTSF_INT, 0},
    {"I16", 3, 2, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"I32", 3, 4, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"I64", 3, 8, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"I8", 2, 1, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Kv", 2, RTSTR_FMT_CB_PTR, 16, RTSF_INT, RTSTR_F_HIDDEN},
    {"Rv", 2, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tbool", 5, 1, 10, RTSF_BOOL, 0},
    {"Teic", 4, RTSTR_FMT_CB_PTR, 16, RTSF_ERRINFO, 0},
    {"Teim", 4, RTSTR_FMT_CB_PTR, 16, RTSF_ERRINFO_MSG_ONLY, 0},
    {"Tfile", 5, 4, 10, RTSF_INT, 0},
    {"Tfmode", 6, 4, 16, RTSF_INTW, 0},
    {"Tfoff", 5, 8, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Tfp16", 5, 4, 16, RTSF_FP16, RTSTR_F_ZEROPAD},
    {"Tfp32", 5, 6, 16, RTSF_FP32, RTSTR_F_ZEROPAD},
    {"Tfp64", 5, 10, 16, RTSF_FP64, RTSTR_F_ZEROPAD},
    {"Tgid", 4, 4, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Tino", 4, 8, 16, RTSF_INTW, 0},
    {"Tint", 4, 4, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Tiop", 4, 2, 16, RTSF_INTW, 0},
    {"Tldrm", 5, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tmac", 4, RTSTR_FMT_CB_PTR, 16, RTSF_MAC, 0},
    {"Tnaddr", 6, RTSTR_FMT_CB_PTR, 10, RTSF_NETADDR, 0},
    {"Tnaipv4", 7, 4, 10, RTSF_IPV4, 0},
    {"Tnaipv6", 7, RTSTR_FMT_CB_PTR, 16, RTSF_IPV6, 0},
    {"Tnthrd", 6, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tproc", 5, 4, 16, RTSF_INTW, 0},
    {"Tptr", 4, 8, 16, RTSF_INTW, 0},
    {"Treg", 4, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tsel", 4, 2, 16, RTSF_INTW, 0},
    {"Tsem", 4, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tsock", 5, 4, 10, RTSF_INT, 0},
    {"Tthrd", 5, RTSTR_FMT_CB_PTR, 16, RTSF_INTW, 0},
    {"Tuid", 4, 4, 10, RTSF_INT, RTSTR_F_VALSIGNED},
    {"Tuint", 5, 4, 10, RTSF_INT, 0},
    {"Tunicp", 6, 4, 16, RTSF_INTW, RTSTR_F_ZEROPAD},
    {"Tutf16", 6, 2, 16, RTSF_INTW, RTSTR_F_ZEROPAD},
    {"Tuuid", 5, RTSTR_FMT_CB_PTR, 16, RTSF_UUID, 0},
    {"Txint", 5, 4, 16, RTSF_INT, 0},
    {"U16", 3, 2, 10, RTSF_INT, 0},
    {"U32", 3, 4, 10, RTSF_INT, 0},
    {"U64", 3, 8, 10, RTSF_INT, 0},
    {"U8", 2, 1, 10, RTSF_INT, 0},
    {"X16", 3, 2, 16, RTSF_INT, 0},
    {"X32", 3, 4, 16, RTSF_INT, 0},
    {"X64", 3, 8, 16, RTSF_INT, 0},
    {"X8", 2, 1, 16, RTSF_INT, 0},
};

constexpr int rtStrFmtNameCmp(const char *psz1, const char *psz2) {
    for (;; psz1++, psz2++) {
        if (*psz1 != *psz2)
            return (unsigned char)*psz1 < (unsigned char)*psz2 ? -1 : 1;
        if (!*psz1)
            return 0;
    }
}

constexpr bool rtStrFmtTypesValid() {
    for (size_t i = 0; i < RT_ELEMENTS(g_aTypes); i++) {
        size_t cch = 0;
        while (g_aTypes[i].szName[cch])
            cch++;
        if (cch != g_aTypes[i].cchName || cch > 10)
            return false;
        if (i > 0 && rtStrFmtNameCmp(g_aTypes[i - 1].szName, g_aTypes[i].szName) >= 0)
            return false;
    }
    return true;
}
static_assert(RT_ELEMENTS(g_aTypes) == 64, "the type table has 64 entries");
static_assert(rtStrFmtTypesValid(), "the type table must be sorted by name");

/** Compares an entry's name with the start of the format text: <0 when the name
 *  sorts before it, 0 when the text begins with the name. Stops at the first
 *  difference, so a format shorter than the name is never read past its end. */
int rtStrFmtTypeCmp(const RTSTRFMTTYPE &Type, const char *pszFormat) {
    for (unsigned i = 0; i < Type.cchName; i++)
        if (Type.szName[i] != pszFormat[i])
            return (unsigned char)Type.szName[i] < (unsigned char)pszFormat[i] ? -1 : 1;
    return 0;
}

const RTSTRFMTTYPE *rtStrFmtTypeLookup(const char *pszFormat) {
    size_t iStart = 0;
    size_t iEnd = RT_ELEMENTS(g_aTypes);
    while (iStart < iEnd) {
        const size_t i = iStart + (iEnd - iStart) / 2;
        const int iDiff = rtStrFmtTypeCmp(g_aTypes[i], pszFormat);
        if (iDiff == 0)
            return &g_aTypes[i];
        if (iDiff < 0)
            iStart = i + 1;
        else
            iEnd = i;
    }
    return nullptr;
}

void rtStrFmtDottedQuad(RTSTRFMTRTOUT &Out, const uint8_t *pb) {
    for (unsigned i = 0; i < 4; i++) {
        if (i)
            Out.putCh('.');
        Out.putU(pb[i]);
    }
}

/** Eight 16-bit groups in network order, the longest run of zero groups shortened
 *  to "::", and the IPv4 forms that embed an address in the last 32 bits. */
void rtStrFmtIPv6(RTSTRFMTRTOUT &Out, const uint8_t *pb) {
    uint16_t au16[8];
    for (unsigned i = 0; i < 8; i++)
        au16[i] = (uint16_t)(pb[i * 2] << 8 | pb[i * 2 + 1]);

    bool fEmbeddedIPv4 = false;
    if (!au16[0] && !au16[1] && !au16[2] && !au16[3]) {
        if ((au16[4] == 0 && au16[5] == 0xffff) || (au16[4] == 0xffff && au16[5] == 0))
            fEmbeddedIPv4 = true; // mapped, translated
        else if (au16[4] == 0 && au16[5] == 0 && (au16[6] || au16[7] > 1))
            fEmbeddedIPv4 = true; // compatible (but not :: and ::1)
    }
    const unsigned cGroups = fEmbeddedIPv4 ? 6 : 8;

    unsigned iRun = cGroups, cRun = 0;
    for (unsigned i = 0; i < cGroups;) {
        if (au16[i]) {
            i++;
            continue;
        }
        unsigned j = i;
        while (j < cGroups && !au16[j])
            j++;
        if (j - i >= 2 && j - i > cRun) {
            iRun = i;
            cRun = j - i;
        }
        i = j;
    }

    bool fColonLast = false;
    for (unsigned i = 0; i < cGroups;) {
        if (i == iRun) {
            Out.put("::", 2);
            fColonLast = true;
            i += cRun;
            continue;
        }
        if (i && !fColonLast)
            Out.putCh(':');
        Out.putNum(au16[i], 16, -1, -1, 0);
        fColonLast = false;
        i++;
    }
    if (fEmbeddedIPv4) {
        if (!fColonLast)
            Out.putCh(':');
        rtStrFmtDottedQuad(Out, &pb[12]);
    }
}

void rtStrFmtMac(RTSTRFMTRTOUT &Out, const uint8_t *pb) {
    for (unsigned i = 0; i < 6; i++) {
        if (i)
            Out.putCh(':');
        Out.putHex(pb[i], 2);
    }
}

void rtStrFmtNetAddr(RTSTRFMTRTOUT &Out, const RTNETADDR *pAddr) {
    switch (pAddr->enmType) {
    case RTNETADDRTYPE_IPV4:
        rtStrFmtDottedQuad(Out, pAddr->au8Addr);
        if (pAddr->uPort != RTNETADDR_PORT_NA) {
            Out.putCh(':');
            Out.putU(pAddr->uPort);
        }
        break;
    case RTNETADDRTYPE_IPV6:
        if (pAddr->uPort == RTNETADDR_PORT_NA)
            rtStrFmtIPv6(Out, pAddr->au8Addr);
        else {
            Out.putCh('[');
            rtStrFmtIPv6(Out, pAddr->au8Addr);
            Out.put("]:", 2);
            Out.putU(pAddr->uPort);
        }
        break;
    case RTNETADDRTYPE_MAC:
        rtStrFmtMac(Out, pAddr->au8Addr);
        break;
    default:
        Out.putStr("unsupported-netaddr-type=");
        Out.putU(pAddr->enmType);
        break;
    }
}

void rtStrFmtUuid(RTSTRFMTRTOUT &Out, const uint8_t *pb) {
    // The first three fields are stored little-endian, the rest in text order.
    Out.putHex((uint32_t)pb[0] | (uint32_t)pb[1] << 8 | (uint32_t)pb[2] << 16 | (uint32_t)pb[3] << 24, 8);
    Out.putCh('-');
    Out.putHex((uint32_t)pb[4] | (uint32_t)pb[5] << 8, 4);
    Out.putCh('-');
    Out.putHex((uint32_t)pb[6] | (uint32_t)pb[7] << 8, 4);
    Out.putCh('-');
    Out.putHex(pb[8], 2);
    Out.putHex(pb[9], 2);
    Out.putCh('-');
    for (unsigned i = 10; i < 16; i++)
        Out.putHex(pb[i], 2);
}

void rtStrFmtErrInfo(RTSTRFMTRTOUT &Out, const RTERRINFO *pErrInfo, bool fWithStatus, unsigned fFlags) {
    if ((pErrInfo->fFlags & (RTERRINFO_FLAGS_MAGIC_MASK | RTERRINFO_FLAGS_SET)) !=
        (RTERRINFO_FLAGS_MAGIC | RTERRINFO_FLAGS_SET))
        return;
    if (fWithStatus) {
        char szTmp[80];
        Out.flush();
        Out.addExternal(RTErrFormatMsg(pErrInfo->rc, Out.output(), Out.outputArg(), szTmp, sizeof(szTmp)));
    }
    // A record with a length but no readable text shows no message rather than crashing.
    if (pErrInfo->cbMsg && !rtStrFmtIsBadPtr(pErrInfo->pszMsg)) {
        if (fFlags & RTSTR_F_SPECIAL)
            Out.put(" - ", 3);
        else
            Out.put(": ", 2);
        Out.put(pErrInfo->pszMsg, rtStrNLen(pErrInfo->pszMsg, pErrInfo->cbMsg));
    }
}

size_t rtStrFmtTyped(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs, int cchWidth,
                     int cchPrecision, unsigned fFlags) {
    const char *pszName = *ppszFormat;
    const RTSTRFMTTYPE *pType = rtStrFmtTypeLookup(pszName);
    if (!pType) {
        *ppszFormat = pszName + 1; // the rest is printed as text
        return 0;
    }
    *ppszFormat = pszName + pType->cchName;

    // The entry decides the size of the value, not the size prefix of the directive.
    fFlags = (fFlags & ~(RTSTR_F_8BIT | RTSTR_F_16BIT | RTSTR_F_32BIT | RTSTR_F_64BIT)) | pType->fFlags;
    const bool fSigned = (pType->fFlags & RTSTR_F_VALSIGNED) != 0;

    RTSTRFMTRTOUT Out(pfnOutput, pvArgOutput);
    const void *pv = nullptr;
    uint64_t u64 = 0;
    uint16_t uSel = 0;
    if (pType->enmKind >= RTSF_IPV6)
        pv = va_arg(*pArgs, const void *);
    else
        switch (pType->cb) {
        case 1:
        case 2: {
            // Promoted to int on the way in; a signed type shows what was passed.
            const int i = va_arg(*pArgs, int);
            if (fSigned)
                u64 = (uint64_t)(int64_t)i;
            else
                u64 = (uint32_t)i & (pType->cb == 1 ? 0xffu : 0xffffu);
            break;
        }
        case 4: {
            const uint32_t u32 = va_arg(*pArgs, uint32_t);
            u64 = fSigned ? (uint64_t)(int64_t)(int32_t)u32 : u32;
            break;
        }
        case 6:
            u64 = va_arg(*pArgs, uint32_t);
            uSel = (uint16_t)va_arg(*pArgs, unsigned);
            break;
        case 10:
            u64 = va_arg(*pArgs, uint64_t);
            uSel = (uint16_t)va_arg(*pArgs, unsigned);
            break;
        default:
            u64 = va_arg(*pArgs, uint64_t);
            break;
        }
    fFlags |= pType->cb == 8 ? RTSTR_F_64BIT : RTSTR_F_32BIT;

    if (fFlags & RTSTR_F_HIDDEN) {
        if (fFlags & RTSTR_F_SPECIAL)
            Out.put("0x", 2);
        Out.put("XXXXXXXX", 8);
        return Out.done();
    }

    switch (pType->enmKind) {
    case RTSF_INTW:
        if (cchWidth < 0) {
            cchWidth = pType->cb * 2 + (fFlags & RTSTR_F_SPECIAL ? 2 : 0);
            fFlags |= RTSTR_F_ZEROPAD | RTSTR_F_WIDTH;
        }
        [[fallthrough]];
    case RTSF_INT:
        Out.putNum(u64, pType->uBase, cchWidth, cchPrecision, fFlags);
        break;

    case RTSF_BOOL:
        if (u64 == 1)
            Out.putStr(fFlags & RTSTR_F_SPECIAL ? "true " : "true");
        else if (u64 == 0)
            Out.put("false", 5);
        else {
            Out.putCh('!');
            Out.putNum(u64, 10, -1, -1, RTSTR_F_VALSIGNED | RTSTR_F_32BIT);
            Out.putCh('!');
        }
        break;

    case RTSF_FP16:
        Out.putHex((u64 >> 16) & 0xffff, 4);
        Out.putCh(':');
        Out.putHex(u64 & 0xffff, 4);
        break;
    case RTSF_FP32:
        Out.putHex(uSel, 4);
        Out.putCh(':');
        Out.putHex(u64, 8);
        break;
    case RTSF_FP64:
        Out.putHex(uSel, 4);
        Out.putCh(':');
        Out.putHex(u64, 16);
        break;

    case RTSF_IPV4: {
        // The bytes as they lie in memory, first byte first.
        const uint32_t u32 = (uint32_t)u64;
        uint8_t ab[4];
        __builtin_memcpy(ab, &u32, sizeof(ab));
        rtStrFmtDottedQuad(Out, ab);
        break;
    }

    case RTSF_IPV6:
    case RTSF_MAC:
    case RTSF_NETADDR:
    case RTSF_UUID: {
        if (rtStrFmtIsBadPtr(pv)) {
            static constexpr const char *s_apszMarkers[] = {"!BadIPv6", "!BadMac", "!BadNetAddr", "!BadUuid"};
            rtStrFmtRtBadPtr(Out, pv, s_apszMarkers[pType->enmKind - RTSF_IPV6], cchWidth, fFlags);
        } else if (pType->enmKind == RTSF_IPV6)
            rtStrFmtIPv6(Out, (const uint8_t *)pv);
        else if (pType->enmKind == RTSF_MAC)
            rtStrFmtMac(Out, (const uint8_t *)pv);
        else if (pType->enmKind == RTSF_NETADDR)
            rtStrFmtNetAddr(Out, (const RTNETADDR *)pv);
        else
            rtStrFmtUuid(Out, (const uint8_t *)pv);
        break;
    }

    case RTSF_ERRINFO:
    case RTSF_ERRINFO_MSG_ONLY:
        if (!rtStrFmtIsBadPtr(pv))
            rtStrFmtErrInfo(Out, (const RTERRINFO *)pv, pType->enmKind == RTSF_ERRINFO, fFlags);
        break;
    }
    return Out.done();
}

/** The text of a status or error value, one function per directive letter. */
struct RTSTRFMTERRLETTER {
    char ch;
    size_t (*pfnFormat)(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
};

/** The cursor is at the letter, which is consumed; an unknown letter takes no
 *  argument and writes nothing. */
template <size_t a_cLetters>
size_t rtStrFmtErrByLetter(const RTSTRFMTERRLETTER (&aLetters)[a_cLetters], PFNRTSTROUTPUT pfnOutput, void *pvArgOutput,
                           const char **ppszFormat, va_list *pArgs) {
    const char ch = **ppszFormat;
    if (!ch)
        return 0;
    (*ppszFormat)++;
    for (const RTSTRFMTERRLETTER &Letter : aLetters)
        if (Letter.ch == ch) {
            char szTmp[80];
            return Letter.pfnFormat(va_arg(*pArgs, int), pfnOutput, pvArgOutput, szTmp, sizeof(szTmp));
        }
    return 0;
}

/** "%Rr?": status codes. */
size_t rtStrFmtStatus(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs) {
    static constexpr RTSTRFMTERRLETTER s_aLetters[] = {
        {'c', RTErrFormatDefine}, {'s', RTErrFormatMsg}, {'f', RTErrFormatMsg}, {'a', RTErrFormatAll}};
    return rtStrFmtErrByLetter(s_aLetters, pfnOutput, pvArgOutput, ppszFormat, pArgs);
}

} // namespace

/** "%Rw?" and "%Rhr?": Windows error and result values. The cursor is at the letter. */
size_t rtStrFmtRtWinError(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs) {
    static constexpr RTSTRFMTERRLETTER s_aLetters[] = {
        {'c', RTErrWinFormatDefine}, {'f', RTErrWinFormatDefine}, {'a', RTErrWinFormatAll}};
    return rtStrFmtErrByLetter(s_aLetters, pfnOutput, pvArgOutput, ppszFormat, pArgs);
}

void rtStrFmtRtBadPtr(RTSTRFMTRTOUT &Out, const void *pv, const char *pszMarker, int cchWidth, unsigned fFlags) {
    char achBuf[RTSTR_FMT_BADPTR_MAX];
    const size_t cch = rtStrFmtBadPtrText(achBuf, pv, pszMarker);
    rtStrFmtRtPadded(Out, achBuf, cch, cchWidth, fFlags);
}

size_t rtstrFormatRt(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs, int cchWidth,
                     int cchPrecision, unsigned fFlags, char chArgSize) {
    const char *psz = *ppszFormat + 1; // past the 'R'
    *ppszFormat = psz;
    switch (*psz) {
    case '\0':
        // "%R" at the end of the format: the terminator is never stepped over.
        return 0;

    case 'C':
    case 'G':
    case 'H':
    case 'I':
    case 'K':
    case 'R':
    case 'T':
    case 'U':
    case 'X':
        return rtStrFmtTyped(pfnOutput, pvArgOutput, ppszFormat, pArgs, cchWidth, cchPrecision, fFlags);

    case 'r':
        *ppszFormat = psz + 1;
        return rtStrFmtStatus(pfnOutput, pvArgOutput, ppszFormat, pArgs);

    case 'w':
        *ppszFormat = psz + 1;
        return rtStrFmtRtWinError(pfnOutput, pvArgOutput, ppszFormat, pArgs);

    case 'h':
        return rtstrFormatRtHex(pfnOutput, pvArgOutput, ppszFormat, pArgs, cchWidth, cchPrecision, fFlags);

    case 'A':
    case 'b':
    case 'D':
    case 'f':
    case 'M':
        return rtstrFormatRtText(pfnOutput, pvArgOutput, ppszFormat, pArgs, cchWidth, cchPrecision, fFlags, chArgSize);

    case '[':
        return rtstrFormatType(pfnOutput, pvArgOutput, ppszFormat, pArgs, cchWidth, cchPrecision, fFlags);

    default:
        *ppszFormat = psz + 1;
        return 0;
    }
}
