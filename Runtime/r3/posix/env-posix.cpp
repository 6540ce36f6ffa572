// POSIX backend: process environment variables, which are taken to be UTF-8.
#include "common/env/internal-env.h"

#include <olma/string.h>

#include <cstdlib>
#include <cstring>

namespace {

/** The value, checked to be valid UTF-8 so that nothing downstream sees bad text. */
int rtEnvPosixQuery(const char *pszVar, const char **ppszValue) {
    const char *pszValue = getenv(pszVar);
    if (!pszValue)
        return ERR_ENV_VAR_NOT_FOUND;
    int rc = RTStrValidateEncodingEx(pszValue, RTSTR_MAX, 0);
    if (RT_FAILURE(rc))
        return rc;
    *ppszValue = pszValue;
    return 0;
}

} // namespace

int rtEnvGetExNative(const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual) {
    const char *pszSrc = nullptr;
    int rc = rtEnvPosixQuery(pszVar, &pszSrc);
    if (RT_FAILURE(rc))
        return rc;
    size_t const cchValue = strlen(pszSrc);
    if (pcchActual)
        *pcchActual = cchValue;
    if (!pszValue)
        return 0;
    if (cchValue >= cbValue)
        return ERR_BUFFER_OVERFLOW;
    memcpy(pszValue, pszSrc, cchValue + 1);
    return 0;
}

int rtEnvGetDupNative(const char *pszVar, char **ppszValue) {
    const char *pszSrc = nullptr;
    int rc = rtEnvPosixQuery(pszVar, &pszSrc);
    if (RT_FAILURE(rc))
        return rc;
    return RTStrDupNEx(ppszValue, pszSrc, RTSTR_MAX, RTSTR_TAG);
}
