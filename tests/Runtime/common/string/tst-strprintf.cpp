// Buffer and allocating variants of the formatter, and the number formatter's
// buffer rules.
#include "strformat-helpers.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr char g_chFill = '#';

TEST(StrPrintf, TruncatingBuffer) {
    struct Case {
        const char *pszFormat;
        size_t cbBuf;
        const char *pszExpect; // null: the buffer is left alone
        size_t cchExpect;
    };
    const Case aCases[] = {
        {"hello", 0, nullptr, 0}, {"hello", 1, "", 0},      {"hello", 3, "he", 2},
        {"hello", 5, "hell", 4},  {"hello", 6, "hello", 5}, {"hello", 7, "hello", 5},
        {"", 1, "", 0},           {"%s%s", 5, "abcd", 4}, // cut inside the second piece
        {"%s%s", 4, "abc", 3},                            // cut at the piece boundary
        {"%5s", 3, "  ", 2},                              // padding blanks stop at the end too
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.pszFormat << " into " << c.cbBuf);
        char achBuf[16];
        memset(achBuf, g_chFill, sizeof(achBuf));
        const size_t cch = RTStrPrintf(achBuf, c.cbBuf, c.pszFormat, "abc", "def");
        EXPECT_EQ(cch, c.cchExpect);
        if (!c.pszExpect)
            EXPECT_EQ(achBuf[0], g_chFill);
        else
            EXPECT_STREQ(achBuf, c.pszExpect);
        // Nothing past the buffer is touched.
        for (size_t i = c.cbBuf; i < sizeof(achBuf); i++)
            EXPECT_EQ(achBuf[i], g_chFill) << "byte " << i;
    }
}

TEST(StrPrintf, SizeReportingBuffer) {
    struct Case {
        const char *pszFormat;
        size_t cbBuf;
        const char *pszExpect; // null: the buffer is left alone
        ssize_t cchExpect;
    };
    const Case aCases[] = {
        {"hello", 0, nullptr, -6}, {"hello", 1, "", -6}, {"hello", 5, "hell", -6}, {"hello", 6, "hello", 5},
        {"hello", 16, "hello", 5}, {"", 0, nullptr, -1}, {"", 1, "", 0},           {"%s%s", 4, "abc", -7},
        {"%5s|", 3, "  ", -7},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.pszFormat << " into " << c.cbBuf);
        char achBuf[16];
        memset(achBuf, g_chFill, sizeof(achBuf));
        const ssize_t cch = RTStrPrintf2(achBuf, c.cbBuf, c.pszFormat, "abc", "def");
        EXPECT_EQ(cch, c.cchExpect);
        if (!c.pszExpect)
            EXPECT_EQ(achBuf[0], g_chFill);
        else
            EXPECT_STREQ(achBuf, c.pszExpect);
        for (size_t i = c.cbBuf; i < sizeof(achBuf); i++)
            EXPECT_EQ(achBuf[i], g_chFill) << "byte " << i;
    }
    // Measuring without any buffer: a 0-byte buffer is never written, so it may be null.
    EXPECT_EQ(RTStrPrintf2(nullptr, 0, "%s-%d", "abc", 42), -7);
    EXPECT_EQ(RTStrPrintf(nullptr, 0, "%s-%d", "abc", 42), 0u);
}

TEST(StrPrintf, ExactSizeBuffersUnderAsan) {
    // Heap buffers of the exact size, so that a one-byte overrun is caught.
    for (size_t cb = 0; cb <= 8; cb++) {
        SCOPED_TRACE(cb);
        std::unique_ptr<char[]> pBuf(new char[cb ? cb : 1]);
        const size_t cch = RTStrPrintf(pBuf.get(), cb, "%s-%d", "abc", 42);
        EXPECT_EQ(cch, cb ? std::min<size_t>(cb - 1, 6) : 0);
        const ssize_t cch2 = RTStrPrintf2(pBuf.get(), cb, "%s-%d", "abc", 42);
        EXPECT_EQ(cch2, cb > 6 ? 6 : -7);
        if (cb)
            EXPECT_EQ(std::string(pBuf.get()), std::string("abc-42").substr(0, cb - 1));
    }
}

/** Formats a string argument into new memory and checks the result against the text. */
void CheckAPrintf(const char *pszFormat, const std::string &strArg, const std::string &strExpect) {
    char *psz = (char *)1;
    const size_t cBlocks = RTMemTestOutstanding();
    const int cch = RTStrAPrintf(&psz, pszFormat, strArg.c_str(), strArg.c_str(), strArg.c_str());
    ASSERT_NE(psz, nullptr);
    EXPECT_EQ(cch, (int)strExpect.size());
    EXPECT_TRUE(std::string(psz) == strExpect);
    EXPECT_EQ(RTMemTestOutstanding(), cBlocks + 1);
    RTStrFree(psz);
}

TEST(StrAPrintf, LengthsAroundEveryBufferEdge) {
    // 2047 bytes fit the stack buffer; 2048 need the first growth; a piece larger
    // than the growth step gets a step of its own; many pieces grow step by step.
    for (size_t cch : {0, 1, 2046, 2047, 2048, 2049, 4095, 4096, 5000, 70000}) {
        SCOPED_TRACE(cch);
        const std::string str(cch, 'x');
        CheckAPrintf("%s", str, str);
    }
    const std::string str3000(3000, 'y');
    CheckAPrintf("%s%s%s", str3000, str3000 + str3000 + str3000);
    CheckAPrintf("%s|%4000s|", "ab", "ab|" + std::string(3998, ' ') + "ab|");
    // Padding arrives one blank at a time and grows the buffer step by step.
    CheckAPrintf("%70000s", "ab", std::string(69998, ' ') + "ab");
}

/** Fails each allocation of one call in turn, until the call succeeds. Every
 *  failure must be reported as -1 with a null pointer and nothing left allocated. */
unsigned CountAllocFailures(const char *pszFormat, const std::string &strArg, const std::string &strExpect) {
    const size_t cBlocks = RTMemTestOutstanding();
    for (unsigned n = 1; n < 32; n++) {
        char *psz = (char *)1;
        RTMemTestFailNth(n);
        const int cch = RTStrAPrintf(&psz, pszFormat, strArg.c_str(), strArg.c_str(), strArg.c_str());
        RTMemTestFailNth(0);
        if (cch < 0) {
            EXPECT_EQ(cch, -1);
            EXPECT_EQ(psz, nullptr);
            EXPECT_EQ(RTMemTestOutstanding(), cBlocks) << "leak after failing allocation " << n;
            continue;
        }
        EXPECT_EQ(cch, (int)strExpect.size());
        EXPECT_TRUE(psz && std::string(psz) == strExpect);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocks + 1);
        RTStrFree(psz);
        return n - 1;
    }
    ADD_FAILURE() << "never succeeded";
    return 0;
}

TEST(StrAPrintf, AllocationFailures) {
    struct Case {
        const char *pszFormat;
        size_t cchArg;
        unsigned cExpectFailures; // allocations whose failure fails the call
        const char *pszWhy;
    };
    const Case aCases[] = {
        {"%s", 10, 1, "a short text costs exactly one allocation"},
        {"%s", 2047, 1, "the stack buffer holds 2047 bytes"},
        // First growth; the final shrink of the heap block may fail without harm.
        {"%s", 2048, 1, "one growth, then an optional shrink"},
        // Growth, a second growth by reallocation, then the shrink.
        {"%s%s%s", 3000, 2, "two growths"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhy);
        const std::string strArg(c.cchArg, 'z');
        std::string strExpect = strArg;
        if (strcmp(c.pszFormat, "%s%s%s") == 0)
            strExpect = strArg + strArg + strArg;
        EXPECT_EQ(CountAllocFailures(c.pszFormat, strArg, strExpect), c.cExpectFailures);
    }
}

TEST(StrFormatNumber, FormatterRules) {
    struct Case {
        uint64_t u;
        unsigned uBase;
        int cchWidth, cchPrecision;
        unsigned fFlags;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {0, 10, -1, -1, 0, "0"},
        {0xffffffff, 10, -1, -1, RTSTR_F_VALSIGNED, "-1"},
        {0xffffffff, 10, -1, -1, RTSTR_F_VALSIGNED | RTSTR_F_64BIT, "4294967295"},
        {UINT64_MAX, 10, -1, -1, RTSTR_F_VALSIGNED, "-1"},
        {0x80000000, 10, -1, -1, RTSTR_F_VALSIGNED, "-2147483648"},
        {5, 10, -1, -1, RTSTR_F_VALSIGNED | RTSTR_F_PLUS | RTSTR_F_BLANK, "+5"},
        {5, 10, -1, -1, RTSTR_F_PLUS, "5"},
        {0xabc, 16, -1, -1, RTSTR_F_CAPITAL | RTSTR_F_SPECIAL, "0XABC"},
        {8, 8, 6, -1, RTSTR_F_SPECIAL | RTSTR_F_ZEROPAD, "000010"},
        {5, 2, -1, -1, 0, "101"},
        {1234567, 10, -1, -1, RTSTR_F_THOUSAND_SEP | RTSTR_F_LEFT, "1 234 567"},
        {1234567, 10, 12, -1, RTSTR_F_THOUSAND_SEP | RTSTR_F_LEFT | RTSTR_F_ZEROPAD, "1 234 567   "},
        {1000, 10, -1, -1, RTSTR_F_THOUSAND_SEP, "1 000"},
        {100, 10, -1, -1, RTSTR_F_THOUSAND_SEP, "100"},
        {7, 10, 3, 2, RTSTR_F_VALSIGNED | RTSTR_F_PLUS, " +07"},
        {UINT64_MAX, 2, -1, -1, 0, "111111111111111111111111111111111111111111111111111111111111111"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszExpect);
        // 64 bytes exactly: the formatter's documented need.
        std::unique_ptr<char[]> pBuf(new char[64]);
        const int cch = RTStrFormatNumber(pBuf.get(), (uint32_t)c.u, (uint32_t)(c.u >> 32), c.uBase, c.cchWidth,
                                          c.cchPrecision, c.fFlags);
        EXPECT_STREQ(pBuf.get(), c.pszExpect);
        EXPECT_EQ(cch, (int)strlen(c.pszExpect));
    }
}

/** Decimal digits with a blank between groups of three, from the C library's text. */
std::string Grouped(const std::string &strDigits) {
    std::string str;
    for (size_t i = 0; i < strDigits.size(); i++) {
        if (i > 0 && (strDigits.size() - i) % 3 == 0)
            str += ' ';
        str += strDigits[i];
    }
    return str;
}

TEST(StrFormatNumber, AgreesWithTheCLibraryOnDigits) {
    // Powers of two and ten and their neighbours cross every chunk and pair
    // boundary of the digit loops; a simple generator adds values in between.
    std::vector<uint64_t> aValues = {0, UINT64_MAX, UINT32_MAX, (uint64_t)UINT32_MAX + 1};
    for (int i = 0; i < 64; i++)
        for (int64_t iDelta : {-1, 0, 1})
            aValues.push_back((UINT64_C(1) << i) + (uint64_t)iDelta);
    uint64_t uPow10 = 1;
    for (int i = 0; i < 20; i++, uPow10 *= 10)
        for (int64_t iDelta : {-1, 0, 1})
            aValues.push_back(uPow10 + (uint64_t)iDelta);
    uint64_t uRand = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < 2000; i++) {
        uRand = uRand * 6364136223846793005ULL + 1442695040888963407ULL;
        aValues.push_back(uRand >> (uRand & 63));
    }
    for (uint64_t u : aValues) {
        SCOPED_TRACE(u);
        char szExpect[64], szGot[64];
        snprintf(szExpect, sizeof(szExpect), "%llu", (unsigned long long)u);
        EXPECT_EQ(RTStrFormatU64(szGot, sizeof(szGot), u, 10, -1, -1, 0), (ssize_t)strlen(szExpect));
        EXPECT_STREQ(szGot, szExpect);
        RTStrFormatU64(szGot, sizeof(szGot), u, 10, -1, -1, RTSTR_F_THOUSAND_SEP);
        EXPECT_EQ(std::string(szGot), Grouped(szExpect));
        snprintf(szExpect, sizeof(szExpect), "%lld", (long long)u);
        RTStrFormatU64(szGot, sizeof(szGot), u, 10, -1, -1, RTSTR_F_VALSIGNED);
        EXPECT_STREQ(szGot, szExpect);
        snprintf(szExpect, sizeof(szExpect), "%#llx", (unsigned long long)u);
        RTStrFormatU64(szGot, sizeof(szGot), u, 16, -1, -1, RTSTR_F_SPECIAL);
        EXPECT_STREQ(szGot, u ? szExpect : "0x0");
        snprintf(szExpect, sizeof(szExpect), "%llo", (unsigned long long)u);
        RTStrFormatU64(szGot, sizeof(szGot), u, 8, -1, -1, 0);
        EXPECT_STREQ(szGot, szExpect);
        if (u <= UINT32_MAX) {
            snprintf(szExpect, sizeof(szExpect), "%d", (int)(uint32_t)u);
            RTStrFormatU32(szGot, sizeof(szGot), (uint32_t)u, 10, -1, -1, RTSTR_F_VALSIGNED);
            EXPECT_STREQ(szGot, szExpect);
        }
    }
}

TEST(StrFormatNumber, CallerBuffers) {
    struct Case {
        bool f64;
        uint64_t u;
        unsigned fFlags;
        size_t cbBuf;
        const char *pszExpect; // null: untouched
        ssize_t rcExpect;
    };
    const Case aCases[] = {
        {false, 1234, 0, 5, "1234", 4},
        {false, 1234, 0, 4, "123", ERR_BUFFER_OVERFLOW},
        {false, 1234, 0, 1, "", ERR_BUFFER_OVERFLOW},
        {false, 1234, 0, 0, nullptr, ERR_BUFFER_OVERFLOW},
        {false, 1234, 0, 64, "1234", 4},
        {false, 1234, 0, 100, "1234", 4},
        // The caller's value-size flags are replaced by the function's own.
        {false, 0xffffffff, RTSTR_F_VALSIGNED | RTSTR_F_64BIT, 16, "-1", 2},
        {true, 0xffffffff, RTSTR_F_VALSIGNED | RTSTR_F_32BIT, 16, "4294967295", 10},
        {true, UINT64_MAX, RTSTR_F_VALSIGNED, 16, "-1", 2},
        {true, UINT64_MAX, 0, 20, "1844674407370955161", ERR_BUFFER_OVERFLOW},
        {true, UINT64_MAX, 0, 21, "18446744073709551615", 20},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.u << " into " << c.cbBuf);
        std::vector<char> aBuf(c.cbBuf + 1, g_chFill); // one guard byte
        const ssize_t rc = c.f64 ? RTStrFormatU64(aBuf.data(), c.cbBuf, c.u, 10, -1, -1, c.fFlags)
                                 : RTStrFormatU32(aBuf.data(), c.cbBuf, (uint32_t)c.u, 10, -1, -1, c.fFlags);
        EXPECT_EQ(rc, c.rcExpect);
        if (c.pszExpect)
            EXPECT_STREQ(aBuf.data(), c.pszExpect);
        EXPECT_EQ(aBuf[c.cbBuf], g_chFill);
    }
}

TEST(StrFormatNumber, DoubleBuffers) {
    char achBuf[32];
    memset(achBuf, g_chFill, sizeof(achBuf));
    EXPECT_EQ(RTStrFormatDouble(achBuf, 3, 0.0), 2);
    EXPECT_STREQ(achBuf, "+0");
    EXPECT_EQ(RTStrFormatDouble(achBuf, 2, 0.0), ERR_BUFFER_OVERFLOW);
    EXPECT_STREQ(achBuf, "+");
    memset(achBuf, g_chFill, sizeof(achBuf));
    EXPECT_EQ(RTStrFormatDouble(achBuf, 0, 1.0), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(achBuf[0], g_chFill);
    EXPECT_EQ(RTStrFormatDouble(achBuf, sizeof(achBuf), -2.5), 20);
    EXPECT_STREQ(achBuf, "-1m0x4000000000000^1");
    EXPECT_EQ(RTStrFormatDouble(achBuf, 22, 0.1), 21);
    EXPECT_STREQ(achBuf, "+1m0x999999999999a^-4");
    EXPECT_EQ(RTStrFormatDouble(achBuf, 21, 0.1), ERR_BUFFER_OVERFLOW);
}

} // namespace
