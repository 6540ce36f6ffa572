// Path parser for both styles, reassembly and dot dropping.
#include "common/path/internal-path.h"

int rtPathParse(const char *pszPath, ParsedPath *pParsed, uint32_t cMaxComps, uint32_t fFlags) {
    const bool fDos = (fFlags & PATH_STYLE_MASK) != PATH_STYLE_UNIX;
    const char *psz = pszPath;
    size_t i = 0;
    uint32_t cComps = 0;
    uint32_t fProps = 0;
    size_t cchPath = 0;

    // Lengths and offsets are 16 bits; anything longer cannot be described.
    size_t cchInput = 0;
    while (psz[cchInput] != '\0')
        if (++cchInput > 0xffff)
            return ERR_FILENAME_TOO_LONG;

    size_t cchRoot = 0;
    if (rtPathIsSep(psz[0], fDos)) {
        if (fFlags & PATH_PARSE_NO_START) {
            while (rtPathIsSep(psz[i], fDos))
                i++;
            if (psz[i] == '\0')
                return ERR_PATH_ZERO_LENGTH;
            fProps = PATH_PROP_RELATIVE | PATH_PROP_EXTRA_SLASHES;
        } else if (!fDos) {
            cchRoot = 1;
            fProps = PATH_PROP_ABSOLUTE | PATH_PROP_ROOT_SLASH;
        } else if (rtPathIsSep(psz[1], fDos)) {
            size_t iEnd = 2;
            while (psz[iEnd] != '\0' && !rtPathIsSep(psz[iEnd], fDos))
                iEnd++;
            fProps = PATH_PROP_ABSOLUTE | PATH_PROP_UNC;
            if (iEnd == 3 && (psz[2] == '.' || psz[2] == '?'))
                fProps |= PATH_PROP_SPECIAL_UNC;
            if (psz[iEnd] != '\0') {
                iEnd++;
                fProps |= PATH_PROP_ROOT_SLASH;
            }
            cchRoot = iEnd;
        } else {
            cchRoot = 1;
            fProps = PATH_PROP_RELATIVE | PATH_PROP_ROOT_SLASH;
        }
    } else if (fDos && rtPathIsLetter(psz[0]) && psz[1] == ':') {
        if (rtPathIsSep(psz[2], fDos)) {
            cchRoot = 3;
            fProps = PATH_PROP_ABSOLUTE | PATH_PROP_VOLUME | PATH_PROP_ROOT_SLASH;
        } else {
            cchRoot = 2;
            fProps = PATH_PROP_RELATIVE | PATH_PROP_VOLUME;
        }
    } else
        fProps = PATH_PROP_RELATIVE;

    if (cchRoot) {
        if (cMaxComps > 0) {
            pParsed->components[0].offset = 0;
            pParsed->components[0].length = (uint16_t)cchRoot;
        }
        cComps = 1;
        cchPath = cchRoot;
        i = cchRoot;
        if (rtPathIsSep(psz[i], fDos)) {
            fProps |= PATH_PROP_EXTRA_SLASHES;
            while (rtPathIsSep(psz[i], fDos))
                i++;
        }
    }

    pParsed->suffixOffset = (uint16_t)cchInput;
    pParsed->suffixLength = 0;
    while (psz[i] != '\0') {
        const size_t offComp = i;
        while (psz[i] != '\0' && !rtPathIsSep(psz[i], fDos))
            i++;
        const size_t cchComp = i - offComp;
        if (cComps < cMaxComps) {
            pParsed->components[cComps].offset = (uint16_t)offComp;
            pParsed->components[cComps].length = (uint16_t)cchComp;
        }
        cComps++;
        if (cchComp == 1 && psz[offComp] == '.')
            fProps |= PATH_PROP_DOT_REFS;
        else if (cchComp == 2 && psz[offComp] == '.' && psz[offComp + 1] == '.') {
            fProps |= PATH_PROP_DOTDOT_REFS | PATH_PROP_RELATIVE;
            fProps &= ~(uint32_t)PATH_PROP_ABSOLUTE;
        }
        cchPath += cchComp;

        if (psz[i] == '\0') {
            fProps |= PATH_PROP_FILENAME;
            if (!(fFlags & PATH_PARSE_NO_END)) {
                // The last dot that is neither the name's first nor its last character.
                for (size_t iDot = i - 1; iDot > offComp; iDot--)
                    if (psz[iDot] == '.') {
                        if (iDot + 1 < i) {
                            fProps |= PATH_PROP_SUFFIX;
                            pParsed->suffixOffset = (uint16_t)iDot;
                            pParsed->suffixLength = (uint16_t)(i - iDot);
                        }
                        break;
                    }
            }
            break;
        }

        const size_t offSep = i;
        while (rtPathIsSep(psz[i], fDos))
            i++;
        if (i - offSep > 1)
            fProps |= PATH_PROP_EXTRA_SLASHES;
        if (psz[i] == '\0') {
            if (fFlags & PATH_PARSE_NO_END)
                fProps |= PATH_PROP_EXTRA_SLASHES;
            else {
                fProps |= PATH_PROP_DIR_SLASH;
                cchPath++;
            }
            break;
        }
        cchPath++;
    }

    pParsed->componentCount = (uint16_t)cComps;
    pParsed->properties = (uint16_t)fProps;
    pParsed->pathLength = (uint16_t)cchPath;
    return cComps <= cMaxComps ? 0 : ERR_BUFFER_OVERFLOW;
}

int RTPathParse(const char *pszPath, ParsedPath *pParsed, size_t cbParsed, uint32_t fFlags) {
    if (cbParsed < PARSEDPATH_SIZE(0))
        return ERR_INVALID_PARAMETER;
    if (!rtPathValidPtr(pParsed) || !rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (*pszPath == '\0')
        return ERR_PATH_ZERO_LENGTH;
    if ((fFlags & ~(PATH_STYLE_MASK | PATH_PARSE_NO_START | PATH_PARSE_NO_END)) ||
        (fFlags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    return rtPathParse(pszPath, pParsed, rtPathParsedCapacity(cbParsed), rtPathStyle(fFlags) | (fFlags & ~3u));
}

uint32_t rtPathParsedFirstRemovable(const ParsedPath *pParsed) {
    if (!rtPathParsedHasRoot(pParsed))
        return 0;
    if ((pParsed->properties & (PATH_PROP_UNC | PATH_PROP_SPECIAL_UNC)) == PATH_PROP_UNC && pParsed->componentCount > 1)
        return 2;
    return 1;
}

void rtPathParsedDropDots(const char *pszPath, ParsedPath *pParsed) {
    const uint32_t iFirst = rtPathParsedFirstRemovable(pParsed);
    for (uint32_t i = iFirst; i < pParsed->componentCount; i++) {
        ParsedPathComp &Comp = pParsed->components[i];
        const char *pch = &pszPath[Comp.offset];
        if (Comp.length == 1 && pch[0] == '.')
            Comp.length = 0;
        else if (Comp.length == 2 && pch[0] == '.' && pch[1] == '.') {
            Comp.length = 0;
            for (uint32_t j = i; j-- > iFirst;)
                if (pParsed->components[j].length) {
                    pParsed->components[j].length = 0;
                    break;
                }
        }
    }
}

size_t rtPathParsedCalcLength(const ParsedPath *pParsed) {
    size_t cch = 0;
    uint32_t i = 0;
    if (rtPathParsedHasRoot(pParsed))
        cch = pParsed->components[i++].length;
    bool fWritten = false;
    for (; i < pParsed->componentCount; i++)
        if (pParsed->components[i].length) {
            cch += pParsed->components[i].length + (fWritten ? 1 : 0);
            fWritten = true;
        }
    if (fWritten && (pParsed->properties & PATH_PROP_DIR_SLASH))
        cch++;
    return cch;
}

int rtPathParsedReassemble(const char *pszSrc, const ParsedPath *pParsed, uint32_t fStyle, char *pszDst, size_t cbDst,
                           size_t *pcch) {
    const bool fDos = fStyle != PATH_STYLE_UNIX;
    const char chSep = fDos ? '\\' : '/';
    const char chOtherSep = fDos ? '/' : '\\';
    const size_t cch = rtPathParsedCalcLength(pParsed);
    *pcch = cch;
    if (cch >= cbDst) {
        if (cbDst)
            *pszDst = '\0';
        return ERR_BUFFER_OVERFLOW;
    }

    // Every piece lands at or before its source, so copying front to back with
    // memmove works when source and destination are the same buffer.
    size_t off = 0;
    uint32_t i = 0;
    if (rtPathParsedHasRoot(pParsed)) {
        const ParsedPathComp &Root = pParsed->components[i++];
        __builtin_memmove(pszDst, &pszSrc[Root.offset], Root.length);
        for (size_t j = 0; j < Root.length; j++)
            if (pszDst[j] == chOtherSep)
                pszDst[j] = chSep;
        off = Root.length;
    }
    bool fWritten = false;
    for (; i < pParsed->componentCount; i++) {
        const ParsedPathComp &Comp = pParsed->components[i];
        if (!Comp.length)
            continue;
        if (fWritten)
            pszDst[off++] = chSep;
        __builtin_memmove(&pszDst[off], &pszSrc[Comp.offset], Comp.length);
        off += Comp.length;
        fWritten = true;
    }
    if (fWritten && (pParsed->properties & PATH_PROP_DIR_SLASH))
        pszDst[off++] = chSep;
    pszDst[off] = '\0';
    return 0;
}

int RTPathParsedReassemble(const char *pszSrcPath, ParsedPath *pParsed, uint32_t fFlags, char *pszDstPath,
                           size_t cbDstPath) {
    if (!rtPathValidPtr(pszSrcPath) || !rtPathValidPtr(pParsed))
        return ERR_INVALID_POINTER;
    if (pParsed->componentCount == 0)
        return ERR_INVALID_PARAMETER;
    if ((fFlags & ~PATH_STYLE_MASK) || (fFlags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    if (!rtPathValidPtr(pszDstPath))
        return ERR_INVALID_POINTER;
    size_t cch;
    int rc = rtPathParsedReassemble(pszSrcPath, pParsed, rtPathStyle(fFlags), pszDstPath, cbDstPath, &cch);
    pParsed->pathLength = (uint16_t)cch;
    return rc;
}
