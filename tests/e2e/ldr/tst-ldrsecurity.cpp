// Planted libraries named like the lazily imported ones (and version.dll) lie beside
// the program and in its current directory; Wine is told to prefer such native files
// over its built-in ones. The bootstrapper's start-up and the lazy imports must load
// the system directory's libraries and leave no canary marker. A control program that
// loads the planted libraries the unsafe way proves that the markers do appear.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "e2e/installer-test.h"

namespace {

using e2e::imageDir;
using e2e::kapwszCanaries;
using e2e::lower;
using e2e::removeTree;
using e2e::toUtf8;

std::wstring systemDir() {
    wchar_t wsz[MAX_PATH];
    return std::wstring(wsz, GetSystemDirectoryW(wsz, MAX_PATH));
}

std::string readFile(const std::wstring &wstrPath) {
    std::string str;
    HANDLE h = CreateFileW(wstrPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return str;
    char ach[4096];
    DWORD cb;
    while (ReadFile(h, ach, sizeof(ach), &cb, nullptr) && cb)
        str.append(ach, cb);
    CloseHandle(h);
    return str;
}

struct RunResult {
    std::string strOut;
    DWORD uExit = 0xffffffff;
};

/** Runs an image with its output in a file (no pipes to drain) and waits for it. */
RunResult run(const std::wstring &wstrImage, const std::wstring &wstrArgs, const std::wstring &wstrCwd,
              const std::wstring &wstrOutFile) {
    RunResult Res;
    SECURITY_ATTRIBUTES Sa = {sizeof(Sa), nullptr, TRUE};
    HANDLE hOut = CreateFileW(wstrOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Sa, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(hOut, INVALID_HANDLE_VALUE);
    STARTUPINFOW Si = {};
    Si.cb = sizeof(Si);
    Si.dwFlags = STARTF_USESTDHANDLES;
    Si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    Si.hStdOutput = hOut;
    Si.hStdError = hOut;
    PROCESS_INFORMATION Pi = {};
    std::wstring wstrCmd = L"\"" + wstrImage + L"\" " + wstrArgs;
    BOOL fOk = CreateProcessW(wstrImage.c_str(), wstrCmd.data(), nullptr, nullptr, TRUE, 0, nullptr, wstrCwd.c_str(),
                              &Si, &Pi);
    EXPECT_TRUE(fOk) << "CreateProcessW failed: " << GetLastError();
    if (fOk) {
        EXPECT_EQ(WaitForSingleObject(Pi.hProcess, 120000), WAIT_OBJECT_0);
        GetExitCodeProcess(Pi.hProcess, &Res.uExit);
        CloseHandle(Pi.hProcess);
        CloseHandle(Pi.hThread);
    }
    CloseHandle(hOut);
    Res.strOut = readFile(wstrOutFile);
    return Res;
}

/** The planted layout: app\ (the program and canaries), cwd\ (canaries), markers\. */
class LdrSecurity : public testing::Test {
protected:
    std::wstring m_wstrRoot, m_wstrApp, m_wstrCwd, m_wstrMarkers;

    void SetUp() override {
        wchar_t wszTmp[MAX_PATH];
        GetTempPathW(MAX_PATH, wszTmp);
        // Wine reuses process ids quickly, and a tree whose images were just running may not
        // be removable yet, so every test gets a fresh root of its own.
        static unsigned s_cRoots = 0;
        m_wstrRoot = std::wstring(wszTmp) + L"olma-ldr-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++s_cRoots);
        removeTree(m_wstrRoot);
        m_wstrApp = m_wstrRoot + L"\\app";
        m_wstrCwd = m_wstrRoot + L"\\cwd";
        m_wstrMarkers = m_wstrRoot + L"\\markers";
        for (const std::wstring *p : {&m_wstrRoot, &m_wstrApp, &m_wstrCwd, &m_wstrMarkers})
            ASSERT_TRUE(CreateDirectoryW(p->c_str(), nullptr)) << toUtf8(*p);
        const std::wstring wstrCanaries = imageDir() + L"..\\canary\\";
        for (const wchar_t *pwsz : kapwszCanaries) {
            ASSERT_TRUE(CopyFileW((wstrCanaries + pwsz).c_str(), (m_wstrApp + L"\\" + pwsz).c_str(), FALSE))
                << toUtf8(pwsz);
            ASSERT_TRUE(CopyFileW((wstrCanaries + pwsz).c_str(), (m_wstrCwd + L"\\" + pwsz).c_str(), FALSE));
        }
        for (const wchar_t *pwsz : {L"ldr-image.exe", L"ldr-control.exe", L"TeskStub.exe"})
            ASSERT_TRUE(CopyFileW((imageDir() + pwsz).c_str(), (m_wstrApp + L"\\" + pwsz).c_str(), FALSE))
                << toUtf8(pwsz);
        // Wine must prefer native (planted) files over its built-in libraries; the test
        // registration sets that for the whole Wine session, where children see it.
        wchar_t wszOverrides[256] = L"";
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", wszOverrides, 256);
        ASSERT_NE(std::wstring(wszOverrides).find(L"=n,b"), std::wstring::npos) << toUtf8(wszOverrides);
        SetEnvironmentVariableW(L"OLMA_CANARY_MARKERS", m_wstrMarkers.c_str());
    }

    void TearDown() override {
        SetEnvironmentVariableW(L"OLMA_CANARY_MARKERS", nullptr);
        removeTree(m_wstrRoot);
    }

    RunResult runApp(const wchar_t *pwszImage, const wchar_t *pwszArgs = L"") {
        return run(m_wstrApp + L"\\" + pwszImage, pwszArgs, m_wstrCwd, m_wstrRoot + L"\\out.txt");
    }

    /** Marker file contents by canary name (empty when it was never loaded). */
    std::string marker(const wchar_t *pwszCanary) { return readFile(m_wstrMarkers + L"\\" + pwszCanary + L".loaded"); }

    void expectNoMarkers() {
        for (const wchar_t *pwsz : kapwszCanaries) {
            SCOPED_TRACE(toUtf8(pwsz));
            EXPECT_EQ(marker(pwsz), "");
        }
    }
};

TEST_F(LdrSecurity, ControlProgramLoadingTheUnsafeWayLeavesMarkers) {
    std::wstring wstrArgs;
    for (const wchar_t *pwsz : kapwszCanaries)
        wstrArgs += std::wstring(L" ") + pwsz;
    RunResult Res = runApp(L"ldr-control.exe", wstrArgs.c_str());
    EXPECT_EQ(Res.uExit, 0u) << Res.strOut;
    for (const wchar_t *pwsz : kapwszCanaries) {
        SCOPED_TRACE(toUtf8(pwsz));
        EXPECT_EQ(lower(marker(pwsz)),
                  lower(toUtf8(m_wstrApp + L"\\" + pwsz + L"\n" + m_wstrCwd + L"\\" + pwsz + L"\n")));
    }
}

TEST_F(LdrSecurity, LazyImportsLoadOnlyTheSystemDirectorysLibraries) {
    RunResult Res = runApp(L"ldr-image.exe");
    ASSERT_EQ(Res.uExit, 0u) << Res.strOut;
    expectNoMarkers();
    const std::string strSys = lower(toUtf8(systemDir()));
    for (const char *psz : {"user32", "msi", "crypt32", "shell32", "comctl32"}) {
        SCOPED_TRACE(psz);
        const std::string strLine = std::string(psz) + "=" + strSys + "\\" + psz + ".dll\n";
        EXPECT_NE(lower(Res.strOut).find(strLine), std::string::npos) << Res.strOut;
    }
    // version.dll need not be loaded at all; if it is, it is the system's.
    const size_t off = Res.strOut.find("version=");
    ASSERT_NE(off, std::string::npos) << Res.strOut;
    const std::string strVersion = lower(Res.strOut.substr(off, Res.strOut.find('\n', off) - off));
    EXPECT_TRUE(strVersion == "version=-" || strVersion == "version=" + strSys + "\\version.dll") << strVersion;
}

TEST_F(LdrSecurity, CommonControlsComeFromTheSideBySideStore) {
    // The application manifest's dependency on version 6 of the common controls, in an
    // activation context of its own: the lazy import then loads the side-by-side copy
    // under the Windows directory, still no planted one.
    const std::wstring wstrManifest = m_wstrApp + L"\\comctl6.manifest";
    const char szManifest[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "  <assemblyIdentity type=\"win32\" name=\"ldr-image.exe\" version=\"1.0.0.0\"/>\n"
        "  <dependency><dependentAssembly>\n"
        "    <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\n"
        "                      processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
        "  </dependentAssembly></dependency>\n"
        "</assembly>\n";
    HANDLE h = CreateFileW(wstrManifest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb = 0;
    EXPECT_TRUE(WriteFile(h, szManifest, sizeof(szManifest) - 1, &cb, nullptr));
    CloseHandle(h);

    const std::wstring wstrArgs = L"--manifest \"" + wstrManifest + L"\"";
    RunResult Res = runApp(L"ldr-image.exe", wstrArgs.c_str());
    ASSERT_EQ(Res.uExit, 0u) << Res.strOut;
    expectNoMarkers();
    wchar_t wszWinDir[MAX_PATH];
    const std::string strWinSxS =
        lower(toUtf8(std::wstring(wszWinDir, GetWindowsDirectoryW(wszWinDir, MAX_PATH)))) + "\\winsxs\\";
    const size_t off = Res.strOut.find("comctl32=");
    ASSERT_NE(off, std::string::npos) << Res.strOut;
    const std::string strComCtl = lower(Res.strOut.substr(off, Res.strOut.find('\n', off) - off));
    EXPECT_EQ(strComCtl.rfind("comctl32=" + strWinSxS, 0), 0u) << strComCtl;
    EXPECT_NE(strComCtl.find("common-controls"), std::string::npos) << strComCtl;
    EXPECT_NE(strComCtl.find("_6."), std::string::npos) << strComCtl;
}

TEST_F(LdrSecurity, StartupLoadsNoPlantedLibrary) {
    RunResult Res = runApp(L"ldr-image.exe", L"--startup-only");
    EXPECT_EQ(Res.uExit, 0u) << Res.strOut;
    expectNoMarkers();
    // The bare stub runs up to its missing manifest.
    Res = runApp(L"TeskStub.exe", L"--silent");
    EXPECT_EQ(Res.uExit, 1u) << Res.strOut;
    expectNoMarkers();
}

} // namespace
