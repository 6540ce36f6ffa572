// The whole run after runtime initialisation over doubles of the engine, the certificate store,
// the mutex and the console: which packages reach the engine and what they look like on
// disk at that moment, the exit codes, what is left on disk afterwards, and every early
// end of the run with its message.
#include "stub-test.h"

#include <cstdlib>
#include <deque>

namespace {

namespace fs = std::filesystem;

/** Sets (or with null removes) an environment variable for the runtime to read. */
void setEnv(const char *pszName, const char *pszValue) {
#ifdef _WIN32
    _putenv_s(pszName, pszValue ? pszValue : "");
#else
    if (pszValue)
        setenv(pszName, pszValue, 1);
    else
        unsetenv(pszName);
#endif
}

/** A call of the engine's install function and the package's bytes at that moment. */
struct Install {
    std::string strPackage;
    std::string strParams;
    std::string strContent;
};

class RunTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        recordBoxes();
        setResources(&m_Resources);
        fs::create_directories(fsPath("tmp"));
        const char *psz = getenv("OLMA_TMPDIR");
        m_strSavedTmp = psz ? psz : "";
        m_fHadTmp = psz != nullptr;
        setEnv("OLMA_TMPDIR", path("tmp").c_str());

        s_Installs.clear();
        s_Results.clear();
        s_LogFiles.clear();
        s_Certs.clear();
        s_fCertFails = false;
        s_fMutexExists = false;
        s_cMutexOpen = 0;
        s_cConsole = 0;
        s_strWriteLog.clear();
        s_Sleeps.clear();
        g_StubPlatform.pfnMsiSetInternalUI = [](uint32_t) -> uint32_t { return 5; };
        g_StubPlatform.pfnInitCommonControls = [](uint32_t) {};
        g_StubPlatform.pfnMsiEnableLog = enableLog;
        // Results get no text from the system: the messages carry the number.
        g_StubPlatform.pfnFormatMessage = [](uint32_t, StubHandle, uint32_t, uint32_t, RTUTF16 **) -> uint32_t {
            return 0;
        };
        g_StubPlatform.pfnLoadMessageModule = [](const RTUTF16 *) -> StubHandle { return 0; };
        g_StubPlatform.pfnMsiInstallProduct = installProduct;
        g_StubPlatform.pfnCertCreateCertificateContext = [](uint32_t, const void *pv, uint32_t cb) -> void * {
            s_Certs.emplace_back((const char *)pv, cb);
            return (void *)&s_Certs;
        };
        g_StubPlatform.pfnCertOpenStore = [](uint32_t, uint32_t, uintptr_t, uint32_t fFlags,
                                             const RTUTF16 *pwszName) -> void * {
            s_Certs.back() += "|" + std::to_string(fFlags) + "|" + toUtf8(pwszName);
            return s_fCertFails ? nullptr : (void *)&s_Certs;
        };
        g_StubPlatform.pfnCertAddCertificateContextToStore = [](void *, void *, uint32_t) { return true; };
        g_StubPlatform.pfnCertCloseStore = [](void *, uint32_t) { return true; };
        g_StubPlatform.pfnCertFreeCertificateContext = [](void *) { return true; };
        g_StubPlatform.pfnGetLastError = []() -> uint32_t { return 5; };
        g_StubPlatform.pfnCreateMutex = [](const RTUTF16 *pwszName, bool *pfAlreadyExists) -> StubHandle {
            EXPECT_EQ(toUtf8(pwszName), "TeskStubInstaller");
            *pfAlreadyExists = s_fMutexExists;
            s_cMutexOpen++;
            return 0x1234;
        };
        g_StubPlatform.pfnCloseHandle = [](StubHandle h) {
            EXPECT_EQ(h, (StubHandle)0x1234);
            s_cMutexOpen--;
        };
        g_StubPlatform.pfnAllocConsole = [](uint32_t *) {
            s_cConsole++;
            return true;
        };
        g_StubPlatform.pfnFreeConsole = [] { s_cConsole--; };
        m_strConsole = path("console");
        g_StubPlatform.pszConsoleDevice = m_strConsole.c_str();
        // Once-only allocations of the runtime (the process's random generator and the
        // like) are made by a first run, so that the runs measured leave nothing.
        static bool s_fWarm = false;
        if (!s_fWarm) {
            m_Resources = {{"MANIFEST", manifest(1)}};
            addPackage(m_Resources, 0, 3, "warm.msi", "up");
            run({"-s"}, true);
            m_Resources.clear();
            s_Installs.clear();
            s_fWarm = true;
        }
        g_pfnCleanupSleep = [](RTMSINTERVAL cMillies) {
            s_Sleeps.push_back(cMillies);
            return 0;
        };
    }
    void TearDown() override {
        EXPECT_EQ(s_cMutexOpen, 0) << "mutex left open";
        EXPECT_EQ(s_cConsole, 0) << "console left attached";
        setEnv("OLMA_TMPDIR", m_fHadTmp ? m_strSavedTmp.c_str() : nullptr);
        StubTest::TearDown();
    }

    /** Runs the installer with these arguments; the exit code, output kept in m_Out.
     *  Records released unprocessed (extraction only) have their handles closed as the
     *  process's end would close them. Runs that end before the records are released at
     *  all (fKeepsRecords: the early ends before extraction) leave them, and the memory
     *  they hold, to the process's end, here to the test. */
    int run(const std::vector<std::string> &Args, bool fKeepsRecords = false) {
        // A new process starts with the process-wide switches off.
        silent = false;
        verbosity = 0;
        std::vector<std::string> Store = {"TeskStub.exe"};
        Store.insert(Store.end(), Args.begin(), Args.end());
        std::vector<char *> Argv;
        for (std::string &s : Store)
            Argv.push_back(s.data());
        Argv.push_back(nullptr);
        int rcExit = -1;
        g_pfnCleanupReleaseHook = closeRecordHandle;
        m_Out = captureCall([&] { rcExit = RunInstaller((int)Store.size(), Argv.data()); }, !fKeepsRecords);
        g_pfnCleanupReleaseHook = nullptr;
        releaseCleanupRecords();
        return rcExit;
    }

    /** Entries of a directory of the test tree (names only, sorted). */
    std::vector<std::string> entries(const std::string &strDir) const {
        std::vector<std::string> vec;
        std::error_code ec;
        for (auto &Entry : fs::directory_iterator(fsPath(strDir), ec))
            vec.push_back(TmpDirTest::toUtf8(Entry.path().filename()));
        std::sort(vec.begin(), vec.end());
        return vec;
    }

    static uint32_t enableLog(uint32_t, const RTUTF16 *pwszLogFile, uint32_t) {
        s_LogFiles.push_back(toUtf8(pwszLogFile));
        return 0;
    }
    static uint32_t installProduct(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParams) {
        Install Rec{toUtf8(pwszPackage), toUtf8(pwszParams), ""};
        std::ifstream In(fromUtf8(Rec.strPackage), std::ios::binary);
        Rec.strContent.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
        s_Installs.push_back(Rec);
        if (!s_strWriteLog.empty())
            std::ofstream(fromUtf8(s_strWriteLog), std::ios::binary) << "engine log\n";
        if (s_Results.empty())
            return 0;
        const uint32_t uResult = s_Results.front();
        s_Results.pop_front();
        return uResult;
    }

    std::vector<Resource> m_Resources;
    Output m_Out;
    std::string m_strConsole;
    std::string m_strSavedTmp;
    bool m_fHadTmp = false;

    static inline std::vector<Install> s_Installs;
    static inline std::deque<uint32_t> s_Results;
    static inline std::vector<std::string> s_LogFiles;
    static inline std::vector<std::string> s_Certs;
    static inline bool s_fCertFails = false;
    static inline bool s_fMutexExists = false;
    static inline int s_cMutexOpen = 0;
    static inline int s_cConsole = 0;
    static inline std::string s_strWriteLog;
    static inline std::vector<uint32_t> s_Sleeps;
};

/** The last path component. */
std::string nameOf(const std::string &strPath) {
    return strPath.substr(strPath.find_last_of("/\\") + 1);
}

} // namespace

TEST_F(RunTest, SilentInstallRunsTheApplicablePackagesAndRemovesEverything) {
    const std::string strAll = payload(65537, 1), strAmd64 = payload(3, 2), strX86 = payload(10, 3);
    m_Resources = {{"MANIFEST", manifest(4)}};
    addPackage(m_Resources, 0, 1, "data.cab", payload(100, 4));
    addPackage(m_Resources, 1, 1, "all.msi", strAll);
    addPackage(m_Resources, 2, 2, "x86.msi", strX86);
    addPackage(m_Resources, 3, 3, "amd64.MSI", strAmd64);
    EXPECT_EQ(run({"--silent", "--msiparams", "A=1", "B=2", "--msi-prop", "P", "x y", "--reinstall"}), 0)
        << m_Out.strErr;
    ASSERT_EQ(s_Installs.size(), 2u);
    const std::string strDir = s_Installs[0].strPackage.substr(0, s_Installs[0].strPackage.find_last_of(kSlash));
    EXPECT_EQ(nameOf(strDir).size(), 24u);
    EXPECT_EQ(strDir.substr(0, path("tmp").size()), path("tmp"));
    EXPECT_EQ(nameOf(s_Installs[0].strPackage), "all.msi");
    EXPECT_EQ(s_Installs[0].strContent, strAll);
    // An architecture-specific package gets an unpredictable name with its suffix.
    EXPECT_EQ(nameOf(s_Installs[1].strPackage).size(), 28u);
    EXPECT_EQ(nameOf(s_Installs[1].strPackage).substr(24), ".MSI");
    EXPECT_EQ(s_Installs[1].strContent, strAmd64);
    for (const Install &Rec : s_Installs)
        EXPECT_EQ(Rec.strParams, "A=1 B=2 P=\"x y\" REINSTALLMODE=vomus REINSTALL=ALL");
    EXPECT_TRUE(s_LogFiles.empty());
    EXPECT_TRUE(s_Certs.empty()); // none embedded
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
    EXPECT_TRUE(s_Sleeps.empty());
    EXPECT_TRUE(m_Out.nothingShown()) << m_Out.strOut << m_Out.strErr;
    EXPECT_TRUE(cleanupList().empty());
}

TEST_F(RunTest, ResultsOfSeveralPackages) {
    struct Case {
        std::vector<uint32_t> Results;
        std::vector<std::string> ExtraArgs;
        int rcExit;
        size_t cInstalls;
        const char *pszErr;
    };
    const Case aCases[] = {
        {{3010, 0, 0}, {}, 3010, 3, ""},
        {{0, 3010, 0}, {"--ignore-reboot"}, 0, 3, ""},
        {{3010, 1602, 0}, {}, 1, 2, ""}, // the user cancelled: no message
        {{1603, 0, 0}, {}, 1, 1, "TeskStub.exe: error: Installation failed! Error: 1603\r\n"},
        {{0, 1633, 0},
         {},
         1,
         2,
         "TeskStub.exe: error: This installation package is not supported on this platform.\r\n"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.Results[0] * 10000 + c.Results[1]);
        m_Resources = {{"MANIFEST", manifest(3)}};
        for (unsigned i = 0; i < 3; i++)
            addPackage(m_Resources, i, 1, "p" + std::to_string(i) + ".msi", payload(5, i));
        s_Installs.clear();
        s_Results.assign(c.Results.begin(), c.Results.end());
        std::vector<std::string> Args = {"-s"};
        Args.insert(Args.end(), c.ExtraArgs.begin(), c.ExtraArgs.end());
        EXPECT_EQ(run(Args), c.rcExit);
        EXPECT_EQ(s_Installs.size(), c.cInstalls);
        EXPECT_EQ(m_Out.strErr, c.pszErr);
        // Clean-up runs whatever the result.
        EXPECT_EQ(entries("tmp"), std::vector<std::string>());
    }
}

TEST_F(RunTest, HostArchitecture) {
    m_Resources = {{"MANIFEST", manifest(2)}};
    addPackage(m_Resources, 0, 2, "x86.msi", payload(7, 1));
    addPackage(m_Resources, 1, 3, "amd64.msi", payload(8, 2));
    g_StubPlatform.pfnHostIs64Bit = [] { return false; };
    // Interactive on a 32-bit host: refused before anything is extracted; the extraction
    // directory made for the run stays behind, empty.
    EXPECT_EQ(run({}, true), 1);
    ASSERT_EQ(m_Out.Boxes.size(), 1u);
    EXPECT_EQ(m_Out.Boxes[0].strText, "32-bit Windows hosts are not supported by this Brindlecap release.");
    EXPECT_EQ(m_Out.Boxes[0].fFlags, STUB_MB_ICONERROR);
    EXPECT_EQ(m_Out.Boxes[0].strCaption, "Brindlecap Installer");
    ASSERT_EQ(entries("tmp").size(), 1u);
    EXPECT_EQ(entries("tmp/" + entries("tmp")[0]), std::vector<std::string>());
    EXPECT_TRUE(s_Installs.empty());
    fs::remove_all(fsPath("tmp/" + entries("tmp")[0]));

    // Silent on a 32-bit host: the x86 package only.
    EXPECT_EQ(run({"-s"}), 0);
    ASSERT_EQ(s_Installs.size(), 1u);
    EXPECT_EQ(s_Installs[0].strContent, payload(7, 1));
    // Extraction only takes every package under its own name.
    s_Installs.clear();
    EXPECT_EQ(run({"-s", "-x"}), 0);
    EXPECT_EQ(entries("tmp"), (std::vector<std::string>{"amd64.msi", "x86.msi"}));
}

TEST_F(RunTest, ExtractOnly) {
    m_Resources = {{"MANIFEST", manifest(2)}};
    addPackage(m_Resources, 0, 3, "amd64.msi", payload(65536, 1));
    addPackage(m_Resources, 1, 1, "data.cab", payload(0x30001, 2));
    // Without --path into the temporary directory itself.
    EXPECT_EQ(run({"--silent", "--extract"}), 0);
    EXPECT_EQ(m_Out.strOut, "Files were extracted to: " + path("tmp") + "\r\n");
    EXPECT_EQ(entries("tmp"), (std::vector<std::string>{"amd64.msi", "data.cab"}));
    EXPECT_EQ(readFile("tmp/data.cab"), payload(0x30001, 2));
    EXPECT_TRUE(s_Installs.empty());

    // With --path to a directory that does not exist yet: made, and left with the files.
    EXPECT_EQ(run({"--extract", "--path", path("extracted")}), 0);
    ASSERT_EQ(m_Out.Boxes.size(), 1u);
    EXPECT_EQ(m_Out.Boxes[0].fFlags, STUB_MB_ICONINFORMATION);
    EXPECT_EQ(m_Out.Boxes[0].strText, "Files were extracted to: " + path("extracted"));
    EXPECT_EQ(entries("extracted"), (std::vector<std::string>{"amd64.msi", "data.cab"}));
}

TEST_F(RunTest, PathGiven) {
    m_Resources = {{"MANIFEST", manifest(1)}};
    addPackage(m_Resources, 0, 1, "p.msi", payload(33, 1));
    fs::create_directories(fsPath("mine"));
    writeFile("mine/keep.txt", "user's");
    writeFile("mine/p.msi", "an older copy");
    EXPECT_EQ(run({"-s", "--path", path("mine")}), 0);
    ASSERT_EQ(s_Installs.size(), 1u);
    EXPECT_EQ(s_Installs[0].strPackage, path("mine") + kSlash + "p.msi");
    EXPECT_EQ(s_Installs[0].strContent, payload(33, 1)); // replaced
    EXPECT_EQ(entries("mine"), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());

    // A directory that was not there is made for the run and goes with it.
    EXPECT_EQ(run({"-s", "--path", path("new")}), 0);
    ASSERT_EQ(s_Installs.size(), 2u);
    EXPECT_EQ(s_Installs[1].strPackage, path("new") + kSlash + "p.msi");
    EXPECT_FALSE(exists("new"));
}

TEST_F(RunTest, Logging) {
    m_Resources = {{"MANIFEST", manifest(1)}};
    addPackage(m_Resources, 0, 1, "p.msi", payload(12, 1));
    // --logging: the log goes into the extraction directory, which stays with it while
    // the package goes.
    g_StubPlatform.pfnMsiEnableLog = [](uint32_t, const RTUTF16 *pwszLogFile, uint32_t) -> uint32_t {
        s_LogFiles.push_back(toUtf8(pwszLogFile));
        s_strWriteLog = s_LogFiles.back();
        return 0;
    };
    EXPECT_EQ(run({"-s", "--logging"}), 0) << m_Out.strErr;
    ASSERT_EQ(s_LogFiles.size(), 1u);
    ASSERT_EQ(entries("tmp").size(), 1u);
    const std::string strDir = "tmp/" + entries("tmp")[0];
    EXPECT_EQ(s_LogFiles[0], path("tmp") + kSlash + entries("tmp")[0] + kSlash + "TeskInstallLog.txt");
    EXPECT_EQ(entries(strDir), std::vector<std::string>{"TeskInstallLog.txt"});
    // The directory is not empty, so its removal was retried to the end.
    EXPECT_EQ(s_Sleeps, (std::vector<uint32_t>{100, 3000, 3000, 3000}));
    EXPECT_TRUE(m_Out.nothingShown());

    // --msi-log-file writes where it says and implies logging.
    fs::remove_all(fsPath(strDir));
    s_LogFiles.clear();
    s_Sleeps.clear();
    EXPECT_EQ(run({"-s", "--msi-log-file", path("engine.log")}), 0);
    EXPECT_EQ(s_LogFiles, std::vector<std::string>{path("engine.log")});
    EXPECT_EQ(readFile("engine.log"), "engine log\n");
}

TEST_F(RunTest, Certificates) {
    m_Resources = {{"MANIFEST", manifest(1)}, {"CERT_00", "first cert"}, {"CERT_01", "second"}};
    addPackage(m_Resources, 0, 1, "p.msi", payload(12, 1));
    const std::string strStore = std::to_string(0x20000) + "|TrustedPublisher";
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(s_Certs, (std::vector<std::string>{"first cert|" + strStore, "second|" + strStore}));
    EXPECT_EQ(s_Installs.size(), 1u);

    // Interactive runs and --no-silent-cert leave the store alone.
    s_Certs.clear();
    EXPECT_EQ(run({"-s", "--no-silent-cert"}), 0);
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(s_Certs.empty());

    // A failure stops the run before any package.
    s_Installs.clear();
    s_fCertFails = true;
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_TRUE(s_Installs.empty());
    EXPECT_EQ(m_Out.strErr, "TeskStub.exe: error: Unable to open certificates store: 5\r\n"
                            "TeskStub.exe: error: Failed to add our certificate(s) to trusted publisher store.\r\n");
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
}

TEST_F(RunTest, PackageKinds) {
    m_Resources = {{"MANIFEST", manifest(3)}};
    addPackage(m_Resources, 0, 1, "data.CAB", payload(12, 1));
    addPackage(m_Resources, 1, 1, "setup.exe", payload(12, 2));
    addPackage(m_Resources, 2, 1, "never.msi", payload(12, 3));
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_TRUE(s_Installs.empty());
    const std::string strDir = m_Out.strErr.substr(m_Out.strErr.find('(') + 1);
    EXPECT_EQ(m_Out.strErr.substr(0, m_Out.strErr.find('(')),
              "TeskStub.exe: error: Internal error: Do not know how to handle file 'setup.exe' ");
    EXPECT_NE(strDir.find(kSlash + std::string("setup.exe).\r\n")), std::string::npos) << m_Out.strErr;
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
}

TEST_F(RunTest, EarlyEnds) {
    // Another installer holds the mutex: nothing is made on disk.
    s_fMutexExists = true;
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_EQ(m_Out.strErr, "TeskStub.exe: error: Another installer is already running\r\n");
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
    s_fMutexExists = false;

    // No manifest: reported; the directory made for the run stays, empty.
    m_Resources.clear();
    EXPECT_EQ(run({"-s"}, true), 1);
    EXPECT_EQ(m_Out.strErr, "TeskStub.exe: error: Internal package error: Manifest not found (ERR_IO_GEN_FAILURE)\r\n");
    ASSERT_EQ(entries("tmp").size(), 1u);
    fs::remove_all(fsPath("tmp/" + entries("tmp")[0]));
    m_Resources = {{"MANIFEST", manifest(1).substr(0, 8)}};
    EXPECT_EQ(run({"-s"}, true), 1);
    EXPECT_EQ(m_Out.strErr,
              "TeskStub.exe: error: Internal package error: Manifest is damaged (ERR_BAD_EXE_FORMAT)\r\n");
    fs::remove_all(fsPath("tmp/" + entries("tmp")[0]));

    // A missing header and a package that cannot be extracted end the run after
    // clean-up, without any install.
    m_Resources = {{"MANIFEST", manifest(2)}};
    addPackage(m_Resources, 0, 1, "a.msi", payload(5, 1));
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_EQ(m_Out.strErr, "TeskStub.exe: error: Internal error: Could not find package header #1: "
                            "ERR_IO_GEN_FAILURE\r\n");
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
    m_Resources = {{"MANIFEST", manifest(1)}, {"HDR_00", header(1, "BIN_00", "a.msi")}, {"BIN_00", ""}};
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_EQ(m_Out.strErr, "error: #0: Failed to locate resource 'BIN_00': ERR_NO_DATA\r\n"
                            "TeskStub.exe: error: Error extracting package #0 (a.msi): ERR_NO_DATA\r\n");
    EXPECT_EQ(entries("tmp"), std::vector<std::string>());
    EXPECT_TRUE(s_Installs.empty());

    // No temporary directory to be had.
    setEnv("OLMA_TMPDIR", path("tmp/missing").c_str());
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_EQ(m_Out.strErr.substr(0, 55), "TeskStub.exe: error: Failed to create extraction path: ") << m_Out.strErr;
}

TEST_F(RunTest, VerboseSummaryOnTheConsole) {
    m_Resources = {{"MANIFEST", manifest(0)}};
    EXPECT_EQ(run({"-s", "-v", "--msi-prop", "A", "1"}), 0);
    ASSERT_EQ(entries("tmp").size(), 0u);
    EXPECT_TRUE(m_Out.nothingShown());
    const std::string strConsole = readFile("console");
    const std::string strPrefix = "Extraction path          : " + path("tmp") + kSlash;
    ASSERT_EQ(strConsole.substr(0, strPrefix.size()), strPrefix) << strConsole;
    EXPECT_EQ(strConsole.substr(strConsole.find("\r\n")), "\r\n"
                                                          "Silent installation      : true\r\n"
                                                          "Certificate installation : true\r\n"
                                                          "Additional MSI parameters: A=1\r\n"
                                                          "Logging to file          : <None>\r\n");

    // Without a console device the lines go to the standard output as it was.
    g_StubPlatform.pszConsoleDevice = "";
    EXPECT_EQ(run({"-s", "-v", "-c", "-l"}), 0);
    EXPECT_NE(m_Out.strOut.find("Certificate installation : false\r\nAdditional MSI parameters: <None>\r\n"
                                "Logging to file          : "),
              std::string::npos)
        << m_Out.strOut;
    EXPECT_NE(m_Out.strOut.find("TeskInstallLog.txt\r\n"), std::string::npos);
}
