// UTF-8 strings: memory, encoding rules, code-point stepping, conversions and
// (further down) the string toolkit and the formatter.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <cstdarg>

/** Tag naming the caller's source file, passed to allocating string functions. */
#define RTSTR_TAG __FILE__

/** Marker stored by the decoders when a code point could not be read. */
constexpr RTUNICP RTUNICP_INVALID = 0xfffffffe;

/* --- String memory --- */
char *RTStrAlloc(size_t cb, const char *pszTag);
char *RTStrDup(const char *psz, const char *pszTag);
char *RTStrDupN(const char *psz, size_t cchMax, const char *pszTag);
[[nodiscard]] int RTStrDupNEx(char **ppsz, const char *psz, size_t cchMax, const char *pszTag);
[[nodiscard]] int RTStrRealloc(char **ppsz, size_t cbNew, const char *pszTag);
void RTStrFree(char *psz);

/* --- UTF-8 validation and lengths --- */
/** The terminator must lie within the bound. */
constexpr uint32_t RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED = 1;
/** The text (with flag 1: the text and its terminator) must fill the bound exactly. */
constexpr uint32_t RTSTR_VALIDATE_ENCODING_EXACT_LENGTH = 2;
[[nodiscard]] int RTStrValidateEncodingEx(const char *psz, size_t cch, uint32_t fFlags);
size_t RTStrUniLen(const char *psz);
[[nodiscard]] int RTStrCalcUtf16LenEx(const char *psz, size_t cch, size_t *pcwc);

/* --- Conversions from UTF-8 --- */
[[nodiscard]] int RTStrToUtf16(const char *psz, RTUTF16 **ppwsz, const char *pszTag);
[[nodiscard]] int RTStrToUtf16Ex(const char *psz, size_t cch, RTUTF16 **ppwsz, size_t cwc, size_t *pcwc,
                                 const char *pszTag);
[[nodiscard]] int RTStrToUniEx(const char *psz, size_t cch, RTUNICP **ppaCps, size_t cCps, size_t *pcCps);
/** Text in the current ANSI code page (Windows) or the locale's code set (POSIX), in new memory. */
[[nodiscard]] int RTStrUtf8ToCurrentCP(char **ppszString, const char *pszString, const char *pszTag);

/* --- Code-point stepping --- */
int RTStrGetCpEx(const char **ppsz, RTUNICP *pCp);
RTUNICP RTStrGetCp(const char *psz);
int RTStrGetCpNEx(const char **ppsz, size_t *pcch, RTUNICP *pCp);
char *RTStrPutCp(char *psz, RTUNICP uCp);
const char *RTStrPrevCp(const char *pszStart, const char *psz);

/* --- The formatter --- */
/** Output callback: takes a piece of output, returns the number of bytes accepted.
 *  Called once more at the end with a null pointer and 0 (not counted). */
typedef size_t FNRTSTROUTPUT(void *pvArg, const char *pachChars, size_t cbChars);
typedef FNRTSTROUTPUT *PFNRTSTROUTPUT;
/** Extension callback for conversion letters the engine does not know. The format
 *  cursor points at the letter; the callback moves it past what it consumed. */
typedef size_t FNRTSTRFORMAT(void *pvArg, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat,
                             va_list *pArgs, int cchWidth, int cchPrecision, unsigned fFlags, char chArgSize);
typedef FNRTSTRFORMAT *PFNRTSTRFORMAT;

/** Conversion flags, shared by the engine, the number formatter and the %R types. */
constexpr unsigned RTSTR_F_CAPITAL = 0x0001;
constexpr unsigned RTSTR_F_LEFT = 0x0002;
constexpr unsigned RTSTR_F_ZEROPAD = 0x0004;
constexpr unsigned RTSTR_F_SPECIAL = 0x0008;
constexpr unsigned RTSTR_F_VALSIGNED = 0x0010;
constexpr unsigned RTSTR_F_PLUS = 0x0020;
constexpr unsigned RTSTR_F_BLANK = 0x0040;
constexpr unsigned RTSTR_F_WIDTH = 0x0080;
constexpr unsigned RTSTR_F_PRECISION = 0x0100;
constexpr unsigned RTSTR_F_THOUSAND_SEP = 0x0200;
constexpr unsigned RTSTR_F_8BIT = 0x0800;
constexpr unsigned RTSTR_F_16BIT = 0x1000;
constexpr unsigned RTSTR_F_32BIT = 0x2000;
constexpr unsigned RTSTR_F_64BIT = 0x4000;

/** The engine. Besides the printf conversions it knows %M (continue with the format
 *  argument) and %N (a format and a va_list * formatted in place; pass the address
 *  of a va_list variable of your own, e.g. one made with va_copy: a va_list
 *  parameter's address is not a va_list * on every ABI). Returns the sum of the
 *  output callback's results; the final end call is not counted. */
size_t RTStrFormatV(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, PFNRTSTRFORMAT pfnFormat, void *pvArgFormat,
                    const char *pszFormat, va_list args);
size_t RTStrFormat(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, PFNRTSTRFORMAT pfnFormat, void *pvArgFormat,
                   const char *pszFormat, ...);
size_t RTStrPrintfV(char *pszBuffer, size_t cchBuffer, const char *pszFormat, va_list args);
size_t RTStrPrintf(char *pszBuffer, size_t cchBuffer, const char *pszFormat, ...);
ssize_t RTStrPrintf2V(char *pszBuffer, size_t cchBuffer, const char *pszFormat, va_list args);
ssize_t RTStrPrintf2(char *pszBuffer, size_t cchBuffer, const char *pszFormat, ...);
int RTStrAPrintfV(char **ppszBuffer, const char *pszFormat, va_list args, const char *pszTag);
int RTStrAPrintf(char **ppszBuffer, const char *pszFormat, ...);
/** Number formatter; the buffer holds at least 64 bytes. Returns the length written. */
int RTStrFormatNumber(char *psz, uint32_t u32ValueLow, uint32_t u32ValueHigh, unsigned uiBase, int cchWidth,
                      int cchPrecision, unsigned fFlags);
ssize_t RTStrFormatU32(char *pszBuf, size_t cbBuf, uint32_t uValue, unsigned uiBase, int cchWidth, int cchPrecision,
                       uint32_t fFlags);
ssize_t RTStrFormatU64(char *pszBuf, size_t cbBuf, uint64_t uValue, unsigned uiBase, int cchWidth, int cchPrecision,
                       uint32_t fFlags);
ssize_t RTStrFormatDouble(char *pszBuf, size_t cbBuf, double rd);

/* --- String toolkit: bounded copy, comparison, number and address parsing --- */
[[nodiscard]] int RTStrCopy(char *pszDst, size_t cbDst, const char *pszSrc);
[[nodiscard]] int RTStrCat(char *pszDst, size_t cbDst, const char *pszSrc);
int RTStrCmp(const char *psz1, const char *psz2);
/** Case-insensitive for ASCII letters only; the second text is plain ASCII. */
int RTStrICmpAscii(const char *psz1, const char *pszAscii);
/** First byte that is not a blank, tab, line feed, vertical tab, form feed or carriage return. */
char *RTStrStripL(const char *psz);

/* Number parsers. uBaseAndMaxLen: bits 0-7 the base (0 detects, 36 and above count
 * as 0), bits 8-31 the most characters to examine (0: no bound). Out pointers may be null. */

[[nodiscard]] int RTStrToInt64Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, int64_t *pi64);
[[nodiscard]] int RTStrToUInt64Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint64_t *pu64);
[[nodiscard]] int RTStrToUInt32Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint32_t *pu32);
[[nodiscard]] int RTStrToUInt8Ex(const char *pszValue, char **ppszNext, unsigned uBaseAndMaxLen, uint8_t *pu8);
[[nodiscard]] int RTStrToInt64Full(const char *pszValue, unsigned uBaseAndMaxLen, int64_t *pi64);
[[nodiscard]] int RTStrToUInt64Full(const char *pszValue, unsigned uBaseAndMaxLen, uint64_t *pu64);
[[nodiscard]] int RTStrToInt32Full(const char *pszValue, unsigned uBaseAndMaxLen, int32_t *pi32);
[[nodiscard]] int RTStrToInt16Full(const char *pszValue, unsigned uBaseAndMaxLen, int16_t *pi16);
[[nodiscard]] int RTStrToInt8Full(const char *pszValue, unsigned uBaseAndMaxLen, int8_t *pi8);
[[nodiscard]] int RTStrToUInt32Full(const char *pszValue, unsigned uBaseAndMaxLen, uint32_t *pu32);
[[nodiscard]] int RTStrToUInt16Full(const char *pszValue, unsigned uBaseAndMaxLen, uint16_t *pu16);
[[nodiscard]] int RTStrToUInt8Full(const char *pszValue, unsigned uBaseAndMaxLen, uint8_t *pu8);
/** Detected base, no bound; the low 32 bits of the value, 0 when nothing could be parsed. */
int32_t RTStrToInt32(const char *pszValue);

/** IPv4 address, network order (first number first). */
union RTNETADDRIPV4 {
    uint8_t au8[4];
    uint16_t au16[2];
    uint32_t u;
};
/** MAC address. */
union RTMAC {
    uint8_t au8[6];
    uint16_t au16[3];
};
/** UUID: the first three fields little-endian, the last eight bytes in text order. */
union RTUUID {
    uint8_t au8[16];
    uint16_t au16[8];
    uint32_t au32[4];
    uint64_t au64[2];
    struct {
        uint32_t u32TimeLow;
        uint16_t u16TimeMid;
        uint16_t u16TimeHiAndVersion;
        uint8_t u8ClockSeqHiAndReserved;
        uint8_t u8ClockSeqLow;
        uint8_t au8Node[6];
    } Gen;
};

[[nodiscard]] int RTNetStrToIPv4AddrEx(const char *pcszAddr, RTNETADDRIPV4 *pAddr, char **ppszNext);
[[nodiscard]] int RTNetStrToIPv4Addr(const char *pcszAddr, RTNETADDRIPV4 *pAddr);
/** Address and netmask in host order, first number in the top byte. */
[[nodiscard]] int RTNetStrToIPv4Cidr(const char *pcszAddr, RTNETADDRIPV4 *pAddr, RTNETADDRIPV4 *pMask);
[[nodiscard]] int RTNetStrToMacAddr(const char *pszAddr, RTMAC *pMacAddr);
/** Bytes may be separated by ':' and have one or two digits. */
constexpr uint32_t RTSTRCONVERTHEXBYTES_F_SEP_COLON = 1;
[[nodiscard]] int RTStrConvertHexBytes(const char *pszHex, void *pv, size_t cb, uint32_t fFlags);
[[nodiscard]] int RTUuidFromStr(RTUUID *pUuid, const char *pszString);
