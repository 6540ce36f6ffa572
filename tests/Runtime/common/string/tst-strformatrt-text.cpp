// %R directives that print text from their argument: base names, big-endian UTF-16,
// function names, escaped XML and JSON, durations, x86 control registers and
// registered types.
#include <gtest/gtest.h>
#include <olma/string.h>
#include "strformat-helpers.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr bool g_f64 = sizeof(void *) == 8;

TEST(StrFormatRtText, BaseNames) {
    struct Case {
        const char *pszPath;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"dir/sub/file.txt", "file.txt"},
        {"C:\\Windows\\System32\\msi.dll", "msi.dll"},
        {"C:setup.exe", "setup.exe"},
        {"dir/sub/", "sub/"},
        {"dir\\sub\\\\", "sub\\\\"},
        {"/", "/"},
        {"//", "//"},
        {"file", "file"},
        {"", ""},
        {"a/b:c\\d", "d"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszPath);
        EXPECT_EQ(FmtAll("%Rbn|%d", c.pszPath, 5), std::string(c.pszExpect) + "|5");
    }
    EXPECT_EQ(FmtAll("%Rbn", (const char *)nullptr), "<NULL>");
    EXPECT_EQ(FmtAll("%Rbn", (const char *)0x10), g_f64 ? "<0000000000000010!BadBaseName>" : "<00000010!BadBaseName>");
}

TEST(StrFormatRtText, BigEndianUtf16) {
    // "hé", U+1F600 as a pair, then a terminator and text that must not be read.
    static const RTUTF16 s_awsz[] = {0x6800, 0xe900, 0x3dd8, 0x00de, 0x0000, 0x7800};
    struct Case {
        const char *pszFormat;
        int cwcMax;
        std::string strExpect;
    };
    const std::vector<Case> vecCases = {
        {"%.*lRbs", 6, "h\xc3\xa9\xf0\x9f\x98\x80"},
        {"%.*lRbs", 2, "h\xc3\xa9"},
        {"%.*lRbs", 0, ""},
        // A high surrogate whose partner lies beyond the bound is not read as a pair.
        {"%.*lRbs", 3, "h\xc3\xa9"},
        // Width counts code points.
        {"%6.*lRbs|", 6, "   h\xc3\xa9\xf0\x9f\x98\x80|"},
        {"%-4.*lRbs|", 2, "h\xc3\xa9  |"},
    };
    for (const Case &c : vecCases) {
        SCOPED_TRACE(c.pszFormat + std::to_string(c.cwcMax));
        EXPECT_EQ(Escaped(FmtAll(c.pszFormat, c.cwcMax, s_awsz)), Escaped(c.strExpect));
    }

    // Decoding stops at the first invalid unit: a lone low surrogate and U+FFFE.
    static const RTUTF16 s_awszBad[] = {0x4100, 0x00dc, 0x4200, 0x0000};
    EXPECT_EQ(FmtAll("%.4lRbs", s_awszBad), "A");
    static const RTUTF16 s_awszNonChar[] = {0x4100, 0xfeff, 0x4200, 0x0000};
    EXPECT_EQ(FmtAll("%.4lRbs", s_awszNonChar), "A");
    // No precision: nothing is printed, but the argument is taken.
    EXPECT_EQ(FmtAll("%lRbs|%d", s_awsz, 5), "|5");
    EXPECT_EQ(FmtAll("%.4lRbs", (const RTUTF16 *)nullptr), "<NULL>");
    EXPECT_EQ(FmtAll("%8.4lRbs", (const RTUTF16 *)0x10), "  <NULL>");
}

TEST(StrFormatRtText, FunctionNames) {
    struct Case {
        const char *pszSig;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"int __cdecl RTErrConvertFromNtStatus(long)", "RTErrConvertFromNtStatus"},
        {"void __cdecl rtThreadUnLockRW(void)", "rtThreadUnLockRW"},
        {"main", "main"},
        {"main(int, char **)", "main"},
        {"class std::map<int, struct Foo *> __thiscall Bar::get(int)", "Bar::get"},
        {"int\t__stdcall\tWinMain(void)", "WinMain"},
        {"static void (foo)(int)", "foo)"},
        {"", ""},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszSig);
        EXPECT_EQ(FmtAll("%Rfn|%d", c.pszSig, 5), std::string(c.pszExpect) + "|5");
    }
    EXPECT_EQ(FmtAll("%Rfn", (const char *)nullptr), "<NULL>");
    EXPECT_EQ(FmtAll("%Rfn", (const char *)0xfff), g_f64 ? "<0000000000000fff!BadFnNm>" : "<00000fff!BadFnNm>");
}

TEST(StrFormatRtText, EscapedStrings) {
    struct Case {
        const char *pszFormat;
        const char *psz;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        // XML attribute values: quoted; the apostrophe passes.
        {"%RMas", "a<b>&\"c'\n\r\td", "\"a&lt;b&gt;&amp;&quot;c'&#xA;&#xD;\td\""},
        {"%RMas", "", "\"\""},
        // XML element text: no quotes; line breaks pass, the apostrophe does not.
        {"%RMes", "a<b>&\"c'\n\r", "a&lt;b&gt;&amp;&quot;c&apos;\n\r"},
        {"%RMes", "plain text", "plain text"},
        // JSON strings.
        {"%RMjs", "q\"b\\s/\b\t\n\f\r\x01\x1f\x7f\xc3\xa9",
         "\"q\\\"b\\\\s/\\b\\t\\n\\f\\u000d\\u0001\\u001f\x7f\xc3\xa9\""},
        // Width pads with blanks inside the quotes, counted before escaping.
        {"%8RMjs", "a\"", "\"      a\\\"\""},
        {"%-8RMas", "<>", "\"&lt;&gt;      \""},
        {"%6RMes|", "&", "     &amp;|"},
        // Precision limits the bytes read.
        {"%.3RMes", "<<<<<", "&lt;&lt;&lt;"},
        {"%.2RMjs", "\n\n\n", "\"\\n\\n\""},
        // A bad or null pointer is the text <NULL>.
        {"%RMjs", nullptr, "\"<NULL>\""},
        {"%RMes", nullptr, "&lt;NULL&gt;"},
        {"%RMas", (const char *)0x10, "\"&lt;NULL&gt;\""},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(std::string(c.pszFormat) + " " + Escaped(c.pszExpect));
        EXPECT_EQ(Escaped(FmtAll(c.pszFormat, c.psz)), Escaped(c.pszExpect));
    }
}

TEST(StrFormatRtText, LongPaddingIsCutByTheBuffer) {
    // Padding far beyond the handlers' own staging buffer, into a buffer that is too small.
    char szBuf[64];
    memset(szBuf, 'Z', sizeof(szBuf));
    EXPECT_EQ(RTStrPrintf(szBuf, 16, "%5000RMes", "<"), 15u);
    EXPECT_EQ(std::string(szBuf), std::string(15, ' '));
    EXPECT_EQ(szBuf[16], 'Z');

    char *psz = nullptr;
    ASSERT_EQ(RTStrAPrintf(&psz, "%-5000RMjs|%6000.2lRbs|", "x", (const RTUTF16 *)u"\u4100\u4200"),
              5002 + 1 + 6000 + 1);
    const std::string str(psz);
    RTStrFree(psz);
    EXPECT_EQ(str, "\"x" + std::string(4999, ' ') + "\"|" + std::string(5998, ' ') + "AB|");
}

TEST(StrFormatRtText, Durations) {
    struct Case {
        int64_t cNs;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {1234567890, "1 234 567 890 ns"},
        {0, "0 ns"},
        {999, "999 ns"},
        {-1000, "-1 000 ns"},
        {INT64_MAX, "9 223 372 036 854 775 807 ns"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszExpect);
        EXPECT_EQ(FmtAll("%RDtimespec", &c.cNs), c.pszExpect);
    }
    EXPECT_EQ(FmtAll("%RDtimespec|%d", (const int64_t *)nullptr, 5), "<NULL>|5");
    EXPECT_EQ(FmtAll("%RDtimespec", (const int64_t *)0x800), g_f64 ? "<0000000000000800!BadRD>" : "<00000800!BadRD>");
}

TEST(StrFormatRtText, X86ControlRegisters) {
    struct Case {
        const char *pszFormat;
        uint32_t uValue;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%RAx86[cr0]", 0x80000011, "80000011{PE,ET,PG}"},
        {"%RAx86[cr0]", 0x00100000, "00100000{unkn=100000}"},
        {"%RAx86[cr0]", 0, "00000000"},
        {"%RAx86[cr0]", 0xffffffff, "ffffffff{PE,MP,EM,TS,ET,NE,WP,AM,NW,CD,PG,unkn=1ffaffc0}"},
        {"%RAx86[cr4]", 0x001606f8, "001606f8{DE,PSE,PAE,MCE,PGE,OSFXSR,OSXMMEEXCPT,PCIDE,OSXSAVE,SMEP}"},
        {"%RAx86[cr4]", 0x00282000, "00282000{VMXE,SMAP,unkn=80000}"},
        {"%RAx86[cr4]", 0x80000000, "80000000{unkn=80000000}"},
        // Unknown registers print nothing but take their value.
        {"%RAx86[cr2]|", 0x80000011, "|"},
        {"%RAx86[cr00]|", 1, "|"},
        {"%RAx86[]|", 1, "|"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll((std::string(c.pszFormat) + "%d").c_str(), c.uValue, 7), std::string(c.pszExpect) + "7");
    }
}

TEST(StrFormatRtText, RegisteredTypes) {
    // No type is registered: every name prints the missing form, and the value is taken.
    EXPECT_EQ(FmtAll("%R[foo]", (void *)nullptr), "<missing:%R[foo]>");
    EXPECT_EQ(FmtAll("%R[foo]|%d", (void *)0x1234, 5), "<missing:%R[foo]>|5");
    EXPECT_EQ(FmtAll("%R[]", (void *)nullptr), "<missing:%R[]>");
    EXPECT_EQ(FmtAll("%20R[a b]x", (void *)nullptr), "<missing:%R[a b]>x");
    const std::string strLong(100, 'n');
    EXPECT_EQ(FmtAll(("%R[" + strLong + "]").c_str(), (void *)nullptr), "<missing:%R[" + strLong + "]>");
}

} // namespace
