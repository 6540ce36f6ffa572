// Test image without a C runtime that initialises the runtime like the bootstrapper
// and then calls one function of every lazily imported library. It prints, for each
// library of interest, the file the process has loaded under that name ("-" when none).
// With "--manifest <file>" the calls run in the activation context of that manifest, as
// they do in an image that carries it as its application manifest.
#include <windows.h>
#include <commctrl.h>
#include <msi.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <olma/initterm.h>
#include "common/compiler/internal-startup.h"

namespace {
void writeOut(const char *psz) {
    DWORD cb = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), psz, lstrlenA(psz), &cb, nullptr);
}

void printModule(const char *pszName, const wchar_t *pwszName) {
    writeOut(pszName);
    writeOut("=");
    HMODULE hMod = GetModuleHandleW(pwszName);
    WCHAR wszPath[MAX_PATH];
    const DWORD cwc = hMod ? GetModuleFileNameW(hMod, wszPath, MAX_PATH) : 0;
    char szPath[MAX_PATH * 4];
    const int cb =
        cwc ? WideCharToMultiByte(CP_UTF8, 0, wszPath, (int)cwc, szPath, sizeof(szPath) - 1, nullptr, nullptr) : 0;
    if (cb > 0) {
        szPath[cb] = '\0';
        writeOut(szPath);
    } else
        writeOut("-");
    writeOut("\n");
}

void printModules() {
    printModule("user32", L"user32.dll");
    printModule("msi", L"msi.dll");
    printModule("crypt32", L"crypt32.dll");
    printModule("shell32", L"shell32.dll");
    printModule("comctl32", L"comctl32.dll");
    printModule("version", L"version.dll");
}
} // namespace

extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    (void)envp;
    const int rc = RTR3Init(argc, &argv, RTR3INIT_FLAGS_SYSTEM_DLL_PATH);
    if (rc != 0) {
        writeOut("RTR3Init failed\n");
        return 3;
    }
    if (argc > 1 && lstrcmpA(argv[1], "--startup-only") == 0) {
        printModules();
        return 0;
    }
    if (argc > 2 && lstrcmpA(argv[1], "--manifest") == 0) {
        WCHAR wszManifest[MAX_PATH];
        if (!MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, wszManifest, MAX_PATH))
            return 4;
        ACTCTXW ActCtx = {};
        ActCtx.cbSize = sizeof(ActCtx);
        ActCtx.lpSource = wszManifest;
        HANDLE hActCtx = CreateActCtxW(&ActCtx);
        ULONG_PTR uCookie = 0;
        if (hActCtx == INVALID_HANDLE_VALUE || !ActivateActCtx(hActCtx, &uCookie)) {
            writeOut("activation context failed\n");
            return 4;
        }
    }
    // One harmless call per library; each is the first, so each loads its library.
    (void)GetDesktopWindow();
    (void)MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr);
    (void)CertCloseStore(nullptr, 0);
    SHFILEOPSTRUCTW Op = {};
    Op.wFunc = FO_DELETE;
    Op.pFrom = L"C:\\olma-no-such-dir\\no-such-file\0";
    Op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    (void)SHFileOperationW(&Op);
    INITCOMMONCONTROLSEX Icc = {sizeof(Icc), ICC_STANDARD_CLASSES};
    (void)InitCommonControlsEx(&Icc);
    printModules();
    return 0;
}
