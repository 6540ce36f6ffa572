// The installer's command line: settings produced by each option, the parameter string
// rules, and the silent-mode diagnostics with their exit codes. (Help, version and the
// interactive message boxes are checked on the real executable.)
#include "stream-capture.h"
#include <olma/path.h>
#include "TeskStub.h"
#include "common/path/internal-path.h"

#include <vector>

namespace {

class CmdLineTest : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        ASSERT_EQ(rtPathSetExecPath("C:\\Tools\\TeskStub.exe"), 0);
    }
    void TearDown() override {
        silent = false;
        verbosity = 0;
        StreamTest::TearDown();
    }

    /** Parses "TeskStub.exe" plus the arguments with standard output and error captured. */
    bool parse(const std::vector<std::string> &Args, int *prcExit) {
        silent = false;
        verbosity = 0;
        m_Store = {"TeskStub.exe"};
        m_Store.insert(m_Store.end(), Args.begin(), Args.end());
        m_Argv.clear();
        for (std::string &s : m_Store)
            m_Argv.push_back(s.data());
        m_Argv.push_back(nullptr);
        captureStd();
        return ParseCommandLine((int)m_Store.size(), m_Argv.data(), &m_Settings, prcExit);
    }
    std::string abs(const char *pszPath) {
        char szAbs[4100];
        EXPECT_EQ(RTPathAbs(pszPath, szAbs, sizeof(szAbs)), 0);
        return szAbs;
    }

    InstallerSettings m_Settings;
    std::vector<std::string> m_Store;
    std::vector<char *> m_Argv;
};

/** The arguments of a case, each cut to 40 characters, for the failure trace. */
std::string argsTrace(const std::vector<std::string> &Args) {
    std::string strTrace;
    for (const std::string &s : Args)
        strTrace += "[" + s.substr(0, 40) + "]";
    return strTrace;
}

struct Expect {
    bool extractOnly = false;
    bool installCertificate = true;
    bool enableLogging = false;
    bool ignoreReboot = false;
    bool silent = false;
    unsigned verbosity = 0;
    std::string extractPath;
    std::string msiParams;
    std::string msiLogFile;
};

} // namespace

TEST_F(CmdLineTest, OptionsSetTheSettings) {
    auto E = [](auto fn) {
        Expect e;
        fn(e);
        return e;
    };
    struct Case {
        std::vector<std::string> Args;
        Expect Result;
    };
    const std::string strLong(4095, 'q');
    const std::vector<Case> aCases = {
        {{}, Expect()},
        {{"--extract"}, E([](Expect &e) { e.extractOnly = true; })},
        {{"-x"}, E([](Expect &e) { e.extractOnly = true; })},
        {{"/extract"}, E([](Expect &e) { e.extractOnly = true; })},
        {{"-s"}, E([](Expect &e) { e.silent = true; })},
        {{"/silent", "-silent"}, E([](Expect &e) { e.silent = true; })},
        {{"--no-silent-cert"}, E([](Expect &e) { e.installCertificate = false; })},
        {{"-c"}, E([](Expect &e) { e.installCertificate = false; })},
        {{"--logging"}, E([](Expect &e) { e.enableLogging = true; })},
        {{"/logging"}, E([](Expect &e) { e.enableLogging = true; })},
        {{"--ignore-reboot"}, E([](Expect &e) { e.ignoreReboot = true; })},
        {{"-v", "--verbose", "/verbose"}, E([](Expect &e) { e.verbosity = 3; })},
        {{"-vvv"}, E([](Expect &e) { e.verbosity = 3; })},
        {{"-xsv"}, E([](Expect &e) { e.extractOnly = e.silent = true, e.verbosity = 1; })},
        {{"--no-install-timestamp-ca", "--force-install-timestamp-ca", "-t", "-T"}, Expect()},
        {{"--msiparams", "A=1", "B=2"}, E([](Expect &e) { e.msiParams = "A=1 B=2"; })},
        {{"-msiparams=A=1", "-m", "C=3"}, E([](Expect &e) { e.msiParams = "A=1 C=3"; })},
        {{"--reinstall", "--msiparams", "X=1"},
         E([](Expect &e) { e.msiParams = "REINSTALLMODE=vomus REINSTALL=ALL X=1"; })},
        {{"--msi-prop", "NAME", "a b"}, E([](Expect &e) { e.msiParams = "NAME=\"a b\""; })},
        {{"--msi-prop", "NAME", "ab", "--msi-prop", "N2", "-dash"},
         E([](Expect &e) { e.msiParams = "NAME=ab N2=-dash"; })},
        {{"--msi-prop", "T", "tab\there"}, E([](Expect &e) { e.msiParams = "T=\"tab\there\""; })},
        {{"--msi-prop", "Q", "say\"hi\""}, E([](Expect &e) { e.msiParams = "Q=say\"hi\""; })},
        {{"--msiparams", "A=1", "/qn"}, E([](Expect &e) { e.msiParams = "A=1 /qn"; })},
        {{"--msiparams", "A=1", "--", "-x", "--silent"}, E([](Expect &e) { e.msiParams = "A=1 -x --silent"; })},
        {{"--msiparams", strLong}, E([&](Expect &e) { e.msiParams = strLong; })},
        {{"--path", "sub/dir"}, E([&](Expect &e) { e.extractPath = abs("sub/dir"); })},
        {{"--path=first", "/path", ""}, Expect()},
        {{"--msi-log-file", "log.txt"}, E([&](Expect &e) { e.msiLogFile = abs("log.txt"); })},
        {{"-msilogfile:x.log", "-l"}, E([&](Expect &e) { e.msiLogFile = abs("x.log"), e.enableLogging = true; })},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(argsTrace(c.Args));
        int rcExit = -1;
        EXPECT_TRUE(parse(c.Args, &rcExit));
        EXPECT_EQ(rcExit, 0);
        EXPECT_EQ(m_Settings.extractOnly, c.Result.extractOnly);
        EXPECT_EQ(m_Settings.installCertificate, c.Result.installCertificate);
        EXPECT_EQ(m_Settings.enableLogging, c.Result.enableLogging);
        EXPECT_EQ(m_Settings.ignoreReboot, c.Result.ignoreReboot);
        EXPECT_EQ(silent, c.Result.silent);
        EXPECT_EQ(verbosity, c.Result.verbosity);
        EXPECT_EQ(m_Settings.extractPath, c.Result.extractPath);
        EXPECT_EQ(m_Settings.msiParams, c.Result.msiParams);
        EXPECT_EQ(m_Settings.msiLogFile, c.Result.msiLogFile);
        EXPECT_EQ(finish("err"), "");
        EXPECT_EQ(readFile("out"), "");
    }
}

TEST_F(CmdLineTest, SilentSyntaxErrors) {
    struct Case {
        std::vector<std::string> Args;
        const char *pszErr; // after "TeskStub.exe: error: "
    };
    const std::string strFull(4095, 'q');
    const std::string strTooLong(4096, 'q');
    const std::string strHugePath(5000, 'p');
    const std::vector<Case> aCases = {
        {{"--silent", "--bogus"}, "Unknown option: '--bogus'"},
        {{"--silent", "B=2"}, "Invalid parameter: B=2"},
        {{"--silent", "--msiparams", "A=1", "-zz"}, "Unknown option: '-zz'"},
        {{"--silent", "--silent=1"}, "Unknown option: '--silent=1'"},
        {{"--silent", "-"}, "Unknown option: '-'"},
        {{"--silent", "--", "A=1"}, "Invalid parameter: A=1"},
        {{"--silent", "--path"}, "--path: An option's value is missing"},
        {{"--silent", "--msi-prop", "A B", "v"}, "The first argument to --msi-prop must not contain spaces: A B"},
        {{"--silent", "--msi-prop", "NAME"}, "--msi-prop takes two arguments, the 2nd is missing"},
        {{"--silent", "--msi-prop", "", ""}, "Out of space for MSI parameters and properties"},
        {{"--silent", "--msiparams", strFull, "x"}, "Out of space for MSI parameters and properties"},
        {{"--silent", "--msiparams", strTooLong}, "Out of space for MSI parameters and properties"},
        {{"--silent", "--msiparams", strFull.substr(2), "--reinstall"},
         "Out of space for MSI parameters and properties"},
        {{"--silent", "--msiparams", strFull.substr(3), "--msi-prop", "A", "1"},
         "Out of space for MSI parameters and properties"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(argsTrace(c.Args));
        int rcExit = -1;
        EXPECT_FALSE(parse(c.Args, &rcExit));
        EXPECT_EQ(rcExit, 2);
        EXPECT_EQ(finish("err"), std::string("TeskStub.exe: error: ") + c.pszErr + "\r\n");
        EXPECT_EQ(readFile("out"), "");
    }

    // The property that just fits is taken; one more byte is not.
    int rcExit = -1;
    EXPECT_TRUE(parse({"--msiparams", strFull.substr(4), "--msi-prop", "A", "1"}, &rcExit));
    EXPECT_EQ(std::string(m_Settings.msiParams), strFull.substr(4) + " A=1");

    // Path failures carry the status; only the text before it is fixed.
    for (const char *pszOpt : {"--path", "--msi-log-file"}) {
        SCOPED_TRACE(pszOpt);
        EXPECT_FALSE(parse({"-s", pszOpt, strHugePath}, &rcExit));
        EXPECT_EQ(rcExit, 2);
        const std::string strErr = finish("err");
        const std::string strPrefix = std::string("TeskStub.exe: error: ") +
                                      (pszOpt[2] == 'p' ? "Extraction path" : "MSI log file path") +
                                      " is too long (ERR_";
        EXPECT_EQ(strErr.substr(0, strPrefix.size()), strPrefix) << strErr;
    }
}

TEST_F(CmdLineTest, SilentHelpAndVersionGoToStandardOutput) {
    int rcExit = -1;
    EXPECT_FALSE(parse({"-s", "-V", "--bogus"}, &rcExit));
    EXPECT_EQ(rcExit, 0);
    EXPECT_EQ(finish("out"), "Version: 1.0.0r1\r\n");
    EXPECT_EQ(readFile("err"), "");
}

TEST_F(CmdLineTest, MessageFunctions) {
    silent = true;
    captureStd();
    EXPECT_EQ(ShowError("Another installer is already running"), 1);
    EXPECT_EQ(ShowError("%s", ""), 1); // nothing to show
    EXPECT_EQ(ShowSyntaxError("line %d\nline %d", 1, 2), 2);
    ShowInfo("%s", "");
    ShowInfo("info %s", "text");
    EXPECT_EQ(PrintError("e%d", 1), 10);
    EXPECT_EQ(PrintErrorFailure("failure %s", "x"), 1);
    EXPECT_EQ(PrintErrorStatus(-42, "status %d", -42), -42);
    EXPECT_EQ(finish("err"), "TeskStub.exe: error: Another installer is already running\r\n"
                             "TeskStub.exe: error: line 1\r\nTeskStub.exe: error: line 2\r\n"
                             "error: e1\r\nerror: failure x\r\nerror: status -42\r\n");
    EXPECT_EQ(readFile("out"), "\r\ninfo text\r\n");
}
