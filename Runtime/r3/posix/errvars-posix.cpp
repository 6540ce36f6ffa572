// POSIX backend: the thread's error state is errno; there is no socket error of its own.
#include <cerrno>
#include <olma/err.h>

constinit PFNRTWSAGETLASTERROR g_pfnrtWsaGetLastError = nullptr;
constinit PFNRTWSASETLASTERROR g_pfnrtWsaSetLastError = nullptr;

RTERRVARS *RTErrVarsSave(RTERRVARS *pVars) {
    pVars->u32Magic = RTERRVARS_MAGIC;
    pVars->uLastError = (uint32_t)errno;
    pVars->iSocketLastError = RTERRVARS_NO_SOCKET_ERROR;
    return pVars;
}

void RTErrVarsRestore(const RTERRVARS *pVars) {
    if (pVars->u32Magic != RTERRVARS_MAGIC)
        return;
    errno = (int)pVars->uLastError;
}
