// Status texts: the table lookup and the rendered names, messages and fallbacks.
#include <gtest/gtest.h>
#include <olma/err.h>

#include <string>
#include <vector>

namespace {

struct Code {
    int iValue;
    const char *pszName;
    const char *pszMsg;
};

#define OLMA_ERR(name, value, msg) {value, #name, msg},
const Code g_aCodes[] = {
#include <olma/err-list.h>
};
#undef OLMA_ERR

size_t AppendOutput(void *pvArg, const char *pach, size_t cb) {
    if (pach)
        ((std::string *)pvArg)->append(pach, cb);
    return cb;
}

using PFNLOOKUP = size_t (*)(int, PFNRTSTROUTPUT, void *, char *, size_t);

std::string Render(PFNLOOKUP pfn, int rc) {
    std::string str;
    char szTmp[80];
    const size_t cch = pfn(rc, AppendOutput, &str, szTmp, sizeof(szTmp));
    EXPECT_EQ(cch, str.size()) << "the result is the sum of the callback's counts";
    return str;
}

TEST(ErrMsg, LookupFindsEveryCode) {
    const int cCodes = (int)(sizeof(g_aCodes) / sizeof(g_aCodes[0]));
    for (int i = 0; i < cCodes; i++) {
        SCOPED_TRACE(g_aCodes[i].pszName);
        EXPECT_EQ(RTErrLookup(g_aCodes[i].iValue), i);
        EXPECT_EQ(Render(RTErrFormatDefine, g_aCodes[i].iValue), g_aCodes[i].pszName);
        EXPECT_EQ(Render(RTErrFormatMsg, g_aCodes[i].iValue), g_aCodes[i].pszMsg);
        // Values between two entries, below the first and above the last are not found.
        if (i == 0 || g_aCodes[i - 1].iValue + 1 < g_aCodes[i].iValue)
            EXPECT_EQ(RTErrLookup(g_aCodes[i].iValue - 1), -1);
        if (i + 1 == cCodes || g_aCodes[i].iValue + 1 < g_aCodes[i + 1].iValue)
            EXPECT_EQ(RTErrLookup(g_aCodes[i].iValue + 1), -1);
    }
    EXPECT_EQ(RTErrLookup(INT32_MIN), -1);
    EXPECT_EQ(RTErrLookup(INT32_MAX), -1);
}

TEST(ErrMsg, StatusTexts) {
    struct Case {
        PFNLOOKUP pfn;
        int rc;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {RTErrFormatDefine, ERR_BUFFER_OVERFLOW, "ERR_BUFFER_OVERFLOW"},
        {RTErrFormatMsg, ERR_BUFFER_OVERFLOW, "The caller's output buffer is too small"},
        {RTErrFormatAll, ERR_BUFFER_OVERFLOW, "ERR_BUFFER_OVERFLOW (-41) - The caller's output buffer is too small"},
        {RTErrFormatAll, INF_SUCCESS, "INF_SUCCESS (0) - Success"},
        {RTErrFormatDefine, -12345, "-12345"},
        {RTErrFormatMsg, -12345, "Unknown Status -12345 (0xffffcfc7)"},
        {RTErrFormatAll, -12345, "Unknown Status -12345 (0xffffcfc7)"},
        {RTErrFormatMsg, 12345, "Unknown Status 12345 (0x3039)"},
        {RTErrFormatDefine, INT32_MIN, "-2147483648"},
        {RTErrFormatMsg, INT32_MIN, "Unknown Status -2147483648 (0x80000000)"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszExpect);
        EXPECT_EQ(Render(c.pfn, c.rc), c.pszExpect);
    }
}

TEST(ErrMsg, WindowsErrorTexts) {
    struct Case {
        uint32_t uWin;
        const char *pszDefine;
        const char *pszAll;
    };
    const Case aCases[] = {
        {0, "ERROR_SUCCESS", "ERROR_SUCCESS (0x0)"},
        {5, "0x5", "Unknown Status 0x5"},
        // A named error wrapped as a facility-7 result value.
        {0x80070000, "ERROR_SUCCESS/0x80070000", "ERROR_SUCCESS (0x80070000)"},
        {0x00070000, "ERROR_SUCCESS/0x70000", "ERROR_SUCCESS (0x70000)"},
        {0xe0070000, "ERROR_SUCCESS/0xe0070000", "ERROR_SUCCESS (0xe0070000)"},
        {0x80070005, "0x80070005", "Unknown Status 0x80070005"},
        {0x80080000, "0x80080000", "Unknown Status 0x80080000"},
        {0x10000, "0x10000", "Unknown Status 0x10000"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszDefine);
        EXPECT_EQ(Render(RTErrWinFormatDefine, (int)c.uWin), c.pszDefine);
        EXPECT_EQ(Render(RTErrWinFormatAll, (int)c.uWin), c.pszAll);
    }
}

TEST(ErrMsg, SmallScratchBufferIsNotOverrun) {
    // A scratch buffer too small for the number prints what fits.
    std::string str;
    std::vector<char> aTmp(5, '#');
    RTErrFormatMsg(-12345, AppendOutput, &str, aTmp.data(), 4);
    EXPECT_EQ(str, "Unknown Status -12 (0xf)");
    EXPECT_EQ(aTmp[4], '#');
}

} // namespace
