// Installing real packages with the real Windows Installer engine: what the engine put
// on disk and in the registry, its verbose log, its result codes and the messages made
// from them. The platform calls are the real ones; where a test needs to see or steer
// one, a hook records it and hands it on.
#include "Installer/win/Stub/stub-test.h"
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <deque>
#include <fstream>

namespace {

std::wstring toWide(const std::string &str) {
    int cwc = MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), nullptr, 0);
    std::wstring wstr(cwc, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), wstr.data(), cwc);
    return wstr;
}

std::string fromWide(const wchar_t *pwsz) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, pwsz, -1, nullptr, 0, nullptr, nullptr);
    std::string str(cb > 0 ? cb - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, pwsz, -1, str.data(), cb, nullptr, nullptr);
    return str;
}

/** The test program's directory, with a trailing backslash. */
std::string programDir() {
    wchar_t wsz[MAX_PATH];
    DWORD cwc = GetModuleFileNameW(nullptr, wsz, MAX_PATH);
    std::wstring wstr(wsz, cwc);
    return fromWide(wstr.substr(0, wstr.find_last_of(L"\\/") + 1).c_str());
}

/** What the system says about a message number, as the engine's failure message gets it
 *  (empty when it has no text). */
std::string systemText(DWORD uCode) {
    wchar_t *pwsz = nullptr;
    if (!FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                        nullptr, uCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&pwsz, 0, nullptr))
        return "";
    std::string str = fromWide(pwsz);
    LocalFree(pwsz);
    return str;
}

/** One of the test packages: where it is, and what it installs. */
struct TestPackage {
    std::string strName;
    std::string strPath;
    std::wstring wstrProductCode;

    explicit TestPackage(const std::string &strName)
        : strName(strName), strPath(programDir() + "packages\\" + strName + ".msi") {
        MSIHANDLE hDb = 0;
        if (MsiOpenDatabaseW(toWide(strPath).c_str(), (LPCWSTR)0 /* read-only */, &hDb) != ERROR_SUCCESS)
            return;
        MSIHANDLE hView = 0;
        MSIHANDLE hRec = 0;
        if (MsiDatabaseOpenViewW(hDb, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'", &hView) ==
                ERROR_SUCCESS &&
            MsiViewExecute(hView, 0) == ERROR_SUCCESS && MsiViewFetch(hView, &hRec) == ERROR_SUCCESS) {
            wchar_t wsz[64];
            DWORD cwc = 64;
            if (MsiRecordGetStringW(hRec, 1, wsz, &cwc) == ERROR_SUCCESS)
                wstrProductCode = wsz;
        }
        if (hRec)
            MsiCloseHandle(hRec);
        if (hView)
            MsiCloseHandle(hView);
        MsiCloseHandle(hDb);
    }

    bool installed() const { return MsiQueryProductStateW(wstrProductCode.c_str()) == INSTALLSTATE_DEFAULT; }
    /** Removes the product when an earlier run left it behind (or this test installed it). */
    void remove() const {
        if (!installed())
            return;
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        EXPECT_EQ(MsiConfigureProductW(wstrProductCode.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
                  (UINT)ERROR_SUCCESS);
        EXPECT_FALSE(installed());
    }

    /** The installed file: C:\Program Files\TeskTests\<name>\<name>.txt (64-bit). */
    std::string filePath() const {
        wchar_t wsz[MAX_PATH];
        DWORD cwc = GetEnvironmentVariableW(L"ProgramW6432", wsz, MAX_PATH);
        return fromWide(std::wstring(wsz, cwc).c_str()) + "\\TeskTests\\" + strName + "\\" + strName + ".txt";
    }
    std::string fileContent() const {
        std::ifstream In(toWide(filePath()).c_str(), std::ios::binary);
        return In ? std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()) : "<missing>";
    }
    /** HKLM\Software\TeskTests\<name>\Value in the 64-bit view, or "<missing>". */
    std::string registryValue() const {
        wchar_t wsz[256];
        DWORD cb = sizeof(wsz);
        std::wstring wstrKey = L"Software\\TeskTests\\" + toWide(strName);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, wstrKey.c_str(), L"Value", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                         wsz, &cb) != ERROR_SUCCESS)
            return "<missing>";
        return fromWide(wsz);
    }
};

/** Hooks around the real engine calls: they record and hand on, or steer. */
struct EngineHooks {
    std::vector<uint32_t> UiLevels;    // what the installer asked for
    bool fForceNoUi = false;           // the engine gets level 2 whatever was asked
    std::vector<std::string> LogFiles; // every log the installer enabled
    std::vector<std::string> MessageModules;
    std::vector<StubHandle> MessageModuleHandles;
    bool fFormatFails = false;
    uint32_t uForcedResult = 0; // instead of running the engine, when not 0
};

class EngineMsiTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        s_Hooks = EngineHooks();
        g_StubPlatform.pfnMsiSetInternalUI = setInternalUI;
        g_StubPlatform.pfnMsiEnableLog = enableLog;
        g_StubPlatform.pfnMsiInstallProduct = installProduct;
        g_StubPlatform.pfnLoadMessageModule = loadMessageModule;
        g_StubPlatform.pfnFormatMessage = formatMessage;
        recordBoxes();
    }
    void TearDown() override {
        for (const TestPackage &Pkg : m_Packages)
            Pkg.remove();
        StubTest::TearDown();
    }

    /** A test package, present and not installed; removed again after the test. */
    const TestPackage &package(const std::string &strName) {
        m_Packages.emplace_back(strName);
        const TestPackage &Pkg = m_Packages.back();
        EXPECT_EQ(GetFileAttributesW(toWide(Pkg.strPath).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << Pkg.strPath;
        EXPECT_EQ(Pkg.wstrProductCode.size(), 38u) << Pkg.strPath;
        Pkg.remove();
        return Pkg;
    }

    static inline EngineHooks s_Hooks;
    std::deque<TestPackage> m_Packages; // references stay valid as it grows

private:
    static uint32_t setInternalUI(uint32_t uLevel) {
        s_Hooks.UiLevels.push_back(uLevel);
        return g_StubPlatformDefault.pfnMsiSetInternalUI(s_Hooks.fForceNoUi ? 2 : uLevel);
    }
    static uint32_t enableLog(uint32_t fLogMode, const RTUTF16 *pwszLogFile, uint32_t fAttributes) {
        s_Hooks.LogFiles.push_back(toUtf8(pwszLogFile));
        return g_StubPlatformDefault.pfnMsiEnableLog(fLogMode, pwszLogFile, fAttributes);
    }
    static uint32_t installProduct(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParameters) {
        if (s_Hooks.uForcedResult)
            return s_Hooks.uForcedResult;
        return g_StubPlatformDefault.pfnMsiInstallProduct(pwszPackage, pwszParameters);
    }
    static StubHandle loadMessageModule(const RTUTF16 *pwszName) {
        s_Hooks.MessageModules.push_back(toUtf8(pwszName));
        StubHandle hModule = g_StubPlatformDefault.pfnLoadMessageModule(pwszName);
        s_Hooks.MessageModuleHandles.push_back(hModule);
        return hModule;
    }
    static uint32_t formatMessage(uint32_t fFlags, StubHandle hModule, uint32_t uMessageId, uint32_t uLanguage,
                                  RTUTF16 **ppwszText) {
        if (s_Hooks.fFormatFails)
            return 0;
        return g_StubPlatformDefault.pfnFormatMessage(fFlags, hModule, uMessageId, uLanguage, ppwszText);
    }
};

} // namespace

TEST_F(EngineMsiTest, InstallsWithThePropertiesPassed) {
    const TestPackage &Pkg = package("EnginePlain");
    silent = true;
    InstallOutcome Res = install(Pkg.strPath, "TESTVALUE=\"passed through\"", nullptr);
    EXPECT_EQ(Res.rc, 0);
    EXPECT_TRUE(Res.nothingShown());
    EXPECT_TRUE(Pkg.installed());
    EXPECT_EQ(Pkg.fileContent(), "Installed by a test package of the Brindlecap Installer.\n");
    EXPECT_EQ(Pkg.registryValue(), "passed through");
    EXPECT_EQ(s_Hooks.UiLevels, std::vector<uint32_t>{2});
    // Without a log file the engine's log stays as it is; success consults no texts.
    EXPECT_TRUE(s_Hooks.LogFiles.empty());
    EXPECT_TRUE(s_Hooks.MessageModules.empty());

    Pkg.remove();
    EXPECT_EQ(Pkg.fileContent(), "<missing>");
    EXPECT_EQ(Pkg.registryValue(), "<missing>");
}

TEST_F(EngineMsiTest, VerboseLog) {
    const TestPackage &Pkg = package("EngineLog");
    const std::string strLog = path("engine log.txt");
    silent = true;
    InstallOutcome Res = install(Pkg.strPath, "TESTVALUE=logged", strLog.c_str());
    // The engine keeps logging there for the rest of the process unless told otherwise.
    MsiEnableLogW(0, nullptr, 0);
    EXPECT_EQ(Res.rc, 0);
    EXPECT_EQ(Res.strErr, "");
    EXPECT_EQ(Pkg.registryValue(), "logged");
    EXPECT_EQ(s_Hooks.LogFiles, std::vector<std::string>{strLog});
    // The engine's verbose lines about this install, down to the property values.
    const std::string strContent = readFile("engine log.txt");
    for (const char *pszLine :
         {"Action start", "InstallFiles.", "Property(S): TESTVALUE = logged",
          "Key: HKEY_LOCAL_MACHINE\\Software\\TeskTests\\EngineLog, Name: Value, Value: logged"}) {
        SCOPED_TRACE(pszLine);
        EXPECT_NE(strContent.find(pszLine), std::string::npos) << strContent;
    }
}

TEST_F(EngineMsiTest, RebootRequired) {
    struct Case {
        const char *pszPackage;
        bool fSilent;
    };
    for (const Case &c : {Case{"EngineRebootSilent", true}, Case{"EngineRebootInteractive", false}}) {
        SCOPED_TRACE(c.pszPackage);
        const TestPackage &Pkg = package(c.pszPackage);
        silent = c.fSilent;
        // The engine's own dialogs would wait for a person: it runs without them, and
        // the hook records the level the installer asked for.
        s_Hooks = EngineHooks();
        s_Hooks.fForceNoUi = true;
        InstallOutcome Res = install(Pkg.strPath, "", nullptr);
        EXPECT_EQ(Res.rc, 3010);
        EXPECT_TRUE(Pkg.installed());
        EXPECT_EQ(Pkg.registryValue(), "default");
        EXPECT_EQ(s_Hooks.UiLevels, std::vector<uint32_t>{c.fSilent ? 2u : 5u});
        EXPECT_EQ(Res.strOut, c.fSilent ? "TeskStub.exe: info: Reboot required (by " + Pkg.strPath + ")\r\n" : "");
        EXPECT_EQ(Res.strErr, "");
        EXPECT_TRUE(Res.Boxes.empty());
        EXPECT_TRUE(s_Hooks.MessageModules.empty());
    }
}

TEST_F(EngineMsiTest, FailedInstallWithTheSystemsText) {
    const TestPackage &Pkg = package("EngineFail");
    const std::string strText = systemText(1603);
    ASSERT_NE(strText, "");
    s_Hooks.fForceNoUi = true;
    for (bool fSilent : {true, false}) {
        SCOPED_TRACE(fSilent ? "silent" : "interactive");
        silent = fSilent;
        InstallOutcome Res = install(Pkg.strPath, "", nullptr);
        EXPECT_EQ(Res.rc, 1);
        EXPECT_FALSE(Pkg.installed());
        EXPECT_EQ(Res.strOut, "");
        if (fSilent) {
            EXPECT_EQ(Res.strErr, errorLines("Installation failed! Error: " + strText));
            EXPECT_TRUE(Res.Boxes.empty());
        } else {
            EXPECT_EQ(Res.strErr, "");
            ASSERT_EQ(Res.Boxes.size(), 1u);
            EXPECT_EQ(Res.Boxes[0].strText, "Installation failed! Error: " + strText);
            EXPECT_EQ(Res.Boxes[0].fFlags, STUB_MB_ICONERROR);
        }
    }
    EXPECT_TRUE(s_Hooks.MessageModules.empty());
}

TEST_F(EngineMsiTest, FailedInstallWithoutText) {
    const TestPackage &Pkg = package("EngineFailNoText");
    silent = true;
    s_Hooks.fFormatFails = true;
    InstallOutcome Res = install(Pkg.strPath, "", nullptr);
    EXPECT_EQ(Res.rc, 1);
    EXPECT_FALSE(Pkg.installed());
    EXPECT_EQ(Res.strErr, "TeskStub.exe: error: Installation failed! Error: 1603\r\n");
}

TEST_F(EngineMsiTest, NetworkMessagesOnlyForTheirRange) {
    // The engine's answer is made up here (no package makes it return these); the
    // lookup of the texts is real: the network message table where the system has one,
    // the system's own table always.
    const TestPackage &Pkg = package("EnginePlain");
    silent = true;
    HMODULE hNetMsg = LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    for (uint32_t uCode : {2099u, 2100u, 2102u, 2999u, 3000u, 1605u}) {
        SCOPED_TRACE(uCode);
        s_Hooks = EngineHooks();
        s_Hooks.uForcedResult = uCode;
        const bool fNetRange = uCode >= 2100 && uCode <= 2999;
        std::string strText;
        wchar_t *pwsz = nullptr;
        DWORD fFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
        if (fNetRange && hNetMsg)
            fFlags |= FORMAT_MESSAGE_FROM_HMODULE;
        if (FormatMessageW(fFlags, fNetRange ? hNetMsg : nullptr, uCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           (LPWSTR)&pwsz, 0, nullptr)) {
            strText = fromWide(pwsz);
            LocalFree(pwsz);
        } else
            strText = std::to_string(uCode);

        InstallOutcome Res = install(Pkg.strPath, "", nullptr);
        EXPECT_EQ(Res.rc, 1);
        EXPECT_EQ(Res.strErr, errorLines("Installation failed! Error: " + strText));
        EXPECT_EQ(s_Hooks.MessageModules,
                  fNetRange ? std::vector<std::string>{"netmsg.dll"} : std::vector<std::string>{});
        if (fNetRange)
            EXPECT_EQ(s_Hooks.MessageModuleHandles[0] != 0, hNetMsg != nullptr);
    }
    if (hNetMsg)
        FreeLibrary(hNetMsg);
}
