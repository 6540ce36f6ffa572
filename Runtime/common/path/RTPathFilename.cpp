// Names inside a path: file name, suffix, separators and the simple splitter.
#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

namespace {

/** Characters that end a name: separators, and in the DOS style the drive colon. */
inline bool rtPathIsNameEnd(char ch, bool fDos) {
    return rtPathIsSep(ch, fDos) || (fDos && ch == ':');
}

} // namespace

char *rtPathFilenameEx(const char *pszPath, uint32_t fStyle) {
    if (!rtPathValidPtr(pszPath))
        return nullptr;
    const bool fDos = fStyle != PATH_STYLE_UNIX;
    const char *pszName = pszPath;
    for (const char *psz = pszPath; *psz; psz++)
        if (rtPathIsNameEnd(*psz, fDos))
            pszName = psz + 1;
    return *pszName ? (char *)pszName : nullptr;
}

char *RTPathFilename(const char *pszPath) {
    return rtPathFilenameEx(pszPath, PATH_STYLE);
}

char *rtPathSuffixEx(const char *pszPath, uint32_t fStyle) {
    if (!rtPathValidPtr(pszPath))
        return nullptr;
    const bool fDos = fStyle != PATH_STYLE_UNIX;
    const char *pszDot = nullptr;
    const char *psz = pszPath;
    for (; *psz; psz++) {
        if (*psz == '.')
            pszDot = psz;
        else if (rtPathIsNameEnd(*psz, fDos))
            pszDot = nullptr;
    }
    if (pszDot && pszDot != pszPath && pszDot[1] != '\0')
        return (char *)pszDot;
    return nullptr;
}

char *RTPathSuffix(const char *pszPath) {
    return rtPathSuffixEx(pszPath, PATH_STYLE);
}

char *RTPathChangeToDosSlashes(char *pszPath, bool fForce) {
    (void)fForce;
    if (!rtPathValidPtr(pszPath))
        return pszPath;
    for (char *psz = pszPath; *psz; psz++)
        if (*psz == '/')
            *psz = '\\';
    return pszPath;
}

size_t rtPathEnsureTrailingSeparatorEx(char *pszPath, size_t cbPath, uint32_t fStyle) {
    const bool fDos = fStyle != PATH_STYLE_UNIX;
    const char chSep = fDos ? '\\' : '/';
    if (!rtPathValidPtr(pszPath))
        return 0;
    const size_t cch = rtStrNLen(pszPath, cbPath);
    if (cch >= cbPath)
        return 0;
    if (cch == 0) {
        if (cbPath < 3)
            return 0;
        pszPath[0] = '.';
        pszPath[1] = chSep;
        pszPath[2] = '\0';
        return 2;
    }
    if (rtPathIsNameEnd(pszPath[cch - 1], fDos))
        return cch;
    if (cch + 2 > cbPath)
        return 0;
    pszPath[cch] = chSep;
    pszPath[cch + 1] = '\0';
    return cch + 1;
}

size_t RTPathEnsureTrailingSeparator(char *pszPath, size_t cbPath) {
    return rtPathEnsureTrailingSeparatorEx(pszPath, cbPath, PATH_STYLE);
}

size_t RTPathSplitSimple(const char *pszPath, size_t *pcchDir, ssize_t *poffName, ssize_t *poffSuffix) {
    const char *psz = pszPath;
    size_t i = 0;
    if (rtPathIsLetter(psz[0]) && psz[1] == ':')
        i = 2;
    else if (rtPathIsSep(psz[0], true) && rtPathIsSep(psz[1], true)) {
        i = 2;
        while (psz[i] && !rtPathIsSep(psz[i], true))
            i++;
        if (psz[i])
            i++;
    }
    // The separators right after the root belong to it, so that "C:\" and "\" keep
    // their separator as the directory of a name directly below them.
    while (rtPathIsSep(psz[i], true))
        i++;
    const size_t cchRoot = i;

    size_t offName = i;
    ssize_t offSuffix = -1;
    for (; psz[i]; i++) {
        if (rtPathIsSep(psz[i], true)) {
            offName = i + 1;
            offSuffix = -1;
        } else if (psz[i] == '.' && i != offName)
            offSuffix = (ssize_t)i;
    }
    const size_t cch = i;
    if (offSuffix >= 0 && (size_t)offSuffix + 1 == cch)
        offSuffix = -1;

    const bool fHaveName = offName < cch;
    size_t cchDir = fHaveName ? offName : cch;
    while (cchDir > cchRoot && rtPathIsSep(psz[cchDir - 1], true))
        cchDir--;
    if (pcchDir)
        *pcchDir = cchDir;
    if (poffName)
        *poffName = fHaveName ? (ssize_t)offName : -1;
    if (poffSuffix)
        *poffSuffix = fHaveName ? offSuffix : -1;
    return cch;
}
