// Windows, image without a C runtime: the entry point and the start-up sequence up to
// InstallerMain, and the start-up module's record of the executable path.
#include "r3/win/internal-win.h"
#include <olma/getopt.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "common/compiler/internal-startup.h"

extern "C" uintptr_t __stack_chk_guard;

namespace {
// The thread environment block, read directly (the SDK's intrinsic trips the compiler's
// array-bounds checking).
inline TEB *rtNoCrtTeb() {
    TEB *pTeb;
#if defined(__x86_64__)
    __asm__("movq %%gs:0x30, %0" : "=r"(pTeb));
#else
    __asm__("movl %%fs:0x18, %0" : "=r"(pTeb));
#endif
    return pTeb;
}

/** The executable's path as the start-up module sees it. */
struct RTNOCRTEXECPATH {
    char szPath[4100];
    size_t offName;
    size_t cchDir;
};
constinit RTNOCRTEXECPATH g_NoCrtExecPath = {};

// Very old NT 3.x loaders leave the tail of sections beyond their raw data as it was;
// the image expects zeros there.
void rtNoCrtZeroSectionTails(uint8_t *pbImage) {
    const uint32_t uVersion = GetVersion();
    if ((uVersion & 0xff) != 3 || ((uVersion >> 8) & 0xff) >= 50)
        return;
    const IMAGE_DOS_HEADER *pDos = (const IMAGE_DOS_HEADER *)pbImage;
    const IMAGE_NT_HEADERS *pNt = (const IMAGE_NT_HEADERS *)(pbImage + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE)
        __builtin_trap();
    typedef NTSTATUS(NTAPI * PFNPROTECT)(HANDLE, PVOID *, PSIZE_T, ULONG, PULONG);
    PFNPROTECT pfnProtect =
        (PFNPROTECT)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtProtectVirtualMemory");
    if (!pfnProtect)
        __builtin_trap();
    const IMAGE_SECTION_HEADER *pSect = IMAGE_FIRST_SECTION(pNt);
    for (unsigned i = 0; i < pNt->FileHeader.NumberOfSections; i++, pSect++) {
        if (pSect->Misc.VirtualSize <= pSect->SizeOfRawData)
            continue;
        uint8_t *pbTail = pbImage + pSect->VirtualAddress + pSect->SizeOfRawData;
        SIZE_T cbTail = pSect->Misc.VirtualSize - pSect->SizeOfRawData;
        const bool fWritable = (pSect->Characteristics & IMAGE_SCN_MEM_WRITE) != 0;
        ULONG fOld = 0;
        if (!fWritable) {
            PVOID pv = pbTail;
            SIZE_T cb = cbTail;
            const ULONG fNew =
                (pSect->Characteristics & IMAGE_SCN_MEM_EXECUTE) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
            if (pfnProtect(GetCurrentProcess(), &pv, &cb, fNew, &fOld) < 0)
                __builtin_trap();
        }
        for (SIZE_T off = 0; off < cbTail; off++)
            pbTail[off] = 0;
        if (!fWritable) {
            PVOID pv = pbTail;
            SIZE_T cb = cbTail;
            ULONG fIgn = 0;
            if (pfnProtect(GetCurrentProcess(), &pv, &cb, fOld, &fIgn) < 0)
                __builtin_trap();
        }
    }
}

void rtNoCrtInitProcExecPath() {
    RTUTF16 wszPath[4100];
    const DWORD cwc = GetModuleFileNameW(nullptr, (LPWSTR)wszPath, RT_ELEMENTS(wszPath));
    if (cwc == 0) {
        rtRawWriteString("initProcExecPath: GetModuleFileNameW failed: ");
        rtRawWriteNumberDecHex(GetLastError());
        rtRawWriteBytes("\r\n", 2);
        return;
    }
    char *psz = g_NoCrtExecPath.szPath;
    const int rc = RTUtf16ToUtf8Ex(wszPath, cwc, &psz, sizeof(g_NoCrtExecPath.szPath), nullptr, __FILE__);
    if (RT_FAILURE(rc)) {
        rtRawWriteStatus("initProcExecPath: RTUtf16ToUtf8Ex failed: ", rc);
        return;
    }
    size_t cch = 0;
    size_t offName = 0;
    for (; psz[cch]; cch++)
        if (psz[cch] == '\\' || psz[cch] == '/' || psz[cch] == ':')
            offName = cch + 1;
    g_NoCrtExecPath.offName = offName;
    // The directory part drops trailing slashes, but "C:\" stays "C:\".
    size_t cchDir = offName;
    while (cchDir > 0 && (psz[cchDir - 1] == '\\' || psz[cchDir - 1] == '/') && !(cchDir == 3 && psz[1] == ':'))
        cchDir--;
    g_NoCrtExecPath.cchDir = cchDir;
}

__attribute__((noreturn)) void rtNoCrtStartup(uint8_t *pbImage) {
    rtNoCrtZeroSectionTails(pbImage);
    rtNoCrtInitProcExecPath();

    const int rcInit = rtRunFirstStageInitializers();
    if (rcInit != 0) {
        rtRawWriteString("A C static initializor failed (");
        rtRawWriteNumberDecHex((uint32_t)rcInit);
        rtRawWriteBytes("\r\n", 2);
        rtProcessExit(rcInit, false);
    }
    rtRunSecondStageInitializers();

    PEB *pPeb = rtNoCrtTeb()->ProcessEnvironmentBlock;
    RTL_USER_PROCESS_PARAMETERS *pParams = pPeb->ProcessParameters;
    if (!pParams) {
        rtRawWriteString("No command line\r\n");
        rtProcessExit(3, false);
    }

    char *pszCmdLine = nullptr;
    int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)pParams->CommandLine.Buffer,
                             pParams->CommandLine.Length / sizeof(RTUTF16), &pszCmdLine, 0, nullptr, __FILE__);
    if (RT_FAILURE(rc)) {
        rtRawWriteStatus("Failed to convert command line to UTF-8: ", rc);
        rtProcessExit(3, false);
    }

    char **papszArgs = nullptr;
    int cArgs = 0;
    rc = ArgvFromString(&papszArgs, &cArgs, pszCmdLine, RTGETOPTARGV_IN_PLACE, nullptr);
    if (RT_FAILURE(rc)) {
        rtRawWriteStatus("Error parsing command line: ", rc);
        rtProcessExit(3, false);
    }

    rtProcessExit(InstallerMain(cArgs, papszArgs, nullptr), true);
}
} // namespace

const char *rtNoCrtExecPath(size_t *poffName, size_t *pcchDir) {
    if (poffName)
        *poffName = g_NoCrtExecPath.offName;
    if (pcchDir)
        *pcchDir = g_NoCrtExecPath.cchDir;
    return g_NoCrtExecPath.szPath;
}

/** The image entry point. It takes nothing and never returns. */
extern "C" __attribute__((noreturn, no_stack_protector)) void rtNoCrtEntry(void) {
    // The guard is mixed before anything protected runs; this function never returns, so
    // its own frame is never checked against the old value.
    __stack_chk_guard = (uintptr_t)__builtin_ia32_rdtsc() ^ (uintptr_t)&__stack_chk_guard;
    uint8_t *pbImage = (uint8_t *)rtNoCrtTeb()->ProcessEnvironmentBlock->Reserved3[1];
    rtNoCrtStartup(pbImage);
}
