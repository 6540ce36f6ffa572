// Names and messages of the status codes, and of the few Windows error values the
// runtime names, rendered through the formatter's output callback.
#include <olma/err.h>
#include <cstddef>
#include <olma/string.h>
#include "common/string/internal-str.h"

namespace {

/** The names and messages as written in the list; only the compiler reads them. */
struct RTSTATUSSOURCE {
    const char *pszDefine;
    const char *pszMsg;
};
constexpr RTSTATUSSOURCE g_aStatusSources[] = {
#define OLMA_ERR(name, value, msg) {#name, msg},
#include <olma/err-list.h>
#undef OLMA_ERR
};
constexpr size_t g_cStatusCodes = RT_ELEMENTS(g_aStatusSources);

/** The status texts are packed with 128 fragments: byte 0x80 + i stands for the two
 *  bytes of g_aFragments[i], each a character or an earlier fragment. The texts are
 *  plain ASCII, so every byte below 0x80 is itself. */
struct RTSTATUSFRAGMENT {
    uint8_t b1;
    uint8_t b2;
};
constexpr RTSTATUSFRAGMENT g_aFragments[] = {
#include "status-fragments.h"
};
constexpr unsigned g_bFirstFragment = 0x80;
static_assert(RT_ELEMENTS(g_aFragments) <= 0x100 - g_bFirstFragment, "at most one fragment per high byte value");

constexpr bool rtErrAreFragmentsOrdered() {
    for (size_t i = 0; i < RT_ELEMENTS(g_aFragments); i++)
        if (g_aFragments[i].b1 >= g_bFirstFragment + i || g_aFragments[i].b2 >= g_bFirstFragment + i)
            return false;
    return true;
}
static_assert(rtErrAreFragmentsOrdered(), "a fragment may only refer to earlier ones");

/** Longest text a fragment or a whole name or message unpacks to. */
constexpr size_t g_cchMaxText = 255;

constexpr size_t rtErrSourceLen(const char *psz) {
    size_t cch = 0;
    while (psz[cch])
        cch++;
    return cch;
}

/** For each first byte, the fragments that start with it, in order. */
struct RTSTATUSFRAGINDEX {
    uint8_t aiFirst[256];
    uint8_t aiNext[RT_ELEMENTS(g_aFragments)];
};
constexpr uint8_t g_iNoFragment = 0xff;

constexpr RTSTATUSFRAGINDEX rtErrIndexFragments() {
    RTSTATUSFRAGINDEX Index{};
    for (uint8_t &i : Index.aiFirst)
        i = g_iNoFragment;
    for (size_t i = RT_ELEMENTS(g_aFragments); i-- > 0;) {
        Index.aiNext[i] = Index.aiFirst[g_aFragments[i].b1];
        Index.aiFirst[g_aFragments[i].b1] = (uint8_t)i;
    }
    return Index;
}

/** Packs one text into pbDst (which has room for its unpacked length) as if every
 *  fragment in turn replaced every pair of bytes that makes it: the pair of the
 *  earliest fragment present goes first, since a later fragment can never make a pair
 *  that an earlier one would take. Returns the packed length. */
constexpr size_t rtErrPackText(const RTSTATUSFRAGINDEX &Index, const char *psz, uint8_t *pbDst) {
    size_t cb = rtErrSourceLen(psz);
    for (size_t i = 0; i < cb; i++)
        pbDst[i] = (uint8_t)psz[i];
    for (;;) {
        size_t iBest = g_iNoFragment;
        for (size_t off = 0; off + 1 < cb; off++)
            for (size_t i = Index.aiFirst[pbDst[off]]; i < iBest; i = Index.aiNext[i])
                if (g_aFragments[i].b2 == pbDst[off + 1]) {
                    iBest = i;
                    break;
                }
        if (iBest == g_iNoFragment)
            return cb;
        size_t offOut = 0;
        for (size_t offIn = 0; offIn < cb; offIn++, offOut++) {
            if (offIn + 1 < cb && pbDst[offIn] == g_aFragments[iBest].b1 &&
                pbDst[offIn + 1] == g_aFragments[iBest].b2) {
                pbDst[offOut] = (uint8_t)(g_bFirstFragment + iBest);
                offIn++;
            } else
                pbDst[offOut] = pbDst[offIn];
        }
        cb = offOut;
    }
}

constexpr size_t rtErrSourceTotal() {
    size_t cb = 0;
    for (const RTSTATUSSOURCE &Src : g_aStatusSources)
        cb += rtErrSourceLen(Src.pszDefine) + rtErrSourceLen(Src.pszMsg);
    return cb;
}

/** One status code in six bytes: its packed name, followed in the store by its packed
 *  message. The offset needs no relocation when the image moves. */
struct RTSTATUSMSG {
    int16_t iCode;
    uint16_t offDefine;
    uint8_t cbDefine;
    uint8_t cbMsg;
};

/** What the compiler works with while packing: room for every text unpacked. */
struct RTSTATUSPACKWORK {
    uint8_t ab[rtErrSourceTotal()];
    size_t cb;
    RTSTATUSMSG aMsgs[g_cStatusCodes];
};

/** Not constexpr: reaching it while the compiler packs the table stops the build with
 *  the reason in the diagnostic. */
inline void rtErrStatusTableError(const char *pszWhy) {}

constexpr RTSTATUSPACKWORK rtErrPackAll() {
    RTSTATUSPACKWORK Work{};
    constexpr RTSTATUSFRAGINDEX Index = rtErrIndexFragments();
    constexpr int aiCodes[] = {
#define OLMA_ERR(name, value, msg) value,
#include <olma/err-list.h>
#undef OLMA_ERR
    };
    for (size_t i = 0; i < g_cStatusCodes; i++) {
        // Every text, and so every piece of it, must fit the unpacking buffer; the
        // packer and the lookups rely on plain ASCII.
        const char *const apszTexts[] = {g_aStatusSources[i].pszDefine, g_aStatusSources[i].pszMsg};
        for (const char *psz : apszTexts) {
            if (rtErrSourceLen(psz) > g_cchMaxText)
                rtErrStatusTableError("status text too long");
            for (const char *pch = psz; *pch; pch++)
                if ((unsigned char)*pch >= g_bFirstFragment)
                    rtErrStatusTableError("status texts are plain ASCII");
        }
        if (Work.cb > UINT16_MAX)
            rtErrStatusTableError("status text store too large for 16-bit offsets");
        const size_t cbDefine = rtErrPackText(Index, g_aStatusSources[i].pszDefine, &Work.ab[Work.cb]);
        const size_t cbMsg = rtErrPackText(Index, g_aStatusSources[i].pszMsg, &Work.ab[Work.cb + cbDefine]);
        Work.aMsgs[i] = RTSTATUSMSG{(int16_t)aiCodes[i], (uint16_t)Work.cb, (uint8_t)cbDefine, (uint8_t)cbMsg};
        if (Work.aMsgs[i].iCode != aiCodes[i])
            rtErrStatusTableError("status value does not fit 16 bits");
        if (i > 0 && Work.aMsgs[i - 1].iCode >= Work.aMsgs[i].iCode)
            rtErrStatusTableError("status codes must be listed in strictly ascending order");
        Work.cb += cbDefine + cbMsg;
    }
    return Work;
}
constexpr RTSTATUSPACKWORK g_StatusPackWork = rtErrPackAll();

/** The packed names and messages back to back, no terminators. */
struct RTSTATUSTEXTS {
    uint8_t ab[g_StatusPackWork.cb];
};
constexpr RTSTATUSTEXTS rtErrCopyTexts() {
    RTSTATUSTEXTS Texts{};
    for (size_t i = 0; i < sizeof(Texts.ab); i++)
        Texts.ab[i] = g_StatusPackWork.ab[i];
    return Texts;
}
constexpr RTSTATUSTEXTS g_StatusTexts = rtErrCopyTexts();

struct RTSTATUSMSGS {
    RTSTATUSMSG a[g_cStatusCodes];
};
constexpr RTSTATUSMSGS rtErrCopyMsgs() {
    RTSTATUSMSGS Msgs{};
    for (size_t i = 0; i < g_cStatusCodes; i++)
        Msgs.a[i] = g_StatusPackWork.aMsgs[i];
    return Msgs;
}
// The list is kept sorted by value, which the binary search below depends on.
constexpr RTSTATUSMSGS g_StatusMsgs = rtErrCopyMsgs();

/** Unpacks one byte of a packed text at pch, never past pchEnd. */
char *rtErrUnpackByte(uint8_t b, char *pch, char *pchEnd) {
    if (b < g_bFirstFragment) {
        if (pch < pchEnd)
            *pch++ = (char)b;
        return pch;
    }
    const RTSTATUSFRAGMENT &Frag = g_aFragments[b - g_bFirstFragment];
    return rtErrUnpackByte(Frag.b2, rtErrUnpackByte(Frag.b1, pch, pchEnd), pchEnd);
}

/** Writes one packed text, unpacked, through the output callback in one piece. */
size_t rtErrOutPacked(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, size_t off, size_t cb) {
    char achText[g_cchMaxText];
    char *pch = achText;
    for (size_t i = 0; i < cb; i++)
        pch = rtErrUnpackByte(g_StatusTexts.ab[off + i], pch, &achText[sizeof(achText)]);
    return pfnOutput(pvArgOutput, achText, (size_t)(pch - achText));
}

size_t rtErrOutDefine(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, int i) {
    return rtErrOutPacked(pfnOutput, pvArgOutput, g_StatusMsgs.a[i].offDefine, g_StatusMsgs.a[i].cbDefine);
}

size_t rtErrOutMsg(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, int i) {
    const RTSTATUSMSG &Msg = g_StatusMsgs.a[i];
    return rtErrOutPacked(pfnOutput, pvArgOutput, Msg.offDefine + Msg.cbDefine, Msg.cbMsg);
}

struct RTWINERRMSG {
    const char *pszDefine;
    uint16_t cchDefine;
    uint32_t uCode;
};

constexpr RTWINERRMSG g_aWinMsgs[] = {
    {"ERROR_SUCCESS", 13, 0},
};

const RTWINERRMSG *rtErrWinLookup(uint32_t uCode) {
    for (const RTWINERRMSG &Msg : g_aWinMsgs)
        if (Msg.uCode == uCode)
            return &Msg;
    return nullptr;
}

/** A Windows error wrapped as a result value: facility 7 in bits 16-28 and the
 *  error in the low 16 bits. */
const RTWINERRMSG *rtErrWinLookupWithFacility(uint32_t uCode) {
    const RTWINERRMSG *pMsg = rtErrWinLookup(uCode);
    if (!pMsg && ((uCode >> 16) & 0x1fff) == 7)
        pMsg = rtErrWinLookup(uCode & 0xffff);
    return pMsg;
}

size_t rtErrOutStr(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char *pach, size_t cch) {
    return pfnOutput(pvArgOutput, pach, cch);
}

/** The value as signed decimal or as "0x" and lower-case hexadecimal, rendered in
 *  the caller's scratch buffer. A scratch buffer too small for the number gets
 *  what fits printed rather than nothing. */
size_t rtErrOutNum(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp, int32_t iValue, bool fHex) {
    if (!pszTmp || cbTmp == 0)
        return 0;
    const ssize_t cch = RTStrFormatU32(pszTmp, cbTmp, (uint32_t)iValue, fHex ? 16 : 10, -1, -1,
                                       fHex ? RTSTR_F_SPECIAL : RTSTR_F_VALSIGNED);
    const size_t cchOut = cch >= 0 ? (size_t)cch : rtStrNLen(pszTmp, cbTmp);
    return cchOut ? pfnOutput(pvArgOutput, pszTmp, cchOut) : 0;
}

/** "Unknown Status -12345 (0xffffcfc7)" */
size_t rtErrOutUnknown(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp, int32_t iValue) {
    size_t cch = rtErrOutStr(pfnOutput, pvArgOutput, "Unknown Status ", 15);
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, iValue, false);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, " (", 2);
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, iValue, true);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, ")", 1);
    return cch;
}

} // namespace

int RTErrLookup(int rc) {
    size_t iLo = 0;
    size_t iHi = g_cStatusCodes;
    for (;;) {
        const size_t iMid = iLo + (iHi - iLo) / 2;
        const int iCode = g_StatusMsgs.a[iMid].iCode;
        if (rc < iCode) {
            if (iLo >= iMid)
                return -1;
            iHi = iMid;
        } else if (rc > iCode) {
            iLo = iMid + 1;
            if (iLo >= iHi)
                return -1;
        } else
            return (int)iMid;
    }
}

size_t RTErrFormatDefine(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const int i = RTErrLookup(rc);
    if (i >= 0)
        return rtErrOutDefine(pfnOutput, pvArgOutput, i);
    return rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, false);
}

size_t RTErrFormatMsg(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const int i = RTErrLookup(rc);
    if (i >= 0)
        return rtErrOutMsg(pfnOutput, pvArgOutput, i);
    return rtErrOutUnknown(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc);
}

size_t RTErrFormatAll(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const int i = RTErrLookup(rc);
    if (i < 0)
        return rtErrOutUnknown(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc);
    size_t cch = rtErrOutDefine(pfnOutput, pvArgOutput, i);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, " (", 2);
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, false);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, ") - ", 4);
    cch += rtErrOutMsg(pfnOutput, pvArgOutput, i);
    return cch;
}

size_t RTErrWinFormatDefine(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const uint32_t uCode = (uint32_t)rc;
    const RTWINERRMSG *pMsg = rtErrWinLookup(uCode);
    if (pMsg)
        return rtErrOutStr(pfnOutput, pvArgOutput, pMsg->pszDefine, pMsg->cchDefine);
    size_t cch = 0;
    pMsg = rtErrWinLookupWithFacility(uCode);
    if (pMsg) {
        cch += rtErrOutStr(pfnOutput, pvArgOutput, pMsg->pszDefine, pMsg->cchDefine);
        cch += rtErrOutStr(pfnOutput, pvArgOutput, "/", 1);
    }
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, true);
    return cch;
}

size_t RTErrWinFormatAll(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const RTWINERRMSG *pMsg = rtErrWinLookupWithFacility((uint32_t)rc);
    size_t cch;
    if (pMsg) {
        cch = rtErrOutStr(pfnOutput, pvArgOutput, pMsg->pszDefine, pMsg->cchDefine);
        cch += rtErrOutStr(pfnOutput, pvArgOutput, " (", 2);
    } else
        cch = rtErrOutStr(pfnOutput, pvArgOutput, "Unknown Status ", 15);
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, true);
    if (pMsg)
        cch += rtErrOutStr(pfnOutput, pvArgOutput, ")", 1);
    return cch;
}
