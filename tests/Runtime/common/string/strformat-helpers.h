// Shared helpers for the formatter tests: run one format through every buffer
// variant and insist that they agree.
#pragma once

#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/string.h>

#include <cstdarg>
#include <string>

/** Formats through RTStrPrintfV, RTStrPrintf2V and RTStrAPrintfV; any disagreement
 *  between them is reported as a failure, and the common text is returned. Do not
 *  use it for formats with %N: each run consumes the nested argument list. */
inline std::string FmtAll(const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);

    char szBuf[4096];
    va_list va1;
    va_copy(va1, va);
    const size_t cch = RTStrPrintfV(szBuf, sizeof(szBuf), pszFormat, va1);
    va_end(va1);
    std::string str(szBuf, cch);
    EXPECT_EQ(cch, strlen(szBuf)) << "RTStrPrintfV result does not match the stored text";

    char szBuf2[4096];
    va_list va2;
    va_copy(va2, va);
    const ssize_t cch2 = RTStrPrintf2V(szBuf2, sizeof(szBuf2), pszFormat, va2);
    va_end(va2);
    EXPECT_EQ(cch2, (ssize_t)cch) << "RTStrPrintf2V length";
    EXPECT_EQ(std::string(szBuf2), str) << "RTStrPrintf2V text";

    char *psz = nullptr;
    va_list va3;
    va_copy(va3, va);
    const int cch3 = RTStrAPrintfV(&psz, pszFormat, va3, RTSTR_TAG);
    va_end(va3);
    EXPECT_EQ(cch3, (int)cch) << "RTStrAPrintfV length";
    if (psz) {
        EXPECT_EQ(std::string(psz), str) << "RTStrAPrintfV text";
        RTStrFree(psz);
    } else
        ADD_FAILURE() << "RTStrAPrintfV gave no text";

    va_end(va);
    return str;
}

/** Shows bytes above 0x7e as \xNN so that failed comparisons are readable. */
inline std::string Escaped(const std::string &str) {
    std::string strOut;
    for (unsigned char ch : str) {
        if (ch >= 0x20 && ch < 0x7f)
            strOut += (char)ch;
        else {
            char sz[8];
            snprintf(sz, sizeof(sz), "\\x%02x", ch);
            strOut += sz;
        }
    }
    return strOut;
}
