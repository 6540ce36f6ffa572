// Reaching the Linux side from a Windows program under Wine: the Unix name of a Windows
// path, and shell scripts run there (Wine makes neither junctions nor symbolic links
// itself, but sees a Unix symbolic link as a reparse point). Wine starts Unix programs
// but hands back no handle to wait on and no exit code, so a script's status is written
// to a file last, and that file is waited for.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace unixside {

/** The Unix path of a Windows path, by Wine's own mapping; empty outside Wine. */
inline std::string unixPath(const std::wstring &wstrPath) {
    typedef char *(CDECL * PFNWINEGETUNIXFILENAME)(LPCWSTR);
    PFNWINEGETUNIXFILENAME pfn =
        (PFNWINEGETUNIXFILENAME)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char *psz = pfn ? pfn(wstrPath.c_str()) : nullptr;
    if (!psz)
        return "";
    std::string str(psz);
    HeapFree(GetProcessHeap(), 0, psz);
    return str;
}

/** A text as one word for the shell. */
inline std::string quote(const std::string &str) {
    std::string strQuoted = "'";
    for (char ch : str)
        strQuoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return strQuoted + "'";
}

/** Runs a shell script on the Unix side and returns its exit status, its output in
 *  *pstrOutput when asked for; -1 when it could not be started or did not finish
 *  within the bound. The script and its files live in wstrWorkDir meanwhile. */
inline int runShell(const std::string &strScript, const std::wstring &wstrWorkDir, std::string *pstrOutput = nullptr,
                    DWORD cMsBound = 120000) {
    static LONG s_cRuns = 0;
    const std::wstring wstrBase = wstrWorkDir + L"\\unix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(InterlockedIncrement(&s_cRuns));
    const std::string strBase = unixPath(wstrBase);
    if (strBase.empty())
        return -1;
    {
        std::ofstream Script((wstrBase + L".sh").c_str(), std::ios::binary);
        Script << "(\n"
               << strScript << "\n) >" << quote(strBase + ".out") << " 2>&1\n"
               << "echo $? >" << quote(strBase + ".tmp") << "\n"
               << "mv " << quote(strBase + ".tmp") << " " << quote(strBase + ".status") << "\n";
    }
    const std::string strCmd = "/bin/sh \"" + strBase + ".sh\"";
    std::wstring wstrCmd(strCmd.size(), L'\0');
    wstrCmd.resize(MultiByteToWideChar(CP_UTF8, 0, strCmd.data(), (int)strCmd.size(), &wstrCmd[0], (int)strCmd.size()));
    STARTUPINFOW Si = {};
    Si.cb = sizeof(Si);
    PROCESS_INFORMATION Pi = {};
    if (!CreateProcessW(nullptr, &wstrCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Si, &Pi))
        return -1;
    CloseHandle(Pi.hThread);
    CloseHandle(Pi.hProcess);
    int iStatus = -1;
    for (DWORD cMs = 0; cMs < cMsBound; cMs += 50) {
        std::ifstream Status((wstrBase + L".status").c_str());
        if (Status >> iStatus)
            break;
        Sleep(50);
    }
    if (pstrOutput) {
        std::ifstream Out((wstrBase + L".out").c_str(), std::ios::binary);
        pstrOutput->assign(std::istreambuf_iterator<char>(Out), std::istreambuf_iterator<char>());
    }
    for (const wchar_t *pwszSuffix : {L".sh", L".out", L".status"})
        DeleteFileW((wstrBase + pwszSuffix).c_str());
    return iStatus;
}

/** Makes a Unix symbolic link at wstrLink (a Windows path) to the Windows path
 *  wstrTarget; true when the link is there afterwards as Wine sees it. */
inline bool makeSymlink(const std::wstring &wstrTarget, const std::wstring &wstrLink, const std::wstring &wstrWorkDir) {
    if (runShell("ln -s " + quote(unixPath(wstrTarget)) + " " + quote(unixPath(wstrLink)), wstrWorkDir) != 0)
        return false;
    const DWORD fAttr = GetFileAttributesW(wstrLink.c_str());
    return fAttr != INVALID_FILE_ATTRIBUTES && (fAttr & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace unixside
