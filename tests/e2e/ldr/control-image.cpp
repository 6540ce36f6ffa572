// Loads planted libraries on purpose, for the harness to prove that it notices a planted
// library being loaded: for every name on its command line, the bare name searched
// along the default path (the program's directory comes first), then the copy in the
// current directory by its full path, as a program that loads from there would. Prints
// one line per name and ends with the number of loads that failed.
#include <windows.h>

#include <cstdio>

int main(int argc, char **argv) {
    int cFailed = 0;
    for (int i = 1; i < argc; i++) {
        const bool fApp = LoadLibraryA(argv[i]) != nullptr;
        char szCwdCopy[MAX_PATH];
        const DWORD cch = GetFullPathNameA(argv[i], MAX_PATH, szCwdCopy, nullptr);
        const bool fCwd = cch && cch < MAX_PATH && LoadLibraryA(szCwdCopy) != nullptr;
        printf("%s app=%d cwd=%d\n", argv[i], fApp, fCwd);
        cFailed += !fApp + !fCwd;
    }
    return cFailed;
}
