// UTF-8 validation, lengths, conversions to UTF-16 and code points, and stepping.
#include "utf-test-util.h"

#include <olma/string.h>
#include <olma/utf16.h>

namespace {

using namespace std::string_literals;

/** One byte sequence judged by the validator (code points) and by the UTF-16 measure. */
struct EncodingCase {
    std::string bytes;
    int rcValidate;
    size_t cCps;
    int rcUtf16;
    size_t cwc;
};

const EncodingCase g_aEncodingCases[] = {
    {"", 0, 0, 0, 0},
    {"abc", 0, 3, 0, 3},
    {"\xc3\xa9", 0, 1, 0, 1},
    {"\xdf\xbf", 0, 1, 0, 1},
    {"\xe2\x82\xac", 0, 1, 0, 1},
    {"\xef\xbf\xbd", 0, 1, 0, 1},
    {"\xf0\x9f\x98\x80", 0, 1, 0, 2},
    {"\xf4\x8f\xbf\xbf", 0, 1, 0, 2},
    {"a\xc3\xa9z\xf0\x9f\x98\x80!", 0, 5, 0, 6},
    // Beyond UTF-16: accepted as text, refused for UTF-16.
    {"\xf4\x90\x80\x80", 0, 1, ERR_CODE_POINT_OUT_OF_RANGE, 0},
    {"\xf7\xbf\xbf\xbf", 0, 1, ERR_CODE_POINT_OUT_OF_RANGE, 0},
    {"\xf8\x88\x80\x80\x80", 0, 1, ERR_CODE_POINT_OUT_OF_RANGE, 0},
    {"\xfc\x84\x80\x80\x80\x80", 0, 1, ERR_CODE_POINT_OUT_OF_RANGE, 0},
    {"\xfd\xbf\xbf\xbf\xbf\xbf", 0, 1, ERR_CODE_POINT_OUT_OF_RANGE, 0},
    // Overlong forms of every length.
    {"\xc0\x80", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xc1\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xe0\x9f\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xf0\x8f\xbf\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xf8\x80\x80\x80\x80", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xfc\x83\xbf\xbf\xbf\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    // Surrogates and the two non-characters.
    {"\xed\xa0\x80", ERR_CODE_POINT_SURROGATE, 0, ERR_CODE_POINT_SURROGATE, 0},
    {"\xed\xbf\xbf", ERR_CODE_POINT_SURROGATE, 0, ERR_CODE_POINT_SURROGATE, 0},
    {"\xef\xbf\xbe", ERR_INVALID_CODE_POINT, 0, ERR_INVALID_CODE_POINT, 0},
    {"\xef\xbf\xbf", ERR_INVALID_CODE_POINT, 0, ERR_INVALID_CODE_POINT, 0},
    // Bad lead bytes, bad continuations, sequences cut short.
    {"\x80", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"a\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xfe", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xff", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xc3", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"ab\xe2\x82", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xf0\x9f\x98", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xfd\xbf\xbf\xbf\xbf", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xc3\x41", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xe2\x28\xa1", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xf8\x88\x80\x41\x80", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
    {"\xc3\xa9\xc3", ERR_INVALID_UTF8_ENCODING, 0, ERR_INVALID_UTF8_ENCODING, 0},
};

TEST(Utf8Encoding, BoundedScansStopAtTheBound) {
    // Exact heap copies without a terminator: any read past the bound is an ASan error.
    for (const EncodingCase &c : g_aEncodingCases) {
        SCOPED_TRACE(HexBytes(c.bytes));
        ExactBuffer<char> buf(c.bytes);
        EXPECT_EQ(RTStrValidateEncodingEx(buf.get(), buf.size(), 0), c.rcValidate);

        size_t cwc = 12345;
        EXPECT_EQ(RTStrCalcUtf16LenEx(buf.get(), buf.size(), &cwc), c.rcUtf16);
        EXPECT_EQ(cwc, c.rcUtf16 == 0 ? c.cwc : ~(size_t)0);

        RTUTF16 *pwsz = (RTUTF16 *)&cwc; // must be replaced: no buffer size was given
        size_t cwcOut = 0;
        EXPECT_EQ(RTStrToUtf16Ex(buf.get(), buf.size(), &pwsz, 0, &cwcOut, RTSTR_TAG), c.rcUtf16);
        if (c.rcUtf16 == 0) {
            ASSERT_NE(pwsz, nullptr);
            EXPECT_EQ(cwcOut, c.cwc);
            EXPECT_EQ(RTUtf16Len(pwsz), c.cwc);
            RTUtf16Free(pwsz);
        } else
            EXPECT_EQ(pwsz, nullptr);

        RTUNICP *paCps = nullptr;
        size_t cCps = 0;
        EXPECT_EQ(RTStrToUniEx(buf.get(), buf.size(), &paCps, 0, &cCps), c.rcValidate);
        if (c.rcValidate == 0) {
            ASSERT_NE(paCps, nullptr);
            EXPECT_EQ(cCps, c.cCps);
            EXPECT_EQ(paCps[cCps], 0u);
            RTMemFree(paCps);
        } else
            EXPECT_EQ(paCps, nullptr);
    }
}

TEST(Utf8Encoding, TerminatedScansAgreeWithBoundedOnes) {
    for (const EncodingCase &c : g_aEncodingCases) {
        SCOPED_TRACE(HexBytes(c.bytes));
        const std::string str = c.bytes; // std::string keeps a terminator after the bytes
        EXPECT_EQ(RTStrValidateEncodingEx(str.c_str(), RTSTR_MAX, 0), c.rcValidate);
        EXPECT_EQ(RTStrValidateEncodingEx(str.c_str(), RTSTR_MAX, RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED),
                  c.rcValidate);
        EXPECT_EQ(RTStrUniLen(str.c_str()), c.rcValidate == 0 ? c.cCps : 0);
        size_t cwc = 0;
        EXPECT_EQ(RTStrCalcUtf16LenEx(str.c_str(), RTSTR_MAX, &cwc), c.rcUtf16);
        RTUTF16 *pwsz = nullptr;
        EXPECT_EQ(RTStrToUtf16(str.c_str(), &pwsz, RTSTR_TAG), c.rcUtf16);
        EXPECT_EQ(pwsz == nullptr, c.rcUtf16 != 0);
        RTUtf16Free(pwsz);
    }
}

TEST(Utf8Encoding, ValidationFlags) {
    struct Case {
        std::string bytes; // exactly the buffer; a terminator only where listed
        size_t cch;
        uint32_t fFlags;
        int rc;
    };
    const Case aCases[] = {
        {"ab\0"s, 3, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH, ERR_BUFFER_UNDERFLOW},
        {"ab\0"s, 3, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH | RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED, 0},
        {"ab", 2, RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED, ERR_BUFFER_OVERFLOW},
        {"ab", 2, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH, 0},
        {"ab", 2, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH | RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED, ERR_BUFFER_OVERFLOW},
        {"ab", 2, 0, 0},
        {"ab", 1, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH, 0},
        {"ab\0x"s, 4, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH | RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED,
         ERR_BUFFER_UNDERFLOW},
        {"a\0b"s, 3, RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED, 0},
        {"ab\0"s, RTSTR_MAX, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH, ERR_BUFFER_UNDERFLOW},
        {"ab\0"s, RTSTR_MAX, RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED, 0},
        // A 0 byte ends the text even inside the bound: what follows is not looked at.
        {"a\0\xff"s, 3, 0, 0},
        // Bad encoding is reported before any length rule.
        {"\xc0\x80\0"s, 3, RTSTR_VALIDATE_ENCODING_EXACT_LENGTH | RTSTR_VALIDATE_ENCODING_ZERO_TERMINATED,
         ERR_INVALID_UTF8_ENCODING},
        {"\xc3\xa9", 1, 0, ERR_INVALID_UTF8_ENCODING},
        {"ab\0"s, 3, 4, ERR_INVALID_PARAMETER},
        {"ab\0"s, 3, 0x80000000, ERR_INVALID_PARAMETER},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << HexBytes(c.bytes) << " bound " << c.cch << " flags " << c.fFlags);
        ExactBuffer<char> buf(c.bytes);
        EXPECT_EQ(RTStrValidateEncodingEx(buf.get(), c.cch, c.fFlags), c.rc);
    }
}

TEST(Utf8ToUtf16, ConvertsWithinTheBound) {
    struct Case {
        std::string bytes;
        size_t cch;
        std::u16string expected;
    };
    const Case aCases[] = {
        {"abc", 3, u"abc"},
        {"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 10, u"a\u00e9\u20ac\U0001F600"},
        {"\xf4\x8f\xbf\xbf", 4, u"\U0010FFFF"},
        {"\xdf\xbf\xe0\xa0\x80", 5, u"\u07ff\u0800"},
        {"abcdef", 3, u"abc"},
        {"ab\0cd"s, 5, u"ab"},
        {"abc", 0, u""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << HexBytes(c.bytes) << " bound " << c.cch);
        ExactBuffer<char> buf(c.bytes);
        RTUTF16 *pwsz = nullptr;
        size_t cwc = 0;
        ASSERT_EQ(RTStrToUtf16Ex(buf.get(), c.cch, &pwsz, 0, &cwc, RTSTR_TAG), 0);
        EXPECT_EQ(cwc, c.expected.size());
        EXPECT_EQ(std::u16string(pwsz), c.expected);
        RTUtf16Free(pwsz);
    }
}

TEST(Utf8ToUtf16, CallersBuffer) {
    const char *psz = "a\xf0\x9f\x98\x80"; // 3 units
    struct Case {
        size_t cwcBuf;
        int rc;
    };
    const Case aCases[] = {{4, 0}, {8, 0}, {3, ERR_BUFFER_OVERFLOW}, {1, ERR_BUFFER_OVERFLOW}};
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.cwcBuf);
        std::vector<RTUTF16> buf(c.cwcBuf, 0xaaaa);
        RTUTF16 *pwsz = buf.data();
        size_t cwc = 0;
        EXPECT_EQ(RTStrToUtf16Ex(psz, RTSTR_MAX, &pwsz, buf.size(), &cwc, RTSTR_TAG), c.rc);
        EXPECT_EQ(pwsz, buf.data());
        EXPECT_EQ(cwc, 3u); // reported in both cases, so a caller can size a retry
        if (c.rc == 0) {
            EXPECT_EQ(std::u16string(pwsz), u"a\U0001F600");
            for (size_t i = 4; i < buf.size(); i++)
                EXPECT_EQ(buf[i], 0xaaaa) << i;
        } else {
            for (size_t i = 0; i < buf.size(); i++)
                EXPECT_EQ(buf[i], 0xaaaa) << i; // refused before anything was written
        }
    }
}

TEST(Utf8ToUtf16, AllocatesAtLeastTheRequestedUnits) {
    // With a null pointer the size is a minimum: the caller may append to the result.
    RTUTF16 *pwsz = nullptr;
    ASSERT_EQ(RTStrToUtf16Ex("ab", RTSTR_MAX, &pwsz, 16, nullptr, RTSTR_TAG), 0);
    ASSERT_NE(pwsz, nullptr);
    EXPECT_EQ(std::u16string(pwsz), u"ab");
    for (size_t i = 3; i < 16; i++)
        pwsz[i] = u'x'; // ASan catches an allocation of less than 16 units
    RTUtf16Free(pwsz);

    // Units far beyond what memory can hold are a memory failure, not a wrapped size.
    pwsz = nullptr;
    EXPECT_EQ(RTStrToUtf16Ex("ab", RTSTR_MAX, &pwsz, ~(size_t)0 / 2 + 1, nullptr, RTSTR_TAG), ERR_NO_UTF16_MEMORY);
    EXPECT_EQ(pwsz, nullptr);
}

TEST(Utf8ToUni, ConvertsAndChecksTheCallersBuffer) {
    struct Case {
        std::string bytes;
        std::vector<RTUNICP> expected;
    };
    const Case aCases[] = {
        {"", {}},
        {"a\xc3\xa9\xf0\x9f\x98\x80", {0x61, 0xe9, 0x1f600}},
        {"\xf4\x90\x80\x80", {0x110000}},
        {"\xf8\x88\x80\x80\x80", {0x200000}},
        {"\xfd\xbf\xbf\xbf\xbf\xbf", {0x7fffffff}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(HexBytes(c.bytes));
        ExactBuffer<char> src(c.bytes);
        std::vector<RTUNICP> expected = c.expected;
        expected.push_back(0);

        RTUNICP *paCps = nullptr;
        size_t cCps = 99;
        ASSERT_EQ(RTStrToUniEx(src.get(), src.size(), &paCps, 0, &cCps), 0);
        EXPECT_EQ(cCps, c.expected.size());
        EXPECT_EQ(std::vector<RTUNICP>(paCps, paCps + cCps + 1), expected);
        RTMemFree(paCps);

        std::vector<RTUNICP> exact(expected.size(), 0xdeadbeef);
        paCps = exact.data();
        EXPECT_EQ(RTStrToUniEx(src.get(), src.size(), &paCps, exact.size(), nullptr), 0);
        EXPECT_EQ(exact, expected);

        if (!c.expected.empty()) {
            std::vector<RTUNICP> small(expected.size() - 1, 0xdeadbeef);
            paCps = small.data();
            EXPECT_EQ(RTStrToUniEx(src.get(), src.size(), &paCps, small.size(), nullptr), ERR_BUFFER_OVERFLOW);
            EXPECT_EQ(small, std::vector<RTUNICP>(small.size(), 0xdeadbeef));
        }
    }
}

TEST(Utf8Memory, EveryAllocationFailureIsReportedByKind) {
    ExpectEachAllocationFailure(
        [] {
            RTUTF16 *pwsz = nullptr;
            int rc = RTStrToUtf16("h\xc3\xa9llo", &pwsz, RTSTR_TAG);
            EXPECT_EQ(rc != 0, pwsz == nullptr);
            RTUtf16Free(pwsz);
            return rc;
        },
        {ERR_NO_UTF16_MEMORY});
    ExpectEachAllocationFailure(
        [] {
            RTUTF16 *pwsz = nullptr;
            int rc = RTStrToUtf16Ex("h\xc3\xa9llo", 3, &pwsz, 0, nullptr, RTSTR_TAG);
            EXPECT_EQ(rc != 0, pwsz == nullptr);
            RTUtf16Free(pwsz);
            return rc;
        },
        {ERR_NO_UTF16_MEMORY});
    ExpectEachAllocationFailure(
        [] {
            RTUNICP *paCps = nullptr;
            int rc = RTStrToUniEx("h\xc3\xa9llo", RTSTR_MAX, &paCps, 0, nullptr);
            EXPECT_EQ(rc != 0, paCps == nullptr);
            RTMemFree(paCps);
            return rc;
        },
        {ERR_NO_CODE_POINT_MEMORY});
}

TEST(Utf8Conversions, LargeMixedTextRoundTrips) {
    // Several MiB of every sequence length, through UTF-16 and back, bounded and not.
    const std::string piece = "plain ASCII, caf\xc3\xa9, \xe2\x82\xac"
                              "5, \xf0\x9f\x98\x80\xf4\x8f\xbf\xbf;";
    std::string text;
    while (text.size() < 4 * 1024 * 1024)
        text += piece;
    ExactBuffer<char> src(text);

    RTUTF16 *pwsz = nullptr;
    size_t cwc = 0;
    ASSERT_EQ(RTStrToUtf16Ex(src.get(), src.size(), &pwsz, 0, &cwc, RTSTR_TAG), 0);
    EXPECT_EQ(cwc, RTUtf16Len(pwsz));

    char *psz = nullptr;
    size_t cch = 0;
    ASSERT_EQ(RTUtf16ToUtf8Ex(pwsz, cwc, &psz, 0, &cch, RTSTR_TAG), 0);
    EXPECT_EQ(cch, text.size());
    EXPECT_TRUE(std::string(psz) == text);
    RTStrFree(psz);
    RTUtf16Free(pwsz);

    // One bad byte at the very end still fails the whole text, with nothing allocated.
    text.back() = '\xff';
    const size_t cBefore = RTMemTestOutstanding();
    pwsz = nullptr;
    EXPECT_EQ(RTStrToUtf16(text.c_str(), &pwsz, RTSTR_TAG), ERR_INVALID_UTF8_ENCODING);
    EXPECT_EQ(pwsz, nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(Utf8Stepping, GetCpFromTerminatedText) {
    struct Case {
        std::string bytes;
        int rc;
        RTUNICP uCp;
        size_t cbAdvance;
    };
    const Case aCases[] = {
        {"a", 0, 'a', 1},
        {"", 0, 0, 1},
        {"\x7f", 0, 0x7f, 1},
        {"\xc3\xa9z", 0, 0xe9, 2},
        {"\xef\xbf\xbd", 0, 0xfffd, 3},
        {"\xf0\x9f\x98\x80", 0, 0x1f600, 4},
        {"\xf4\x90\x80\x80", 0, 0x110000, 4},
        {"\xf8\x88\x80\x80\x80", 0, 0x200000, 5},
        {"\xfd\xbf\xbf\xbf\xbf\xbf", 0, 0x7fffffff, 6},
        {"\xc0\x80", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xf8\x80\x80\x80\x80", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xed\xa0\x80", ERR_CODE_POINT_SURROGATE, RTUNICP_INVALID, 1},
        {"\xef\xbf\xbe", ERR_INVALID_CODE_POINT, RTUNICP_INVALID, 1},
        {"\x80z", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xff", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        // The terminator is not a continuation byte: decoding stops there.
        {"\xc3", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xe2\x82", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xfd\xbf\xbf\xbf\xbf", ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(HexBytes(c.bytes));
        ExactBuffer<char> buf(c.bytes + '\0'); // the terminator is the last byte there is
        const char *psz = buf.get();
        RTUNICP uCp = 12345;
        EXPECT_EQ(RTStrGetCpEx(&psz, &uCp), c.rc);
        EXPECT_EQ(uCp, c.uCp);
        EXPECT_EQ(psz - buf.get(), (ptrdiff_t)c.cbAdvance);
        EXPECT_EQ(RTStrGetCp(buf.get()), c.uCp);
    }
}

TEST(Utf8Stepping, GetCpWithinABound) {
    struct Case {
        std::string bytes; // the whole buffer, unterminated
        size_t cch;
        int rc;
        RTUNICP uCp;
        size_t cbAdvance;
    };
    const Case aCases[] = {
        {"", 0, ERR_END_OF_STRING, RTUNICP_INVALID, 0},
        {"ab", 0, ERR_END_OF_STRING, RTUNICP_INVALID, 0},
        {"ab", 2, 0, 'a', 1},
        {"\xc3\xa9", 2, 0, 0xe9, 2},
        {"\xc3\xa9", 1, ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xf0\x9f\x98\x80", 3, ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xfd\xbf\xbf\xbf\xbf\xbf", 6, 0, 0x7fffffff, 6},
        {"\xfd\xbf\xbf\xbf\xbf\xbf", 5, ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID, 1},
        {"\xef\xbf\xbe", 3, ERR_INVALID_CODE_POINT, RTUNICP_INVALID, 1},
        {"\xed\xbf\xbf", 3, ERR_CODE_POINT_SURROGATE, RTUNICP_INVALID, 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << HexBytes(c.bytes) << " bound " << c.cch);
        ExactBuffer<char> buf(c.bytes);
        const char *psz = buf.get();
        size_t cch = c.cch;
        RTUNICP uCp = 12345;
        EXPECT_EQ(RTStrGetCpNEx(&psz, &cch, &uCp), c.rc);
        EXPECT_EQ(uCp, c.uCp);
        EXPECT_EQ(psz - buf.get(), (ptrdiff_t)c.cbAdvance);
        EXPECT_EQ(cch, c.cch - c.cbAdvance);
    }
}

TEST(Utf8Stepping, BoundedWalkResynchronisesAfterABadByte) {
    ExactBuffer<char> buf(std::string("a\xc3\xa9\x80z\xe2\x82"));
    const char *psz = buf.get();
    size_t cch = buf.size();
    struct Step {
        int rc;
        RTUNICP uCp;
    };
    const Step aSteps[] = {
        {0, 'a'},
        {0, 0xe9},
        {ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID},
        {0, 'z'},
        {ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID}, // e2 82 cut by the bound
        {ERR_INVALID_UTF8_ENCODING, RTUNICP_INVALID}, // the lone 82
        {ERR_END_OF_STRING, RTUNICP_INVALID},
        {ERR_END_OF_STRING, RTUNICP_INVALID},
    };
    for (size_t i = 0; i < RT_ELEMENTS(aSteps); i++) {
        SCOPED_TRACE(i);
        RTUNICP uCp = 0;
        EXPECT_EQ(RTStrGetCpNEx(&psz, &cch, &uCp), aSteps[i].rc);
        EXPECT_EQ(uCp, aSteps[i].uCp);
    }
    EXPECT_EQ(psz, buf.get() + buf.size());
    EXPECT_EQ(cch, 0u);
}

TEST(Utf8Stepping, PutCpEncodesEveryLength) {
    struct Case {
        RTUNICP uCp;
        std::string bytes;
    };
    const Case aCases[] = {
        {0, "\0"s},
        {0x7f, "\x7f"},
        {0x80, "\xc2\x80"},
        {0x7ff, "\xdf\xbf"},
        {0x800, "\xe0\xa0\x80"},
        {0xd800, "\xed\xa0\x80"}, // surrogates are written like anything else
        {0xffff, "\xef\xbf\xbf"},
        {0x10000, "\xf0\x90\x80\x80"},
        {0x10ffff, "\xf4\x8f\xbf\xbf"},
        {0x110000, "\xf4\x90\x80\x80"},
        {0x1fffff, "\xf7\xbf\xbf\xbf"},
        {0x200000, "\xf8\x88\x80\x80\x80"},
        {0x3ffffff, "\xfb\xbf\xbf\xbf\xbf"},
        {0x4000000, "\xfc\x84\x80\x80\x80\x80"},
        {0x7fffffff, "\xfd\xbf\xbf\xbf\xbf\xbf"},
        {0x80000000, "\x7f"},
        {0xffffffff, "\x7f"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.uCp);
        char sz[8];
        std::memset(sz, 0x55, sizeof(sz));
        char *pszEnd = RTStrPutCp(sz, c.uCp);
        EXPECT_EQ(HexBytes(std::string(sz, pszEnd - sz)), HexBytes(c.bytes));
        EXPECT_EQ(sz[c.bytes.size()], 0x55);
    }
}

TEST(Utf8Stepping, PutCpAndGetCpRoundTrip) {
    // Every value the decoder accepts comes back unchanged, across all lengths.
    for (uint64_t u = 1; u <= 0x7fffffff; u = u * 3 / 2 + 1) {
        const RTUNICP uCp = (RTUNICP)u;
        if ((uCp >= 0xd800 && uCp <= 0xdfff) || uCp == 0xfffe || uCp == 0xffff)
            continue;
        SCOPED_TRACE(testing::Message() << std::hex << uCp);
        char sz[8] = {};
        char *pszEnd = RTStrPutCp(sz, uCp);
        const char *psz = sz;
        RTUNICP uCpBack = 0;
        EXPECT_EQ(RTStrGetCpEx(&psz, &uCpBack), 0);
        EXPECT_EQ(uCpBack, uCp);
        EXPECT_EQ(psz, pszEnd);
    }
}

TEST(Utf8Stepping, PrevCp) {
    struct Case {
        std::string bytes;
        size_t off;
        size_t offExpected;
    };
    const Case aCases[] = {
        {"abc", 3, 2},
        {"abc", 1, 0},
        {"abc", 0, 0},
        {"a\xc3\xa9", 3, 1},
        {"a\xe2\x82\xac", 4, 1},
        {"a\xf0\x9f\x98\x80", 5, 1},
        {"a\xf8\x88\x80\x80\x80", 6, 1},
        {"a\xfd\xbf\xbf\xbf\xbf\xbf", 7, 1},
        {"\xc3\xa9", 2, 0},
        {"a\xc3\xa9z", 3, 1},
        // Broken text falls back to the start.
        {"ab\xc3", 3, 0},
        {"ab\x80", 3, 0},
        {"a\xe2\x82", 3, 0},
        {"x\xc3\xa9\xa9", 4, 0},
        {"\x80\x80", 2, 0},
        {"a\x80\x80\x80\x80\x80\x80", 7, 0},
        {"a\xfe\x80\x80\x80\x80\x80", 7, 0},
        {"a\xfe\x80\x80\x80\x80\x80\x80", 8, 0}, // never more than five continuation bytes
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << HexBytes(c.bytes) << " at " << c.off);
        ExactBuffer<char> buf(c.bytes);
        EXPECT_EQ(RTStrPrevCp(buf.get(), buf.get() + c.off) - buf.get(), (ptrdiff_t)c.offExpected);
    }
}

} // namespace
