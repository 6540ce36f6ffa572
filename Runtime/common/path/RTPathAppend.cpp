// Appending to a path in a buffer and joining into a new string.
#include <olma/mem.h>
#include <olma/string.h>
#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

namespace {

/** Length of the part of a DOS path that stripping trailing separators must keep. */
size_t rtPathAppendDosRootLen(const char *psz, size_t cch) {
    if (cch >= 2 && rtPathIsSep(psz[0], true) && rtPathIsSep(psz[1], true)) {
        size_t i = 2;
        while (i < cch && !rtPathIsSep(psz[i], true))
            i++;
        if (i < cch)
            i++;
        while (i < cch && !rtPathIsSep(psz[i], true))
            i++;
        return i < cch ? i + 1 : cch;
    }
    if (cch >= 1 && rtPathIsSep(psz[0], true))
        return 1;
    if (cch >= 2 && rtPathIsLetter(psz[0]) && psz[1] == ':')
        return cch >= 3 && rtPathIsSep(psz[2], true) ? 3 : 2;
    return 0;
}

} // namespace

int RTPathAppendEx(char *pszPath, size_t cbPathDst, const char *pszAppend, size_t cchAppendMax, uint32_t fFlags) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if ((fFlags & ~PATH_STYLE_MASK) || (fFlags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    const bool fDos = rtPathStyle(fFlags) == PATH_STYLE_DOS;
    size_t cchPath = rtStrNLen(pszPath, cbPathDst);
    if (cchPath >= cbPathDst)
        return ERR_INVALID_PARAMETER;
    if (!pszAppend)
        return 0;
    if (!rtPathValidPtr(pszAppend))
        return ERR_INVALID_POINTER;
    size_t cchAppend = rtStrNLen(pszAppend, cchAppendMax);
    if (!cchAppend)
        return 0;

    // Work out the whole result before touching the buffer, so that a tail that does
    // not fit leaves it as it was.
    bool fInsertSep = false;
    if (cchPath) {
        if (rtPathIsSep(pszPath[cchPath - 1], fDos)) {
            while (cchAppend && rtPathIsSep(*pszAppend, fDos)) {
                pszAppend++;
                cchAppend--;
            }
            // One separator stays; the root's own separators are never cut.
            const size_t cchRoot = fDos ? rtPathAppendDosRootLen(pszPath, cchPath) : (pszPath[0] == '/' ? 1 : 0);
            while (cchPath >= 2 && rtPathIsSep(pszPath[cchPath - 2], fDos) && cchPath - 1 >= cchRoot)
                cchPath--;
        } else if (rtPathIsSep(*pszAppend, fDos)) {
            while (cchAppend > 1 && rtPathIsSep(pszAppend[1], fDos)) {
                pszAppend++;
                cchAppend--;
            }
        } else if (!(fDos && cchPath == 2 && pszPath[1] == ':' && rtPathIsLetter(pszPath[0])))
            fInsertSep = true;
    }

    const size_t cchTotal = cchPath + (fInsertSep ? 1 : 0) + cchAppend;
    if (cchTotal >= cbPathDst)
        return ERR_BUFFER_OVERFLOW;
    if (fInsertSep)
        pszPath[cchPath++] = fDos ? '\\' : '/';
    __builtin_memmove(&pszPath[cchPath], pszAppend, cchAppend);
    pszPath[cchTotal] = '\0';
    return 0;
}

int RTPathAppend(char *pszPath, size_t cbPathDst, const char *pszAppend) {
    return RTPathAppendEx(pszPath, cbPathDst, pszAppend, RTSTR_MAX, PATH_STYLE_HOST);
}

int RTPathJoin(char *pszPathDst, size_t cbPathDst, const char *pszPathSrc, const char *pszAppend) {
    if (!rtPathValidPtr(pszPathDst) || !rtPathValidPtr(pszPathSrc))
        return ERR_INVALID_POINTER;
    const size_t cchSrc = rtStrNLen(pszPathSrc, RTSTR_MAX);
    if (cchSrc >= cbPathDst)
        return ERR_BUFFER_OVERFLOW;
    __builtin_memmove(pszPathDst, pszPathSrc, cchSrc + 1);
    return RTPathAppend(pszPathDst, cbPathDst, pszAppend);
}

char *RTPathJoinA(const char *pszPathSrc, const char *pszAppend) {
    if (!rtPathValidPtr(pszPathSrc) || (pszAppend && !rtPathValidPtr(pszAppend)))
        return nullptr;
    const size_t cchSrc = rtStrNLen(pszPathSrc, RTSTR_MAX);
    size_t cb = cchSrc + (pszAppend ? rtStrNLen(pszAppend, RTSTR_MAX) : 0) + 4;
    char *psz = RTStrAlloc(cb, "RTPathJoinA");
    if (!psz)
        return nullptr;
    rtMemCopy(psz, pszPathSrc, cchSrc + 1);
    int rc = RTPathAppend(psz, cb, pszAppend);
    if (rc == ERR_BUFFER_OVERFLOW) {
        cb *= 2;
        rc = RTStrRealloc(&psz, cb, "RTPathJoinA");
        if (RT_SUCCESS(rc))
            rc = RTPathAppend(psz, cb, pszAppend);
    }
    if (RT_FAILURE(rc)) {
        RTStrFree(psz);
        return nullptr;
    }
    return psz;
}
