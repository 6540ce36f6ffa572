// Absolute paths: RTPathAbsEx and its wrappers.
#include <olma/mem.h>
#include <olma/string.h>
#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

namespace {

/** Stack record for 253 components; deeper paths move to the heap. */
union RTPATHPARSEDSTACK {
    ParsedPath Parsed;
    uint8_t ab[1024];
};

/** Parse into the stack record, or into temporary memory when it is too small. */
int rtPathAbsParse(const char *psz, uint32_t fStyle, RTPATHPARSEDSTACK *pStack, ParsedPath **ppParsed) {
    *ppParsed = &pStack->Parsed;
    int rc = rtPathParse(psz, &pStack->Parsed, rtPathParsedCapacity(sizeof(*pStack)), fStyle);
    if (rc == ERR_BUFFER_OVERFLOW) {
        const size_t cb = (size_t)pStack->Parsed.componentCount * sizeof(ParsedPathComp) + 20;
        ParsedPath *pParsed = (ParsedPath *)RTMemTmpAlloc(cb);
        if (!pParsed)
            return ERR_NO_TMP_MEMORY;
        rc = rtPathParse(psz, pParsed, rtPathParsedCapacity(cb), fStyle);
        if (RT_FAILURE(rc)) {
            RTMemFree(pParsed);
            return rc;
        }
        *ppParsed = pParsed;
    }
    return rc;
}

void rtPathAbsFreeParsed(ParsedPath *pParsed, RTPATHPARSEDSTACK *pStack) {
    if (pParsed != &pStack->Parsed)
        RTMemFree(pParsed);
}

bool rtPathCompIs(const char *pszPath, const ParsedPathComp &Comp, const char *pszWhat, size_t cch) {
    return Comp.length == cch && __builtin_memcmp(&pszPath[Comp.offset], pszWhat, cch) == 0;
}

bool rtPathParsedHasKept(const ParsedPath *pParsed, uint32_t iFirst) {
    for (uint32_t i = iFirst; i < pParsed->componentCount; i++)
        if (pParsed->components[i].length)
            return true;
    return false;
}

void rtPathAbsUpperDrive(char *pszAbsPath, const ParsedPath *pParsed, uint32_t fStyle) {
    if (fStyle == PATH_STYLE_DOS && (pParsed->properties & PATH_PROP_VOLUME))
        pszAbsPath[0] = rtPathUpper(pszAbsPath[0]);
}

/** The path is absolute already: only "." can be left to remove. */
int rtPathAbsExAbsolute(const char *pszPath, ParsedPath *pParsed, uint32_t fFlags, char *pszAbsPath,
                        size_t *pcbAbsPath) {
    const uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    for (uint32_t i = 1; i < pParsed->componentCount; i++)
        if (rtPathCompIs(pszPath, pParsed->components[i], ".", 1))
            pParsed->components[i].length = 0;
    if ((fFlags & PATHABS_TRAILING_SLASH) && pParsed->componentCount > 1)
        pParsed->properties |= PATH_PROP_DIR_SLASH;
    size_t cch;
    int rc = rtPathParsedReassemble(pszPath, pParsed, fStyle, pszAbsPath, *pcbAbsPath, &cch);
    if (rc == ERR_BUFFER_OVERFLOW) {
        *pcbAbsPath = cch + 1;
        return rc;
    }
    rtPathAbsUpperDrive(pszAbsPath, pParsed, fStyle);
    *pcbAbsPath = cch;
    return rc;
}

/** A DOS path rooted at "\" borrows the volume from the base or the current drive. */
int rtPathAbsExRooted(const char *pszBase, const char *pszPath, ParsedPath *pParsed, uint32_t fFlags, char *pszAbsPath,
                      size_t *pcbAbsPath) {
    const uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    rtPathParsedDropDots(pszPath, pParsed);
    if ((fFlags & PATHABS_TRAILING_SLASH) && rtPathParsedHasKept(pParsed, 1))
        pParsed->properties |= PATH_PROP_DIR_SLASH;
    const size_t cchPath = rtPathParsedCalcLength(pParsed);

    size_t cchPrefix = 0;
    if (fStyle == PATH_STYLE_DOS && !(pParsed->properties & (PATH_PROP_VOLUME | PATH_PROP_UNC))) {
        bool fHavePrefix = false;
        if (pszBase) {
            // Only the root and the share matter, so a short record will do.
            union {
                ParsedPath Parsed;
                uint8_t ab[20];
            } Base;
            int rc = rtPathParse(pszBase, &Base.Parsed, rtPathParsedCapacity(sizeof(Base)), fStyle);
            if (RT_FAILURE(rc) && rc != ERR_BUFFER_OVERFLOW)
                return rc;
            const uint16_t fBaseProps = Base.Parsed.properties;
            // The prefix is the root (less its separator) or the root plus the share.
            ParsedPathComp Root = Base.Parsed.components[0];
            ParsedPathComp Share = {0, 0};
            if (fBaseProps & PATH_PROP_VOLUME) {
                Root.length = 2;
                fHavePrefix = true;
            } else if (fBaseProps & PATH_PROP_UNC) {
                if (Base.Parsed.componentCount > 1 && !(fBaseProps & PATH_PROP_SPECIAL_UNC))
                    Share = Base.Parsed.components[1];
                else if (fBaseProps & PATH_PROP_ROOT_SLASH)
                    Root.length--;
                fHavePrefix = true;
            }
            if (fHavePrefix) {
                cchPrefix = Root.length + Share.length;
                if (cchPrefix >= *pcbAbsPath) {
                    *pcbAbsPath = cchPrefix + cchPath + 1;
                    return ERR_BUFFER_OVERFLOW;
                }
                for (size_t i = 0; i < Root.length; i++)
                    pszAbsPath[i] = pszBase[i] == '/' ? '\\' : pszBase[i];
                rtMemCopy(&pszAbsPath[Root.length], &pszBase[Share.offset], Share.length);
                pszAbsPath[cchPrefix] = '\0';
                if (fBaseProps & PATH_PROP_VOLUME)
                    pszAbsPath[0] = rtPathUpper(pszAbsPath[0]);
            }
        }
        if (!fHavePrefix) {
            int rc = RTPathGetCurrentDrive(pszAbsPath, *pcbAbsPath);
            if (rc == ERR_BUFFER_OVERFLOW) {
                // Work out how much the caller has to provide.
                const size_t cbTmp = 65536;
                char *pszTmp = (char *)RTMemTmpAlloc(cbTmp);
                if (!pszTmp)
                    return ERR_NO_TMP_MEMORY;
                rc = RTPathGetCurrentDrive(pszTmp, cbTmp);
                if (RT_SUCCESS(rc))
                    *pcbAbsPath = rtStrNLen(pszTmp, cbTmp) + cchPath + 1;
                else {
                    const size_t cbGuess = cchPath + 196609;
                    *pcbAbsPath = *pcbAbsPath * 2 > cbGuess ? *pcbAbsPath * 2 : cbGuess;
                }
                RTMemFree(pszTmp);
                return ERR_BUFFER_OVERFLOW;
            }
            if (RT_FAILURE(rc))
                return rc;
            cchPrefix = rtStrNLen(pszAbsPath, *pcbAbsPath);
        }
    }

    size_t cch;
    int rc = rtPathParsedReassemble(pszPath, pParsed, fStyle, &pszAbsPath[cchPrefix], *pcbAbsPath - cchPrefix, &cch);
    if (rc == ERR_BUFFER_OVERFLOW) {
        *pcbAbsPath = cchPrefix + cch + 1;
        return rc;
    }
    rtPathAbsUpperDrive(pszAbsPath, pParsed, fStyle);
    *pcbAbsPath = cchPrefix + cch;
    return rc;
}

/** Base and relative path put together; the base string may live in the caller's buffer. */
int rtPathAbsExCombine(const char *pszBaseStr, ParsedPath *pBase, const char *pszPath, ParsedPath *pParsed,
                       uint32_t fFlags, bool fWithinBase, char *pszAbsPath, size_t *pcbAbsPath) {
    const uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    if (pBase->componentCount == 0)
        return ERR_INVALID_PARAMETER;
    rtPathParsedDropDots(pszBaseStr, pBase);
    const uint32_t iBaseFirst = rtPathParsedFirstRemovable(pBase);

    // The relative part: a drive letter goes (the base supplies the volume), dots go,
    // and a ".." with nothing left to remove here climbs into the base.
    uint32_t iFirst = 0;
    if (rtPathParsedHasRoot(pParsed)) {
        pParsed->components[0].length = 0;
        iFirst = 1;
    }
    for (uint32_t i = iFirst; i < pParsed->componentCount; i++) {
        ParsedPathComp &Comp = pParsed->components[i];
        if (rtPathCompIs(pszPath, Comp, ".", 1))
            Comp.length = 0;
        else if (rtPathCompIs(pszPath, Comp, "..", 2)) {
            Comp.length = 0;
            bool fRemoved = false;
            for (uint32_t j = i; j-- > iFirst;)
                if (pParsed->components[j].length) {
                    pParsed->components[j].length = 0;
                    fRemoved = true;
                    break;
                }
            if (!fRemoved && !fWithinBase)
                for (uint32_t j = pBase->componentCount; j-- > iBaseFirst;)
                    if (pBase->components[j].length) {
                        pBase->components[j].length = 0;
                        break;
                    }
        }
    }
    const bool fRelLeft = rtPathParsedHasKept(pParsed, iFirst);

    if (pBase->componentCount > 1) {
        if (fRelLeft || (pParsed->properties & PATH_PROP_DIR_SLASH) || (fFlags & PATHABS_TRAILING_SLASH))
            pBase->properties |= PATH_PROP_DIR_SLASH;
        else
            pBase->properties &= ~PATH_PROP_DIR_SLASH;
    } else if (!(pBase->properties & PATH_PROP_ROOT_SLASH))
        return ERR_PATH_BASE_NOT_ROOTED;
    if ((fFlags & PATHABS_TRAILING_SLASH) && fRelLeft)
        pParsed->properties |= PATH_PROP_DIR_SLASH;

    size_t cchBase;
    int rc = rtPathParsedReassemble(pszBaseStr, pBase, fStyle, pszAbsPath, *pcbAbsPath, &cchBase);
    if (rc == ERR_BUFFER_OVERFLOW) {
        *pcbAbsPath = cchBase + rtPathParsedCalcLength(pParsed) + 1;
        return rc;
    }
    rtPathAbsUpperDrive(pszAbsPath, pBase, fStyle);

    size_t cchRel;
    rc = rtPathParsedReassemble(pszPath, pParsed, fStyle, &pszAbsPath[cchBase], *pcbAbsPath - cchBase, &cchRel);
    *pcbAbsPath = cchBase + cchRel + (rc == ERR_BUFFER_OVERFLOW ? 1 : 0);
    return rc;
}

int rtPathAbsExRelative(const char *pszBase, const char *pszPath, ParsedPath *pParsed, uint32_t fFlags,
                        char *pszAbsPath, size_t *pcbAbsPath) {
    const uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    const bool fDriveRel = fStyle == PATH_STYLE_DOS && (pParsed->properties & PATH_PROP_VOLUME);
    bool fUseCwd = !pszBase;
    if (!fUseCwd && fDriveRel)
        fUseCwd = !(pszBase[0] != '\0' && pszBase[1] == ':' && rtPathIsLetter(pszBase[0]) &&
                    rtPathUpper(pszBase[0]) == rtPathUpper(pszPath[0]));

    RTPATHPARSEDSTACK BaseStack;
    ParsedPath *pBase = nullptr;
    const char *pszBaseStr;
    char *pszTmp = nullptr;
    bool fWithinBase;
    int rc;
    if (!fUseCwd) {
        fWithinBase = (fFlags & PATHABS_WITHIN_BASE) != 0;
        rc = rtPathAbsParse(pszBase, fStyle, &BaseStack, &pBase);
        if (RT_FAILURE(rc))
            return rc;
        pszBaseStr = pszBase;
        const uint16_t fNotPlain = PATH_PROP_EXTRA_SLASHES | PATH_PROP_DOT_REFS;
        if (!(pBase->properties & PATH_PROP_ABSOLUTE) || (pBase->properties & fNotPlain)) {
            // Normalise the base first, into the caller's buffer, and take it from there.
            rtPathAbsFreeParsed(pBase, &BaseStack);
            size_t cb = *pcbAbsPath;
            rc = RTPathAbsEx(nullptr, pszBase, fFlags, pszAbsPath, &cb);
            if (rc == ERR_BUFFER_OVERFLOW) {
                *pcbAbsPath = cb + pParsed->pathLength + 2;
                return rc;
            }
            if (RT_FAILURE(rc))
                return rc;
            pszBaseStr = pszAbsPath;
            rc = rtPathAbsParse(pszBaseStr, fStyle, &BaseStack, &pBase);
            if (RT_FAILURE(rc))
                return rc;
        }
    } else {
        fWithinBase = (fFlags & PATHABS_WITHIN_CWD) != 0;
        rc = fDriveRel ? RTPathGetCurrentOnDrive(pszPath[0], pszAbsPath, *pcbAbsPath)
                       : RTPathGetCurrent(pszAbsPath, *pcbAbsPath);
        pszBaseStr = pszAbsPath;
        if (rc == ERR_BUFFER_OVERFLOW) {
            const size_t cbTmp = *pcbAbsPath < 16384 ? 65536 : *pcbAbsPath * 4;
            pszTmp = (char *)RTMemTmpAlloc(cbTmp);
            if (!pszTmp) {
                *pcbAbsPath = pParsed->pathLength + cbTmp + 2;
                return ERR_BUFFER_OVERFLOW;
            }
            rc = fDriveRel ? RTPathGetCurrentOnDrive(pszPath[0], pszTmp, cbTmp) : RTPathGetCurrent(pszTmp, cbTmp);
            if (rc == ERR_BUFFER_OVERFLOW)
                rc = ERR_FILENAME_TOO_LONG;
            pszBaseStr = pszTmp;
        }
        if (RT_SUCCESS(rc))
            rc = rtPathAbsParse(pszBaseStr, fStyle, &BaseStack, &pBase);
        if (RT_FAILURE(rc)) {
            RTMemFree(pszTmp);
            return rc;
        }
    }

    rc = rtPathAbsExCombine(pszBaseStr, pBase, pszPath, pParsed, fFlags, fWithinBase, pszAbsPath, pcbAbsPath);
    rtPathAbsFreeParsed(pBase, &BaseStack);
    RTMemFree(pszTmp);
    return rc;
}

} // namespace

int RTPathAbsEx(const char *pszBase, const char *pszPath, uint32_t fFlags, char *pszAbsPath, size_t *pcbAbsPath) {
    if (!rtPathValidPtr(pszPath) || (pszBase && !rtPathValidPtr(pszBase)) || !rtPathValidPtr(pszAbsPath) ||
        !rtPathValidPtr(pcbAbsPath))
        return ERR_INVALID_POINTER;
    if (*pszPath == '\0')
        return ERR_PATH_ZERO_LENGTH;
    constexpr uint32_t fValid = PATH_STYLE_MASK | PATHABS_WITHIN_BASE | PATHABS_WITHIN_CWD | PATHABS_TRAILING_SLASH;
    if ((fFlags & ~fValid) || (fFlags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    fFlags = (fFlags & ~PATH_STYLE_MASK) | rtPathStyle(fFlags);
    // An empty base names nothing; the current directory serves as for no base.
    if (pszBase && *pszBase == '\0')
        pszBase = nullptr;

    RTPATHPARSEDSTACK Stack;
    ParsedPath *pParsed;
    int rc = rtPathAbsParse(pszPath, fFlags & PATH_STYLE_MASK, &Stack, &pParsed);
    if (RT_FAILURE(rc))
        return rc;
    if (pParsed->properties & PATH_PROP_ABSOLUTE)
        rc = rtPathAbsExAbsolute(pszPath, pParsed, fFlags, pszAbsPath, pcbAbsPath);
    else if (pParsed->properties & PATH_PROP_ROOT_SLASH)
        rc = rtPathAbsExRooted(pszBase, pszPath, pParsed, fFlags, pszAbsPath, pcbAbsPath);
    else
        rc = rtPathAbsExRelative(pszBase, pszPath, pParsed, fFlags, pszAbsPath, pcbAbsPath);
    rtPathAbsFreeParsed(pParsed, &Stack);
    return rc;
}

int RTPathAbs(const char *pszPath, char *pszAbsPath, size_t cbAbsPath) {
    size_t cb = cbAbsPath;
    return RTPathAbsEx(nullptr, pszPath, PATH_STYLE_HOST, pszAbsPath, &cb);
}

int rtPathAbsExDup(const char *pszBase, const char *pszPath, uint32_t fFlags, char **ppszAbs) {
    *ppszAbs = nullptr;
    size_t cb = 2050;
    for (unsigned iTry = 0; iTry < 16; iTry++) {
        char *psz = RTStrAlloc(cb, RTSTR_TAG);
        if (!psz)
            return ERR_NO_STR_MEMORY;
        size_t cbIo = cb;
        int rc = RTPathAbsEx(pszBase, pszPath, fFlags, psz, &cbIo);
        if (RT_SUCCESS(rc)) {
            // Give back most of an oversized buffer; keeping it is fine if that fails.
            if (cbIo < cb / 2)
                (void)RTStrRealloc(&psz, cbIo + 1, RTSTR_TAG);
            *ppszAbs = psz;
            return rc;
        }
        RTStrFree(psz);
        if (rc != ERR_BUFFER_OVERFLOW)
            return rc;
        const size_t cbRounded = (cbIo + 79) & ~(size_t)63;
        cb = cbRounded > cb + 256 ? cbRounded : cb + 256;
    }
    return ERR_FILENAME_TOO_LONG;
}

char *RTPathAbsExDup(const char *pszBase, const char *pszPath, uint32_t fFlags) {
    char *psz;
    (void)rtPathAbsExDup(pszBase, pszPath, fFlags, &psz);
    return psz;
}
