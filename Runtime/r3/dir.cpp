// Directory handles: the handle block, name filter compilation and the exact and
// wildcard matchers that any entry enumeration applies to names.
#include "r3/internal-dir.h"

#include <olma/mem.h>
#include <olma/string.h>

#include "common/string/internal-str.h"

RTUNICP rtDirUpperCp(RTUNICP uc) {
    // The last run that starts at or before the code point is the only one that can hold it.
    size_t iLo = 0, iHi = g_cRtDirUpperRuns;
    while (iLo < iHi) {
        const size_t iMid = iLo + (iHi - iLo) / 2;
        if (g_aRtDirUpperRuns[iMid].first <= uc)
            iLo = iMid + 1;
        else
            iHi = iMid;
    }
    if (iLo == 0)
        return uc;
    const RTDIRUPPERRUN &Run = g_aRtDirUpperRuns[iLo - 1];
    const RTUNICP off = uc - Run.first;
    if ((off & Run.fEveryOther) || (off >> Run.fEveryOther) >= Run.count)
        return uc;
    return uc + (RTUNICP)Run.delta;
}

/*
 * Matching. Names are taken one folded code point at a time from validated UTF-8;
 * the filter is already folded.
 */

namespace {

/** Next folded code point of the name (0 at its end) without moving the cursor. */
RTUNICP rtDirPeekCp(const char *psz) {
    RTUNICP uc = 0;
    if (RT_FAILURE(RTStrGetCpEx(&psz, &uc)))
        return RTUNICP_INVALID; // cannot happen on validated text; never equals a filter character
    return rtDirUpperCp(uc);
}

const char *rtDirNextCp(const char *psz) {
    RTUNICP uc;
    (void)RTStrGetCpEx(&psz, &uc);
    return psz;
}

/** At the end of the name only these filter characters may remain. */
bool rtDirFilterMatchesEmpty(const RTUNICP *puc) {
    for (; *puc; puc++)
        if (*puc != '"' && *puc != '*' && *puc != '<' && *puc != '>')
            return false;
    return true;
}

/** Outcome of matching a rest of the filter against a rest of the name. */
enum RTDIRWILD { kWildNoMatch, kWildMatch, kWildAbort };

/*
 * A star tries its positions from left to right, and every other element consumes
 * no fewer characters when it starts later. So the first time a given star is
 * reached, it is reached at its leftmost possible position; when the rest of the
 * filter fails there at every position from then on, it fails for every other way
 * the earlier stars could split the name too. That result (kWildAbort) ends the whole
 * match at once instead of retrying every split, which keeps filters with many
 * stars linear in practice. A '<' before a dot has a bounded range, so only its
 * star-like form can abort.
 */
RTDIRWILD rtDirWildWorker(const RTUNICP *puc, const char *psz, unsigned uDepth) {
    if (uDepth > RTDIR_FILTER_MAX_DEPTH)
        return kWildNoMatch;
    for (;;) {
        if (*psz == '\0')
            return rtDirFilterMatchesEmpty(puc) ? kWildMatch : kWildNoMatch;
        RTUNICP const ucFilter = *puc;
        if (ucFilter == 0)
            return kWildNoMatch; // name left over
        RTUNICP const ucName = rtDirPeekCp(psz);
        switch (ucFilter) {
        case '?':
            psz = rtDirNextCp(psz);
            puc++;
            break;

        case '*': {
            // Question marks directly after the star each still take one character;
            // further stars add nothing.
            puc++;
            while (*puc == '?' || *puc == '*') {
                if (*puc == '?') {
                    if (*psz == '\0')
                        return kWildNoMatch;
                    psz = rtDirNextCp(psz);
                }
                puc++;
            }
            if (*puc == 0)
                return kWildMatch;
            // Before a plain character only the positions holding it can match.
            RTUNICP const ucNext = *puc;
            bool const fLiteralNext = ucNext != '?' && ucNext != '<' && ucNext != '>' && ucNext != '"' && ucNext != '*';
            for (;;) {
                if (!fLiteralNext || rtDirPeekCp(psz) == ucNext) {
                    RTDIRWILD enmRc = rtDirWildWorker(puc, psz, uDepth + 1);
                    if (enmRc != kWildNoMatch)
                        return enmRc;
                }
                if (*psz == '\0')
                    return kWildAbort;
                psz = rtDirNextCp(psz);
            }
        }

        case '<': {
            // Zero or more characters, but not past the name's last dot (which it
            // may take). Without a dot it is a star.
            const char *pszLastDot = nullptr;
            for (const char *pszScan = psz; *pszScan; pszScan++)
                if (*pszScan == '.')
                    pszLastDot = pszScan;
            puc++;
            for (;;) {
                RTDIRWILD enmRc = rtDirWildWorker(puc, psz, uDepth + 1);
                if (enmRc != kWildNoMatch)
                    return enmRc;
                if (pszLastDot ? psz > pszLastDot : *psz == '\0')
                    return pszLastDot ? kWildNoMatch : kWildAbort;
                psz = rtDirNextCp(psz);
            }
        }

        case '>':
            if (ucName != '.') {
                psz = rtDirNextCp(psz);
                puc++;
                break;
            }
            // At a dot: the run of '>' (and '<') matches nothing, and a following
            // double quote or dot goes together with the name's dot.
            while (*puc == '>' || *puc == '<')
                puc++;
            if (*puc == '"' || *puc == '.') {
                puc++;
                psz++;
            }
            break;

        case '"':
            if (ucName != '.')
                return kWildNoMatch;
            psz++;
            puc++;
            break;

        default:
            if (ucName != ucFilter)
                return kWildNoMatch;
            psz = rtDirNextCp(psz);
            puc++;
            break;
        }
    }
}

} // namespace

bool rtDirFilterMatchExact(DirHandle *pDir, const char *pszName) {
    if (RT_FAILURE(RTStrValidateEncodingEx(pszName, RTSTR_MAX, 0)))
        return false;
    const RTUNICP *puc = pDir->filterCodePoints;
    for (;;) {
        if (*pszName == '\0')
            return *puc == 0;
        if (*puc == 0 || rtDirPeekCp(pszName) != *puc)
            return false;
        pszName = rtDirNextCp(pszName);
        puc++;
    }
}

bool rtDirFilterMatchWild(DirHandle *pDir, const char *pszName) {
    if (RT_FAILURE(RTStrValidateEncodingEx(pszName, RTSTR_MAX, 0)))
        return false;
    return rtDirWildWorker(pDir->filterCodePoints, pszName, 0) == kWildMatch;
}

/*
 * The handle block.
 */

int rtDirAllocHandle(DirHandle **ppDir, const char *pszPath, size_t cchPath, const char *pszFilter, size_t cchFilter,
                     RTDIRFILTER enmFilter, uint32_t fFlags, bool fEndsWithSlash) {
    *ppDir = nullptr;
    bool const fFilter = enmFilter == RTDIRFILTER_WINNT && cchFilter > 0;

    size_t cCps = 0;
    if (fFilter) {
        int rc = RTStrValidateEncodingEx(pszFilter, cchFilter, 0);
        if (RT_FAILURE(rc))
            return rc;
        cCps = RTStrUniLen(pszFilter);
    }

    // Code points with terminator, the filter text with its NUL, the path with its
    // NUL and room for a separator added later.
    size_t const cbFixed = sizeof(DirHandle);
    size_t const cbCps = fFilter ? (cCps + 1) * sizeof(RTUNICP) : 0;
    size_t const cbFilter = fFilter ? cchFilter + 1 : 0;
    size_t const cb = cbFixed + cbCps + cbFilter + cchPath + 5;
    DirHandle *pDir = (DirHandle *)RTMemAllocZ(cb, RTSTR_TAG);
    if (!pDir)
        return ERR_NO_MEMORY;

    uint8_t *pbVar = (uint8_t *)(pDir + 1);
    if (fFilter) {
        pDir->filterCodePoints = (RTUNICP *)pbVar;
        size_t cCpsGot = 0;
        int rc = RTStrToUniEx(pszFilter, cchFilter, &pDir->filterCodePoints, cCps + 1, &cCpsGot);
        cCps = cCpsGot;
        if (RT_FAILURE(rc)) {
            RTMemFree(pDir);
            return rc;
        }
        pbVar += cbCps;
        pDir->filterText = (char *)pbVar;
        rtMemCopy(pDir->filterText, pszFilter, cchFilter);
        pDir->filterText[cchFilter] = '\0';
        pDir->filterLength = cchFilter;
        pbVar += cbFilter;
    }
    pDir->path = (char *)pbVar;
    rtMemCopy(pDir->path, pszPath, cchPath);
    pDir->path[cchPath] = '\0';
    pDir->pathLength = cchPath;

    pDir->magic = RTDIR_MAGIC;
    pDir->filterKind = fFilter ? RTDIRFILTER_WINNT : RTDIRFILTER_NONE;
    pDir->nativeSize = cbFixed;
    pDir->openFlags = fFlags;
    pDir->endsWithSlash = fEndsWithSlash;
    pDir->hNative = RTDIR_NATIVE_INVALID;

    if (fFilter) {
        // Compile. "*" and "<\"." (what "*.*" becomes) let everything through.
        RTUNICP *pauc = pDir->filterCodePoints;
        if ((cCps == 1 && pauc[0] == '*') || (cCps == 3 && pauc[0] == '<' && pauc[1] == '"' && pauc[2] == '.')) {
            pDir->filterCodePointCount = cCps;
            pDir->filterMatch = nullptr;
        } else {
            bool fWild = false;
            size_t iDst = 0;
            for (size_t iSrc = 0; iSrc < cCps; iSrc++) {
                RTUNICP const uc = rtDirUpperCp(pauc[iSrc]);
                if (uc == '*' && iDst > 0 && pauc[iDst - 1] == '*')
                    continue;
                if (uc == '*' || uc == '?' || uc == '<' || uc == '>' || uc == '"')
                    fWild = true;
                pauc[iDst++] = uc;
            }
            pauc[iDst] = 0;
            pDir->filterCodePointCount = iDst;
            pDir->filterMatch = fWild ? rtDirFilterMatchWild : rtDirFilterMatchExact;
        }
    }
    *ppDir = pDir;
    return 0;
}

void rtDirFreeHandle(DirHandle *pDir) {
    RTStrFree(pDir->entryName);
    pDir->entryName = nullptr;
    RTMemFree(pDir->nativeFilter.Buffer);
    pDir->nativeFilter.Buffer = nullptr;
    RTMemFree(pDir->enumBuffer);
    pDir->enumBuffer = nullptr;
    RTMemFree(pDir);
}
