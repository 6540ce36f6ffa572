// POSIX backend: UTF-8 text in the code set of the current locale.
#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <olma/err.h>
#include <olma/mem.h>
#include <olma/string.h>

namespace {

/** True for the spellings of UTF-8 that C libraries report ("UTF-8", "utf8", ...). */
bool rtUtf8PosixIsUtf8CodeSet(const char *pszCodeSet) {
    static const char s_szUtf8[] = "utf8";
    size_t i = 0;
    for (const char *psz = pszCodeSet; *psz; psz++) {
        char ch = *psz;
        if (ch == '-' || ch == '_')
            continue;
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
        if (i >= sizeof(s_szUtf8) - 1 || ch != s_szUtf8[i])
            return false;
        i++;
    }
    return i == sizeof(s_szUtf8) - 1;
}

/** Length in bytes of the well-formed UTF-8 sequence starting with this lead byte. */
size_t rtUtf8PosixSeqLen(unsigned char uchLead) {
    size_t cb = 1;
    if (uchLead >= 0xc0)
        while (cb < 6 && (uchLead & (0x80u >> cb)))
            cb++;
    return cb;
}

/**
 * Runs iconv over the whole input, growing the output as needed. A character the
 * code set cannot represent becomes the code set's question mark, as the Windows
 * conversion substitutes its default character.
 */
int rtUtf8PosixConvert(iconv_t hIconv, const char *pszIn, size_t cchIn, char **ppszOut) {
    size_t cbBuf = cchIn + 16;
    char *pszBuf = (char *)RTMemTmpAlloc(cbBuf);
    if (!pszBuf)
        return ERR_NO_TMP_MEMORY;
    char *pchIn = (char *)pszIn;
    size_t cbInLeft = cchIn;
    size_t offOut = 0;
    bool fFlushDue = false;
    char szQuestion[] = "?";
    for (;;) {
        char *pchOut = pszBuf + offOut;
        size_t cbOutLeft = cbBuf - offOut - 1; // room for the terminator
        size_t cConv;
        if (cbInLeft)
            cConv = iconv(hIconv, &pchIn, &cbInLeft, &pchOut, &cbOutLeft);
        else
            cConv = iconv(hIconv, nullptr, nullptr, &pchOut, &cbOutLeft); // return to the initial shift state
        const int iErr = cConv == (size_t)-1 ? errno : 0;
        offOut = (size_t)(pchOut - pszBuf);
        if (iErr == 0) {
            if (cbInLeft == 0) {
                if (fFlushDue)
                    break;
                fFlushDue = true;
            }
            continue;
        }
        if (iErr == EILSEQ) {
            char *pchSubst = szQuestion;
            size_t cbSubst = 1;
            if (iconv(hIconv, &pchSubst, &cbSubst, &pchOut, &cbOutLeft) != (size_t)-1) {
                offOut = (size_t)(pchOut - pszBuf);
                const size_t cbSkip = rtUtf8PosixSeqLen((unsigned char)*pchIn);
                pchIn += cbSkip;
                cbInLeft -= cbSkip;
                continue;
            }
            if (errno != E2BIG) {
                RTMemFree(pszBuf);
                return ERR_NO_TRANSLATION;
            }
        } else if (iErr != E2BIG) {
            RTMemFree(pszBuf);
            return RTErrConvertFromErrno(iErr);
        }
        // Out of room: grow and go on where the conversion stopped.
        if (cbBuf > ~(size_t)0 / 2) {
            RTMemFree(pszBuf);
            return ERR_NO_TMP_MEMORY;
        }
        char *pszNew = (char *)RTMemRealloc(pszBuf, cbBuf * 2, RTSTR_TAG);
        if (!pszNew) {
            RTMemFree(pszBuf);
            return ERR_NO_TMP_MEMORY;
        }
        pszBuf = pszNew;
        cbBuf *= 2;
    }
    pszBuf[offOut] = '\0';
    *ppszOut = pszBuf;
    return 0;
}

} // namespace

int RTStrUtf8ToCurrentCP(char **ppszString, const char *pszString, const char *pszTag) {
    *ppszString = nullptr;
    if (!*pszString)
        return RTStrDupNEx(ppszString, pszString, 0, pszTag);

    const char *pszCodeSet = nl_langinfo(CODESET);
    if (!pszCodeSet || !*pszCodeSet || rtUtf8PosixIsUtf8CodeSet(pszCodeSet)) {
        const int rc = RTStrValidateEncodingEx(pszString, RTSTR_MAX, 0);
        if (RT_FAILURE(rc))
            return rc;
        return RTStrDupNEx(ppszString, pszString, RTSTR_MAX, pszTag);
    }

    // The same acceptance as the Windows path, which goes through UTF-16: nothing
    // above U+10FFFF reaches the converter.
    size_t cwc;
    int rc = RTStrCalcUtf16LenEx(pszString, RTSTR_MAX, &cwc);
    if (RT_FAILURE(rc))
        return rc;

    iconv_t hIconv = iconv_open(pszCodeSet, "UTF-8");
    if (hIconv == (iconv_t)-1)
        return RTErrConvertFromErrno(errno);
    size_t cchIn = 0;
    while (pszString[cchIn])
        cchIn++;
    rc = rtUtf8PosixConvert(hIconv, pszString, cchIn, ppszString);
    iconv_close(hIconv);
    return rc;
}
