// What the open handles of an extraction guarantee on Windows, shown by another
// process: while they are held nobody can write, replace, delete or rename the package
// or rename its directory; once they are closed the same attempts succeed.
#include "Installer/win/Stub/stub-test.h"

#include <windows.h>

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
