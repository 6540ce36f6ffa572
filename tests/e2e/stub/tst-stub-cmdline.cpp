// The bootstrapper's command line on the real executable: help and version in every
// spelling, the order of --silent against them, and silent-mode syntax errors with
// their messages and exit codes. The process is started with an exact command line
// and its standard output and error are pipes, as deployment tooling runs it.
#include <gtest/gtest.h>
#include <string>
#include "e2e/run-image.h"

using e2e::RunResult;

namespace {
RunResult runStub(const std::string &strCmdLine) {
    return e2e::run(L"TeskStub.exe", strCmdLine);
}

const char g_szHelp[] = "-- Brindlecap Installer v1.0.0r1 --\r\n"
                        "\r\n"
                        "Command Line Parameters:\r\n"
                        "\r\n"
                        "--extract\r\n"
                        "    Extract file contents to temporary directory\r\n"
                        "--logging\r\n"
                        "    Enables MSI installer logging (to extract path)\r\n"
                        "--msi-log-file <path/to/file>\r\n"
                        "    Sets MSI logging to <file>\r\n"
                        "--msiparams <parameters>\r\n"
                        "    Specifies extra parameters for the MSI installers\r\n"
                        "    double quoted arguments must be doubled and put\r\n"
                        "    in quotes: --msiparams \"PROP=\"\"a b c\"\"\"\r\n"
                        "--msi-prop <prop> <value>\r\n"
                        "    Adds <prop>=<value> to the MSI parameters,\r\n"
                        "    quoting the property value if necessary\r\n"
                        "--no-silent-cert\r\n"
                        "    Do not install Brindlecap Certificate automatically\r\n"
                        "    when --silent option is specified\r\n"
                        "--path\r\n"
                        "    Sets the path of the extraction directory\r\n"
                        "--reinstall\r\n"
                        "    Forces Brindlecap to get re-installed\r\n"
                        "--ignore-reboot\r\n"
                        "   Do not set exit code to 3010 if a reboot is required\r\n"
                        "--silent\r\n"
                        "   Enables silent mode installation\r\n"
                        "--version\r\n"
                        "   Displays version number and exit\r\n"
                        "-?, -h, --help\r\n"
                        "   Displays this help text and exit\r\n"
                        "\r\n"
                        "Examples:\r\n"
                        "  TeskStub.exe --msiparams \"INSTALLDIR=\"\"C:\\Program Files\\Brindlecap\"\"\"\r\n"
                        "  TeskStub.exe --extract -path C:\\Tesk\r\n";
} // namespace

TEST(StubCommandLine, HelpInEverySpelling) {
    for (const char *pszHelp : {"-?", "/?", "-h", "-help", "--help", "/help"}) {
        SCOPED_TRACE(pszHelp);
        RunResult Res = runStub(std::string("TeskStub.exe --silent ") + pszHelp);
        EXPECT_EQ(Res.strOut, g_szHelp);
        EXPECT_EQ(Res.strErr, "");
        EXPECT_EQ(Res.uExit, 0u);
    }
    // The examples name the program as it was started.
    RunResult Res = runStub("\"C:\\some where\\setup.exe\" -s -?");
    EXPECT_NE(Res.strOut.find("  C:\\some where\\setup.exe --extract -path C:\\Tesk\r\n"), std::string::npos)
        << Res.strOut;
}

TEST(StubCommandLine, VersionInEverySpelling) {
    for (const char *pszVersion : {"-V", "-version", "--version", "/version"}) {
        SCOPED_TRACE(pszVersion);
        RunResult Res = runStub(std::string("TeskStub.exe /silent ") + pszVersion + " --bogus");
        EXPECT_EQ(Res.strOut, "Version: 1.0.0r1\r\n");
        EXPECT_EQ(Res.strErr, "");
        EXPECT_EQ(Res.uExit, 0u);
    }
}

TEST(StubCommandLine, SilentSyntaxErrors) {
    struct Case {
        const char *pszArgs;
        const char *pszErr;
    };
    const Case aCases[] = {
        {"--silent --bogus", "TeskStub.exe: error: Unknown option: '--bogus'\r\n"},
        {"-s B=2", "TeskStub.exe: error: Invalid parameter: B=2\r\n"},
        {"-s --msiparams A=1 -q", "TeskStub.exe: error: Unknown option: '-q'\r\n"},
        {"-s --path", "TeskStub.exe: error: --path: An option's value is missing\r\n"},
        {"-s --msi-prop \"A B\" v",
         "TeskStub.exe: error: The first argument to --msi-prop must not contain spaces: A B\r\n"},
        {"-s --msi-prop NAME", "TeskStub.exe: error: --msi-prop takes two arguments, the 2nd is missing\r\n"},
        {"-s --msi-prop \"\" \"\"", "TeskStub.exe: error: Out of space for MSI parameters and properties\r\n"},
        {"-s -- --help", "TeskStub.exe: error: Invalid parameter: --help\r\n"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszArgs);
        RunResult Res = runStub(std::string("TeskStub.exe ") + c.pszArgs);
        EXPECT_EQ(Res.strErr, c.pszErr);
        EXPECT_EQ(Res.strOut, "");
        EXPECT_EQ(Res.uExit, 2u);
    }
}

TEST(StubCommandLine, ValidCommandLinesReachTheRun) {
    // The bare stub carries no packages, so a command line that parses ends at the
    // missing manifest, which is not a syntax error.
    for (const char *pszArgs : {"--silent --msiparams A=1 B=2 /qn", "-s --msi-prop NAME \"a b\" --msi-prop X -y",
                                "-s --reinstall --msiparams X=1", "-s --no-install-timestamp-ca -T",
                                "-s --path \"\" --path sub -x -c -l --ignore-reboot"}) {
        SCOPED_TRACE(pszArgs);
        RunResult Res = runStub(std::string("TeskStub.exe ") + pszArgs);
        EXPECT_EQ(Res.strOut, "");
        EXPECT_EQ(Res.strErr,
                  "TeskStub.exe: error: Internal package error: Manifest not found (ERR_IO_GEN_FAILURE)\r\n");
        EXPECT_EQ(Res.uExit, 1u);
    }
    // Verbose runs write on a console of their own, not on the streams they were given.
    // (Started the way the desktop starts it, without a console: Wine would otherwise hand
    // the child this program's console, which the platform does not do for a windowed
    // program.)
    e2e::RunOptions Opts;
    Opts.fCreationFlags = DETACHED_PROCESS;
    RunResult Res = e2e::run(L"TeskStub.exe", "TeskStub.exe -svvv", Opts);
    EXPECT_EQ(Res.strOut, "");
    EXPECT_EQ(Res.strErr, "");
    EXPECT_EQ(Res.uExit, 1u);
}
