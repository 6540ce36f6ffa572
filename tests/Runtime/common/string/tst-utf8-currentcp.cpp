// UTF-8 to the current code page (Windows) or the locale's code set (POSIX).
#include "utf-test-util.h"

#include <olma/string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <clocale>
#endif

namespace {

using namespace std::string_literals;

struct CpCase {
    std::string in;
    int rc;
    std::string out;
};

void CheckCpCases(std::initializer_list<CpCase> aCases) {
    for (const CpCase &c : aCases) {
        SCOPED_TRACE(HexBytes(c.in));
        const size_t cBefore = RTMemTestOutstanding();
        char *psz = (char *)&cBefore; // always overwritten
        EXPECT_EQ(RTStrUtf8ToCurrentCP(&psz, c.in.c_str(), RTSTR_TAG), c.rc);
        if (c.rc == 0) {
            ASSERT_NE(psz, nullptr);
            EXPECT_EQ(HexBytes(psz), HexBytes(c.out));
        } else
            EXPECT_EQ(psz, nullptr);
        RTStrFree(psz);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
}

int ConvertAndFree(const char *pszIn) {
    char *psz = nullptr;
    int rc = RTStrUtf8ToCurrentCP(&psz, pszIn, RTSTR_TAG);
    EXPECT_EQ(rc != 0, psz == nullptr);
    RTStrFree(psz);
    return rc;
}

#if defined(_WIN32)

TEST(Utf8ToCurrentCP, AnsiCodePage1252) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "ANSI code page is " << GetACP();
    CheckCpCases({
        {"", 0, ""},
        {"plain", 0, "plain"},
        {"caf\xc3\xa9", 0, "caf\xe9"},
        {"\xe2\x82\xac", 0, "\x80"},
        {"\xe4\xb8\xad", 0, "?"}, // no mapping: the code page's default character
        {"\xf4\x90\x80\x80", ERR_CODE_POINT_OUT_OF_RANGE, ""},
        {"\xc0\x80", ERR_INVALID_UTF8_ENCODING, ""},
        {"\xed\xa0\x80", ERR_CODE_POINT_SURROGATE, ""},
    });
}

TEST(Utf8ToCurrentCP, AllocationFailures) {
    if (GetACP() == CP_UTF8)
        GTEST_SKIP() << "ANSI code page is UTF-8";
    // The UTF-16 copy first, then the result.
    ExpectEachAllocationFailure([] { return ConvertAndFree("caf\xc3\xa9"); }, {ERR_NO_UTF16_MEMORY, ERR_NO_TMP_MEMORY});
    ExpectEachAllocationFailure([] { return ConvertAndFree(""); }, {ERR_NO_STR_MEMORY});
}

#else

/** Switches LC_CTYPE for one test and puts the previous setting back. */
class LocaleFixture : public testing::Test {
protected:
    void SetUp() override { m_strSaved = setlocale(LC_CTYPE, nullptr); }
    void TearDown() override { setlocale(LC_CTYPE, m_strSaved.c_str()); }
    bool Use(const char *pszLocale) { return setlocale(LC_CTYPE, pszLocale) != nullptr; }

private:
    std::string m_strSaved;
};

using Utf8ToCurrentCP = LocaleFixture;

TEST_F(Utf8ToCurrentCP, Utf8CodeSetCopiesValidText) {
    if (!Use("C.UTF-8") && !Use("C.utf8"))
        GTEST_SKIP() << "no UTF-8 locale";
    CheckCpCases({
        {"", 0, ""},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", 0, "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {"\xf8\x88\x80\x80\x80", 0, "\xf8\x88\x80\x80\x80"},
        {"ok\xc0\x80", ERR_INVALID_UTF8_ENCODING, ""},
        {"\xef\xbf\xbe", ERR_INVALID_CODE_POINT, ""},
    });
    ExpectEachAllocationFailure([] { return ConvertAndFree("caf\xc3\xa9"); }, {ERR_NO_STR_MEMORY});
}

TEST_F(Utf8ToCurrentCP, AsciiCodeSetSubstitutesTheUnrepresentable) {
    ASSERT_TRUE(Use("C"));
    std::string strLong;
    for (int i = 0; i < 1000; i++)
        strLong += "\xc3\xa9x";
    std::string strLongOut;
    for (int i = 0; i < 1000; i++)
        strLongOut += "?x";
    CheckCpCases({
        {"", 0, ""},
        {"plain text", 0, "plain text"},
        {"a\xc3\xa9"
         "b",
         0, "a?b"},
        {"\xf0\x9f\x98\x80\xe2\x82\xac", 0, "??"},
        {strLong, 0, strLongOut},
        {"\xf4\x90\x80\x80", ERR_CODE_POINT_OUT_OF_RANGE, ""},
        {"\xc0\x80", ERR_INVALID_UTF8_ENCODING, ""},
    });
    ExpectEachAllocationFailure([] { return ConvertAndFree("caf\xc3\xa9"); }, {ERR_NO_TMP_MEMORY});
    ExpectEachAllocationFailure([] { return ConvertAndFree(""); }, {ERR_NO_STR_MEMORY});
}

#endif

} // namespace
