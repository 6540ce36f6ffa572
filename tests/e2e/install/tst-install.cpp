// Real installers of real packages under Wine, started with exact command lines the way
// deployment tooling starts them: what the engine installed (files, registry values,
// logs), the full exit codes, what is left in the temporary directory, extraction only,
// several packages with reboots and failures, architectures, an external cabinet, the
// single-instance mutex, certificates, and damaged containers.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <wincrypt.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/run-image.h"

namespace {

using e2e::RunResult;

std::string toUtf8(const std::wstring &wstr) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, wstr.data(), (int)wstr.size(), nullptr, 0, nullptr, nullptr);
    std::string str(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.data(), (int)wstr.size(), str.data(), cb, nullptr, nullptr);
    return str;
}

std::string readFile(const std::wstring &wstrPath) {
    std::ifstream In(wstrPath.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void writeFile(const std::wstring &wstrPath, const std::string &strData) {
    std::ofstream Out(wstrPath.c_str(), std::ios::binary | std::ios::trunc);
    Out << strData;
}

bool exists(const std::wstring &wstrPath) {
    return GetFileAttributesW(wstrPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/** Names in a directory, sorted; "." and ".." left out. */
std::vector<std::string> entries(const std::wstring &wstrDir) {
    std::vector<std::string> vec;
    WIN32_FIND_DATAW Data;
    HANDLE h = FindFirstFileW((wstrDir + L"\\*").c_str(), &Data);
    if (h == INVALID_HANDLE_VALUE)
        return vec;
    do {
        const std::wstring wstrName = Data.cFileName;
        if (wstrName != L"." && wstrName != L"..")
            vec.push_back(toUtf8(wstrName));
    } while (FindNextFileW(h, &Data));
    FindClose(h);
    std::sort(vec.begin(), vec.end());
    return vec;
}

void removeTree(const std::wstring &wstrDir) {
    WIN32_FIND_DATAW Data;
    HANDLE h = FindFirstFileW((wstrDir + L"\\*").c_str(), &Data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring wstrName = Data.cFileName;
            if (wstrName == L"." || wstrName == L"..")
                continue;
            const std::wstring wstrPath = wstrDir + L"\\" + wstrName;
            if (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(wstrPath);
            else
                DeleteFileW(wstrPath.c_str());
        } while (FindNextFileW(h, &Data));
        FindClose(h);
    }
    RemoveDirectoryW(wstrDir.c_str());
}

/** HKLM\Software\TeskTests\<name>\Value in the 64-bit view, or "<absent>". */
std::string installedValue(const std::wstring &wstrName) {
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\TeskTests\\" + wstrName).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                      &hKey) != ERROR_SUCCESS)
        return "<absent>";
    wchar_t wsz[512];
    DWORD cb = sizeof(wsz) - sizeof(wchar_t), uType = 0;
    std::string str = "<absent>";
    if (RegQueryValueExW(hKey, L"Value", nullptr, &uType, (BYTE *)wsz, &cb) == ERROR_SUCCESS && uType == REG_SZ)
        str = toUtf8(std::wstring(wsz, cb / sizeof(wchar_t)).c_str());
    RegCloseKey(hKey);
    return str;
}

/** The file a test package installs. */
std::wstring installedFile(const std::wstring &wstrName) {
    wchar_t wsz[MAX_PATH];
    DWORD cwc = GetEnvironmentVariableW(L"ProgramW6432", wsz, MAX_PATH);
    const std::wstring wstrProgramFiles = cwc && cwc < MAX_PATH ? std::wstring(wsz, cwc) : L"C:\\Program Files";
    return wstrProgramFiles + L"\\TeskTests\\" + wstrName + L"\\" + wstrName + L".txt";
}

std::wstring packagePath(const std::wstring &wstrName, const wchar_t *pwszSuffix = L".msi") {
    return e2e::imageDir() + L"packages\\" + wstrName + pwszSuffix;
}

/** Removes the product of a test package when it is installed, through the engine. */
void uninstall(const std::wstring &wstrName) {
    MSIHANDLE hPackage = 0;
    if (MsiOpenPackageExW(packagePath(wstrName).c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &hPackage) !=
        ERROR_SUCCESS)
        return;
    wchar_t wszCode[64];
    DWORD cwc = 64;
    const UINT rc = MsiGetProductPropertyW(hPackage, L"ProductCode", wszCode, &cwc);
    MsiCloseHandle(hPackage);
    if (rc != ERROR_SUCCESS)
        return;
    if (MsiQueryProductStateW(wszCode) == INSTALLSTATE_DEFAULT) {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        EXPECT_EQ(MsiConfigureProductW(wszCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), 0u) << toUtf8(wstrName);
    }
}

std::string sha1Hex(const std::string &strData) {
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    if (!CryptHashCertificate(0, CALG_SHA1, 0, (const BYTE *)strData.data(), (DWORD)strData.size(), abHash, &cbHash))
        return "";
    std::string str;
    for (BYTE b : abHash) {
        char sz[3];
        snprintf(sz, sizeof(sz), "%02X", b);
        str += sz;
    }
    return str;
}

/** Whether the machine's trusted-publisher store holds the certificate (by its SHA-1
 *  thumbprint); with fRemove it is taken out again. */
bool inTrustedPublishers(const std::string &strCert, bool fRemove = false) {
    HCERTSTORE hStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"TrustedPublisher");
    if (!hStore)
        return false;
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    CryptHashCertificate(0, CALG_SHA1, 0, (const BYTE *)strCert.data(), (DWORD)strCert.size(), abHash, &cbHash);
    CRYPT_HASH_BLOB Blob = {cbHash, abHash};
    PCCERT_CONTEXT pCtx = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &Blob, nullptr);
    const bool fFound = pCtx != nullptr;
    if (pCtx && fRemove)
        CertDeleteCertificateFromStore(pCtx); // frees the context
    else if (pCtx)
        CertFreeCertificateContext(pCtx);
    CertCloseStore(hStore, 0);
    return fFound;
}

class Install : public testing::Test {
protected:
    void SetUp() override {
        wchar_t wszTmp[MAX_PATH];
        GetTempPathW(MAX_PATH, wszTmp);
        static unsigned s_cRoots = 0;
        m_wstrRoot = std::wstring(wszTmp) + L"olma-install-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++s_cRoots);
        m_wstrTmp = m_wstrRoot + L"\\tmp";
        ASSERT_TRUE(CreateDirectoryW(m_wstrRoot.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(m_wstrTmp.c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::wstring &wstrName : m_Products)
            uninstall(wstrName);
        removeTree(m_wstrRoot);
    }

    /** Products this test installs: removed before (a broken earlier run) and after. */
    void products(std::initializer_list<const wchar_t *> Names) {
        for (const wchar_t *pwsz : Names) {
            m_Products.push_back(pwsz);
            uninstall(pwsz);
        }
    }

    /** Runs bin/installers/<installer>.exe with these arguments and the test's own
     *  temporary directory. */
    RunResult run(const std::wstring &wstrInstaller, const std::string &strArgs, e2e::RunOptions Opts = {}) {
        return runImage(e2e::imageDir() + L"installers\\" + wstrInstaller + L".exe", strArgs, Opts);
    }
    RunResult runImage(const std::wstring &wstrImage, const std::string &strArgs, e2e::RunOptions Opts = {}) {
        Opts.Env.push_back({L"TMP", m_wstrTmp});
        Opts.Env.push_back({L"TEMP", m_wstrTmp});
        const std::string strName = toUtf8(wstrImage.substr(wstrImage.find_last_of(L'\\') + 1));
        return e2e::runPath(wstrImage, strName + (strArgs.empty() ? "" : " ") + strArgs, Opts);
    }

    std::string root() const { return toUtf8(m_wstrRoot); }

    std::wstring m_wstrRoot;
    std::wstring m_wstrTmp;
    std::vector<std::wstring> m_Products;
};

/** The silent error line of the installer named strImage. */
std::string errorLine(const std::string &strImage, const std::string &strText) {
    return strImage + ": error: " + strText + "\r\n";
}

} // namespace

TEST_F(Install, SilentInstallLandsAndLeavesNothingBehind) {
    products({L"E2ESilent"});
    RunResult Res = run(L"Silent", "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(Res.strOut, "");
    EXPECT_EQ(Res.strErr, "");
    EXPECT_EQ(installedValue(L"E2ESilent"), "default");
    EXPECT_EQ(readFile(installedFile(L"E2ESilent")), readFile(packagePath(L"payload", L".txt")));
    // The extraction directory and the packages are gone, and nothing else was left.
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(Install, ParametersReachTheEngine) {
    products({L"E2EMsiProp", L"E2EPlainArgs", L"E2EReinstall"});
    // A property whose value has blanks is quoted for the engine.
    RunResult Res = run(L"MsiProp", "--silent --msi-prop TESTVALUE \"value with blanks\"");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EMsiProp"), "value with blanks");
    // Plain arguments continue the parameters given before them; doubled quotes reach the
    // engine as the help text says.
    Res = run(L"PlainArgs", "--silent --msiparams OTHER=1 \"TESTVALUE=\"\"plain and quoted\"\"\"");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EPlainArgs"), "plain and quoted");
    // --reinstall makes the engine install an installed product again, with the new value.
    Res = run(L"Reinstall", "-s --msi-prop TESTVALUE first");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EReinstall"), "first");
    Res = run(L"Reinstall", "-s --reinstall --msi-prop TESTVALUE second");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EReinstall"), "second");
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(Install, LoggingKeepsTheLogAndItsDirectory) {
    products({L"E2ELogging", L"E2ELogFile"});
    RunResult Res = run(L"Logging", "--silent --logging");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2ELogging"), "default");
    // The extraction directory stays with the log; the package is gone.
    const std::vector<std::string> Dirs = entries(m_wstrTmp);
    ASSERT_EQ(Dirs.size(), 1u);
    EXPECT_EQ(Dirs[0].size(), 24u);
    const std::wstring wstrDir = m_wstrTmp + L"\\" + e2e::utf8ToWide(Dirs[0]);
    EXPECT_EQ(entries(wstrDir), std::vector<std::string>{"TeskInstallLog.txt"});
    EXPECT_NE(readFile(wstrDir + L"\\TeskInstallLog.txt").find("InstallFinalize"), std::string::npos);

    // A named log file goes where it says, and the extraction directory goes away.
    const std::wstring wstrLog = m_wstrRoot + L"\\engine.log";
    Res = run(L"LogFile", "-s --msi-log-file \"" + toUtf8(wstrLog) + "\"");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_NE(readFile(wstrLog).find("InstallFinalize"), std::string::npos);
    EXPECT_EQ(entries(m_wstrTmp), Dirs);
}

TEST_F(Install, ExtractOnly) {
    products({L"E2EExtract"});
    // Without --path straight into the temporary directory, under the headers' names.
    RunResult Res = run(L"Extract", "--silent --extract");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(Res.strOut, "Files were extracted to: " + toUtf8(m_wstrTmp) + "\r\n");
    EXPECT_EQ(entries(m_wstrTmp), (std::vector<std::string>{"E2ECabinet.cab", "E2EExtract.msi"}));
    EXPECT_EQ(readFile(m_wstrTmp + L"\\E2EExtract.msi"), readFile(packagePath(L"E2EExtract")));
    EXPECT_EQ(readFile(m_wstrTmp + L"\\E2ECabinet.cab"), readFile(packagePath(L"E2ECabinet", L".cab")));
    EXPECT_EQ(installedValue(L"E2EExtract"), "<absent>");

    // With --path into that directory, made for the purpose, with a relative path.
    e2e::RunOptions Opts;
    Opts.wstrCwd = m_wstrRoot;
    Res = run(L"Extract", "-s -x --path out/sub", Opts);
    EXPECT_EQ(Res.uExit, 1u) << "a missing parent is not made";
    Res = run(L"Extract", "-s -x --path out", Opts);
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(Res.strOut, "Files were extracted to: " + root() + "\\out\r\n");
    EXPECT_EQ(entries(m_wstrRoot + L"\\out"), (std::vector<std::string>{"E2ECabinet.cab", "E2EExtract.msi"}));
}

TEST_F(Install, RebootsAndFailuresOfSeveralPackages) {
    products({L"E2ERebootFirst", L"E2ERebootSecond", L"E2ERebootIgnored", L"E2EFailFirst", L"E2EAfterFail"});
    // 3010 and then 0 is 3010 in full, which only a Windows parent sees.
    RunResult Res = run(L"Reboot", "--silent");
    EXPECT_EQ(Res.uExit, 3010u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2ERebootFirst"), "default");
    EXPECT_EQ(installedValue(L"E2ERebootSecond"), "default");
    // The line names the package in its extraction directory under the temporary one.
    const std::string strPrefix = "Reboot.exe: info: Reboot required (by " + toUtf8(m_wstrTmp) + "\\";
    const std::string strSuffix = "\\E2ERebootFirst.msi)\r\n";
    ASSERT_EQ(Res.strOut.size(), strPrefix.size() + 24 + strSuffix.size()) << Res.strOut;
    EXPECT_EQ(Res.strOut.substr(0, strPrefix.size()), strPrefix);
    EXPECT_EQ(Res.strOut.substr(Res.strOut.size() - strSuffix.size()), strSuffix);
    // --ignore-reboot turns it into success.
    Res = run(L"RebootIgnored", "--silent --ignore-reboot");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2ERebootIgnored"), "default");
    // A failing package ends the loop; clean-up still runs.
    Res = run(L"FailFirst", "--silent");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr.rfind("FailFirst.exe: error: Installation failed! Error: ", 0), 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EFailFirst"), "<absent>");
    EXPECT_EQ(installedValue(L"E2EAfterFail"), "<absent>");
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(Install, ArchitecturesAndCabinets) {
    products({L"E2EX86Only", L"E2EAmd64", L"E2ECabinet"});
    // An x86-only package is skipped on this 64-bit host.
    RunResult Res = run(L"Architectures", "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"E2EX86Only"), "<absent>");
    EXPECT_EQ(installedValue(L"E2EAmd64"), "default");
    // The package's file lives in the cabinet beside it: without the cabinet the engine
    // fails, with it the file lands.
    Res = run(L"CabinetMissing", "--silent");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_FALSE(exists(installedFile(L"E2ECabinet")));
    Res = run(L"Cabinet", "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(readFile(installedFile(L"E2ECabinet")), readFile(packagePath(L"payload", L".txt")));
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(Install, SecondInstanceTouchesNothing) {
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"TeskStubInstaller");
    ASSERT_NE(hMutex, nullptr);
    RunResult Res = run(L"Silent", "--silent");
    CloseHandle(hMutex);
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr, errorLine("Silent.exe", "Another installer is already running"));
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
    EXPECT_EQ(installedValue(L"E2ESilent"), "<absent>");
}

TEST_F(Install, Certificates) {
    products({L"E2ECertSilent"});
    const std::string strSilentCert = readFile(packagePath(L"E2ESilentCert", L".cer"));
    const std::string strOtherCert = readFile(packagePath(L"E2ENoSilentCert", L".cer"));
    ASSERT_GT(strSilentCert.size(), 100u);
    inTrustedPublishers(strSilentCert, true);
    inTrustedPublishers(strOtherCert, true);
    // --no-silent-cert installs the package and leaves the store alone.
    RunResult Res = run(L"NoSilentCert", "--silent --no-silent-cert");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_FALSE(inTrustedPublishers(strOtherCert));
    EXPECT_EQ(installedValue(L"E2ECertSilent"), "default");
    uninstall(L"E2ECertSilent");
    // A silent run adds the certificate before the package.
    Res = run(L"Certificates", "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_TRUE(inTrustedPublishers(strSilentCert, true));
    EXPECT_EQ(installedValue(L"E2ECertSilent"), "default");
}

TEST_F(Install, DamagedContainers) {
    // The bare stub has no manifest: reported, and the directory made for the run stays.
    RunResult Res = runImage(e2e::imageDir() + L"TeskStub.exe", "--silent");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr, errorLine("TeskStub.exe", "Internal package error: Manifest not found (ERR_IO_GEN_FAILURE)"));
    ASSERT_EQ(entries(m_wstrTmp).size(), 1u);
    EXPECT_EQ(entries(m_wstrTmp + L"\\" + e2e::utf8ToWide(entries(m_wstrTmp)[0])), std::vector<std::string>());
    removeTree(m_wstrTmp);
    ASSERT_TRUE(CreateDirectoryW(m_wstrTmp.c_str(), nullptr));

    // Copies of an installer of two packages, each damaged in one place: the second
    // header renamed away (the names stay sorted), or the first header naming a data
    // resource that does not exist.
    const std::string strGood = readFile(e2e::imageDir() + L"installers\\Damaged.exe");
    ASSERT_FALSE(strGood.empty());
    struct Case {
        const char *pszName;
        std::string strFind, strReplace;
        std::string strErr;
    };
    const std::string strHdr01 = std::string("H\0D\0R\0_\0"
                                             "0\0"
                                             "1\0",
                                             12);
    const std::string strHdr0Z = std::string("H\0D\0R\0_\0"
                                             "0\0"
                                             "Z\0",
                                             12);
    const Case aCases[] = {
        {"NoHeader", strHdr01, strHdr0Z,
         errorLine("NoHeader.exe", "Internal error: Could not find package header #1: ERR_IO_GEN_FAILURE")},
        {"NoData", std::string("BIN_00\0", 7), std::string("BIN_0Z\0", 7),
         "error: #0: Failed to locate resource 'BIN_0Z': ERR_IO_GEN_FAILURE\r\n" +
             errorLine("NoData.exe", "Error extracting package #0 (E2EDamaged.msi): ERR_IO_GEN_FAILURE")},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        std::string strBad = strGood;
        const size_t off = strBad.find(c.strFind);
        ASSERT_NE(off, std::string::npos);
        ASSERT_EQ(strBad.find(c.strFind, off + 1), std::string::npos) << "the pattern is not unique";
        strBad.replace(off, c.strReplace.size(), c.strReplace);
        const std::wstring wstrBad = m_wstrRoot + L"\\" + e2e::utf8ToWide(c.pszName) + L".exe";
        writeFile(wstrBad, strBad);
        Res = runImage(wstrBad, "--silent");
        EXPECT_EQ(Res.uExit, 1u);
        EXPECT_EQ(Res.strErr, c.strErr);
        EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
        EXPECT_EQ(installedValue(L"E2EDamaged"), "<absent>");
        EXPECT_EQ(installedValue(L"E2ESilent"), "<absent>");
    }
}

TEST_F(Install, VerboseRunInstalls) {
    products({L"E2EVerbose"});
    // The summary goes to a console the installer allocates, which this harness cannot
    // read under Wine (the lines themselves are checked by the run-sequence tests through
    // the console device of the platform layer); started as the desktop starts it, the
    // run installs and writes nothing on the streams it was given.
    e2e::RunOptions Opts;
    Opts.fCreationFlags = DETACHED_PROCESS;
    RunResult Res = run(L"Verbose", "--silent --verbose", Opts);
    EXPECT_EQ(Res.uExit, 0u);
    EXPECT_EQ(Res.strOut, "");
    EXPECT_EQ(Res.strErr, "");
    EXPECT_EQ(installedValue(L"E2EVerbose"), "default");
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}
