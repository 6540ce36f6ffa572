// Argument vectors from a command string, with the quoting rules of Windows programs
// or of a shell.
//
// No rule ever makes an argument longer than its source text, so the write position
// never overtakes the read position and the texts can be written over the command
// string itself. All texts share one buffer, so the vector and its first entry are
// the only two allocations.
#include <olma/getopt.h>
#include <olma/mem.h>
#include <olma/string.h>

namespace {

/** Vector growth step, in entries. */
constexpr size_t RTARGV_GROW = 32;

/** Separator set: a bitmap for ASCII, the decoded string only for anything else. */
struct RTARGVSEPS {
    uint32_t abmAscii[128 / 32];
    /** The separator string when it holds non-ASCII code points, otherwise null. */
    const char *pszNonAscii;
};

int rtArgvInitSeps(RTARGVSEPS *pSeps, const char *pszSeparators) {
    for (uint32_t &bm : pSeps->abmAscii)
        bm = 0;
    pSeps->pszNonAscii = nullptr;
    for (const unsigned char *puch = (const unsigned char *)pszSeparators; *puch; puch++) {
        if (*puch < 0x80)
            pSeps->abmAscii[*puch >> 5] |= 1u << (*puch & 31);
        else
            pSeps->pszNonAscii = pszSeparators;
    }
    // Non-ASCII separators are decoded for every comparison; they must decode.
    if (pSeps->pszNonAscii && RT_FAILURE(RTStrValidateEncodingEx(pszSeparators, RTSTR_MAX, 0)))
        return ERR_INVALID_PARAMETER;
    return 0;
}

bool rtArgvIsSep(const RTARGVSEPS *pSeps, RTUNICP uCp) {
    if (uCp < 0x80)
        return (pSeps->abmAscii[uCp >> 5] >> (uCp & 31)) & 1;
    if (!pSeps->pszNonAscii)
        return false;
    const char *psz = pSeps->pszNonAscii;
    for (;;) {
        RTUNICP uSep;
        (void)RTStrGetCpEx(&psz, &uSep); // validated in rtArgvInitSeps
        if (uSep == 0)
            return false;
        if (uSep == uCp)
            return true;
    }
}

/** Decodes the next code point; the terminator gives 0 and is not stepped over. */
inline int rtArgvGetCp(const char **ppsz, RTUNICP *puCp) {
    const unsigned char uch = (unsigned char)**ppsz;
    if (uch < 0x80) {
        *puCp = uch;
        if (uch)
            *ppsz += 1;
        return 0;
    }
    return RTStrGetCpEx(ppsz, puCp);
}

/** Next code point of an argument; false where the argument ends: at the end of the
 *  string (*pfEnded is set) or at a decoding error (*prc holds it). */
inline bool rtArgvNextCp(const char **ppszSrc, RTUNICP *puCp, int *prc, bool *pfEnded) {
    *prc = rtArgvGetCp(ppszSrc, puCp);
    if (RT_FAILURE(*prc))
        return false;
    if (*puCp == 0) {
        *pfEnded = true;
        return false;
    }
    return true;
}

inline char *rtArgvPutCp(char *pszDst, RTUNICP uCp) {
    if (uCp < 0x80) {
        *pszDst = (char)uCp;
        return pszDst + 1;
    }
    return RTStrPutCp(pszDst, uCp);
}

/**
 * One argument by the rules of Windows programs: double quotes group, a doubled
 * double quote inside quotes is a literal one, and backslashes only escape when a
 * run of them ends at a double quote.
 */
int rtArgvParseWindows(const char **ppszSrc, char **ppszDst, const RTARGVSEPS *pSeps, bool *pfEnded) {
    const char *pszSrc = *ppszSrc;
    char *pszDst = *ppszDst;
    bool fInQuotes = false;
    int rc = 0;
    RTUNICP uCp;
    while (rtArgvNextCp(&pszSrc, &uCp, &rc, pfEnded)) {
        if (uCp == '"') {
            if (!fInQuotes)
                fInQuotes = true;
            else if (*pszSrc == '"') {
                *pszDst++ = '"';
                pszSrc++;
            } else
                fInQuotes = false;
        } else if (uCp == '\\') {
            size_t cBackslashes = 1;
            while (*pszSrc == '\\') {
                cBackslashes++;
                pszSrc++;
            }
            if (*pszSrc == '"') {
                for (size_t i = 0; i < cBackslashes / 2; i++)
                    *pszDst++ = '\\';
                if (cBackslashes & 1) {
                    *pszDst++ = '"';
                    pszSrc++;
                }
                // After an even run the double quote is read next and quotes as usual.
            } else {
                for (size_t i = 0; i < cBackslashes; i++)
                    *pszDst++ = '\\';
            }
        } else if (!fInQuotes && rtArgvIsSep(pSeps, uCp))
            break;
        else
            pszDst = rtArgvPutCp(pszDst, uCp);
    }
    *ppszSrc = pszSrc;
    *ppszDst = pszDst;
    return rc;
}

/** One argument by shell rules: single quotes, double quotes and backslash escapes. */
int rtArgvParseShell(const char **ppszSrc, char **ppszDst, const RTARGVSEPS *pSeps, bool *pfEnded) {
    const char *pszSrc = *ppszSrc;
    char *pszDst = *ppszDst;
    RTUNICP uQuote = 0;
    int rc = 0;
    RTUNICP uCp;
    while (rtArgvNextCp(&pszSrc, &uCp, &rc, pfEnded)) {
        if (uQuote == 0) {
            if (uCp == '"' || uCp == '\'')
                uQuote = uCp;
            else if (rtArgvIsSep(pSeps, uCp))
                break;
            else if (uCp == '\\') {
                if (!rtArgvNextCp(&pszSrc, &uCp, &rc, pfEnded))
                    break;
                pszDst = rtArgvPutCp(pszDst, uCp);
            } else
                pszDst = rtArgvPutCp(pszDst, uCp);
        } else if (uCp == uQuote)
            uQuote = 0;
        else if (uCp == '\\' && uQuote == '"') {
            if (!rtArgvNextCp(&pszSrc, &uCp, &rc, pfEnded))
                break;
            // Only the characters that mean something inside double quotes are escaped.
            if (uCp != '"' && uCp != '\\' && uCp != '`' && uCp != '$' && uCp != '\n')
                *pszDst++ = '\\';
            pszDst = rtArgvPutCp(pszDst, uCp);
        } else
            pszDst = rtArgvPutCp(pszDst, uCp);
    }
    *ppszSrc = pszSrc;
    *ppszDst = pszDst;
    return rc;
}

} // namespace

int ArgvFromString(char ***ppapszArgv, int *pcArgs, const char *pszCmdLine, uint32_t fFlags,
                   const char *pszSeparators) {
    *ppapszArgv = nullptr;
    *pcArgs = 0;
    const uint32_t uStyle = fFlags & RTGETOPTARGV_STYLE_MASK;
    if (uStyle > RTGETOPTARGV_STYLE_SHELL || (fFlags & ~(RTGETOPTARGV_STYLE_MASK | RTGETOPTARGV_IN_PLACE)))
        return ERR_INVALID_FLAGS;
    if (!pszSeparators)
        pszSeparators = " \t\n\r";
    else if (!*pszSeparators)
        return ERR_INVALID_PARAMETER;
    RTARGVSEPS Seps;
    int rc = rtArgvInitSeps(&Seps, pszSeparators);
    if (RT_FAILURE(rc))
        return rc;

    const bool fInPlace = (fFlags & RTGETOPTARGV_IN_PLACE) != 0;
    char *pszBuf;
    if (fInPlace)
        pszBuf = (char *)pszCmdLine;
    else {
        size_t cch = 0;
        while (pszCmdLine[cch])
            cch++;
        pszBuf = RTStrAlloc(cch + 1, RTSTR_TAG);
        if (!pszBuf)
            return ERR_NO_STR_MEMORY;
    }

    char **papszArgv = nullptr;
    size_t cArgs = 0;
    const char *pszSrc = pszCmdLine;
    char *pszDst = pszBuf;
    while (*pszSrc) {
        const char *pszArg;
        RTUNICP uCp;
        do {
            pszArg = pszSrc;
            rc = rtArgvGetCp(&pszSrc, &uCp);
        } while (RT_SUCCESS(rc) && uCp != 0 && rtArgvIsSep(&Seps, uCp));
        if (RT_FAILURE(rc) || uCp == 0)
            break;
        pszSrc = pszArg;

        if (cArgs % RTARGV_GROW == 0) {
            char **papszNew = (char **)RTMemRealloc(papszArgv, (cArgs + RTARGV_GROW + 1) * sizeof(char *), RTSTR_TAG);
            if (!papszNew) {
                rc = ERR_NO_MEMORY;
                break;
            }
            papszArgv = papszNew;
        }
        papszArgv[cArgs++] = pszDst;

        bool fEnded = false;
        if (uStyle == RTGETOPTARGV_STYLE_WINDOWS)
            rc = rtArgvParseWindows(&pszSrc, &pszDst, &Seps, &fEnded);
        else
            rc = rtArgvParseShell(&pszSrc, &pszDst, &Seps, &fEnded);
        if (RT_FAILURE(rc))
            break;
        *pszDst++ = '\0';
        if (fEnded)
            break;
    }

    if (RT_SUCCESS(rc) && cArgs == 0) {
        // Nothing but separators: the texts are not needed, an empty vector is.
        if (!fInPlace)
            RTStrFree(pszBuf);
        papszArgv = (char **)RTMemAllocZ(sizeof(char *), RTSTR_TAG);
        if (!papszArgv)
            return ERR_NO_MEMORY;
    } else if (RT_FAILURE(rc)) {
        RTMemFree(papszArgv);
        if (!fInPlace)
            RTStrFree(pszBuf);
        return rc;
    } else
        papszArgv[cArgs] = nullptr;

    *ppapszArgv = papszArgv;
    *pcArgs = (int)cArgs;
    return 0;
}

void ArgvFree(char **papszArgv, bool fInPlace) {
    if (!papszArgv)
        return;
    if (!fInPlace)
        RTStrFree(papszArgv[0]);
    RTMemFree(papszArgv);
}
