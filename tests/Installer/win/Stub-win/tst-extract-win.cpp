// What the open handles of an extraction guarantee on Windows, shown by another
// process: while they are held nobody can write, replace, delete or rename the package
// or rename its directory; once they are closed the same attempts succeed.
#include "Installer/win/Stub/stub-test.h"

#include <windows.h>

#include <functional>

#include "e2e/unix-side.h"

namespace {

/** One attempt of the other process; its exit code is the attempt's last error (0 when
 *  it succeeded). */
DWORD otherProcessAttempt(const std::wstring &strOp, const std::wstring &strPath) {
    if (strOp == L"write" || strOp == L"delete") {
        HANDLE h = CreateFileW(strPath.c_str(), strOp == L"write" ? GENERIC_WRITE : DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return GetLastError();
        CloseHandle(h);
        return 0;
    }
    if (strOp == L"replace") {
        // Another file with the same bytes takes the package's name.
        const std::wstring strOther = strPath + L".other";
        if (!CopyFileW(strPath.c_str(), strOther.c_str(), FALSE))
            return GetLastError();
        if (MoveFileExW(strOther.c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 0;
        DWORD dwErr = GetLastError();
        DeleteFileW(strOther.c_str());
        return dwErr;
    }
    if (strOp == L"rename")
        return MoveFileExW(strPath.c_str(), (strPath + L"-moved").c_str(), 0) ? 0 : GetLastError();
    if (strOp == L"link")
        return CreateHardLinkW((strPath + L".link").c_str(), strPath.c_str(), nullptr) ? 0 : GetLastError();
    return ERROR_INVALID_FUNCTION;
}

/** Started by the tests below with "--other-process <attempt> <path>", this program is
 *  the other process: it makes the attempt and ends before the tests would start. */
const int g_iOtherProcess = [] {
    int cArgs = 0;
    LPWSTR *papwszArgs = CommandLineToArgvW(GetCommandLineW(), &cArgs);
    if (papwszArgs && cArgs == 4 && wcscmp(papwszArgs[1], L"--other-process") == 0)
        ExitProcess(otherProcessAttempt(papwszArgs[2], papwszArgs[3]));
    LocalFree(papwszArgs);
    return 0;
}();

std::wstring wide(const std::string &str) {
    int cwc = MultiByteToWideChar(CP_UTF8, 0, str.c_str(), -1, nullptr, 0);
    std::wstring wstr((size_t)cwc, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.c_str(), -1, &wstr[0], cwc);
    wstr.resize((size_t)cwc - 1);
    return wstr;
}

/** Runs the attempt in another process and returns its result. */
DWORD attemptFromOtherProcess(const wchar_t *pwszOp, const std::string &strPath) {
    wchar_t wszSelf[MAX_PATH];
    GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
    std::wstring strCmd =
        L"\"" + std::wstring(wszSelf) + L"\" --other-process " + pwszOp + L" \"" + wide(strPath) + L"\"";
    STARTUPINFOW Si = {};
    Si.cb = sizeof(Si);
    PROCESS_INFORMATION Pi = {};
    if (!CreateProcessW(wszSelf, &strCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Si, &Pi)) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        return ~(DWORD)0;
    }
    WaitForSingleObject(Pi.hProcess, INFINITE);
    DWORD dwExit = ~(DWORD)0;
    GetExitCodeProcess(Pi.hProcess, &dwExit);
    CloseHandle(Pi.hThread);
    CloseHandle(Pi.hProcess);
    return dwExit;
}

bool refused(DWORD dwErr) {
    return dwErr == ERROR_SHARING_VIOLATION || dwErr == ERROR_ACCESS_DENIED;
}

class ExtractWinTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        silent = true;
        setResources(&m_Resources);
    }
    std::vector<Resource> m_Resources;
    static inline std::string s_strDuringWrite;
    static inline DWORD s_dwReplaceDuringWrite;
    /** What the after-write hook does to the package file. */
    static inline std::function<void(const std::string &)> s_fnAfterWrite;
};

} // namespace

TEST_F(ExtractWinTest, AnotherProcessCannotTouchThePackageWhileItIsHeld) {
    const std::string strData = payload(3 * 65536 + 1, 7);
    addPackage(m_Resources, 0, 3, "p.msi", strData);
    // Right after the write only the writer holds the file.
    g_pfnExtractAfterWriteHook = [](RTFILE, const char *pszPath) {
        s_dwReplaceDuringWrite = attemptFromOtherProcess(L"replace", pszPath);
    };
    const std::string strDir = path("x");
    CleanupRecord *pDirRec = nullptr;
    ASSERT_EQ(ExtractPackages(1, strDir.c_str(), false, &pDirRec), 0);
    EXPECT_TRUE(refused(s_dwReplaceDuringWrite)) << s_dwReplaceDuringWrite;
    const std::string strFile = FindPackageCleanupRecord(0)->path;

    const struct {
        const wchar_t *pwszOp;
        std::string strPath;
    } aAttempts[] = {
        {L"write", strFile}, {L"delete", strFile}, {L"replace", strFile}, {L"rename", strFile}, {L"rename", strDir},
    };
    for (const auto &a : aAttempts) {
        SCOPED_TRACE(testing::Message() << a.pwszOp << " " << a.strPath);
        const DWORD dwErr = attemptFromOtherProcess(a.pwszOp, a.strPath);
        EXPECT_TRUE(refused(dwErr)) << dwErr;
    }
    std::filesystem::current_path(m_SavedCwd);
    std::ifstream in(fromUtf8(strFile), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == strData);
    in.close();

    // The control: with the handles closed (as clean-up does first), each attempt succeeds.
    for (CleanupLink *pLink = g_CleanupList.next; pLink != &g_CleanupList; pLink = pLink->next) {
        CleanupRecord *pRec = static_cast<CleanupRecord *>(pLink);
        if (pRec->isFile) {
            EXPECT_EQ(RTFileClose(pRec->handle.hFile), 0);
            pRec->handle.hFile = NIL_RTFILE;
        } else {
            EXPECT_EQ(RTDirClose(pRec->handle.hDir), 0);
            pRec->handle.hDir = NIL_RTDIR;
        }
    }
    for (const auto &a : aAttempts) {
        SCOPED_TRACE(testing::Message() << "control: " << a.pwszOp << " " << a.strPath);
        EXPECT_EQ(attemptFromOtherProcess(a.pwszOp, a.strPath), 0u);
    }
    EXPECT_TRUE(exists("x-moved"));
    ReleaseCleanupRecords();
    std::filesystem::remove_all(fsPath("x-moved"));
}

TEST_F(ExtractWinTest, ChangesByProcessesThatIgnoreTheLocksAreFound) {
    // Wine's share modes bind Windows programs only: a process on the Unix side writes
    // into the package or gives it a second name while the writer denies writing to
    // everybody else. Each attack comes between the write and the checks; the file that
    // is left proves it landed. A Windows process may try the second name as well: it
    // is found if the system lets it through.
    const std::string strData = payload(3 * 65536 + 1, 9);
    addPackage(m_Resources, 0, 1, "p.cab", strData);
    const std::wstring wstrWork = m_dir.wstring();
    constexpr size_t offFlip = 0x20010;
    char szFlip[8];
    snprintf(szFlip, sizeof(szFlip), "\\%03o", (unsigned)(uint8_t)~strData[offFlip]);
    auto unixPath = [](const std::string &strPath) { return unixside::quote(unixside::unixPath(wide(strPath))); };
    DWORD dwWindowsLink = ~(DWORD)0;
    const struct {
        const char *pszName;
        std::function<void(const std::string &)> fnAttack;
        bool fLink;
    } aCases[] = {
        {"a byte flipped on the Unix side",
         [&](const std::string &strPath) {
             ASSERT_EQ(unixside::runShell("printf '" + std::string(szFlip) + "' | dd of=" + unixPath(strPath) +
                                              " bs=1 seek=" + std::to_string(offFlip) + " conv=notrunc",
                                          wstrWork),
                       0);
         },
         false},
        {"a second name made on the Unix side",
         [&](const std::string &strPath) {
             ASSERT_EQ(unixside::runShell("ln " + unixPath(strPath) + " " + unixPath(strPath + ".link"), wstrWork), 0);
         },
         true},
        {"a second name made by a Windows process",
         [&](const std::string &strPath) { dwWindowsLink = attemptFromOtherProcess(L"link", strPath); }, true},
    };
    g_pfnExtractAfterWriteHook = [](RTFILE, const char *pszPath) { s_fnAfterWrite(pszPath); };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        s_fnAfterWrite = c.fnAttack;
        const std::string strDir = path("x"), strFile = strDir + "\\p.cab";
        CleanupRecord *pDirRec = nullptr;
        int rc = -1;
        const Output Res = captureCall([&] { rc = ExtractPackages(1, strDir.c_str(), false, &pDirRec); }, false);
        std::filesystem::current_path(m_SavedCwd);
        const std::string strOnDisk = readFile("x/p.cab");
        ASSERT_EQ(strOnDisk.size(), strData.size());
        if (!c.fLink) {
            EXPECT_NE(strOnDisk[offFlip], strData[offFlip]) << "the byte was not changed";
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(Res.strErr, "error: #0: File '" + strFile +
                                      "' has change (mismatch in 0x10000 byte block at 0x20000)\r\n" +
                                      errorLines("Error extracting package #0 (p.cab): ERR_STATE_CHANGED"));
        } else if (dwWindowsLink != 0 && std::string(c.pszName).find("Windows") != std::string::npos) {
            // The system refused the second name: nothing to find.
            EXPECT_FALSE(exists("x/p.cab.link"));
            EXPECT_EQ(rc, 0) << Res.strErr;
        } else {
            EXPECT_EQ(readFile("x/p.cab.link"), strData) << "no second name";
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(Res.strErr, "error: #0: File '" + strFile + "' has 2 names, expected 1\r\n" +
                                      errorLines("Error extracting package #0 (p.cab): ERR_STATE_CHANGED"));
            EXPECT_EQ(unixside::runShell("rm " + unixPath(strFile + ".link"), wstrWork), 0);
        }
        ProcessCleanupRecords(strDir.c_str());
        EXPECT_FALSE(exists("x"));
    }
    std::cout << "note: a Windows process's second name: " << (dwWindowsLink ? "refused, error " : "made, status ")
              << dwWindowsLink << "\n";
}
