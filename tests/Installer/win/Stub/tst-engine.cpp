// Handing a package to the installer engine, over a recording engine double: the calls
// and their arguments in order, the mapping of every kind of result code with its
// message in silent and interactive runs, the error-text lookup with and without the
// network message table, and each allocation failing in turn.
#include "stub-test.h"
#include <olma/mem.h>

#include <algorithm>
#include <cstdarg>
#include <map>
#include <set>

namespace {

/** What the engine double answers. */
struct EngineDouble {
    uint32_t uPreviousUiLevel = 1; // 0 is the engine's "failed"
    uint32_t uEnableLogResult = 0;
    uint32_t uInstallResult = 0;
    bool fNetMsgLoads = true;
    /** Texts of the system's table and of the network message table. */
    std::map<uint32_t, std::u16string> SystemTexts;
    std::map<uint32_t, std::u16string> NetMsgTexts;
};

constexpr StubHandle kNetMsgHandle = 0x4e30;

class EngineTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        s_Engine = EngineDouble();
        s_Calls.clear();
        s_cTextsOut = 0;
        g_StubPlatform.pfnMsiSetInternalUI = setInternalUI;
        g_StubPlatform.pfnMsiEnableLog = enableLog;
        g_StubPlatform.pfnInitCommonControls = initCommonControls;
        g_StubPlatform.pfnMsiInstallProduct = installProduct;
        g_StubPlatform.pfnLoadMessageModule = loadMessageModule;
        g_StubPlatform.pfnFreeMessageModule = freeMessageModule;
        g_StubPlatform.pfnFormatMessage = formatMessage;
        g_StubPlatform.pfnFreeMessage = freeMessage;
        recordBoxes();
    }
    void TearDown() override {
        EXPECT_EQ(s_cTextsOut, 0) << "message texts not given back";
        StubTest::TearDown();
    }

    static inline EngineDouble s_Engine;
    static inline std::vector<std::string> s_Calls;
    static inline int s_cTextsOut = 0;

private:
    static uint32_t setInternalUI(uint32_t uLevel) {
        s_Calls.push_back(callText("SetInternalUI(%u)", uLevel));
        return s_Engine.uPreviousUiLevel;
    }
    static uint32_t enableLog(uint32_t fLogMode, const RTUTF16 *pwszLogFile, uint32_t fAttributes) {
        s_Calls.push_back(callText("EnableLog(%#x, %s, %u)", fLogMode, toUtf8(pwszLogFile).c_str(), fAttributes));
        return s_Engine.uEnableLogResult;
    }
    static void initCommonControls(uint32_t fClasses) {
        s_Calls.push_back(callText("InitCommonControls(%#x)", fClasses));
    }
    static uint32_t installProduct(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParameters) {
        s_Calls.push_back(
            callText("InstallProduct(%s, %s)", toUtf8(pwszPackage).c_str(), toUtf8(pwszParameters).c_str()));
        return s_Engine.uInstallResult;
    }
    static StubHandle loadMessageModule(const RTUTF16 *pwszName) {
        s_Calls.push_back(callText("LoadMessageModule(%s)", toUtf8(pwszName).c_str()));
        return s_Engine.fNetMsgLoads ? kNetMsgHandle : 0;
    }
    static void freeMessageModule(StubHandle hModule) {
        s_Calls.push_back(callText("FreeMessageModule(%#zx)", (size_t)hModule));
    }
    /** The module's table first, then the system's, as the platform searches them. */
    static uint32_t formatMessage(uint32_t fFlags, StubHandle hModule, uint32_t uMessageId, uint32_t uLanguage,
                                  RTUTF16 **ppwszText) {
        s_Calls.push_back(
            callText("FormatMessage(%#x, %#zx, %u, %#x)", fFlags, (size_t)hModule, uMessageId, uLanguage));
        const std::u16string *pText = nullptr;
        if ((fFlags & 0x800) && hModule == kNetMsgHandle && s_Engine.NetMsgTexts.count(uMessageId))
            pText = &s_Engine.NetMsgTexts[uMessageId];
        else if ((fFlags & 0x1000) && s_Engine.SystemTexts.count(uMessageId))
            pText = &s_Engine.SystemTexts[uMessageId];
        if (!pText)
            return 0;
        RTUTF16 *pwsz = new RTUTF16[pText->size() + 1];
        std::copy(pText->begin(), pText->end(), pwsz);
        pwsz[pText->size()] = 0;
        *ppwszText = pwsz;
        s_cTextsOut++;
        return (uint32_t)pText->size();
    }
    static void freeMessage(RTUTF16 *pwszText) {
        s_Calls.push_back(callText("FreeMessage"));
        delete[] pwszText;
        s_cTextsOut--;
    }
};

const char g_szTooOld[] = "This installation package cannot be installed by the Windows Installer service.\n"
                          "You must install a Windows service pack that contains a newer version of the Windows "
                          "Installer service.";

} // namespace

TEST_F(EngineTest, CallsInOrderWithTheirArguments) {
    struct Case {
        bool fSilent;
        const char *pszLogFile;
        const char *pszParameters;
        std::vector<std::string> Calls;
    };
    const Case aCases[] = {
        {true,
         "C:\\Temp\\x\\TeskInstallLog.txt",
         "PROP=1 OTHER=\"a b\"",
         {"SetInternalUI(2)", "EnableLog(0x1000, C:\\Temp\\x\\TeskInstallLog.txt, 2)", "InitCommonControls(0xd2ff)",
          "InstallProduct(C:\\Temp\\x\\pkg.msi, PROP=1 OTHER=\"a b\")"}},
        // No log file: the engine's log is left as it is.
        {false,
         nullptr,
         "",
         {"SetInternalUI(5)", "InitCommonControls(0xd2ff)", "InstallProduct(C:\\Temp\\x\\pkg.msi, )"}},
        {true,
         nullptr,
         "V=\xc3\xa9t\xc3\xa9",
         {"SetInternalUI(2)", "InitCommonControls(0xd2ff)",
          "InstallProduct(C:\\Temp\\x\\pkg.msi, V=\xc3\xa9t\xc3\xa9)"}},
        {false,
         "D:\\logs\\\xe2\x82\xac.txt",
         "",
         {"SetInternalUI(5)", "EnableLog(0x1000, D:\\logs\\\xe2\x82\xac.txt, 2)", "InitCommonControls(0xd2ff)",
          "InstallProduct(C:\\Temp\\x\\pkg.msi, )"}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(std::string(c.pszParameters) + (c.pszLogFile ? c.pszLogFile : "<no log>"));
        silent = c.fSilent;
        s_Calls.clear();
        InstallOutcome Res = install("C:\\Temp\\x\\pkg.msi", c.pszParameters, c.pszLogFile);
        EXPECT_EQ(Res.rc, 0);
        EXPECT_EQ(s_Calls, c.Calls);
        EXPECT_TRUE(Res.nothingShown());
    }
}

TEST_F(EngineTest, ResultMapping) {
    s_Engine.SystemTexts[1603] = u"Fatal error during installation.\r\n";
    s_Engine.SystemTexts[2102] = u"System text 2102.\r\n";
    s_Engine.NetMsgTexts[2102] = u"The workstation driver is not installed.\r\n";
    s_Engine.NetMsgTexts[2999] = u"Net text 2999.";
    s_Engine.NetMsgTexts[2099] = u"never asked";
    s_Engine.NetMsgTexts[3000] = u"never asked";
    struct Case {
        uint32_t uResult;
        int rcExpected;
        const char *pszText; // what the user is told; null: nothing
    };
    const Case aCases[] = {
        {0, 0, nullptr},
        {1602, 1, nullptr},
        {1613, 1, g_szTooOld},
        {1633, 1, "This installation package is not supported on this platform."},
        {1603, 1, "Installation failed! Error: Fatal error during installation.\r\n"},
        {1, 1, "Installation failed! Error: 1"},
        {1604, 1, "Installation failed! Error: 1604"},
        {0xffffffff, 1, "Installation failed! Error: 4294967295"},
        {2102, 1, "Installation failed! Error: The workstation driver is not installed.\r\n"},
        {2999, 1, "Installation failed! Error: Net text 2999."},
        {2100, 1, "Installation failed! Error: 2100"},
        {2099, 1, "Installation failed! Error: 2099"},
        {3000, 1, "Installation failed! Error: 3000"},
        {3011, 1, "Installation failed! Error: 3011"},
    };
    for (const Case &c : aCases) {
        s_Engine.uInstallResult = c.uResult;
        for (bool fSilent : {true, false}) {
            SCOPED_TRACE(std::to_string(c.uResult) + (fSilent ? " silent" : " interactive"));
            silent = fSilent;
            InstallOutcome Res = install("C:\\Temp\\x\\pkg.msi", "", nullptr);
            EXPECT_EQ(Res.rc, c.rcExpected);
            EXPECT_EQ(Res.strOut, "");
            if (!c.pszText)
                EXPECT_TRUE(Res.nothingShown());
            else if (fSilent) {
                EXPECT_EQ(Res.strErr, errorLines(c.pszText));
                EXPECT_TRUE(Res.Boxes.empty());
            } else {
                EXPECT_EQ(Res.strErr, "");
                ASSERT_EQ(Res.Boxes.size(), 1u);
                EXPECT_EQ(Res.Boxes[0].strText, c.pszText);
                EXPECT_EQ(Res.Boxes[0].strCaption, "Brindlecap Installer");
                EXPECT_EQ(Res.Boxes[0].fFlags, STUB_MB_ICONERROR);
            }
        }
    }
}

TEST_F(EngineTest, RebootRequiredIsReportedOnlyWhenSilent) {
    s_Engine.uInstallResult = 3010;
    silent = true;
    InstallOutcome Res = install("C:\\Temp\\x y\\pkg.msi", "", nullptr);
    EXPECT_EQ(Res.rc, 3010);
    EXPECT_EQ(Res.strOut, "TeskStub.exe: info: Reboot required (by C:\\Temp\\x y\\pkg.msi)\r\n");
    EXPECT_EQ(Res.strErr, "");

    silent = false;
    Res = install("C:\\Temp\\x y\\pkg.msi", "", nullptr);
    EXPECT_EQ(Res.rc, 3010);
    EXPECT_TRUE(Res.nothingShown());
}

TEST_F(EngineTest, ErrorTextLookup) {
    // Which tables are asked, in which order, and that both are given back.
    s_Engine.SystemTexts[1603] = u"Fatal.";
    s_Engine.NetMsgTexts[2250] = u"Net.";
    struct Case {
        uint32_t uResult;
        bool fNetMsgLoads;
        std::vector<std::string> Calls; // after InstallProduct
    };
    const Case aCases[] = {
        {1603, true, {"FormatMessage(0x1300, 0, 1603, 0x400)", "FreeMessage"}},
        {1620, true, {"FormatMessage(0x1300, 0, 1620, 0x400)"}},
        {2250,
         true,
         {"LoadMessageModule(netmsg.dll)", "FormatMessage(0x1b00, 0x4e30, 2250, 0x400)", "FreeMessage",
          "FreeMessageModule(0x4e30)"}},
        {2251,
         true,
         {"LoadMessageModule(netmsg.dll)", "FormatMessage(0x1b00, 0x4e30, 2251, 0x400)", "FreeMessageModule(0x4e30)"}},
        // The module is missing: only the system's table, and nothing to free.
        {2250, false, {"LoadMessageModule(netmsg.dll)", "FormatMessage(0x1300, 0, 2250, 0x400)"}},
    };
    silent = true;
    for (const Case &c : aCases) {
        SCOPED_TRACE(std::to_string(c.uResult) + (c.fNetMsgLoads ? " with netmsg" : " without netmsg"));
        s_Engine.uInstallResult = c.uResult;
        s_Engine.fNetMsgLoads = c.fNetMsgLoads;
        s_Calls.clear();
        EXPECT_EQ(install("C:\\p.msi", "", nullptr).rc, 1);
        ASSERT_GE(s_Calls.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(s_Calls.begin() + 3, s_Calls.end()), c.Calls);
    }
}

TEST_F(EngineTest, FailuresBeforeTheEngineRuns) {
    struct Case {
        const char *pszName;
        uint32_t uPreviousUiLevel;
        uint32_t uEnableLogResult;
        const char *pszPackage;
        const char *pszParameters;
        const char *pszLogFile;
        const char *pszError;
        size_t cCalls; // calls made before giving up
    };
    const Case aCases[] = {
        {"ui level", 0, 0, "C:\\p.msi", "", "C:\\l.txt", "Internal error: MsiSetInternalUI failed.", 1},
        {"log conversion", 1, 0, "C:\\p.msi", "", "C:\\l\xff.txt",
         "RTStrToUtf16 failed on 'C:\\l\xff.txt': ERR_INVALID_UTF8_ENCODING", 1},
        {"log refused", 1, 87, "C:\\p.msi", "", "C:\\l.txt", "MsiEnableLogW failed", 2},
        {"package conversion", 1, 0, "C:\\p\xc3.msi", "", nullptr,
         "RTStrToUtf16 failed on 'C:\\p\xc3.msi': ERR_INVALID_UTF8_ENCODING", 2},
        {"parameter conversion", 1, 0, "C:\\p.msi", "A=\xe2\x82", "C:\\l.txt",
         "RTStrToUtf16 failed on 'A=\xe2\x82': ERR_INVALID_UTF8_ENCODING", 3},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        s_Engine.uPreviousUiLevel = c.uPreviousUiLevel;
        s_Engine.uEnableLogResult = c.uEnableLogResult;
        s_Calls.clear();
        silent = true;
        InstallOutcome Res = install(c.pszPackage, c.pszParameters, c.pszLogFile);
        EXPECT_EQ(Res.rc, 1);
        EXPECT_EQ(Res.strErr, std::string("TeskStub.exe: error: ") + c.pszError + "\r\n");
        EXPECT_EQ(s_Calls.size(), c.cCalls);

        silent = false;
        s_Calls.clear();
        Res = install(c.pszPackage, c.pszParameters, c.pszLogFile);
        EXPECT_EQ(Res.rc, 1);
        EXPECT_EQ(Res.strErr, "");
        ASSERT_EQ(Res.Boxes.size(), 1u);
        EXPECT_EQ(Res.Boxes[0].strText, c.pszError);
        EXPECT_EQ(s_Calls.size(), c.cCalls);
    }
}

TEST_F(EngineTest, AllocationFailuresInTurn) {
    // Fail the first, second, ... allocation until the package goes through. Each
    // failure is one of the three conversions, shown with its text, and leaks nothing;
    // the engine only runs when all three conversions worked.
    struct Case {
        uint32_t uResult;
        int rcDone;
        const char *pszDoneOut;
        const char *pszDoneErr;
    };
    const Case aCases[] = {
        {3010, 3010, "TeskStub.exe: info: Reboot required (by C:\\p.msi)\r\n", ""},
        {1603, 1, "", "TeskStub.exe: error: Installation failed! Error: Fatal error during installation.\r\n"},
    };
    s_Engine.SystemTexts[1603] = u"Fatal error during installation.";
    silent = true;
    for (const Case &c : aCases) {
        s_Engine.uInstallResult = c.uResult;
        std::set<std::string> Failures;
        bool fDone = false;
        for (uint32_t iFail = 1; iFail < 100 && !fDone; iFail++) {
            SCOPED_TRACE(std::to_string(c.uResult) + ": allocation " + std::to_string(iFail));
            s_Calls.clear();
            int rc = 0;
            const Output Out = captureCall([&] {
                RTMemTestFailNth(iFail);
                rc = InstallPackage("C:\\p.msi", "A=1", "C:\\l.txt");
                RTMemTestFailNth(0);
            });
            const std::string &strErr = Out.strErr;
            const std::string &strOut = Out.strOut;
            const bool fEngineRan = std::any_of(s_Calls.begin(), s_Calls.end(), [](const std::string &strCall) {
                return strCall.rfind("InstallProduct(", 0) == 0;
            });
            if (rc == c.rcDone && fEngineRan) {
                // The allocation that failed (if any) was only in the message's
                // formatting, which may leave the message out but never garbles it.
                EXPECT_TRUE(strOut == c.pszDoneOut || strOut.empty());
                EXPECT_TRUE(strErr == c.pszDoneErr || strErr.empty());
                fDone = strOut == c.pszDoneOut && strErr == c.pszDoneErr;
                continue;
            }
            EXPECT_EQ(rc, 1);
            EXPECT_FALSE(fEngineRan);
            EXPECT_EQ(strOut, "");
            Failures.insert(strErr);
        }
        EXPECT_TRUE(fDone);
        EXPECT_EQ(Failures, (std::set<std::string>{
                                "TeskStub.exe: error: RTStrToUtf16 failed on 'C:\\l.txt': ERR_NO_UTF16_MEMORY\r\n",
                                "TeskStub.exe: error: RTStrToUtf16 failed on 'C:\\p.msi': ERR_NO_UTF16_MEMORY\r\n",
                                "TeskStub.exe: error: RTStrToUtf16 failed on 'A=1': ERR_NO_UTF16_MEMORY\r\n",
                            }));
    }
}

#if defined(RT_OS_POSIX)
TEST_F(EngineTest, NoEngineOnThisPlatform) {
    // Outside Windows there is no engine unless a test puts one in: the backend refuses
    // cleanly instead of claiming an install.
    g_StubPlatform = g_StubPlatformDefault;
    silent = true;
    InstallOutcome Res = install("/tmp/p.msi", "", nullptr);
    EXPECT_EQ(Res.rc, 1);
    EXPECT_EQ(Res.strErr, "TeskStub.exe: error: Internal error: MsiSetInternalUI failed.\r\n");
}
#endif
