// Loads the planted libraries on purpose, for the harness to prove that it notices a
// planted library being loaded: a bare name searched along the default path (the
// program's directory comes first), and the copy in the current directory.
#include <windows.h>

int main() {
    HMODULE hApp = LoadLibraryW(L"msi.dll");
    wchar_t wszCwdCopy[MAX_PATH];
    const DWORD cwc = GetFullPathNameW(L"crypt32.dll", MAX_PATH, wszCwdCopy, nullptr);
    HMODULE hCwd = cwc && cwc < MAX_PATH ? LoadLibraryW(wszCwdCopy) : nullptr;
    return (hApp ? 1 : 0) | (hCwd ? 2 : 0);
}
