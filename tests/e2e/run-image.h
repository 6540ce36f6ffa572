// Starts an image from the test program's directory with an exact command line
// (CreateProcessW takes it verbatim) and captures its standard output, standard error
// and exit code through pipes, the way deployment tooling runs the bootstrapper.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

/** How a child is started besides its command line. */
struct RunOptions {
    /** Its current directory; empty: this process's. */
    std::wstring wstrCwd;
    /** CreateProcessW creation flags (DETACHED_PROCESS starts it without a console, as
     *  the desktop starts a windowed program). */
    DWORD fCreationFlags = 0;
    /** Environment variables set (or, with an empty value, removed) for the child. */
    std::vector<std::pair<std::wstring, std::wstring>> Env;
    DWORD cMsTimeout = 120000;
};

/** Sets this process's environment for a child and puts it back afterwards. */
class ScopedEnv {
public:
    explicit ScopedEnv(const std::vector<std::pair<std::wstring, std::wstring>> &Env) {
        for (const auto &[wstrName, wstrValue] : Env) {
            wchar_t wsz[32768];
            const DWORD cwc = GetEnvironmentVariableW(wstrName.c_str(), wsz, 32768);
            m_Saved.push_back({wstrName, cwc ? std::optional<std::wstring>(std::wstring(wsz, cwc)) : std::nullopt});
            SetEnvironmentVariableW(wstrName.c_str(), wstrValue.empty() ? nullptr : wstrValue.c_str());
        }
    }
    ~ScopedEnv() {
        for (auto it = m_Saved.rbegin(); it != m_Saved.rend(); ++it)
            SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> m_Saved;
};

/** Runs the image at a full path with the UTF-8 command line given. */
inline RunResult runPath(const std::wstring &wstrApp, const std::string &strCmdLine, const RunOptions &Opts = {}) {
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
    std::wstring wstrCmd = utf8ToWide(strCmdLine);
    BOOL fOk;
    {
        ScopedEnv Env(Opts.Env);
        fOk = CreateProcessW(wstrApp.c_str(), wstrCmd.data(), nullptr, nullptr, TRUE, Opts.fCreationFlags, nullptr,
                             Opts.wstrCwd.empty() ? nullptr : Opts.wstrCwd.c_str(), &Si, &Pi);
    }
    CloseHandle(hOutWr);
    CloseHandle(hErrWr);
    EXPECT_TRUE(fOk) << "CreateProcessW failed: " << GetLastError();
    std::thread ThrdOut(drain, hOutRd, &Res.strOut);
    std::thread ThrdErr(drain, hErrRd, &Res.strErr);
    if (fOk) {
        EXPECT_EQ(WaitForSingleObject(Pi.hProcess, Opts.cMsTimeout), WAIT_OBJECT_0);
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

// Runs an image from the test directory with the UTF-8 command line given.
inline RunResult run(const wchar_t *pwszImage, const std::string &strCmdLine, const RunOptions &Opts = {}) {
    return runPath(imageDir() + pwszImage, strCmdLine, Opts);
}

} // namespace e2e
