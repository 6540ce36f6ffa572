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
