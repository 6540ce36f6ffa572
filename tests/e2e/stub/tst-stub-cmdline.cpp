// The bootstrapper's command line on the real executable: help and version in every
// spelling, the order of --silent against them, and silent-mode syntax errors with
// their messages and exit codes. The process is started with an exact command line
// and its standard output and error are pipes, as deployment tooling runs it.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <thread>

namespace {
struct RunResult {
    std::string strOut;
    std::string strErr;
    DWORD uExit = 0xffffffff;
};

std::wstring imageDir() {
    wchar_t wsz[MAX_PATH];
    DWORD cwc = GetModuleFileNameW(nullptr, wsz, MAX_PATH);
    std::wstring str(wsz, cwc);
    return str.substr(0, str.find_last_of(L"\\/") + 1);
}

std::wstring utf8ToWide(const std::string &str) {
    int cwc = MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), nullptr, 0);
    std::wstring wstr(cwc, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), wstr.data(), cwc);
    return wstr;
}

void drain(HANDLE h, std::string *pstr) {
    char ach[4096];
    DWORD cb;
    while (ReadFile(h, ach, sizeof(ach), &cb, nullptr) && cb)
        pstr->append(ach, cb);
}

RunResult runStub(const std::string &strCmdLine) {
    RunResult Res;
    SECURITY_ATTRIBUTES Sa = {sizeof(Sa), nullptr, TRUE};
    HANDLE hOutRd, hOutWr, hErrRd, hErrWr;
    EXPECT_TRUE(CreatePipe(&hOutRd, &hOutWr, &Sa, 0));
    EXPECT_TRUE(CreatePipe(&hErrRd, &hErrWr, &Sa, 0));
    SetHandleInformation(hOutRd, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hErrRd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW Si = {};
    Si.cb = sizeof(Si);
    Si.dwFlags = STARTF_USESTDHANDLES;
    Si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    Si.hStdOutput = hOutWr;
    Si.hStdError = hErrWr;
    PROCESS_INFORMATION Pi = {};
    std::wstring wstrApp = imageDir() + L"TeskStub.exe";
    std::wstring wstrCmd = utf8ToWide(strCmdLine);
    BOOL fOk = CreateProcessW(wstrApp.c_str(), wstrCmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Si, &Pi);
    CloseHandle(hOutWr);
    CloseHandle(hErrWr);
    EXPECT_TRUE(fOk) << "CreateProcessW failed: " << GetLastError();
    std::thread ThrdOut(drain, hOutRd, &Res.strOut);
    std::thread ThrdErr(drain, hErrRd, &Res.strErr);
    if (fOk) {
        EXPECT_EQ(WaitForSingleObject(Pi.hProcess, 120000), WAIT_OBJECT_0);
        GetExitCodeProcess(Pi.hProcess, &Res.uExit);
        CloseHandle(Pi.hProcess);
        CloseHandle(Pi.hThread);
    }
    ThrdOut.join();
    ThrdErr.join();
    CloseHandle(hOutRd);
    CloseHandle(hErrRd);
    return Res;
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

TEST(StubCommandLine, ValidCommandLinesSayNothing) {
    for (const char *pszArgs : {"--silent --msiparams A=1 B=2 /qn", "-s --msi-prop NAME \"a b\" --msi-prop X -y",
                                "-s --reinstall --msiparams X=1", "-svvv --no-install-timestamp-ca -T",
                                "-s --path \"\" --path sub -x -c -l --ignore-reboot"}) {
        SCOPED_TRACE(pszArgs);
        RunResult Res = runStub(std::string("TeskStub.exe ") + pszArgs);
        EXPECT_EQ(Res.strOut, "");
        EXPECT_EQ(Res.strErr, "");
        EXPECT_EQ(Res.uExit, 0u);
    }
}
