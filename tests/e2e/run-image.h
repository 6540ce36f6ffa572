// Starts an image from the test program's directory with an exact command line
// (CreateProcessW takes it verbatim) and captures its standard output, standard error
// and exit code through pipes, the way deployment tooling runs the bootstrapper.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <thread>

namespace e2e {
struct RunResult {
    std::string strOut;
    std::string strErr;
    DWORD uExit = 0xffffffff;
};

inline std::wstring imageDir() {
    wchar_t wsz[MAX_PATH];
    DWORD cwc = GetModuleFileNameW(nullptr, wsz, MAX_PATH);
    std::wstring str(wsz, cwc);
    return str.substr(0, str.find_last_of(L"\\/") + 1);
}

inline std::wstring utf8ToWide(const std::string &str) {
    int cwc = MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), nullptr, 0);
    std::wstring wstr(cwc, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), (int)str.size(), wstr.data(), cwc);
    return wstr;
}

inline void drain(HANDLE h, std::string *pstr) {
    char ach[4096];
    DWORD cb;
    while (ReadFile(h, ach, sizeof(ach), &cb, nullptr) && cb)
        pstr->append(ach, cb);
}

// Runs an image from the test directory with the UTF-8 command line given.
inline RunResult run(const wchar_t *pwszImage, const std::string &strCmdLine) {
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
    std::wstring wstrApp = imageDir() + pwszImage;
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

} // namespace e2e
