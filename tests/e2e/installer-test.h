// What the end-to-end tests of real installers share: file and directory helpers that
// never follow a link, the products of the test packages (their registry value, their
// file, removal through the engine), and a fixture with a fresh directory of its own and
// a temporary directory for the installers it runs.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/run-image.h"

namespace e2e {

inline std::string toUtf8(const std::wstring &wstr) {
    int cb = WideCharToMultiByte(CP_UTF8, 0, wstr.data(), (int)wstr.size(), nullptr, 0, nullptr, nullptr);
    std::string str(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.data(), (int)wstr.size(), str.data(), cb, nullptr, nullptr);
    return str;
}

/** The libraries planted as canaries (tests/e2e/ldr builds one under each name). */
inline const wchar_t *const kapwszCanaries[] = {
    L"msi.dll",    L"crypt32.dll",   L"user32.dll",  L"shell32.dll", L"comctl32.dll", L"version.dll", L"uxtheme.dll",
    L"dwmapi.dll", L"cryptbase.dll", L"userenv.dll", L"propsys.dll", L"apphelp.dll",  L"ntmarta.dll"};

inline std::string lower(std::string str) {
    for (char &ch : str)
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    return str;
}

inline std::string readFile(const std::wstring &wstrPath) {
    std::ifstream In(wstrPath.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::wstring &wstrPath, const std::string &strData) {
    std::ofstream Out(wstrPath.c_str(), std::ios::binary | std::ios::trunc);
    Out << strData;
}

inline bool exists(const std::wstring &wstrPath) {
    return GetFileAttributesW(wstrPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/** Names in a directory, sorted; "." and ".." left out. */
inline std::vector<std::string> entries(const std::wstring &wstrDir) {
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

/** Removes a tree; a link (reparse point) inside is removed as a link, never entered. */
inline void removeTree(const std::wstring &wstrDir) {
    WIN32_FIND_DATAW Data;
    HANDLE h = FindFirstFileW((wstrDir + L"\\*").c_str(), &Data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring wstrName = Data.cFileName;
            if (wstrName == L"." || wstrName == L"..")
                continue;
            const std::wstring wstrPath = wstrDir + L"\\" + wstrName;
            const DWORD fAttr = Data.dwFileAttributes;
            if ((fAttr & FILE_ATTRIBUTE_DIRECTORY) && !(fAttr & FILE_ATTRIBUTE_REPARSE_POINT))
                removeTree(wstrPath);
            else if (!DeleteFileW(wstrPath.c_str()))
                RemoveDirectoryW(wstrPath.c_str());
        } while (FindNextFileW(h, &Data));
        FindClose(h);
    }
    RemoveDirectoryW(wstrDir.c_str());
}

/** HKLM\Software\TeskTests\<name>\Value in the 64-bit view, or "<absent>". */
inline std::string installedValue(const std::wstring &wstrName) {
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
inline std::wstring installedFile(const std::wstring &wstrName) {
    wchar_t wsz[MAX_PATH];
    DWORD cwc = GetEnvironmentVariableW(L"ProgramW6432", wsz, MAX_PATH);
    const std::wstring wstrProgramFiles = cwc && cwc < MAX_PATH ? std::wstring(wsz, cwc) : L"C:\\Program Files";
    return wstrProgramFiles + L"\\TeskTests\\" + wstrName + L"\\" + wstrName + L".txt";
}

inline std::wstring packagePath(const std::wstring &wstrName, const wchar_t *pwszSuffix = L".msi") {
    return imageDir() + L"packages\\" + wstrName + pwszSuffix;
}

inline std::wstring installerPath(const std::wstring &wstrName) {
    return imageDir() + L"installers\\" + wstrName + L".exe";
}

/** Removes the product of a test package when it is installed, through the engine. */
inline void uninstall(const std::wstring &wstrName) {
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

/** The silent error line of the installer named strImage. */
inline std::string errorLine(const std::string &strImage, const std::string &strText) {
    return strImage + ": error: " + strText + "\r\n";
}

/** A fresh directory of the test's own (m_wstrRoot) with the temporary directory of the
 *  installers it runs in it (m_wstrTmp); the products it names are removed before and
 *  after. */
class InstallerTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t wszTmp[MAX_PATH];
        GetTempPathW(MAX_PATH, wszTmp);
        // Wine reuses process ids quickly, and a tree whose images were just running may
        // not be removable yet, so every test gets a fresh root of its own.
        static unsigned s_cRoots = 0;
        m_wstrRoot = std::wstring(wszTmp) + L"olma-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
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
    RunResult run(const std::wstring &wstrInstaller, const std::string &strArgs, RunOptions Opts = {}) {
        return runImage(installerPath(wstrInstaller), strArgs, Opts);
    }
    /** Runs an image named by its path, its name as the first argument; the temporary
     *  directory is the test's unless Opts says otherwise. */
    RunResult runImage(const std::wstring &wstrImage, const std::string &strArgs, RunOptions Opts = {}) {
        std::vector<std::pair<std::wstring, std::wstring>> Env = {
            {L"OLMA_TMPDIR", L""}, {L"TMP", m_wstrTmp}, {L"TEMP", m_wstrTmp}};
        Env.insert(Env.end(), Opts.Env.begin(), Opts.Env.end());
        Opts.Env = Env;
        const std::string strName = toUtf8(wstrImage.substr(wstrImage.find_last_of(L'\\') + 1));
        return runPath(wstrImage, strName + (strArgs.empty() ? "" : " ") + strArgs, Opts);
    }

    std::string root() const { return toUtf8(m_wstrRoot); }

    std::wstring m_wstrRoot;
    std::wstring m_wstrTmp;
    std::vector<std::wstring> m_Products;
};

} // namespace e2e
