// The temporary directory and uniquely named temporary directories and files.
#include "r3/internal-tempname.h"

#include <olma/dir.h>
#include <olma/env.h>
#include <olma/file.h>
#include <olma/path.h>

#include "common/rand/internal-rand.h"
#include "common/string/internal-str.h"

namespace {

/** Characters that replace the template's X run. */
constexpr char g_szTempAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr uint32_t kTempAlphabetLast = sizeof(g_szTempAlphabet) - 2;

} // namespace

int RTPathTemp(char *pszPath, size_t cbPath) {
    static const char *const s_apszVars[] = {"OLMA_TMPDIR", "TMP", "TEMP", "USERPROFILE"};
    for (const char *pszVar : s_apszVars) {
        // The first answer other than "not set" is final, failures included: a value
        // that does not fit must not quietly yield a different directory.
        int rc = RTEnvGetEx(RTENV_DEFAULT, pszVar, pszPath, cbPath, nullptr);
        if (rc != ERR_ENV_VAR_NOT_FOUND)
            return rc;
    }
    if (cbPath < sizeof("/tmp"))
        return ERR_BUFFER_OVERFLOW;
    rtMemCopy(pszPath, "/tmp", sizeof("/tmp"));
    return 0;
}

int rtTempFindXRun(const char *pszTemplate, size_t *poffRun, size_t *pcchRun) {
    size_t const cch = rtStrNLen(pszTemplate, RTSTR_MAX);
    if (cch == 0)
        return ERR_INVALID_PARAMETER;

    size_t offEnd; // one past the run's last X
    if (pszTemplate[cch - 1] == 'X')
        offEnd = cch;
    else {
        size_t offName = cch;
        while (offName > 0 && pszTemplate[offName - 1] != '/' && pszTemplate[offName - 1] != '\\' &&
               pszTemplate[offName - 1] != ':')
            offName--;
        if (cch - offName <= 3)
            return ERR_INVALID_PARAMETER;
        // The last "XXX" of the final component that ends before the template's last
        // character ("tmpXXXXXX.dat").
        offEnd = 0;
        for (size_t off = cch - 1; off >= offName + 3; off--)
            if (pszTemplate[off - 1] == 'X' && pszTemplate[off - 2] == 'X' && pszTemplate[off - 3] == 'X') {
                offEnd = off;
                break;
            }
        if (offEnd == 0)
            return ERR_INVALID_PARAMETER;
    }
    size_t offStart = offEnd;
    while (offStart > 0 && pszTemplate[offStart - 1] == 'X')
        offStart--;
    *poffRun = offStart;
    *pcchRun = offEnd - offStart;
    return 0;
}

int rtTempFillXRun(char *pszTemplate, size_t offRun, size_t cchRun) {
    for (size_t i = cchRun; i-- > 0;) {
        uint32_t u = 0;
        int rc = rtRandProcessGetU32(0, kTempAlphabetLast, &u);
        if (RT_FAILURE(rc))
            return rc;
        // A generator is trusted to keep to the range; the modulo only makes sure a
        // faulty one cannot read past the alphabet.
        pszTemplate[offRun + i] = g_szTempAlphabet[u % (kTempAlphabetLast + 1)];
    }
    return 0;
}

int rtTempCreateLoop(char *pszTemplate, FNRTTEMPCREATE *pfnCreate, void *pvUser) {
    size_t offRun = 0, cchRun = 0;
    int rc = rtTempFindXRun(pszTemplate, &offRun, &cchRun);
    if (RT_SUCCESS(rc)) {
        for (unsigned iTry = 0; iTry < RTTEMP_MAX_ATTEMPTS; iTry++) {
            rc = rtTempFillXRun(pszTemplate, offRun, cchRun);
            if (RT_FAILURE(rc))
                break;
            rc = pfnCreate(pszTemplate, pvUser);
            if (RT_SUCCESS(rc))
                return rc;
            if (rc != ERR_ALREADY_EXISTS)
                break;
        }
    }
    // Never leave a name behind that looks like one that was made.
    *pszTemplate = '\0';
    return rc;
}

namespace {

int rtTempCreateDir(const char *pszPath, void *pvUser) {
    return RTDirCreate(pszPath, *(uint32_t *)pvUser, 0);
}

} // namespace

int RTDirCreateTemp(char *pszTemplate, uint32_t fMode) {
    return rtTempCreateLoop(pszTemplate, rtTempCreateDir, &fMode);
}

namespace {

struct RTTEMPFILEARGS {
    RTFILE *phFile;
    uint64_t fOpen;
};

int rtTempCreateFile(const char *pszPath, void *pvUser) {
    RTTEMPFILEARGS *pArgs = (RTTEMPFILEARGS *)pvUser;
    return RTFileOpen(pArgs->phFile, pszPath, pArgs->fOpen);
}

} // namespace

int RTFileCreateTemp(RTFILE *phFile, char *pszTemplate, uint64_t fOpen) {
    if (!RT_VALID_PTR(phFile) || !RT_VALID_PTR(pszTemplate))
        return ERR_INVALID_POINTER;
    *phFile = NIL_RTFILE;
    // Only a disposition that fails on an existing name makes the name unique.
    if ((fOpen & RTFILE_O_ACTION_MASK) != RTFILE_O_CREATE)
        return ERR_INVALID_FLAGS;
    RTFILE hFile = NIL_RTFILE;
    RTTEMPFILEARGS Args = {&hFile, fOpen};
    int rc = rtTempCreateLoop(pszTemplate, rtTempCreateFile, &Args);
    *phFile = RT_SUCCESS(rc) ? hFile : NIL_RTFILE;
    return rc;
}
