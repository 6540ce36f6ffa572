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

/** Hooks through which runtime initialisation hands over the socket library's
 *  last-error functions (null while the library is not loaded). */
using PFNRTWSAGETLASTERROR = int(RT_STDCALL *)();
using PFNRTWSASETLASTERROR = void(RT_STDCALL *)(int);
extern PFNRTWSAGETLASTERROR g_pfnrtWsaGetLastError;
extern PFNRTWSASETLASTERROR g_pfnrtWsaSetLastError;
