// The format engine: directives, arguments and exact output bytes.
#include "strformat-helpers.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr bool g_f64BitPtr = sizeof(void *) == 8;
constexpr bool g_f64BitLong = sizeof(long) == 8;

/** Pointer-width expectations: 64-bit builds print pointers with 16 digits. */
const char *ByPtrWidth(const char *psz32, const char *psz64) {
    return g_f64BitPtr ? psz64 : psz32;
}

TEST(StrFormat, IntConversions) {
    // Up to three int arguments; unused ones are ignored by the engine.
    struct Case {
        const char *pszFormat;
        int a, b, c;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%d", 0, 0, 0, "0"},
        {"%d", -1, 0, 0, "-1"},
        {"%i", 42, 0, 0, "42"},
        {"%d", INT_MIN, 0, 0, "-2147483648"},
        {"%d", INT_MAX, 0, 0, "2147483647"},
        {"%u", -1, 0, 0, "4294967295"},
        {"%x", 255, 0, 0, "ff"},
        {"%X", 255, 0, 0, "FF"},
        {"%#x", 255, 0, 0, "0xff"},
        {"%#X", 255, 0, 0, "0XFF"},
        {"%#x", 0, 0, 0, "0x0"},
        {"%x", -1, 0, 0, "ffffffff"},
        {"%o", 8, 0, 0, "10"},
        {"%#o", 8, 0, 0, "010"},
        {"%#o", 0, 0, 0, "00"},
        // Width, justification, zero padding, signs.
        {"%5d|", 42, 0, 0, "   42|"},
        {"%-5d|", 42, 0, 0, "42   |"},
        {"%05d", 42, 0, 0, "00042"},
        {"%05d", -42, 0, 0, "-0042"},
        {"%-05d|", 42, 0, 0, "42   |"},
        {"%+d", 5, 0, 0, "+5"},
        {"%+d", -5, 0, 0, "-5"},
        {"% d", 5, 0, 0, " 5"},
        {"%+ d", 5, 0, 0, "+5"},
        {"% +d", 0, 0, 0, "+0"},
        {"%+u", 5, 0, 0, "5"},
        {"%+x", 5, 0, 0, "5"},
        {"%#06x", 255, 0, 0, "0x00ff"},
        {"%#6x|", 255, 0, 0, "  0xff|"},
        {"%-#6x|", 255, 0, 0, "0xff  |"},
        {"%+05d", 7, 0, 0, "+0007"},
        // Precision zeros do not count toward the width.
        {"%5.3d", 7, 0, 0, "    007"},
        {"%.3d", -7, 0, 0, "-007"},
        {"%.0d", 0, 0, 0, "0"},
        {"%.d", 0, 0, 0, "0"},
        {"%05.3d", 7, 0, 0, "00007"},
        {"%-5.3d|", 7, 0, 0, "007    |"},
        {"%.5x", 0xab, 0, 0, "000ab"},
        // Star width and precision.
        {"%*d|", -4, 7, 0, "7   |"},
        {"%-*d|", -4, 7, 0, "7   |"},
        {"%-*d|", 4, 7, 0, "7   |"},
        {"%*d|", 4, 7, 0, "   7|"},
        {"%.*d", 3, 7, 0, "007"},
        {"%.*d", -2, 7, 0, "7"},
        {"%*.*d|", 6, 3, 7, "     007|"},
        // Grouping by three with a blank; base 10 and no zero padding only.
        {"%'u", 123, 0, 0, "123"},
        {"%'u", 1234, 0, 0, "1 234"},
        {"%'u", 1234567, 0, 0, "1 234 567"},
        {"%'d", -1234567, 0, 0, "-1 234 567"},
        {"%'09u", 1234567, 0, 0, "001234567"},
        {"%'x", 0x123456, 0, 0, "123456"},
        {"%'11u|", 1234567, 0, 0, "  1 234 567|"},
        // Small sizes do not narrow.
        {"%hd", 70000, 0, 0, "70000"},
        {"%hhd", 300, 0, 0, "300"},
        {"%hd", -1, 0, 0, "-1"},
        {"%hu", -1, 0, 0, "4294967295"},
        {"%hhx", 0x1ff, 0, 0, "1ff"},
        {"%I32d", -3, 0, 0, "-3"},
        // The number formatter never writes more than 63 characters.
        {"%100d", 1, 0, 0, "                                                              1"},
        {"%2147483647d", 1, 0, 0, "                                                              1"},
        {"%99999999999999d", 1, 0, 0, "                                                              1"},
        {"%.100d", 1, 0, 0, "000000000000000000000000000000000000000000000000000000000000001"},
        {"%-*d|", INT_MIN, 1, 0, "1                                                              |"},
        // Literal text around directives.
        {"a%db%dc", 1, 2, 0, "a1b2c"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, c.a, c.b, c.c), c.pszExpect);
    }
}

TEST(StrFormat, WideIntConversions) {
    struct Case {
        const char *pszFormat;
        uint64_t u;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%llu", UINT64_MAX, "18446744073709551615"},
        {"%lld", (uint64_t)INT64_MIN, "-9223372036854775808"},
        {"%lld", (uint64_t)-1, "-1"},
        {"%llx", UINT64_MAX, "ffffffffffffffff"},
        {"%#llX", 0xabcdef0123ULL, "0XABCDEF0123"},
        {"%#llo", UINT64_MAX, "01777777777777777777777"},
        {"%Lu", 1ULL << 40, "1099511627776"},
        {"%qu", 1ULL << 40, "1099511627776"},
        {"%ju", 1ULL << 40, "1099511627776"},
        {"%I64u", 1ULL << 40, "1099511627776"},
        {"%Iu", 1ULL << 40, "1099511627776"},
        {"%Id", (uint64_t)-5, "-5"},
        {"%'llu", 1234567890123ULL, "1 234 567 890 123"},
        {"%'lld", (uint64_t)INT64_MIN, "-9 223 372 036 854 775 808"},
        {"%llu", 5, "5"},
        {"%+lld", 5, "+5"},
        {"%022llu", 1, "0000000000000000000001"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, c.u), c.pszExpect);
    }
}

TEST(StrFormat, HostSizedConversions) {
    // l, z and t read their C types; their width is the host's.
    EXPECT_EQ(FmtAll("%ld", -1L), "-1");
    EXPECT_EQ(FmtAll("%lu", ULONG_MAX), g_f64BitLong ? "18446744073709551615" : "4294967295");
    EXPECT_EQ(FmtAll("%lx|%d", 0x12L, 34), "12|34");
    EXPECT_EQ(FmtAll("%zu", SIZE_MAX), g_f64BitPtr ? "18446744073709551615" : "4294967295");
    EXPECT_EQ(FmtAll("%zd", (ptrdiff_t)-3), "-3");
    EXPECT_EQ(FmtAll("%zx|%d", (size_t)0xabc, 5), "abc|5");
    EXPECT_EQ(FmtAll("%td", (ptrdiff_t)-12), "-12");
    EXPECT_EQ(FmtAll("%tu", (ptrdiff_t)-1), g_f64BitPtr ? "18446744073709551615" : "4294967295");
}

TEST(StrFormat, Pointers) {
    struct Case {
        const char *pszFormat;
        uintptr_t u;
        const char *pszExpect32, *pszExpect64;
    };
    const Case aCases[] = {
        {"%p", 0x1234, "00001234", "0000000000001234"},
        {"%#p", 0x1234, "0x001234", "0x00000000001234"},
        {"%p", 0, "00000000", "0000000000000000"},
        {"%4p", 0x1234, "1234", "1234"},
        {"%6p", 0x12, "000012", "000012"},
        {"%-6p|", 0x12, "12    |", "12    |"},
        {"%p", UINTPTR_MAX, "ffffffff", "ffffffffffffffff"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, (void *)c.u), ByPtrWidth(c.pszExpect32, c.pszExpect64));
    }
}

TEST(StrFormat, Characters) {
    struct Case {
        const char *pszFormat;
        int ch;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%c", 'A', "A"},
        {"%3c", 'A', "  A"},
        {"%-3c|", 'A', "A  |"},
        {"%03c", 'A', "  A"},
        {"%.0c", 'A', "A"},
        // The low byte only, not encoded as UTF-8.
        {"%c", 0x1e9, "\xe9"},
        {"[%c]", 0, nullptr}, // a NUL byte in the middle of the text
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        char szBuf[32];
        const size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), c.pszFormat, c.ch);
        const std::string strExpect = c.ch == 0 ? std::string("[\0]", 3) : std::string(c.pszExpect);
        EXPECT_EQ(Escaped(std::string(szBuf, cch)), Escaped(strExpect));
    }
}

TEST(StrFormat, Utf8Strings) {
    struct Case {
        const char *pszFormat;
        const char *psz;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%s", "abc", "abc"},
        {"%S", "abc", "abc"},
        {"%5s|", "abc", "  abc|"},
        {"%-5s|", "abc", "abc  |"},
        {"%05s|", "abc", "  abc|"},
        {"%2s|", "abc", "abc|"},
        {"%.2s|", "abc", "ab|"},
        {"%.0s|", "abc", "|"},
        {"%.9s|", "abc", "abc|"},
        {"%s|", "", "|"},
        {"%3s|", "", "   |"},
        // Width and precision count bytes, even inside a character.
        {"%.1s", "\xc3\xa9", "\xc3"},
        {"%3s", "\xc3\xa9", " \xc3\xa9"},
        // Pointers that are never read.
        {"%s", nullptr, "<NULL>"},
        {"%10s|", nullptr, "    <NULL>|"},
        {"%-10s|", nullptr, "<NULL>    |"},
        {"%.2s", nullptr, "<NULL>"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(Escaped(FmtAll(c.pszFormat, c.psz)), Escaped(c.pszExpect));
    }
}

TEST(StrFormat, BadStringPointers) {
    struct Case {
        const char *pszFormat;
        uintptr_t u;
        const char *pszExpect32, *pszExpect64;
    };
    const Case aCases[] = {
        {"%s", 0x10, "<00000010!BadStr>", "<0000000000000010!BadStr>"},
        {"%s", 0xfff, "<00000fff!BadStr>", "<0000000000000fff!BadStr>"},
        {"%s", (uintptr_t)-1, "<ffffffff!BadStr>", "<ffffffffffffffff!BadStr>"},
        {"%s", (uintptr_t)-0x1000, "<fffff000!BadStr>", "<fffffffffffff000!BadStr>"},
        {"%ls", 0x10, "<00000010!BadStrW>", "<0000000000000010!BadStrW>"},
        {"%ls", 0, "<NULL>", "<NULL>"},
        {"%Ls", 0x20, "<00000020!BadStrU>", "<0000000000000020!BadStrU>"},
        {"%lls", 0, "<NULL>", "<NULL>"},
        {"%30s|", 0x10, "             <00000010!BadStr>|", "     <0000000000000010!BadStr>|"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, (const void *)c.u), ByPtrWidth(c.pszExpect32, c.pszExpect64));
    }
}

TEST(StrFormat, Utf16Strings) {
    struct Case {
        const char *pszFormat;
        const RTUTF16 *pwsz;
        const char *pszExpect;
    };
    const RTUTF16 wszBadLow[] = {'a', 0xdc00, 'b', 0};
    const RTUTF16 wszLoneHigh[] = {'a', 0xd800, 0};
    const RTUTF16 wszHighThenChar[] = {'a', 0xd800, 'b', 0};
    const RTUTF16 wszNonChar[] = {'a', 0xfffe, 'b', 0};
    const Case aCases[] = {
        {"%ls", u"h\u00e9", "h\xc3\xa9"},
        {"%6ls|", u"h\u00e9", "    h\xc3\xa9|"},
        {"%-4ls|", u"h\u00e9", "h\xc3\xa9  |"},
        {"%.1ls|", u"h\u00e9", "h|"},
        {"%lS", u"\u20ac", "\xe2\x82\xac"},
        {"%ls", u"\U0001F600", "\xf0\x9f\x98\x80"},
        {"%3ls|", u"\U0001F600", "  \xf0\x9f\x98\x80|"},
        {"%ls", u"\ufffd", "\xef\xbf\xbd"},
        {"%ls|", u"", "|"},
        // Printing stops at the first sequence that does not decode.
        {"%ls|", wszBadLow, "a|"},
        {"%ls|", wszLoneHigh, "a|"},
        {"%ls|", wszHighThenChar, "a|"},
        {"%4ls|", wszNonChar, "   a|"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(Escaped(FmtAll(c.pszFormat, c.pwsz)), Escaped(c.pszExpect));
    }
}

TEST(StrFormat, CodePointStrings) {
    struct Case {
        const char *pszFormat;
        std::vector<RTUNICP> aCps;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%Ls", {'h', 0xe9, 0}, "h\xc3\xa9"},
        {"%lls", {'h', 0xe9, 0}, "h\xc3\xa9"},
        {"%5Ls|", {'h', 0xe9, 0}, "   h\xc3\xa9|"},
        {"%-3Ls|", {'h', 0}, "h  |"},
        {"%.2Ls|", {'a', 'b', 'c', 0}, "ab|"},
        {"%Ls", {0x10ffff, 0}, "\xf4\x8f\xbf\xbf"},
        // Surrogates and values past Unicode are encoded like any other value.
        {"%Ls", {0xd800, 0}, "\xed\xa0\x80"},
        {"%Ls", {0x200000, 0}, "\xf8\x88\x80\x80\x80"},
        {"%Ls", {0x7fffffff, 0}, "\xfd\xbf\xbf\xbf\xbf\xbf"},
        {"%Ls", {0x80000000, 0}, "\x7f"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(Escaped(FmtAll(c.pszFormat, c.aCps.data())), Escaped(c.pszExpect));
    }
}

double DoubleFromBits(uint64_t u) {
    double rd;
    memcpy(&rd, &u, sizeof(rd));
    return rd;
}

TEST(StrFormat, FloatingPoint) {
    struct Case {
        const char *pszFormat;
        double rd;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"%f", 1.0, "+1m0x0000000000000^0"},
        {"%f", 1.5, "+1m0x8000000000000^0"},
        {"%10.2f", 1.5, "+1m0x8000000000000^0"},
        {"%-30.9e|", 1.5, "+1m0x8000000000000^0|"},
        {"%g", -2.5, "-1m0x4000000000000^1"},
        {"%a", 0.1, "+1m0x999999999999a^-4"},
        {"%E", 0.0, "+0"},
        {"%F", -0.0, "-0"},
        {"%G", std::numeric_limits<double>::infinity(), "+Inf"},
        {"%A", -std::numeric_limits<double>::infinity(), "-Inf"},
        {"%f", DoubleFromBits(0x7ff8000000000000ULL), "+QNan"},
        {"%f", DoubleFromBits(0xfff8000000000001ULL), "-QNan"},
        {"%f", DoubleFromBits(0x7ff0000000000001ULL), "+SNan"},
        {"%f", DoubleFromBits(0xfff4000000000000ULL), "-SNan"},
        {"%f", std::numeric_limits<double>::denorm_min(), "+0m0x0000000000001"},
        {"%f", -DoubleFromBits(0x000fffffffffffffULL), "-0m0xfffffffffffff"},
        {"%f", std::numeric_limits<double>::max(), "+1m0xfffffffffffff^1023"},
        {"%f", std::numeric_limits<double>::min(), "+1m0x0000000000000^-1022"},
        {"%Lf|%d", 2.0, "+1m0x0000000000000^1|7"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, c.rd, 7), c.pszExpect);
    }
}

TEST(StrFormat, FormatScanning) {
    // Percent signs, truncated directives and unknown letters; an int argument
    // and a string follow for the formats that take them.
    struct Case {
        const char *pszFormat;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"", ""},        {"plain text", "plain text"},
        {"%%", "%"},     {"a%%b%%", "a%b%"},
        {"ab%", "ab"},   {"%", ""},
        {"%5%", ""},     {"%5%x", "x"},
        {"%-", ""},      {"ab%5", "ab"},
        {"ab%.", "ab"},  {"ab%l", "ab"},
        {"ab%hh", "ab"}, {"ab%I6", "ab"},
        {"a%yb", "ab"},  {"a%ny%d", "ay7"},
        {"%w%d", "7"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, 7, "s"), c.pszExpect);
    }
    // A format pointer that cannot be read prints nothing.
    char szBuf[8] = "xxxxxxx";
    EXPECT_EQ(RTStrPrintf(szBuf, sizeof(szBuf), nullptr), 0u);
    EXPECT_STREQ(szBuf, "");
}

TEST(StrFormat, ChainedFormat) {
    EXPECT_EQ(FmtAll("[%M", "%d]tail", 5), "[5]tail");
    // Whatever followed %M in the first format is dropped.
    EXPECT_EQ(FmtAll("[%Mdropped %d", "%d]", 5, 6), "[5]");
    EXPECT_EQ(FmtAll("%d%M", 1, "%M", "%d", 2), "12");
    EXPECT_EQ(FmtAll("a%M", nullptr), "a");
}

/** Formats pszOuter with the arguments (pszNested, &list of the "...", 99). */
std::string FormatNested(const char *pszOuter, const char *pszNested, ...) {
    va_list va;
    va_start(va, pszNested);
    char *psz = nullptr;
    const int cch = RTStrAPrintf(&psz, pszOuter, pszNested, &va, 99);
    va_end(va);
    std::string str = psz ? std::string(psz) : std::string("(null)");
    EXPECT_EQ(cch, (int)str.size());
    RTStrFree(psz);
    return str;
}

/** Two levels: the middle format gets (pszInner, &list of the "...", 7). */
std::string FormatNested2(const char *pszOuter, const char *pszMid, const char *pszInner, ...) {
    va_list va;
    va_start(va, pszInner);
    std::string str = FormatNested(pszOuter, pszMid, pszInner, &va, 7);
    va_end(va);
    return str;
}

/** The nested list is consumed in place: what %N took is gone for the caller. */
std::string FormatNestedThenRest(const char *pszNested, ...) {
    va_list va;
    va_start(va, pszNested);
    char szBuf[64];
    const size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "<%N>", pszNested, &va);
    const int iNext = va_arg(va, int);
    va_end(va);
    return std::string(szBuf, cch) + "+" + std::to_string(iNext);
}

TEST(StrFormat, NestedFormat) {
    EXPECT_EQ(FormatNested("<%N>%d", "%s-%d", "x", 3), "<x-3>99");
    EXPECT_EQ(FormatNested("%5N|%d", "%s", "x"), "x|99");
    EXPECT_EQ(FormatNested("%N%d", ""), "99");
    EXPECT_EQ(FormatNested("%N|%d", nullptr), "|99");
    EXPECT_EQ(FormatNested2("<%N>%d", "a%Nb%d", "%s%d", "x", 3), "<ax3b7>99");
    EXPECT_EQ(FormatNestedThenRest("%d", 1, 2), "<1>+2");
}

/** Records every call of the output callback. */
struct Recorder {
    std::vector<std::string> aPieces;
    unsigned cEndCalls = 0;
    bool fPieceAfterEnd = false;
    size_t cbExtra = 0; // added to every returned count, to see that results are summed

    static size_t Output(void *pvArg, const char *pach, size_t cb) {
        Recorder *pThis = (Recorder *)pvArg;
        if (!pach) {
            EXPECT_EQ(cb, 0u);
            pThis->cEndCalls++;
            return 1000; // not counted
        }
        if (pThis->cEndCalls)
            pThis->fPieceAfterEnd = true;
        pThis->aPieces.emplace_back(pach, cb);
        return cb + pThis->cbExtra;
    }
};

size_t RecordFormat(Recorder *pRec, const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    const size_t cch = RTStrFormatV(Recorder::Output, pRec, nullptr, nullptr, pszFormat, va);
    va_end(va);
    return cch;
}

TEST(StrFormat, OutputCallbackContract) {
    struct Case {
        const char *pszFormat;
        std::vector<std::string> aPieces;
    };
    // Each format takes the arguments (7, "x", u"h\u00e9").
    const Case aCases[] = {
        {"", {}},
        {"lit", {"lit"}},
        {"ab%dcd", {"ab", "7", "cd"}},
        {"%5d", {"    7"}},
        {"%*s", {" ", " ", " ", " ", " ", " ", "x"}},
        {"%-3d%s|", {"7  ", "x", "|"}},
        {"%d%3s|", {"7", " ", " ", "x", "|"}},
        {"%d%-3s|", {"7", "x", " ", " ", "|"}},
        {"%d%s%ls", {"7", "x", "h", "\xc3\xa9"}},
        {"%d%s%4ls", {"7", "x", " ", " ", "h", "\xc3\xa9"}},
        {"a%%b", {"a", "%b"}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        for (size_t cbExtra : {0, 3}) {
            Recorder Rec;
            Rec.cbExtra = cbExtra;
            const size_t cch = RecordFormat(&Rec, c.pszFormat, 7, "x", u"h\u00e9");
            EXPECT_EQ(Rec.cEndCalls, 1u);
            EXPECT_FALSE(Rec.fPieceAfterEnd);
            size_t cchExpect = 0;
            for (const std::string &str : Rec.aPieces)
                cchExpect += str.size() + cbExtra;
            EXPECT_EQ(cch, cchExpect);
            EXPECT_EQ(Rec.aPieces, c.aPieces);
        }
    }
}

TEST(StrFormat, NestedFormatMakesNoEndCall) {
    Recorder Rec;
    const size_t cch = [&](const char *pszNested, ...) {
        va_list va;
        va_start(va, pszNested);
        const size_t cchRet = RecordFormat(&Rec, "a%Nb", pszNested, &va);
        va_end(va);
        return cchRet;
    }("<%d>", 5);
    EXPECT_EQ(Rec.cEndCalls, 1u);
    EXPECT_EQ(Rec.aPieces, (std::vector<std::string>{"a", "<", "5", ">", "b"}));
    EXPECT_EQ(cch, 5u);
}

/** Extension callback recording what it was given; it consumes the letter, and
 *  for 'y' also an int argument that it prints in brackets by re-entering the engine. */
struct Extension {
    char chLetter = 0;
    int cchWidth = 0, cchPrecision = 0;
    unsigned fFlags = 0;
    char chArgSize = 0;
    unsigned cCalls = 0;

    static size_t Format(void *pvArg, PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat,
                         va_list *pArgs, int cchWidth, int cchPrecision, unsigned fFlags, char chArgSize) {
        Extension *pThis = (Extension *)pvArg;
        pThis->cCalls++;
        pThis->chLetter = **ppszFormat;
        pThis->cchWidth = cchWidth;
        pThis->cchPrecision = cchPrecision;
        pThis->fFlags = fFlags;
        pThis->chArgSize = chArgSize;
        switch (*(*ppszFormat)++) {
        case 'y':
            // Re-entering the engine from inside a callback; its own end call
            // lands in the middle of the outer output and must not break it.
            return RTStrFormat(pfnOutput, pvArgOutput, nullptr, nullptr, "[%d]", va_arg(*pArgs, int));
        case 'Z':
            (*ppszFormat)++; // two letters
            return pfnOutput(pvArgOutput, "zz", 2);
        default:
            return 0; // like the logger's: nothing written, the letter skipped
        }
    }
};

size_t FormatExt(Extension *pExt, char *pszBuf, size_t cbBuf, const char *pszFormat, ...) {
    struct Buf {
        char *pch;
        size_t cbLeft;
        static size_t Output(void *pv, const char *pach, size_t cb) {
            Buf *p = (Buf *)pv;
            if (!pach) {
                *p->pch = '\0';
                return 0;
            }
            size_t cbCopy = cb < p->cbLeft ? cb : p->cbLeft;
            memcpy(p->pch, pach, cbCopy);
            p->pch += cbCopy;
            p->cbLeft -= cbCopy;
            return cbCopy;
        }
    } B = {pszBuf, cbBuf - 1};
    va_list va;
    va_start(va, pszFormat);
    const size_t cch = RTStrFormatV(Buf::Output, &B, Extension::Format, pExt, pszFormat, va);
    va_end(va);
    return cch;
}

TEST(StrFormat, ExtensionCallback) {
    struct Case {
        const char *pszFormat;
        const char *pszExpect;
        char chLetter;
        int cchWidth, cchPrecision;
        unsigned fFlags;
        char chArgSize;
    };
    const Case aCases[] = {
        {"a%yb%d", "a[1]b2", 'y', -1, -1, RTSTR_F_32BIT, 0},
        {"%-5.2lly|%d", "[1]|2", 'y', 5, 2, RTSTR_F_LEFT | RTSTR_F_WIDTH | RTSTR_F_PRECISION | RTSTR_F_64BIT, 'L'},
        {"%#0'+ hZQ%d", "zz1", 'Z', -1, -1,
         RTSTR_F_SPECIAL | RTSTR_F_ZEROPAD | RTSTR_F_THOUSAND_SEP | RTSTR_F_PLUS | RTSTR_F_BLANK | RTSTR_F_16BIT, 'h'},
        {"%hhq%d", "1", 'q', -1, -1, RTSTR_F_8BIT, 'H'}, // 'q' after hh is the letter, not a size
        {"%5%%d", "1", '%', 5, -1, RTSTR_F_WIDTH | RTSTR_F_32BIT, 0},
        {"%jk%d", "1", 'k', -1, -1, RTSTR_F_64BIT, 'j'},
        {"%zk", "", 'k', -1, -1, sizeof(size_t) == 8 ? RTSTR_F_64BIT : RTSTR_F_32BIT, 'z'},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat);
        Extension Ext;
        char szBuf[64];
        const size_t cch = FormatExt(&Ext, szBuf, sizeof(szBuf), c.pszFormat, 1, 2);
        EXPECT_EQ(std::string(szBuf), c.pszExpect);
        EXPECT_EQ(cch, strlen(c.pszExpect));
        EXPECT_EQ(Ext.cCalls, 1u);
        EXPECT_EQ(Ext.chLetter, c.chLetter);
        EXPECT_EQ(Ext.cchWidth, c.cchWidth);
        EXPECT_EQ(Ext.cchPrecision, c.cchPrecision);
        EXPECT_EQ(Ext.fFlags, c.fFlags);
        EXPECT_EQ(Ext.chArgSize, c.chArgSize);
    }
    // A truncated directive never reaches the callback.
    Extension Ext;
    char szBuf[16];
    EXPECT_EQ(FormatExt(&Ext, szBuf, sizeof(szBuf), "ab%5l"), 2u);
    EXPECT_EQ(Ext.cCalls, 0u);
}

} // namespace
