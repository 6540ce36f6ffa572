// String memory, bounded copy and concatenation, comparisons and stripping.
#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/string.h>

#include <cstring>
#include <string>

namespace {

TEST(StrMem, AllocDupAndRealloc) {
    const size_t cBefore = RTMemTestOutstanding();
    char *psz = RTStrAlloc(0, RTSTR_TAG);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "");
    RTStrFree(psz);

    psz = RTStrDupN("abcdef", 3, RTSTR_TAG);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "abc");

    // Growing keeps the text; shrinking cuts it and keeps it terminated.
    ASSERT_EQ(RTStrRealloc(&psz, 64, RTSTR_TAG), 0);
    EXPECT_STREQ(psz, "abc");
    ASSERT_EQ(RTStrRealloc(&psz, 3, RTSTR_TAG), 0);
    EXPECT_STREQ(psz, "ab");

    // A failed resize reports string memory and leaves the old string alone.
    RTMemTestFailNth(1);
    char *pszOld = psz;
    EXPECT_EQ(RTStrRealloc(&psz, 4096, RTSTR_TAG), ERR_NO_STR_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(psz, pszOld);
    EXPECT_STREQ(psz, "ab");

    ASSERT_EQ(RTStrRealloc(&psz, 0, RTSTR_TAG), 0);
    EXPECT_EQ(psz, nullptr);
    ASSERT_EQ(RTStrRealloc(&psz, 5, RTSTR_TAG), 0);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "");
    EXPECT_EQ(psz[4], '\0');
    RTStrFree(psz);
    RTStrFree(nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(StrMem, DupNExReportsStringMemory) {
    const size_t cBefore = RTMemTestOutstanding();
    char *psz = (char *)(uintptr_t)1;
    RTMemTestFailNth(1);
    EXPECT_EQ(RTStrDupNEx(&psz, "text", RTSTR_MAX, RTSTR_TAG), ERR_NO_STR_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(psz, nullptr);
    ASSERT_EQ(RTStrDupNEx(&psz, "text", RTSTR_MAX, RTSTR_TAG), 0);
    EXPECT_STREQ(psz, "text");
    RTStrFree(psz);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(StrUtil, CopyAndCat) {
    struct Case {
        const char *pszInitial; // null: the buffer is filled with 'X' and has no terminator
        size_t cbBuf;
        const char *pszSrc;
        bool fCat;
        int rc;
        const char *pszResult; // null: the buffer must be untouched
    };
    const Case aCases[] = {
        {"", 8, "abc", false, 0, "abc"},
        {"", 4, "abc", false, 0, "abc"},
        {"", 3, "abc", false, ERR_BUFFER_OVERFLOW, "ab"},
        {"", 1, "abc", false, ERR_BUFFER_OVERFLOW, ""},
        {"zz", 0, "abc", false, ERR_BUFFER_OVERFLOW, nullptr},
        {"ab", 8, "cd", true, 0, "abcd"},
        {"ab", 5, "cd", true, 0, "abcd"},
        {"ab", 4, "cd", true, ERR_BUFFER_OVERFLOW, "abc"},
        {"abc", 4, "d", true, ERR_BUFFER_OVERFLOW, "abc"},
        {"ab", 8, "", true, 0, "ab"},
        {nullptr, 8, "cd", true, ERR_INVALID_PARAMETER, nullptr},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << (c.fCat ? "cat " : "copy ") << c.cbBuf << " '" << c.pszSrc << "'");
        char achBuf[16];
        memset(achBuf, 'X', sizeof(achBuf));
        if (c.pszInitial)
            memcpy(achBuf, c.pszInitial, strlen(c.pszInitial) + 1);
        char achBefore[16];
        memcpy(achBefore, achBuf, sizeof(achBuf));
        const int rc = c.fCat ? RTStrCat(achBuf, c.cbBuf, c.pszSrc) : RTStrCopy(achBuf, c.cbBuf, c.pszSrc);
        EXPECT_EQ(rc, c.rc);
        if (c.pszResult)
            EXPECT_STREQ(achBuf, c.pszResult);
        else
            EXPECT_EQ(memcmp(achBuf, achBefore, sizeof(achBuf)), 0);
        // Nothing is ever written behind the buffer size.
        for (size_t i = c.cbBuf; i < sizeof(achBuf); i++)
            EXPECT_EQ(achBuf[i], achBefore[i]) << "byte " << i;
    }
}

int Sign(int i) {
    return i < 0 ? -1 : i > 0 ? 1 : 0;
}

TEST(StrUtil, Cmp) {
    const char *pszSame = "same";
    EXPECT_EQ(RTStrCmp(pszSame, pszSame), 0);
    EXPECT_EQ(RTStrCmp(nullptr, nullptr), 0);
    EXPECT_LT(RTStrCmp(nullptr, ""), 0);
    EXPECT_GT(RTStrCmp("", nullptr), 0);
    const char szAbc[] = "abc"; // a copy, so that the pointers differ
    EXPECT_EQ(RTStrCmp(szAbc, "abc"), 0);
    EXPECT_LT(RTStrCmp("ab", "abc"), 0);
    EXPECT_GT(RTStrCmp("abd", "abc"), 0);
    EXPECT_GT(RTStrCmp("\xc3\xa9", "z"), 0); // bytes compare unsigned
}

TEST(StrUtil, ICmpAscii) {
    struct Case {
        const char *psz1;
        const char *pszAscii;
        int iSign;
    };
    const Case aCases[] = {
        {".MSI", ".msi", 0},
        {".msi", ".MSI", 0},
        {"Setup.Msi", "setup.msi", 0},
        {"", "", 0},
        {"a", "", 1},
        {"", "a", -1},
        {"abc", "ABD", -1},
        {"ABD", "abc", 1},
        {"[", "a", -1}, // '[' lies between the cases: compared as 'a' (0x61) vs 0x5b
        {"a", "[", 1},
        // Non-ASCII code points never match and sort after.
        {"\xc3\xa9", "e", 1},
        {"\xc3\x89", "\xc3\x89x", 1},
        {"x\xe2\x82\xac", "x", 1},
        // Invalid UTF-8: the rest compares byte-wise from the bad byte on.
        {"a\x80", "A\x80", 0},
        {"A\x80", "a\x80", 0},
        {"a\xff", "a\x01", 1},
        {"a\xc3", "a\xc4", -1},
        {"x\xed\xa0\x80", "X\xed\xa0\x80", 0}, // encoded surrogate
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << '"' << c.psz1 << "\" vs \"" << c.pszAscii << '"');
        EXPECT_EQ(Sign(RTStrICmpAscii(c.psz1, c.pszAscii)), c.iSign);
    }
    EXPECT_EQ(RTStrICmpAscii(nullptr, nullptr), 0);
    EXPECT_LT(RTStrICmpAscii(nullptr, "a"), 0);
    EXPECT_GT(RTStrICmpAscii("a", nullptr), 0);
}

TEST(StrUtil, StripL) {
    const char *psz = " \t\n\v\f\rx y";
    EXPECT_EQ(RTStrStripL(psz), psz + 6);
    const char *pszNone = "x ";
    EXPECT_EQ(RTStrStripL(pszNone), pszNone);
    const char *pszAll = "  ";
    EXPECT_EQ(RTStrStripL(pszAll), pszAll + 2);
}

} // namespace
