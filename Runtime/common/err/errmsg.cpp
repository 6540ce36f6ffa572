// Names and messages of the status codes, and of the few Windows error values the
// runtime names, rendered through the formatter's output callback.
#include <olma/err.h>
#include <cstddef>
#include <olma/string.h>
#include "common/string/internal-str.h"

namespace {

/** Every name and message, each with its terminator, back to back in one block. */
struct RTSTATUSTEXTS {
#define OLMA_ERR(name, value, msg)                                                                                     \
    char name##_Define[sizeof(#name)];                                                                                 \
    char name##_Msg[sizeof(msg)];
#include <olma/err-list.h>
#undef OLMA_ERR
};
constexpr RTSTATUSTEXTS g_StatusTexts = {
#define OLMA_ERR(name, value, msg) #name, msg,
#include <olma/err-list.h>
#undef OLMA_ERR
};

/** One status code in six bytes. Its texts are found by offset into g_StatusTexts,
 *  which needs no relocation when the image moves; the message follows the name's
 *  terminator. */
struct RTSTATUSMSG {
    int16_t iCode;
    uint16_t offDefine;
    uint8_t cchDefine;
    uint8_t cchMsg;

    const char *define() const { return (const char *)&g_StatusTexts + offDefine; }
    const char *msg() const { return define() + cchDefine + 1; }
};

// The list is kept sorted by value, which the binary search below depends on. Braced
// initialisation refuses a value, offset or length that does not fit its field.
#define OLMA_ERR(name, value, msg) {value, offsetof(RTSTATUSTEXTS, name##_Define), sizeof(#name) - 1, sizeof(msg) - 1},
constexpr RTSTATUSMSG g_aStatusMsgs[] = {
#include <olma/err-list.h>
};
#undef OLMA_ERR

constexpr bool rtErrIsTableSorted() {
    for (size_t i = 1; i < RT_ELEMENTS(g_aStatusMsgs); i++)
        if (g_aStatusMsgs[i - 1].iCode >= g_aStatusMsgs[i].iCode)
            return false;
    return true;
}
static_assert(rtErrIsTableSorted(), "status codes must be listed in strictly ascending order");

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
    size_t iHi = RT_ELEMENTS(g_aStatusMsgs);
    for (;;) {
        const size_t iMid = iLo + (iHi - iLo) / 2;
        const int iCode = g_aStatusMsgs[iMid].iCode;
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
        return rtErrOutStr(pfnOutput, pvArgOutput, g_aStatusMsgs[i].define(), g_aStatusMsgs[i].cchDefine);
    return rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, false);
}

size_t RTErrFormatMsg(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const int i = RTErrLookup(rc);
    if (i >= 0)
        return rtErrOutStr(pfnOutput, pvArgOutput, g_aStatusMsgs[i].msg(), g_aStatusMsgs[i].cchMsg);
    return rtErrOutUnknown(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc);
}

size_t RTErrFormatAll(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp) {
    const int i = RTErrLookup(rc);
    if (i < 0)
        return rtErrOutUnknown(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc);
    size_t cch = rtErrOutStr(pfnOutput, pvArgOutput, g_aStatusMsgs[i].define(), g_aStatusMsgs[i].cchDefine);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, " (", 2);
    cch += rtErrOutNum(pfnOutput, pvArgOutput, pszTmp, cbTmp, rc, false);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, ") - ", 4);
    cch += rtErrOutStr(pfnOutput, pvArgOutput, g_aStatusMsgs[i].msg(), g_aStatusMsgs[i].cchMsg);
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
