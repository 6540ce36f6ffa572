// Starts the image built without a C runtime with exact command lines (CreateProcessW
// takes the command line verbatim, so the quoting rules are really exercised) and
// checks its output and exit code.
#include <gtest/gtest.h>
#include <string>
#include "e2e/run-image.h"

using e2e::run;
using e2e::RunResult;

namespace {
std::string argLines(std::initializer_list<const char *> Args) {
    std::string str = "argc " + std::to_string(Args.size()) + "\n";
    int i = 0;
    for (const char *psz : Args)
        str += "[" + std::to_string(i++) + "]" + psz + "\n";
    return str;
}
} // namespace

TEST(StartupImage, CommandLineQuoting) {
    struct Case {
        const char *pszCmdLine;
        std::string strExpected;
    };
    const Case aCases[] = {
        {"img", argLines({"img"})},
        {"img a b", argLines({"img", "a", "b"})},
        {"img \"a b\" c", argLines({"img", "a b", "c"})},
        {"img \"\"", argLines({"img", ""})},
        {"img \"\" \"\"", argLines({"img", "", ""})},
        {"img \"a\"\"b\"", argLines({"img", "a\"b"})},
        {"img C:\\dir\\\\", argLines({"img", "C:\\dir\\\\"})},
        {"img a\\\\\"b c\"", argLines({"img", "a\\b c"})},
        {"img a\\\\\\\"b", argLines({"img", "a\\\"b"})},
        {"img   a \t b   ", argLines({"img", "a", "b"})},
        {"img \xc3\xbcnic\xc3\xb6"
         "de \"\xe2\x82\xac 5\" \xf0\x9f\x98\x80",
         argLines({"img",
                   "\xc3\xbcnic\xc3\xb6"
                   "de",
                   "\xe2\x82\xac 5", "\xf0\x9f\x98\x80"})},
        {"\"C:\\Program Files\\img.exe\" --x=\"1 2\"", argLines({"C:\\Program Files\\img.exe", "--x=1 2"})},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszCmdLine);
        RunResult Res = run(L"startup-image.exe", c.pszCmdLine);
        EXPECT_EQ(Res.strOut, c.strExpected + "terminator\n");
        EXPECT_EQ(Res.strErr, "");
        EXPECT_EQ(Res.uExit, 42u);
    }
}

TEST(StartupImage, ExitHandlersRunNewestFirstThenTerminators) {
    RunResult Res = run(L"startup-image.exe", "img --exit-handlers");
    EXPECT_EQ(Res.strOut, "handler 3\nhandler 2\nhandler 1\nterminator\n");
    EXPECT_EQ(Res.uExit, 7u);
}

TEST(StartupImage, ExitHandlerTableHoldsExactly8192) {
    RunResult Res = run(L"startup-image.exe", "img --exit-handler-limit");
    EXPECT_EQ(Res.strOut, "registered 8192 count 8192\nran 8191\nterminator\n");
    EXPECT_EQ(Res.uExit, 0u);
}

TEST(StartupImage, SecondStageInitializersRunOnce) {
    RunResult Res = run(L"startup-image.exe", "img --second-stage");
    EXPECT_EQ(Res.strOut, "1\nterminator\n");
}

TEST(StartupImage, FailingFirstStageInitializerEndsTheProcess) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"OLMA_TEST_INIT_FAIL", L"5"));
    RunResult Res = run(L"startup-image.exe", "img --exit-handlers");
    SetEnvironmentVariableW(L"OLMA_TEST_INIT_FAIL", nullptr);
    EXPECT_EQ(Res.strErr, "A C static initializor failed (5 (0x5)\r\n");
    // Neither main, nor the exit handlers, nor the terminators ran.
    EXPECT_EQ(Res.strOut, "");
    EXPECT_EQ(Res.uExit, 5u);
}

TEST(StartupImage, SmashedStackEndsInTheCookieReport) {
    RunResult Res = run(L"startup-image.exe", "img --smash");
    const std::string strPrefix = "\r\n\r\n!!Stack cookie corruption!!\r\n\r\nexpected";
    EXPECT_EQ(Res.strErr.substr(0, strPrefix.size()), strPrefix);
    EXPECT_NE(Res.strErr.find(", found "), std::string::npos);
    EXPECT_EQ(Res.uExit, 0xc0000409u);
    EXPECT_EQ(Res.strOut.find("terminator"), std::string::npos);
}

TEST(Bootstrapper, RunsThroughStartupToItsMissingManifest) {
    // The bare stub carries no packages: the run gets as far as the manifest.
    RunResult Res = run(L"TeskStub.exe", "TeskStub.exe --silent");
    EXPECT_EQ(Res.strOut, "");
    EXPECT_EQ(Res.strErr, "TeskStub.exe: error: Internal package error: Manifest not found (ERR_IO_GEN_FAILURE)\r\n");
    EXPECT_EQ(Res.uExit, 1u);
}
