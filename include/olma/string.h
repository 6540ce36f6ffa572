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
