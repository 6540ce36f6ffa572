// The drive or UNC share of the current directory, built on RTPathGetCurrent.
#include <olma/mem.h>
#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

int rtPathCurrentToDrive(char *pszPath) {
    char *psz = pszPath;
    if (rtPathIsLetter(psz[0]) && psz[1] == ':') {
        psz[2] = '\0';
        return 0;
    }
    if (rtPathIsSep(psz[0], true) && rtPathIsSep(psz[1], true) && psz[2] != '\0' && !rtPathIsSep(psz[2], true)) {
        size_t i = 2;
        while (psz[i] && !rtPathIsSep(psz[i], true))
            i++;
        const size_t cchServer = i;
        while (rtPathIsSep(psz[i], true))
            i++;
        if (psz[i] == '\0') {
            psz[cchServer] = '\0';
            return 0;
        }
        while (psz[i] && !rtPathIsSep(psz[i], true))
            i++;
        psz[i] = '\0';
        return 0;
    }
    return ERR_INTERNAL_ERROR_4;
}

int RTPathGetCurrentDrive(char *pszPath, size_t cbPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    int rc = RTPathGetCurrent(pszPath, cbPath);
    if (RT_SUCCESS(rc))
        return rtPathCurrentToDrive(pszPath);
    if (rc != ERR_BUFFER_OVERFLOW)
        return rc;

    // The whole directory does not fit, but its drive part may.
    const size_t cbTmp = 65536;
    char *pszTmp = (char *)RTMemTmpAlloc(cbTmp);
    if (!pszTmp)
        return ERR_NO_TMP_MEMORY;
    rc = RTPathGetCurrent(pszTmp, cbTmp);
    if (RT_SUCCESS(rc))
        rc = rtPathCurrentToDrive(pszTmp);
    if (RT_SUCCESS(rc)) {
        const size_t cch = rtStrNLen(pszTmp, cbTmp);
        if (cch < cbPath)
            rtMemCopy(pszPath, pszTmp, cch + 1);
        else {
            if (cbPath)
                pszPath[0] = '\0';
            rc = ERR_BUFFER_OVERFLOW;
        }
    }
    RTMemFree(pszTmp);
    return rc;
}
