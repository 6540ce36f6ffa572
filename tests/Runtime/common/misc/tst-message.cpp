// Prefixed messages and the option parser's error printer, captured through the
// standard stream pointers.
#include "stream-capture.h"
#include <olma/getopt.h>
#include <olma/mem.h>
#include <olma/message.h>
#include "common/path/internal-path.h"

#include <vector>

namespace {
class MessageTest : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
#if defined(_WIN32)
        ASSERT_EQ(rtPathSetExecPath("C:\\Tools\\setup.exe"), 0);
#else
        ASSERT_EQ(rtPathSetExecPath("/opt/tools/setup.exe"), 0);
#endif
        captureStd();
    }
};

int msgErrorV(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int rc = RTMsgPrint(g_pStdErr, "warning: ", pszFormat, args);
    va_end(args);
    return rc;
}
} // namespace

TEST_F(MessageTest, LinesArePrefixed) {
    struct Case {
        const char *pszFormat;
        const char *pszArg;
        const char *pszExpected;
    };
    const Case aCases[] = {
        {"Unknown option: '%s'", "--x", "setup.exe: error: Unknown option: '--x'\r\n"},
        {"%s", "a\n\nb\n", "setup.exe: error: a\r\n\r\nsetup.exe: error: b\r\n"},
        {"%s", "\nlead", "\r\nsetup.exe: error: lead\r\n"},
        {"%s", "one\ntwo", "setup.exe: error: one\r\nsetup.exe: error: two\r\n"},
        {"\n", "", "\r\n"},
        {"", "", "\r\n"},
        {"%s", "", ""}, // formats to nothing: no line at all
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFormat + std::string("|") + c.pszArg);
        captureStd();
        EXPECT_EQ(RTMsgError(c.pszFormat, c.pszArg), 0);
        EXPECT_EQ(finish("out"), "");
        EXPECT_EQ(readFile("err"), c.pszExpected);
    }

    captureStd();
    EXPECT_EQ(RTMsgInfo("\n"), 0);
    EXPECT_EQ(RTMsgInfo("%d files\nin %s", 3, "dir"), 0);
    EXPECT_EQ(msgErrorV("x%c", 'y'), 0);
    EXPECT_EQ(finish("err"), "setup.exe: warning: xy\r\n");
    EXPECT_EQ(readFile("out"), "\r\nsetup.exe: info: 3 files\r\nsetup.exe: info: in dir\r\n");
}

TEST_F(MessageTest, WithoutMemoryTheTextGoesStraightToTheStream) {
    // Warm the streams up so that the only allocations left are the message's own.
    EXPECT_EQ(RTStrmPrintf(g_pStdErr, "-"), 1);
    for (uint32_t n = 1; n < 6; n++) {
        SCOPED_TRACE(n);
        captureStd();
        EXPECT_EQ(RTStrmPrintf(g_pStdErr, "-"), 1);
        RTMemTestFailNth(n);
        EXPECT_EQ(RTMsgError("value %d", 7), 0);
        RTMemTestFailNth(0);
        // Either way the same line comes out.
        EXPECT_EQ(finish("err"), "-setup.exe: error: value 7\r\n");
    }
    captureStd();
    RTMemTestFailNth(1);
    EXPECT_EQ(RTMsgError("two\nlines"), 0);
    RTMemTestFailNth(0);
    // The direct path prints the text as it is and adds no line end of its own here.
    EXPECT_EQ(finish("err"), "setup.exe: error: two\r\nlines");
}

TEST_F(MessageTest, OptionErrors) {
    static const RTOPTDEF s_aDefs[] = {{"--path", 'p', RTOPT_TYPE_STRING}, {"--count", 'c', RTOPT_TYPE_UINT8}};
    struct Case {
        int rc;
        RTOPTVALUE Value;
        const char *pszExpected;
    };
    RTOPTVALUE ValArg = {};
    ValArg.psz = "plain";
    RTOPTVALUE ValUnknown = {};
    ValUnknown.psz = "--nope";
    RTOPTVALUE ValDefCount = {};
    ValDefCount.pDef = &s_aDefs[1];
    RTOPTVALUE ValDefPath = {};
    ValDefPath.pDef = &s_aDefs[0];
    RTOPTVALUE ValNone = {};
    const Case aCases[] = {
        {INF_GETOPT_NOT_OPTION, ValArg, "setup.exe: error: Invalid parameter: plain\r\n"},
        {'x', ValNone, "setup.exe: error: Unhandled option: -x\r\n"},
        {33, ValNone, "setup.exe: error: Unhandled option: -!\r\n"},
        {127, ValNone, "setup.exe: error: Unhandled option: 127 (0x7f)\r\n"},
        {1000, ValNone, "setup.exe: error: Unhandled option: 1000 (0x3e8)\r\n"},
        {ERR_GETOPT_UNKNOWN_OPTION, ValUnknown, "setup.exe: error: Unknown option: '--nope'\r\n"},
        {ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ValDefCount,
         "setup.exe: error: The value given '--count' has an invalid format.\r\n"},
        {ERR_GETOPT_REQUIRED_ARGUMENT_MISSING, ValDefPath,
         "setup.exe: error: --path: An option's value is missing\r\n"},
        {ERR_GETOPT_INDEX_MISSING, ValNone, "setup.exe: error: An option that needs an index suffix has none\r\n"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.rc);
        captureStd();
        EXPECT_EQ(RTGetOptPrintError(c.rc, &c.Value), 2);
        EXPECT_EQ(finish("err"), c.pszExpected);
        EXPECT_EQ(readFile("out"), "");
    }
}

TEST_F(MessageTest, OptionErrorsFromTheParser) {
    // What the parser really leaves in the value union for each failure.
    static const RTOPTDEF s_aDefs[] = {{"--path", 'p', RTOPT_TYPE_STRING}, {"--count", 'c', RTOPT_TYPE_UINT8}};
    struct Case {
        std::vector<std::string> Args;
        const char *pszExpected;
    };
    const Case aCases[] = {
        {{"--count", "300"}, "setup.exe: error: The value given '--count' has an invalid format.\r\n"},
        {{"--path"}, "setup.exe: error: --path: An option's value is missing\r\n"},
        {{"--bogus"}, "setup.exe: error: Unknown option: '--bogus'\r\n"},
        {{"loose"}, "setup.exe: error: Invalid parameter: loose\r\n"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.Args[0]);
        std::vector<std::string> Store = {"prog"};
        Store.insert(Store.end(), c.Args.begin(), c.Args.end());
        std::vector<char *> Argv;
        for (std::string &s : Store)
            Argv.push_back(s.data());
        RTOPTSTATE State;
        ASSERT_EQ(RTGetOptInit(&State, (int)Argv.size(), Argv.data(), s_aDefs, RT_ELEMENTS(s_aDefs), 1, 0), 0);
        RTOPTVALUE Value;
        const int rc = RTGetOpt(&State, &Value);
        captureStd();
        EXPECT_EQ(RTGetOptPrintError(rc, &Value), 2);
        EXPECT_EQ(finish("err"), c.pszExpected);
    }
}
