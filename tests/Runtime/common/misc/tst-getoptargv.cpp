// Argument vectors from a command string: both quoting styles, in place and into a
// new buffer, bad input and allocation failures.
#include "Runtime/common/string/utf-test-util.h"

#include <olma/getopt.h>
#include <olma/string.h>

namespace {

using Args = std::vector<std::string>;

struct ArgvCase {
    uint32_t fStyle;
    const char *pszSeparators;
    std::string cmdLine;
    int rc;
    Args expected;
};

constexpr uint32_t WIN = RTGETOPTARGV_STYLE_WINDOWS;
constexpr uint32_t SH = RTGETOPTARGV_STYLE_SHELL;

const ArgvCase g_aCases[] = {
    // Windows rules.
    {WIN, nullptr, "", 0, {}},
    {WIN, nullptr, " \t\r\n ", 0, {}},
    {WIN, nullptr, "prog", 0, {"prog"}},
    {WIN, nullptr, "prog \"a b\" c", 0, {"prog", "a b", "c"}},
    {WIN, nullptr, "\"\"", 0, {""}},
    {WIN, nullptr, "a \"\" b", 0, {"a", "", "b"}},
    {WIN, nullptr, "\"a\"\"b\"", 0, {"a\"b"}},
    {WIN, nullptr, "\"a\"\"\"\"b\"", 0, {"a\"\"b"}},
    {WIN, nullptr, "C:\\dir\\\\", 0, {"C:\\dir\\\\"}},
    {WIN, nullptr, "a\\\\\"b c\"", 0, {"a\\b c"}},
    {WIN, nullptr, "a\\\\\\\"b", 0, {"a\\\"b"}},
    {WIN, nullptr, "\\\\\\\\\"x y\"", 0, {"\\\\x y"}},
    {WIN, nullptr, "\"a\\\"b\" c", 0, {"a\"b", "c"}},
    {WIN, nullptr, "\\\" x", 0, {"\"", "x"}},
    {WIN, nullptr, "  a \t\t b\r\n ", 0, {"a", "b"}},
    {WIN, nullptr, "a\"b c\"d e", 0, {"ab cd", "e"}},
    {WIN, nullptr, "\"unterminated  quote", 0, {"unterminated  quote"}},
    {WIN, nullptr, "'single' quotes", 0, {"'single'", "quotes"}},
    {WIN, nullptr, "caf\xc3\xa9 \"\xc3\xbc \xf0\x9f\x98\x80\"", 0, {"caf\xc3\xa9", "\xc3\xbc \xf0\x9f\x98\x80"}},
    {WIN,
     nullptr,
     "a\xf8\x88\x80\x80\x80"
     "b",
     0,
     {"a\xf8\x88\x80\x80\x80"
      "b"}},
    {WIN, ",", "a,b,,c,", 0, {"a", "b", "c"}},
    {WIN, ",", "a b,\"c,d\"", 0, {"a b", "c,d"}},
    {WIN,
     "\xc2\xb7;",
     "a\xc2\xb7"
     "b;c d\xc2\xb7",
     0,
     {"a", "b", "c d"}},
    {WIN, "\xc2\xb7", "\xc2\xb8\xc2\xb7\xc3\xb7", 0, {"\xc2\xb8", "\xc3\xb7"}},
    // Shell rules.
    {SH, nullptr, "'a b' \"c d\" e\\ f", 0, {"a b", "c d", "e f"}},
    {SH, nullptr, "\"\\$x\" \"\\x\"", 0, {"$x", "\\x"}},
    {SH, nullptr, "\"\\\"\\\\\\`\\\n\"", 0, {"\"\\`\n"}},
    {SH, nullptr, "'a\\b' 'it\"s'", 0, {"a\\b", "it\"s"}},
    {SH, nullptr, "it\"'\"s", 0, {"it's"}},
    {SH, nullptr, "a'b c'd", 0, {"ab cd"}},
    {SH, nullptr, "'' \"\"", 0, {"", ""}},
    {SH, nullptr, "\\'x \\\\ \\\"", 0, {"'x", "\\", "\""}},
    {SH, nullptr, "a\\", 0, {"a"}},
    {SH, nullptr, "\"a\\", 0, {"a"}},
    {SH, nullptr, "'open quote", 0, {"open quote"}},
    {SH, nullptr, "\"a\nb\"  c", 0, {"a\nb", "c"}},
    {SH, nullptr, "\\\xc3\xa9 \"\\\xc3\xa9\"", 0, {"\xc3\xa9", "\\\xc3\xa9"}},
    // Malformed text ends the call with the decoder's status.
    {WIN, nullptr, "ok \xc0\x80", ERR_INVALID_UTF8_ENCODING, {}},
    {WIN, nullptr, "a b c \"\xed\xa0\x80\"", ERR_CODE_POINT_SURROGATE, {}},
    {WIN, nullptr, "\xef\xbf\xbe", ERR_INVALID_CODE_POINT, {}},
    {WIN, nullptr, "   \x80", ERR_INVALID_UTF8_ENCODING, {}},
    {SH, nullptr, "x \\\xc3", ERR_INVALID_UTF8_ENCODING, {}},
    {SH, nullptr, "'\xff'", ERR_INVALID_UTF8_ENCODING, {}},
    // Bad arguments.
    {2, nullptr, "a", ERR_INVALID_FLAGS, {}},
    {3, nullptr, "a", ERR_INVALID_FLAGS, {}},
    {8, nullptr, "a", ERR_INVALID_FLAGS, {}},
    {WIN, "", "a", ERR_INVALID_PARAMETER, {}},
    {WIN, "\xc3", "a", ERR_INVALID_PARAMETER, {}},
};

/** Checks one result: texts, terminating null entry, and the single-buffer layout. */
void CheckVector(char **papszArgv, int cArgs, const Args &expected, const char *pchBuf, size_t cbBuf) {
    ASSERT_NE(papszArgv, nullptr);
    ASSERT_EQ(cArgs, (int)expected.size());
    for (int i = 0; i < cArgs; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(HexBytes(papszArgv[i]), HexBytes(expected[i]));
        if (pchBuf) {
            EXPECT_GE(papszArgv[i], pchBuf);
            EXPECT_LT(papszArgv[i] + expected[i].size(), pchBuf + cbBuf);
        }
        if (i > 0)
            EXPECT_EQ(papszArgv[i], papszArgv[i - 1] + std::strlen(papszArgv[i - 1]) + 1);
    }
    EXPECT_EQ(papszArgv[cArgs], nullptr);
}

TEST(ArgvFromString, IntoANewBuffer) {
    for (const ArgvCase &c : g_aCases) {
        SCOPED_TRACE(testing::Message() << "style " << c.fStyle << " [" << HexBytes(c.cmdLine) << "]");
        const size_t cBefore = RTMemTestOutstanding();
        ExactBuffer<char> cmd(c.cmdLine + '\0');
        char **papszArgv = (char **)&cBefore;
        int cArgs = -1;
        EXPECT_EQ(ArgvFromString(&papszArgv, &cArgs, cmd.get(), c.fStyle, c.pszSeparators), c.rc);
        if (c.rc == 0) {
            CheckVector(papszArgv, cArgs, c.expected, nullptr, 0);
            if (cArgs > 0)
                EXPECT_TRUE(papszArgv[0] < cmd.get() || papszArgv[0] >= cmd.get() + cmd.size());
            ArgvFree(papszArgv, false);
        } else {
            EXPECT_EQ(papszArgv, nullptr);
            EXPECT_EQ(cArgs, 0);
        }
        EXPECT_EQ(std::string(cmd.get()), c.cmdLine); // the input is left alone
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
}

TEST(ArgvFromString, InPlace) {
    for (const ArgvCase &c : g_aCases) {
        SCOPED_TRACE(testing::Message() << "style " << c.fStyle << " [" << HexBytes(c.cmdLine) << "]");
        const size_t cBefore = RTMemTestOutstanding();
        ExactBuffer<char> cmd(c.cmdLine + '\0'); // writes past the terminator are ASan errors
        char **papszArgv = nullptr;
        int cArgs = -1;
        EXPECT_EQ(ArgvFromString(&papszArgv, &cArgs, cmd.get(), c.fStyle | RTGETOPTARGV_IN_PLACE, c.pszSeparators),
                  c.rc);
        if (c.rc == 0) {
            CheckVector(papszArgv, cArgs, c.expected, cmd.get(), cmd.size());
            if (cArgs > 0)
                EXPECT_EQ(papszArgv[0], cmd.get()); // texts start at the buffer, leading separators or not
            ArgvFree(papszArgv, true);
        }
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
}

TEST(ArgvFromString, ManyAndLongArguments) {
    // Past several growth steps of the vector, and one argument of a MiB.
    std::string cmdLine;
    Args expected;
    for (int i = 0; i < 200; i++) {
        std::string arg = "arg" + std::to_string(i);
        if (i % 3 == 0)
            arg += " with space";
        cmdLine += i % 3 == 0 ? "\"" + arg + "\" " : arg + "\t";
        expected.push_back(arg);
    }
    const std::string strLong(1024 * 1024, 'L');
    cmdLine += strLong;
    expected.push_back(strLong);

    for (bool fInPlace : {false, true}) {
        SCOPED_TRACE(fInPlace);
        ExactBuffer<char> cmd(cmdLine + '\0');
        char **papszArgv = nullptr;
        int cArgs = 0;
        ASSERT_EQ(ArgvFromString(&papszArgv, &cArgs, cmd.get(), fInPlace ? RTGETOPTARGV_IN_PLACE : 0, nullptr), 0);
        CheckVector(papszArgv, cArgs, expected, fInPlace ? cmd.get() : nullptr, cmd.size());
        ArgvFree(papszArgv, fInPlace);
    }
}

TEST(ArgvFromString, EveryAllocationFailureFreesEverything) {
    std::string cmdLine;
    for (int i = 0; i < 70; i++) // 70 arguments: the vector is grown at 0, 32 and 64
        cmdLine += "a" + std::to_string(i) + " ";
    struct Case {
        std::string cmdLine;
        uint32_t fFlags;
        int cArgs;
        std::vector<int> aExpected;
    };
    const Case aCases[] = {
        {cmdLine, 0, 70, {ERR_NO_STR_MEMORY, ERR_NO_MEMORY, ERR_NO_MEMORY, ERR_NO_MEMORY}},
        {cmdLine, RTGETOPTARGV_IN_PLACE, 70, {ERR_NO_MEMORY, ERR_NO_MEMORY, ERR_NO_MEMORY}},
        {"one", RTGETOPTARGV_STYLE_SHELL, 1, {ERR_NO_STR_MEMORY, ERR_NO_MEMORY}},
        {"   ", 0, 0, {ERR_NO_STR_MEMORY, ERR_NO_MEMORY}},
        {"", RTGETOPTARGV_IN_PLACE, 0, {ERR_NO_MEMORY}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        ExpectEachAllocationFailure(
            [&c] {
                std::string copy = c.cmdLine; // in place rewrites it
                char **papszArgv = nullptr;
                int cArgs = -1;
                int rc = ArgvFromString(&papszArgv, &cArgs, copy.data(), c.fFlags, nullptr);
                if (rc == 0) {
                    EXPECT_EQ(cArgs, c.cArgs);
                    ArgvFree(papszArgv, (c.fFlags & RTGETOPTARGV_IN_PLACE) != 0);
                } else
                    EXPECT_EQ(papszArgv, nullptr);
                return rc;
            },
            c.aExpected);
    }
}

} // namespace
