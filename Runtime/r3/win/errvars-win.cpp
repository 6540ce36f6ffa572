// Windows backend: the thread's last error and, once the socket library is loaded,
// its last error too.
#include "r3/win/internal-win.h"
#include <olma/err.h>

constinit PFNRTWSAGETLASTERROR g_pfnrtWsaGetLastError = nullptr;
constinit PFNRTWSASETLASTERROR g_pfnrtWsaSetLastError = nullptr;

RTERRVARS *RTErrVarsSave(RTERRVARS *pVars) {
    pVars->u32Magic = RTERRVARS_MAGIC;
    pVars->uLastError = GetLastError();
    pVars->iSocketLastError = g_pfnrtWsaGetLastError ? g_pfnrtWsaGetLastError() : RTERRVARS_NO_SOCKET_ERROR;
    return pVars;
}

void RTErrVarsRestore(const RTERRVARS *pVars) {
    if (pVars->u32Magic != RTERRVARS_MAGIC)
        return;
    if (pVars->iSocketLastError != RTERRVARS_NO_SOCKET_ERROR && g_pfnrtWsaSetLastError)
        g_pfnrtWsaSetLastError(pVars->iSocketLastError);
    SetLastError(pVars->uLastError);
}
