// Another process at work while the installer engine installs a package: packages run
// it as a custom action with the path the engine was given (the extracted package in the
// installer's extraction directory) and the test's working directory, where it writes
// what happened to "probe.log", one line per attempt.
//   attack-probe lock <package> <work dir>: opens the package for writing and for
//     deletion, renames it, and renames its directory; "<attempt>=<last error>", 0 when
//     it worked (a rename is undone at once).
//   attack-probe link <package> <work dir>: leaves symbolic links to the work
//     directory's "victim-extract" and "victim-custom" in the package's directory and in
//     the ".custom" copy beside it; "<link>=<1 when Wine sees the link>".
#include <windows.h>

#include <fstream>
#include <string>

#include "e2e/unix-side.h"

namespace {

DWORD attempt(bool fOk) {
    return fOk ? 0 : GetLastError();
}

DWORD openFor(const std::wstring &wstrPath, DWORD fAccess) {
    HANDLE h = CreateFileW(wstrPath.c_str(), fAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return 0;
}

/** Renames and, when that worked, puts the name back. */
DWORD renameAndBack(const std::wstring &wstrPath) {
    const std::wstring wstrMoved = wstrPath + L"-moved";
    const DWORD dwErr = attempt(MoveFileExW(wstrPath.c_str(), wstrMoved.c_str(), 0));
    if (dwErr == 0)
        MoveFileExW(wstrMoved.c_str(), wstrPath.c_str(), 0);
    return dwErr;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 4)
        return 2;
    const std::wstring wstrMode = argv[1], wstrPackage = argv[2], wstrWork = argv[3];
    const std::wstring wstrDir = wstrPackage.substr(0, wstrPackage.find_last_of(L"\\/"));
    std::ofstream Log((wstrWork + L"\\probe.log").c_str(), std::ios::binary | std::ios::app);
    if (wstrMode == L"lock") {
        Log << "write=" << openFor(wstrPackage, GENERIC_WRITE) << "\n";
        Log << "delete=" << openFor(wstrPackage, DELETE) << "\n";
        Log << "rename=" << renameAndBack(wstrPackage) << "\n";
        Log << "renamedir=" << renameAndBack(wstrDir) << "\n";
    } else if (wstrMode == L"link") {
        Log << "extract-link="
            << unixside::makeSymlink(wstrWork + L"\\victim-extract", wstrDir + L"\\planted-link", wstrWork) << "\n";
        Log << "custom-link="
            << unixside::makeSymlink(wstrWork + L"\\victim-custom", wstrDir + L"\\.custom\\planted-link", wstrWork)
            << "\n";
    } else
        return 2;
    return 0;
}
