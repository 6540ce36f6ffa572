// UTF-16: length and conversion to UTF-8, stepping, ASCII copies and UTF-16 memory.
#include "utf-test-util.h"

#include <olma/string.h>
#include <olma/utf16.h>

namespace {

using namespace std::string_literals;

std::u16string Swapped(const std::u16string &str) {
    std::u16string out;
    for (char16_t wc : str)
        out += (char16_t)((wc >> 8) | (wc << 8));
    return out;
}

TEST(Utf16ToUtf8, MeasureAndConvertWithinTheBound) {
    struct Case {
        std::u16string units; // the whole buffer, unterminated unless listed
        size_t cwc;
        int rc;
        std::string expected;
    };
    const Case aCases[] = {
        {u"", 0, 0, ""},
        {u"abc", 3, 0, "abc"},
        {u"\u007f\u0080", 2, 0, "\x7f\xc2\x80"},
        {u"\u07ff\u0800", 2, 0, "\xdf\xbf\xe0\xa0\x80"},
        {u"\ud7ff\ue000\ufffd", 3, 0, "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbd"},
        {u"\U0001F600", 2, 0, "\xf0\x9f\x98\x80"},
        {u"\U00010000\U0010FFFF", 4, 0, "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        {u"abcd", 2, 0, "ab"},
        {u"ab\0cd"s, 5, 0, "ab"},
        {u"\ufffe", 1, ERR_INVALID_CODE_POINT, ""},
        {u"a\uffff", 2, ERR_INVALID_CODE_POINT, ""},
        {u"\xdc00", 1, ERR_INVALID_UTF16_ENCODING, ""},
        {u"a\xd800", 2, ERR_INVALID_UTF16_ENCODING, ""},
        {u"\xd800"
         u"A",
         2, ERR_INVALID_UTF16_ENCODING, ""},
        {u"\xd800\xd800\xdc00", 3, ERR_INVALID_UTF16_ENCODING, ""},
        // The pair is cut by the bound: the low half beyond it does not count.
        {u"a\U0001F600", 2, ERR_INVALID_UTF16_ENCODING, ""},
        {u"\xdbff\xdfff\xdc00", 3, ERR_INVALID_UTF16_ENCODING, ""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases) << " bound " << c.cwc);
        ExactBuffer<char16_t> buf(c.units);
        size_t cch = 12345;
        EXPECT_EQ(RTUtf16CalcUtf8LenEx(buf.get(), c.cwc, &cch), c.rc);
        EXPECT_EQ(cch, c.rc == 0 ? c.expected.size() : ~(size_t)0);

        char *psz = (char *)&cch; // replaced: no buffer size given
        size_t cchOut = 0;
        EXPECT_EQ(RTUtf16ToUtf8Ex(buf.get(), c.cwc, &psz, 0, &cchOut, RTSTR_TAG), c.rc);
        if (c.rc == 0) {
            ASSERT_NE(psz, nullptr);
            EXPECT_EQ(HexBytes(psz), HexBytes(c.expected));
            EXPECT_EQ(cchOut, c.expected.size());
            RTStrFree(psz);
        } else
            EXPECT_EQ(psz, nullptr);
    }
}

TEST(Utf16ToUtf8, UnboundedTextEndsAtTheTerminator) {
    struct Case {
        std::u16string units; // a terminator follows
        int rc;
        std::string expected;
    };
    const Case aCases[] = {
        {u"h\u00e9\U0001F600", 0, "h\xc3\xa9\xf0\x9f\x98\x80"},
        {u"", 0, ""},
        // The terminator right after a high surrogate is no low surrogate.
        {u"a\xd800", ERR_INVALID_UTF16_ENCODING, ""},
        {u"\xdfff", ERR_INVALID_UTF16_ENCODING, ""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        ExactBuffer<char16_t> buf(c.units + u'\0');
        size_t cch = 0;
        EXPECT_EQ(RTUtf16CalcUtf8LenEx(buf.get(), RTSTR_MAX, &cch), c.rc);
        char *psz = nullptr;
        EXPECT_EQ(RTUtf16ToUtf8Ex(buf.get(), RTSTR_MAX, &psz, 0, nullptr, RTSTR_TAG), c.rc);
        if (c.rc == 0)
            EXPECT_EQ(HexBytes(psz), HexBytes(c.expected));
        EXPECT_EQ(psz == nullptr, c.rc != 0);
        RTStrFree(psz);
        EXPECT_EQ(RTUtf16Len(buf.get()), c.units.size());
    }
    EXPECT_EQ(RTUtf16Len(nullptr), 0u);
}

TEST(Utf16ToUtf8, CallersBuffer) {
    const RTUTF16 *pwsz = u"a\u00e9"; // 3 bytes
    struct Case {
        size_t cbBuf;
        int rc;
    };
    const Case aCases[] = {{4, 0}, {10, 0}, {3, ERR_BUFFER_OVERFLOW}, {1, ERR_BUFFER_OVERFLOW}};
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.cbBuf);
        std::string buf(c.cbBuf, 'X');
        char *psz = buf.data();
        size_t cch = 0;
        EXPECT_EQ(RTUtf16ToUtf8Ex(pwsz, RTSTR_MAX, &psz, buf.size(), &cch, RTSTR_TAG), c.rc);
        EXPECT_EQ(psz, buf.data());
        EXPECT_EQ(cch, 3u);
        if (c.rc == 0)
            EXPECT_EQ(buf, "a\xc3\xa9"s + '\0' + std::string(c.cbBuf - 4, 'X'));
        else
            EXPECT_EQ(buf, std::string(c.cbBuf, 'X'));
    }
}

TEST(Utf16ToUtf8, AllocationFailure) {
    ExpectEachAllocationFailure(
        [] {
            char *psz = nullptr;
            int rc = RTUtf16ToUtf8Ex(u"h\u00e9llo", RTSTR_MAX, &psz, 0, nullptr, RTSTR_TAG);
            EXPECT_EQ(rc != 0, psz == nullptr);
            RTStrFree(psz);
            return rc;
        },
        {ERR_NO_STR_MEMORY});
}

TEST(Utf16Stepping, GetCpInBothByteOrders) {
    struct Case {
        std::u16string units; // a terminator follows
        int rc;
        RTUNICP uCp;
        size_t cwcAdvance;
    };
    const Case aCases[] = {
        {u"a", 0, 'a', 1},
        {u"", 0, 0, 1},
        {u"\ud7ff", 0, 0xd7ff, 1},
        {u"\ue000", 0, 0xe000, 1},
        {u"\ufffd", 0, 0xfffd, 1},
        {u"\U0001F600", 0, 0x1f600, 2},
        {u"\U0010FFFF", 0, 0x10ffff, 2},
        {u"\ufffe", ERR_INVALID_CODE_POINT, RTUNICP_INVALID, 1},
        {u"\uffff", ERR_INVALID_CODE_POINT, RTUNICP_INVALID, 1},
        {u"\xdc00\xd800", ERR_INVALID_UTF16_ENCODING, RTUNICP_INVALID, 1},
        {u"\xd800"
         u"A",
         ERR_INVALID_UTF16_ENCODING, RTUNICP_INVALID, 1},
        {u"\xd800\xd800", ERR_INVALID_UTF16_ENCODING, RTUNICP_INVALID, 1},
        {u"\xdbff", ERR_INVALID_UTF16_ENCODING, RTUNICP_INVALID, 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        ExactBuffer<char16_t> buf(c.units + u'\0');
        const RTUTF16 *pwsz = buf.get();
        RTUNICP uCp = 12345;
        EXPECT_EQ(RTUtf16GetCpEx(&pwsz, &uCp), c.rc);
        EXPECT_EQ(uCp, c.uCp);
        EXPECT_EQ(pwsz - buf.get(), (ptrdiff_t)c.cwcAdvance);

        ExactBuffer<char16_t> big(Swapped(c.units + u'\0'));
        pwsz = big.get();
        uCp = 12345;
        EXPECT_EQ(RTUtf16BigGetCpEx(&pwsz, &uCp), c.rc);
        EXPECT_EQ(uCp, c.uCp);
        EXPECT_EQ(pwsz - big.get(), (ptrdiff_t)c.cwcAdvance);
    }
}

TEST(Utf16CopyAscii, CutsReplacesAndTerminates) {
    struct Case {
        std::string src; // the whole source buffer, unterminated unless listed
        size_t cwcDst;
        int rc;
        std::u16string expected; // written units before the terminator; none at all for cwcDst 0
    };
    const Case aCases[] = {
        {"abc\0"s, 4, 0, u"abc"},
        {"abc\0"s, 9, 0, u"abc"},
        {"\0"s, 1, 0, u""},
        {"abc", 3, ERR_BUFFER_OVERFLOW, u"ab"},
        {"abc", 1, ERR_BUFFER_OVERFLOW, u""},
        {"abc", 0, ERR_BUFFER_OVERFLOW, u""},
        {"abcdef", 4, ERR_BUFFER_OVERFLOW, u"abc"},
        {"a\xc3\xa9\0"s, 4, ERR_OUT_OF_RANGE, u"a\x7f\x7f"},
        {"a\xc3\xa9", 3, ERR_BUFFER_OVERFLOW, u"a\x7f"},
        {"\x80\xff\0"s, 3, ERR_OUT_OF_RANGE, u"\x7f\x7f"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << HexBytes(c.src) << " into " << c.cwcDst);
        ExactBuffer<char> src(c.src);
        std::vector<RTUTF16> dst(c.cwcDst + 2, 0xaaaa);
        EXPECT_EQ(RTUtf16CopyAscii(dst.data(), c.cwcDst, src.get()), c.rc);
        size_t i = 0;
        if (c.cwcDst) {
            for (; i < c.expected.size(); i++)
                EXPECT_EQ(dst[i], c.expected[i]) << i;
            EXPECT_EQ(dst[i++], 0) << i;
        }
        for (; i < dst.size(); i++)
            EXPECT_EQ(dst[i], 0xaaaa) << i;
    }
}

TEST(Utf16Memory, AllocRoundsUpAndStartsEmpty) {
    struct Case {
        size_t cb;
        size_t cwcUsable;
    };
    const Case aCases[] = {{0, 1}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {11, 6}};
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.cb);
        RTUTF16 *pwsz = RTUtf16Alloc(c.cb, RTSTR_TAG);
        ASSERT_NE(pwsz, nullptr);
        EXPECT_EQ(pwsz[0], 0);
        for (size_t i = 0; i < c.cwcUsable; i++)
            pwsz[i] = u'x'; // ASan reports a block smaller than promised
        RTUtf16Free(pwsz);
    }
    // A size that cannot be rounded up fails instead of wrapping to a tiny block.
    EXPECT_EQ(RTUtf16Alloc(~(size_t)0, RTSTR_TAG), nullptr);

    const size_t cBefore = RTMemTestOutstanding();
    RTMemTestFailNth(1);
    EXPECT_EQ(RTUtf16Alloc(8, RTSTR_TAG), nullptr);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(Utf16Memory, Realloc) {
    struct Case {
        const char16_t *pwszStart; // null: start from a null pointer
        size_t cbNew;
        bool fNull;
        std::u16string expected;
    };
    const Case aCases[] = {
        {nullptr, 6, false, u""},  {nullptr, 5, false, u""}, {u"abcd", 6, false, u"ab"}, {u"abcd", 5, false, u"ab"},
        {u"ab", 40, false, u"ab"}, {u"abcd", 0, true, u""},  {nullptr, 0, true, u""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        const size_t cBefore = RTMemTestOutstanding();
        RTUTF16 *pwsz = c.pwszStart ? RTUtf16Dup(c.pwszStart, RTSTR_TAG) : nullptr;
        EXPECT_EQ(RTUtf16Realloc(&pwsz, c.cbNew, RTSTR_TAG), 0);
        EXPECT_EQ(pwsz == nullptr, c.fNull);
        if (pwsz) {
            const size_t cwc = (c.cbNew + 1) / 2;
            EXPECT_EQ(pwsz[cwc - 1], 0); // the last unit of the new size is a terminator
            EXPECT_EQ(std::u16string(pwsz), c.expected);
            pwsz[cwc - 1] = u'x'; // and belongs to the block
        }
        RTUtf16Free(pwsz);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
}

TEST(Utf16Memory, FailedReallocKeepsTheOldString) {
    const size_t cBefore = RTMemTestOutstanding();
    RTUTF16 *pwsz = RTUtf16Dup(u"keep", RTSTR_TAG);
    ASSERT_NE(pwsz, nullptr);
    RTUTF16 *pwszOld = pwsz;

    RTMemTestFailNth(1);
    EXPECT_EQ(RTUtf16Realloc(&pwsz, 64, RTSTR_TAG), ERR_NO_UTF16_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(pwsz, pwszOld);
    EXPECT_EQ(std::u16string(pwsz), u"keep");

    EXPECT_EQ(RTUtf16Realloc(&pwsz, ~(size_t)0, RTSTR_TAG), ERR_NO_UTF16_MEMORY);
    EXPECT_EQ(pwsz, pwszOld);
    RTUtf16Free(pwsz);

    pwsz = nullptr;
    RTMemTestFailNth(1);
    EXPECT_EQ(RTUtf16Realloc(&pwsz, 64, RTSTR_TAG), ERR_NO_UTF16_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(pwsz, nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(Utf16Memory, Dup) {
    const size_t cBefore = RTMemTestOutstanding();
    for (const char16_t *pwszSrc : {u"", u"h\u00e9\U0001F600"}) {
        RTUTF16 *pwsz = RTUtf16Dup(pwszSrc, RTSTR_TAG);
        ASSERT_NE(pwsz, nullptr);
        EXPECT_NE(pwsz, pwszSrc);
        EXPECT_EQ(std::u16string(pwsz), std::u16string(pwszSrc));
        RTUtf16Free(pwsz);
    }
    RTMemTestFailNth(1);
    EXPECT_EQ(RTUtf16Dup(u"abc", RTSTR_TAG), nullptr);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTUtf16Dup(nullptr, RTSTR_TAG), nullptr);
    RTUtf16Free(nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

} // namespace
