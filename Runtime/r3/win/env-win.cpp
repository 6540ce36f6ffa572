// Windows backend: process environment variables through the UTF-16 API.
#include "r3/win/internal-win.h"

#include "r3/win/internal-env-win.h"

#include "common/env/internal-env.h"

#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>

namespace {

/** Test hook: replaces GetEnvironmentVariableW while set. */
constinit PFNRTENVWINGETVAR g_pfnrtEnvWinGetVar = nullptr;

DWORD rtEnvWinGetVar(LPCWSTR pwszName, LPWSTR pwszBuf, DWORD cwcBuf) {
    PFNRTENVWINGETVAR pfn = g_pfnrtEnvWinGetVar;
    return pfn ? pfn(pwszName, pwszBuf, cwcBuf) : GetEnvironmentVariableW(pwszName, pwszBuf, cwcBuf);
}

/** Stack buffer for the common case; longer values go to the heap. */
constexpr DWORD kEnvStackUnits = 512;
/** The platform limit on a value; a buffer larger than this can hold any value. */
constexpr DWORD kEnvMaxUnits = 32767;

/**
 * Reads a variable in UTF-16. The value ends up in pwszStack or in a heap buffer
 * returned through *ppwszHeap (freed by the caller). The variable may change between
 * the calls that measure and fetch it, so the fetch repeats with a bigger buffer
 * until the value fits.
 */
int rtEnvWinQuery(const char *pszVar, RTUTF16 *pwszStack, RTUTF16 **ppwszHeap, DWORD *pcwcValue) {
    *ppwszHeap = nullptr;
    RTUTF16 *pwszVar = nullptr;
    int rc = RTStrToUtf16(pszVar, &pwszVar, RTSTR_TAG);
    if (RT_FAILURE(rc))
        return rc;

    RTUTF16 *pwszBuf = pwszStack;
    DWORD cwcBuf = kEnvStackUnits;
    SetLastError(0);
    DWORD cwcValue = rtEnvWinGetVar((LPCWSTR)pwszVar, (LPWSTR)pwszBuf, cwcBuf);
    DWORD dwErr = GetLastError();
    for (DWORD cRetries = 1; cwcValue >= cwcBuf; cRetries++) {
        if (cwcBuf > kEnvMaxUnits) {
            rc = ERR_INTERNAL_ERROR_3;
            break;
        }
        // Asked for more than the platform needed last time in case it keeps growing.
        DWORD cwcNew = cwcValue + cRetries;
        if (cwcNew < kEnvStackUnits * cRetries)
            cwcNew = kEnvStackUnits * cRetries;
        RTMemFree(*ppwszHeap);
        *ppwszHeap = pwszBuf = (RTUTF16 *)RTMemTmpAlloc(cwcNew * sizeof(RTUTF16));
        if (!pwszBuf) {
            rc = ERR_NO_TMP_MEMORY;
            break;
        }
        cwcBuf = cwcNew;
        SetLastError(0);
        cwcValue = rtEnvWinGetVar((LPCWSTR)pwszVar, (LPWSTR)pwszBuf, cwcBuf);
        dwErr = GetLastError();
    }

    if (RT_SUCCESS(rc)) {
        bool fOk;
        if (LOBYTE(LOWORD(GetVersion())) == 3)
            // NT 3.x leaves a stale last error behind for empty values; only the
            // variable's presence tells an empty value from a missing one.
            fOk = cwcValue != 0 || rtEnvWinGetVar((LPCWSTR)pwszVar, nullptr, 0) != 0;
        else
            fOk = cwcValue != 0 || dwErr == 0;
        if (fOk)
            *pcwcValue = cwcValue;
        else
            rc = dwErr == ERROR_ENVVAR_NOT_FOUND ? ERR_ENV_VAR_NOT_FOUND : RTErrConvertFromWinError(dwErr);
    }
    if (RT_FAILURE(rc)) {
        RTMemFree(*ppwszHeap);
        *ppwszHeap = nullptr;
    }
    RTUtf16Free(pwszVar);
    return rc;
}

} // namespace

int rtEnvGetExNative(const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual) {
    RTUTF16 wszStack[kEnvStackUnits];
    RTUTF16 *pwszHeap;
    DWORD cwcValue = 0;
    int rc = rtEnvWinQuery(pszVar, wszStack, &pwszHeap, &cwcValue);
    if (RT_SUCCESS(rc)) {
        const RTUTF16 *pwszValue = pwszHeap ? pwszHeap : wszStack;
        size_t cchValue = 0;
        if (pszValue && cbValue != 0)
            rc = RTUtf16ToUtf8Ex(pwszValue, cwcValue, &pszValue, cbValue, &cchValue, RTSTR_TAG);
        else {
            rc = RTUtf16CalcUtf8LenEx(pwszValue, cwcValue, &cchValue);
            // A zero-sized buffer cannot even take the terminator.
            if (RT_SUCCESS(rc) && pszValue)
                rc = ERR_BUFFER_OVERFLOW;
        }
        if (pcchActual && (RT_SUCCESS(rc) || rc == ERR_BUFFER_OVERFLOW))
            *pcchActual = cchValue;
        RTMemFree(pwszHeap);
    }
    return rc;
}

int rtEnvGetDupNative(const char *pszVar, char **ppszValue) {
    RTUTF16 wszStack[kEnvStackUnits];
    RTUTF16 *pwszHeap;
    DWORD cwcValue = 0;
    int rc = rtEnvWinQuery(pszVar, wszStack, &pwszHeap, &cwcValue);
    if (RT_SUCCESS(rc)) {
        *ppszValue = nullptr;
        rc = RTUtf16ToUtf8Ex(pwszHeap ? pwszHeap : wszStack, cwcValue, ppszValue, 0, nullptr, RTSTR_TAG);
        RTMemFree(pwszHeap);
    }
    return rc;
}

PFNRTENVWINGETVAR rtEnvWinTestSetGetter(PFNRTENVWINGETVAR pfn) {
    PFNRTENVWINGETVAR pfnOld = g_pfnrtEnvWinGetVar;
    g_pfnrtEnvWinGetVar = pfn;
    return pfnOld;
}
