// Shared pieces of the %R type handlers: a small output accumulator, the records
// some types print, and the entry points of the families that live in their own files.
#pragma once

#include <olma/string.h>
#include "common/string/internal-format.h"
#include "common/string/internal-str.h"

/** Flag of the type table: the value is never shown. */
constexpr unsigned RTSTR_F_HIDDEN = 0x0400;

/** Address record printed by %RTnaddr. */
struct RTNETADDR {
    /** IPv4 in the first 4 bytes, IPv6 in all 16, MAC in the first 6. */
    uint8_t au8Addr[16];
    uint32_t enmType;
    uint32_t uPort;
};
constexpr uint32_t RTNETADDRTYPE_IPV4 = 1;
constexpr uint32_t RTNETADDRTYPE_IPV6 = 2;
constexpr uint32_t RTNETADDRTYPE_MAC = 4;
/** Port value meaning that no port is given. */
constexpr uint32_t RTNETADDR_PORT_NA = 0xffffffff;

/**
 * Collects small pieces of a handler's output and hands them to the output callback
 * in larger blocks; a handler that prints a hex dump would otherwise make one call
 * per three bytes. Lives on the handler's stack only.
 */
class RTSTRFMTRTOUT {
public:
    RTSTRFMTRTOUT(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput) : m_pfnOutput(pfnOutput), m_pvArgOutput(pvArgOutput) {}

    void flush() {
        if (m_off) {
            m_cchTotal += m_pfnOutput(m_pvArgOutput, m_achBuf, m_off);
            m_off = 0;
        }
    }
    void put(const char *pch, size_t cch) {
        if (cch > sizeof(m_achBuf) - m_off) {
            flush();
            if (cch >= sizeof(m_achBuf)) {
                m_cchTotal += m_pfnOutput(m_pvArgOutput, pch, cch);
                return;
            }
        }
        __builtin_memcpy(&m_achBuf[m_off], pch, cch);
        m_off += cch;
    }
    void putStr(const char *psz) { put(psz, __builtin_strlen(psz)); }
    void putCh(char ch) {
        if (m_off >= sizeof(m_achBuf))
            flush();
        m_achBuf[m_off++] = ch;
    }
    void putRepeat(char ch, size_t c) {
        while (c-- > 0)
            putCh(ch);
    }
    /** A number through the runtime's number formatter. */
    void putNum(uint64_t u, unsigned uBase, int cchWidth, int cchPrecision, unsigned fFlags) {
        char szNum[64];
        const int cch =
            RTStrFormatNumber(szNum, (uint32_t)u, (uint32_t)(u >> 32), uBase, cchWidth, cchPrecision, fFlags);
        if (cch > 0)
            put(szNum, (size_t)cch);
    }
    void putU(uint64_t u) { putNum(u, 10, -1, -1, 0); }
    /** Lower-case hexadecimal, zero-padded to cDigits. */
    void putHex(uint64_t u, int cDigits) {
        putNum(u, 16, cDigits, -1, cDigits > 0 ? RTSTR_F_ZEROPAD | RTSTR_F_WIDTH : 0);
    }
    /** Output that a callee writes through the callback itself must not overtake ours. */
    void addExternal(size_t cch) { m_cchTotal += cch; }
    PFNRTSTROUTPUT output() const { return m_pfnOutput; }
    void *outputArg() const { return m_pvArgOutput; }
    size_t done() {
        flush();
        return m_cchTotal;
    }

private:
    PFNRTSTROUTPUT m_pfnOutput;
    void *m_pvArgOutput;
    size_t m_cchTotal = 0;
    size_t m_off = 0;
    char m_achBuf[128];
};

/** Blank padding to cchWidth around a piece of cch characters, as for strings. */
inline void rtStrFmtRtPadded(RTSTRFMTRTOUT &Out, const char *pch, size_t cch, int cchWidth, unsigned fFlags) {
    const size_t cPad = rtStrFmtPadCount(cchWidth, cch);
    if (!(fFlags & RTSTR_F_LEFT))
        Out.putRepeat(' ', cPad);
    Out.put(pch, cch);
    if (fFlags & RTSTR_F_LEFT)
        Out.putRepeat(' ', cPad);
}

/** "<NULL>" or "<address!marker>" for a pointer that must not be read, padded like a string. */
void rtStrFmtRtBadPtr(RTSTRFMTRTOUT &Out, const void *pv, const char *pszMarker, int cchWidth, unsigned fFlags);

/* Families with files of their own. Each takes the cursor at the family letter
 * (the character after the 'R') and leaves it after what it consumed. */
size_t rtstrFormatRtHex(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                        int cchWidth, int cchPrecision, unsigned fFlags);
size_t rtstrFormatRtText(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                         int cchWidth, int cchPrecision, unsigned fFlags, char chArgSize);
/** "%Rw?" and "%Rhr?": the cursor is at the letter after "w" or "hr". */
size_t rtStrFmtRtWinError(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs);
/** "%R[name]": the cursor is at the '['. */
size_t rtstrFormatType(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                       int cchWidth, int cchPrecision, unsigned fFlags);

/** Handler of a registered type. */
typedef size_t FNRTSTRFORMATTYPE(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char *pszType, const void *pvValue,
                                 int cchWidth, int cchPrecision, unsigned fFlags, void *pvUser);
typedef FNRTSTRFORMATTYPE *PFNRTSTRFORMATTYPE;
