// UTF-16 text, used only at the operating-system boundary.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

size_t RTUtf16Len(const RTUTF16 *pwsz);
[[nodiscard]] int RTUtf16CalcUtf8LenEx(const RTUTF16 *pwsz, size_t cwc, size_t *pcch);
[[nodiscard]] int RTUtf16ToUtf8Ex(const RTUTF16 *pwsz, size_t cwc, char **ppsz, size_t cch, size_t *pcch,
                                  const char *pszTag);
/** Copies 7-bit text into a UTF-16 buffer; bytes above 0x7f become 0x7f. */
int RTUtf16CopyAscii(RTUTF16 *pwszDst, size_t cwcDst, const char *pszSrc);

int RTUtf16GetCpEx(const RTUTF16 **ppwsz, RTUNICP *pCp);
int RTUtf16BigGetCpEx(const RTUTF16 **ppwsz, RTUNICP *pCp);

RTUTF16 *RTUtf16Alloc(size_t cb, const char *pszTag);
[[nodiscard]] int RTUtf16Realloc(RTUTF16 **ppwsz, size_t cbNew, const char *pszTag);
RTUTF16 *RTUtf16Dup(const RTUTF16 *pwsz, const char *pszTag);
/** Frees a UTF-16 string from any of the functions above; null is accepted. */
void RTUtf16Free(RTUTF16 *pwsz);
