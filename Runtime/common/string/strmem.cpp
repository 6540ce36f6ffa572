// UTF-8 string memory: allocation, duplication, resizing and release.
#include <olma/mem.h>
#include <olma/string.h>
#include "common/string/internal-str.h"

char *RTStrAlloc(size_t cb, const char *pszTag) {
    (void)pszTag;
    char *psz = (char *)RTMemTmpAlloc(cb ? cb : 1);
    if (psz)
        *psz = '\0';
    return psz;
}

char *RTStrDupN(const char *psz, size_t cchMax, const char *pszTag) {
    const size_t cch = rtStrNLen(psz, cchMax);
    char *pszDup = RTStrAlloc(cch + 1, pszTag);
    if (pszDup) {
        rtMemCopy(pszDup, psz, cch);
        pszDup[cch] = '\0';
    }
    return pszDup;
}

char *RTStrDup(const char *psz, const char *pszTag) {
    return RTStrDupN(psz, RTSTR_MAX, pszTag);
}

int RTStrDupNEx(char **ppsz, const char *psz, size_t cchMax, const char *pszTag) {
    *ppsz = RTStrDupN(psz, cchMax, pszTag);
    return *ppsz ? 0 : ERR_NO_STR_MEMORY;
}

int RTStrRealloc(char **ppsz, size_t cbNew, const char *pszTag) {
    char *pszOld = *ppsz;
    if (cbNew == 0) {
        RTMemFree(pszOld);
        *ppsz = nullptr;
        return 0;
    }
    if (!pszOld) {
        char *psz = (char *)RTMemTmpAlloc(cbNew);
        if (!psz)
            return ERR_NO_STR_MEMORY;
        psz[0] = '\0';
        psz[cbNew - 1] = '\0';
        *ppsz = psz;
        return 0;
    }
    char *psz = (char *)RTMemRealloc(pszOld, cbNew, pszTag);
    if (!psz)
        return ERR_NO_STR_MEMORY;
    psz[cbNew - 1] = '\0';
    *ppsz = psz;
    return 0;
}

void RTStrFree(char *psz) {
    RTMemFree(psz);
}
