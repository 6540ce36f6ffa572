// Status codes: 0 is success, negative values are errors, positive values are
// successes that carry a remark (warnings and informational codes).
#pragma once

#include <olma/cdefs.h>

#define OLMA_ERR(name, value, msg) constexpr int name = value;
#include <olma/err-list.h>
#undef OLMA_ERR

constexpr bool RT_SUCCESS(int rc) {
    return rc >= 0;
}
constexpr bool RT_FAILURE(int rc) {
    return rc < 0;
}

/** Windows error value to status code. Unknown values give ERR_UNMAPPED_OS_ERROR. */
int RTErrConvertFromWinError(uint32_t uNativeCode);
/** NT status value to status code. Unknown values give ERR_UNMAPPED_OS_ERROR. */
int RTErrConvertFromNtStatus(int32_t lNativeStatus);
#if defined(RT_OS_POSIX)
/** errno value to status code. Unknown values give ERR_UNMAPPED_OS_ERROR. */
int RTErrConvertFromErrno(int iErrno);
#endif

/** The thread's operating-system error state, saved on the caller's stack. */
struct RTERRVARS {
    uint32_t u32Magic;
    uint32_t uLastError;
    int32_t iSocketLastError;
};
constexpr uint32_t RTERRVARS_MAGIC = 0x19520117;
/** Socket error value stored when the socket library is not loaded. */
constexpr int32_t RTERRVARS_NO_SOCKET_ERROR = 10093;

RTERRVARS *RTErrVarsSave(RTERRVARS *pVars);
void RTErrVarsRestore(const RTERRVARS *pVars);

/** Extended error information: a status and a message in the caller's buffer of cbMsg
 *  bytes. The loader fills it; the formatter prints it (%RTeic, %RTeim). */
struct RTERRINFO {
    uint32_t fFlags;
    int32_t rc;
    size_t cbMsg;
    char *pszMsg;
};
/** fFlags bit: the record holds an error. */
constexpr uint32_t RTERRINFO_FLAGS_SET = 0x00000004;
/** The mark in the high half of fFlags without which the formatter shows nothing. */
constexpr uint32_t RTERRINFO_FLAGS_MAGIC_MASK = 0xffff0000;
constexpr uint32_t RTERRINFO_FLAGS_MAGIC = 0xbabe0000;

/** Hooks through which runtime initialisation hands over the socket library's
 *  last-error functions (null while the library is not loaded). */
using PFNRTWSAGETLASTERROR = int(RT_STDCALL *)();
using PFNRTWSASETLASTERROR = void(RT_STDCALL *)(int);
extern PFNRTWSAGETLASTERROR g_pfnrtWsaGetLastError;
extern PFNRTWSASETLASTERROR g_pfnrtWsaSetLastError;

/* --- Status texts ---
 * Names and messages of status codes and of Windows error values, written through
 * the formatter's output callback (the same type as in string.h). The scratch
 * buffer (80 bytes from the formatter) is where numbers are rendered. Each
 * returns the sum of the callback's results; unknown values are printed by number. */
typedef size_t FNRTSTROUTPUT(void *pvArg, const char *pachChars, size_t cbChars);
typedef FNRTSTROUTPUT *PFNRTSTROUTPUT;

/** Index of the status code's entry in the name and message table, or -1. */
int RTErrLookup(int rc);
/** The code's name, or its value in signed decimal. */
size_t RTErrFormatDefine(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
/** The code's message, or "Unknown Status <decimal> (<hex>)". */
size_t RTErrFormatMsg(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
/** "<name> (<decimal>) - <message>", or the unknown-status text. */
size_t RTErrFormatAll(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
/** A Windows error value's name; unnamed values in hexadecimal, after "<name>/" when
 *  the value wraps a named error as a facility-7 result value. */
size_t RTErrWinFormatDefine(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
/** "<name> (<hex>)" or "Unknown Status <hex>". */
size_t RTErrWinFormatAll(int rc, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, char *pszTmp, size_t cbTmp);
