// Test image started without a C runtime. It prints its argument vector to standard
// output, one "[index]text" line each, and can be told to exercise the exit handlers,
// a failing first-stage initialiser or a smashed stack.
#include <windows.h>
#include "common/compiler/internal-startup.h"

namespace {
void writeOut(const char *psz) {
    DWORD cb = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), psz, lstrlenA(psz), &cb, nullptr);
}

void writeNum(unsigned long long u) {
    char ach[32];
    int off = sizeof(ach) - 1;
    ach[off] = '\0';
    do {
        ach[--off] = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    writeOut(&ach[off]);
}

bool isArg(const char *psz, const char *pszWanted) {
    return lstrcmpA(psz, pszWanted) == 0;
}

// A first-stage initialiser that fails with the value of OLMA_TEST_INIT_FAIL when set.
int failingInitializer() {
    WCHAR wsz[16];
    const DWORD cwc = GetEnvironmentVariableW(L"OLMA_TEST_INIT_FAIL", wsz, 16);
    if (cwc == 0 || cwc >= 16)
        return 0;
    int rc = 0;
    for (DWORD i = 0; i < cwc; i++)
        rc = rc * 10 + (wsz[i] - L'0');
    return rc;
}
RT_FIRST_STAGE_INITIALIZER(failingInitializer);

constinit int g_cSecondStage = 0;
void countingInitializer() {
    g_cSecondStage++;
}
RT_SECOND_STAGE_INITIALIZER(countingInitializer);

void terminator() {
    writeOut("terminator\n");
}
RT_TERMINATOR(terminator);

void handler1() {
    writeOut("handler 1\n");
}
void handler2() {
    writeOut("handler 2\n");
}
void handler3() {
    writeOut("handler 3\n");
}

constinit unsigned g_cRan = 0;
void countingHandler() {
    g_cRan++;
}
void reportHandler() {
    writeOut("ran ");
    writeNum(g_cRan);
    writeOut("\n");
}

__attribute__((noinline)) void smashStack(const char *pszSrc) {
    char achSmall[8];
    volatile char *pch = achSmall;
    for (int i = 0; i < 64; i++)
        pch[i] = pszSrc[i % 4];
    writeOut((const char *)achSmall);
}
} // namespace

extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    if (envp != nullptr)
        return 99;
    if (argc >= 2 && isArg(argv[1], "--exit-handlers")) {
        if (rtExitHandlerRegister(handler1) || rtExitHandlerRegister(handler2) || rtExitHandlerRegister(handler3))
            return 98;
        return 7;
    }
    if (argc >= 2 && isArg(argv[1], "--exit-handler-limit")) {
        // The first handler registered runs last and reports how many ran before it.
        if (rtExitHandlerRegister(reportHandler) != 0)
            return 98;
        unsigned cOk = 1;
        while (rtExitHandlerRegister(countingHandler) == 0)
            cOk++;
        writeOut("registered ");
        writeNum(cOk);
        writeOut(" count ");
        writeNum(rtExitHandlerCount());
        writeOut("\n");
        return 0;
    }
    if (argc >= 2 && isArg(argv[1], "--second-stage")) {
        writeNum(g_cSecondStage);
        writeOut("\n");
        return 0;
    }
    if (argc >= 2 && isArg(argv[1], "--smash")) {
        smashStack("XXXX");
        return 0;
    }
    writeOut("argc ");
    writeNum(argc);
    writeOut("\n");
    for (int i = 0; i < argc; i++) {
        writeOut("[");
        writeNum(i);
        writeOut("]");
        writeOut(argv[i]);
        writeOut("\n");
    }
    if (argv[argc] != nullptr)
        return 97;
    return 42;
}
