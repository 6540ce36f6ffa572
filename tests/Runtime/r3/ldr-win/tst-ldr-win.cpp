// The system-library loader on Windows: name checks, the system directory as the only
// place searched, module records, the lazy-import resolver (whose failures end the
// process and so run in a child), the exception filter chain and what runtime
// initialisation sets up.
#include <gtest/gtest.h>

#include <string>

#include "r3/win/internal-ldr.h"
#include <winver.h>

#include <olma/initterm.h>
#include <olma/mem.h>
#include <olma/string.h>

// Declared only: the lazy-import tables below name them, and the resolver must fail to
// find them.
extern "C" int WINAPI OlmaTestNoSuchFunction(int iValue);

namespace {

std::wstring SystemDir() {
    wchar_t wsz[MAX_PATH];
    const UINT cwc = GetSystemDirectoryW(wsz, MAX_PATH);
    return std::wstring(wsz, cwc);
}

std::wstring ModuleFileName(HMODULE hMod) {
    wchar_t wsz[MAX_PATH];
    const DWORD cwc = GetModuleFileNameW(hMod, wsz, MAX_PATH);
    return std::wstring(wsz, cwc);
}

std::wstring Lower(std::wstring wstr) {
    for (wchar_t &wc : wstr)
        if (wc >= L'A' && wc <= L'Z')
            wc = (wchar_t)(wc - L'A' + L'a');
    return wstr;
}

std::string ExeDirA() {
    char sz[MAX_PATH];
    const DWORD cch = GetModuleFileNameA(nullptr, sz, MAX_PATH);
    std::string str(sz, cch);
    return str.substr(0, str.find_last_of("\\/"));
}

/** A loadable library that is not in the system directory: a copy of one from there,
 *  beside this program under a name the system directory does not have. */
std::string PlantedLibrary() {
    const std::string strPath = ExeDirA() + "\\olmaplanted.dll";
    const std::wstring wstrSrc = SystemDir() + L"\\version.dll";
    const std::wstring wstrDst(strPath.begin(), strPath.end());
    CopyFileW(wstrSrc.c_str(), wstrDst.c_str(), FALSE);
    return strPath;
}

void InitRuntime() {
    static char *s_apszArgs[] = {nullptr};
    static char **s_papszArgs = s_apszArgs;
    ASSERT_EQ(RTR3Init(0, &s_papszArgs, RTR3INIT_FLAGS_SYSTEM_DLL_PATH), 0);
}

class Ldr : public testing::Test {
protected:
    static void SetUpTestSuite() { InitRuntime(); }
};

TEST_F(Ldr, InitialisationConfiguredTheLoaderAndTheSocketErrors) {
    EXPECT_EQ(g_hModKernel32, GetModuleHandleW(L"kernel32.dll"));
    EXPECT_NE(WindowsVersionClass, 0u);
    EXPECT_NE(g_rtR3WinOptional.pfnIsDebuggerPresent, nullptr);
    EXPECT_NE(g_rtR3WinOptional.pfnSetUnhandledExceptionFilter, nullptr);
    // The socket library exists here, so the error state records its last error.
    ASSERT_NE(g_pfnrtWsaGetLastError, nullptr);
    g_pfnrtWsaSetLastError(10054);
    RTERRVARS Vars;
    RTErrVarsSave(&Vars);
    EXPECT_EQ(Vars.iSocketLastError, 10054);
}

TEST_F(Ldr, LibrariesBesideTheProgramAreNotFoundByBareName) {
    const std::string strPlanted = PlantedLibrary();
    // The default search no longer includes the program's directory.
    EXPECT_EQ(LoadLibraryW(L"olmaplanted.dll"), nullptr);
    RTLDRMOD hMod = (RTLDRMOD)0x1234;
    EXPECT_EQ(LoadSystemLibrary("olmaplanted", false, &hMod), ERR_MODULE_NOT_FOUND);
    EXPECT_EQ(hMod, NIL_RTLDRMOD);
    // The file itself is loadable by its full path, and closing unloads it again.
    ASSERT_EQ(OpenNativeModule(strPlanted.c_str(), &hMod, 0, nullptr), 0);
    const HMODULE hNative = (HMODULE)GetModuleNativeHandle(hMod);
    EXPECT_EQ(Lower(ModuleFileName(hNative)), Lower(std::wstring(strPlanted.begin(), strPlanted.end())));
    EXPECT_EQ(CloseModule(hMod), 0);
    EXPECT_EQ(GetModuleHandleW(L"olmaplanted.dll"), nullptr);
    EXPECT_TRUE(DeleteFileA(strPlanted.c_str()));
}

TEST_F(Ldr, BareNamesComeFromTheSystemDirectoryWithOrWithoutSuffix) {
    struct Case {
        const char *pszName;
        int rc;
    };
    const Case aCases[] = {
        {"shell32", 0},
        {"SHELL32.DLL", 0},
        {"shell32.dll", 0},
        {"shell32.dl", ERR_MODULE_NOT_FOUND},
        {"olmanosuch", ERR_MODULE_NOT_FOUND},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        RTLDRMOD hMod = NIL_RTLDRMOD;
        ASSERT_EQ(LoadSystemLibrary(c.pszName, true, &hMod), c.rc);
        if (c.rc != 0) {
            EXPECT_EQ(hMod, NIL_RTLDRMOD);
            continue;
        }
        const HMODULE hNative = (HMODULE)GetModuleNativeHandle(hMod);
        EXPECT_EQ(Lower(ModuleFileName(hNative)), Lower(SystemDir() + L"\\shell32.dll"));
        EXPECT_EQ(CloseModule(hMod), 0);
        // Never-unload: the library stays.
        EXPECT_EQ(GetModuleHandleW(L"shell32.dll"), hNative);
    }
}

TEST_F(Ldr, NamesWithPathPartsAndBadArgumentsAreRefused) {
    const std::string strLongOk(3074, 'a');
    const std::string strTooLong(3075, 'a');
    struct Case {
        const char *pszName;
        int rc;
    };
    const Case aCases[] = {
        {"sub/user32.dll", ERR_INVALID_PARAMETER},
        {"..\\user32.dll", ERR_INVALID_PARAMETER},
        {"C:user32.dll", ERR_INVALID_PARAMETER},
        {"user32.dll:stream", ERR_INVALID_PARAMETER},
        {strTooLong.c_str(), ERR_INVALID_PARAMETER},
        {strLongOk.c_str(), ERR_MODULE_NOT_FOUND},
        {nullptr, ERR_INVALID_PARAMETER},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName ? std::string(c.pszName).substr(0, 40) : "(null)");
        RTLDRMOD hMod = (RTLDRMOD)0x1234;
        EXPECT_EQ(LoadSystemLibrary(c.pszName, false, &hMod), c.rc);
        EXPECT_EQ(hMod, NIL_RTLDRMOD);
    }
    EXPECT_EQ(LoadSystemLibrary("user32", false, nullptr), ERR_INVALID_PARAMETER);
}

TEST_F(Ldr, NativeLoadWantsAnAbsolutePathAndValidFlags) {
    RTLDRNATIVEHANDLE h = NIL_RTLDRNATIVEHANDLE;
    EXPECT_EQ(rtldrNativeLoad("user32.dll", &h, 0, nullptr), ERR_INTERNAL_ERROR_2);
    EXPECT_EQ(rtldrNativeLoad("sub\\user32.dll", &h, 0, nullptr), ERR_INTERNAL_ERROR_2);
    EXPECT_EQ(rtldrNativeLoad("C:\\windows\\system32\\user32.dll", &h, RTLDRLOAD_FLAGS_LOCAL, nullptr),
              ERR_INVALID_FLAGS);
    EXPECT_EQ(h, NIL_RTLDRNATIVEHANDLE);

    RTLDRMOD hMod = (RTLDRMOD)0x1234;
    EXPECT_EQ(OpenNativeModule("C:\\x.dll", &hMod, 16, nullptr), ERR_INVALID_PARAMETER);
    EXPECT_EQ(OpenNativeModule(nullptr, &hMod, 0, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(OpenNativeModule("C:\\x.dll", nullptr, 0, nullptr), ERR_INVALID_POINTER);

    // A path without suffix gets ".DLL"; forward slashes are fine.
    std::string strSys;
    for (wchar_t wc : SystemDir())
        strSys += (char)(wc == L'\\' ? '/' : wc);
    ASSERT_EQ(OpenNativeModule((strSys + "/kernel32").c_str(), &hMod, 0, nullptr), 0);
    EXPECT_EQ((HMODULE)GetModuleNativeHandle(hMod), GetModuleHandleW(L"kernel32.dll"));
    EXPECT_EQ(CloseModule(hMod), 0);

    // Flag 4 settles the search-flags question once.
    ASSERT_EQ(
        OpenNativeModule((strSys + "/kernel32.dll").c_str(), &hMod, RTLDRLOAD_FLAGS_NT_SEARCH_DLL_LOAD_DIR, nullptr),
        0);
    EXPECT_NE(g_frtldrNativeSearchFlags, 0);
    EXPECT_EQ(CloseModule(hMod), 0);
}

TEST_F(Ldr, LoadFailuresFillTheErrorInformation) {
    char szMsg[128] = "stale";
    RTERRINFO ErrInfo = {0, 0, sizeof(szMsg), szMsg};
    RTLDRMOD hMod = (RTLDRMOD)0x1234;
    const int rc = OpenNativeModule("C:\\olma\\nowhere\\missing.dll", &hMod, 0, &ErrInfo);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(hMod, NIL_RTLDRMOD);
    EXPECT_EQ(ErrInfo.fFlags & RTERRINFO_FLAGS_SET, RTERRINFO_FLAGS_SET);
    EXPECT_EQ(ErrInfo.rc, rc);
    EXPECT_EQ(std::string(szMsg).rfind("GetLastError=", 0), 0u) << szMsg;
}

TEST_F(Ldr, OpenFailsCleanlyWhenEachAllocationFails) {
    std::string strKernel;
    for (wchar_t wc : SystemDir())
        strKernel += (char)wc;
    strKernel += "\\kernel32";
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        char szMsg[128] = "";
        RTERRINFO ErrInfo = {0, 0, sizeof(szMsg), szMsg};
        const size_t cBefore = RTMemTestOutstanding();
        RTMemTestFailNth(n);
        RTLDRMOD hMod = NIL_RTLDRMOD;
        const int rc = OpenNativeModule(strKernel.c_str(), &hMod, 0, &ErrInfo);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_GT(n, 1u);
            EXPECT_EQ(CloseModule(hMod), 0);
            EXPECT_EQ(RTMemTestOutstanding(), cBefore);
            break;
        }
        EXPECT_EQ(hMod, NIL_RTLDRMOD);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        if (n == 1) {
            EXPECT_EQ(rc, ERR_NO_MEMORY);
            EXPECT_EQ(std::string(szMsg).rfind("Failed to allocate ", 0), 0u) << szMsg;
        } else {
            EXPECT_EQ(rc, ERR_NO_UTF16_MEMORY);
            EXPECT_STREQ(szMsg, "Error converting UTF-8 to UTF-16 string.");
        }
        ASSERT_LT(n, 10u);
    }
}

TEST_F(Ldr, ModuleRecordOperations) {
    RTLDRMOD hMod = NIL_RTLDRMOD;
    ASSERT_EQ(LoadSystemLibrary("kernel32", true, &hMod), 0);
    void *pv = (void *)1;
    EXPECT_EQ(GetModuleSymbol(hMod, "GetTickCount", &pv), 0);
    EXPECT_EQ(pv, (void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
    pv = (void *)1;
    EXPECT_LT(GetModuleSymbol(hMod, "OlmaTestNoSuchFunction", &pv), 0);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(GetModuleSymbol(hMod, nullptr, &pv), ERR_INVALID_PARAMETER);
    EXPECT_EQ(GetModuleSymbol(hMod, "GetTickCount", nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(hMod->pOps->pfnDone(hMod), 0);
    EXPECT_EQ(hMod->pOps->pfnEnumSymbols(hMod, 0, nullptr, nullptr), ERR_NOT_SUPPORTED);
    EXPECT_STREQ(hMod->pOps->pszName, "native");
    EXPECT_EQ(CloseModule(hMod), 0);

    RTLDRMODINTERNAL Fake = {};
    Fake.u32Magic = RTLDRMOD_MAGIC + 1; // what a closed record carries
    EXPECT_EQ(CloseModule(&Fake), ERR_INVALID_HANDLE);
    EXPECT_EQ(GetModuleSymbol(&Fake, "GetTickCount", &pv), ERR_INVALID_HANDLE);
    EXPECT_EQ(GetModuleNativeHandle(&Fake), NIL_RTLDRNATIVEHANDLE);
    EXPECT_EQ(GetModuleNativeHandle(NIL_RTLDRMOD), NIL_RTLDRNATIVEHANDLE);
    EXPECT_EQ(CloseModule(NIL_RTLDRMOD), 0);

    EXPECT_EQ(GetSystemLibrarySymbol("kernel32", "GetTickCount"),
              (void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
    EXPECT_EQ(GetSystemLibrarySymbol("kernel32", "OlmaTestNoSuchFunction"), nullptr);
    EXPECT_EQ(GetSystemLibrarySymbol("olmanosuch", "x"), nullptr);
    EXPECT_EQ(GetSystemLibrarySymbol("a\\kernel32", "GetTickCount"), nullptr);
}

TEST(LdrRedirection, SeparatorsSharedWithTheSystemDirectory) {
    struct Case {
        const char16_t *pwszFull;
        const char16_t *pwszSysDir;
        size_t cSeps;
    };
    const Case aCases[] = {
        {u"C:\\Windows\\WinSxS\\x86_a\\comctl32.dll", u"C:\\Windows\\system32", 2},
        {u"c:\\windows\\SYSTEM32\\msi.dll", u"C:\\Windows\\system32", 2},
        {u"C:\\\\Windows//system32\\msi.dll", u"C:\\Windows\\system32", 2},
        {u"C:\\Program Files\\evil\\msi.dll", u"C:\\Windows\\system32", 1},
        {u"D:\\Windows\\system32\\msi.dll", u"C:\\Windows\\system32", 0},
        {u"C:\\Windowsx\\msi.dll", u"C:\\Windows\\system32", 1},
        {u"\\\\server\\share\\Windows\\x.dll", u"C:\\Windows\\system32", 0},
        // Only ASCII letters fold; other characters must be identical.
        {u"C:\\W\u00cdndows\\x.dll", u"C:\\W\u00edndows\\system32", 1},
        {u"C:\\W\u00edndows\\x.dll", u"C:\\W\u00edndows\\system32", 2},
        {u"C:", u"C:\\Windows\\system32", 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        size_t cwc = 0;
        while (c.pwszFull[cwc])
            cwc++;
        EXPECT_EQ(rtldrNativeCountSysDirSeparators(c.pwszFull, cwc, c.pwszSysDir), c.cSeps);
    }
    // The comparison stops at the full name's length even inside a longer buffer.
    EXPECT_EQ(rtldrNativeCountSysDirSeparators(u"C:\\Windows\\x", 3, u"C:\\Windows\\system32"), 1u);
}

} // namespace

/* Lazy imports with tables of this test's own (the real tables live in the image
 * without a C runtime, under the functions' import slot names). */
RT_LDRLAZY_LIBRARY(TESTVERSION, "VERSION.DLL")
RT_LDRLAZY_FUNCTION_AS(TESTVERSION, GetFileVersionInfoSizeW, g_pfnTestGetFileVersionInfoSizeW,
                       "olma_test_lazy_GetFileVersionInfoSizeW")
RT_LDRLAZY_FUNCTION_AS(TESTVERSION, GetFileVersionInfoW, g_pfnTestGetFileVersionInfoW,
                       "olma_test_lazy_GetFileVersionInfoW")
RT_LDRLAZY_LIBRARY(TESTNOLIB, "OLMANOSUCH.DLL")
RT_LDRLAZY_FUNCTION_AS(TESTNOLIB, OlmaTestNoSuchFunction, g_pfnTestNoLib, "olma_test_lazy_nolib")
RT_LDRLAZY_LIBRARY(TESTNOSYM, "KERNEL32.DLL")
RT_LDRLAZY_FUNCTION_AS(TESTNOSYM, OlmaTestNoSuchFunction, g_pfnTestNoSym, "olma_test_lazy_nosym")

namespace {

TEST_F(Ldr, LazyImportResolvesOnFirstCallThenGoesStraightThroughTheSlot) {
    EXPECT_EQ(g_rtLdrLazyLib_TESTVERSION.hMod, NIL_RTLDRMOD);
    const auto pfnResolver = g_pfnTestGetFileVersionInfoSizeW;
    const std::wstring wstrKernel = SystemDir() + L"\\kernel32.dll";
    DWORD uHandle = 1;
    const DWORD cbInfo = g_pfnTestGetFileVersionInfoSizeW(wstrKernel.c_str(), &uHandle);
    EXPECT_GT(cbInfo, 0u);
    EXPECT_EQ(uHandle, 0u);

    // The library came from the system directory and the slot holds the real function.
    const HMODULE hVersion = GetModuleHandleW(L"version.dll");
    ASSERT_NE(hVersion, nullptr);
    EXPECT_EQ(Lower(ModuleFileName(hVersion)), Lower(SystemDir() + L"\\version.dll"));
    EXPECT_NE(g_pfnTestGetFileVersionInfoSizeW, pfnResolver);
    EXPECT_EQ((void *)g_pfnTestGetFileVersionInfoSizeW, (void *)GetProcAddress(hVersion, "GetFileVersionInfoSizeW"));
    const RTLDRMOD hRecord = g_rtLdrLazyLib_TESTVERSION.hMod;
    ASSERT_NE(hRecord, NIL_RTLDRMOD);

    // A later call goes through the slot; the second function reuses the library record.
    EXPECT_EQ(g_pfnTestGetFileVersionInfoSizeW(wstrKernel.c_str(), &uHandle), cbInfo);
    std::string strBuf(cbInfo, '\0');
    EXPECT_TRUE(g_pfnTestGetFileVersionInfoW(wstrKernel.c_str(), 0, cbInfo, strBuf.data()));
    EXPECT_EQ((void *)g_pfnTestGetFileVersionInfoW, (void *)GetProcAddress(hVersion, "GetFileVersionInfoW"));
    EXPECT_EQ(g_rtLdrLazyLib_TESTVERSION.hMod, hRecord);
}

/* The fatal paths: the message, then the trap, which the child's own top-level filter
 * turns into a known exit code. */
constexpr UINT kTrapExit = 77;
LONG WINAPI ExitOnTrap(EXCEPTION_POINTERS *pPtrs) {
    TerminateProcess(GetCurrentProcess(),
                     pPtrs->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT ? kTrapExit : kTrapExit + 1);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(Ldr, LazyImportOfAMissingLibraryEndsTheProcessAfterItsMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitOnTrap);
            g_pfnTestNoLib(1);
            TerminateProcess(GetCurrentProcess(), 0); // the call must not have returned
        },
        testing::ExitedWithCode(kTrapExit), "Lazy loader failed to load \"OLMANOSUCH.DLL\": ERR_MODULE_NOT_FOUND\n");
}

TEST_F(Ldr, LazyImportOfAMissingSymbolEndsTheProcessAfterItsMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitOnTrap);
            g_pfnTestNoSym(1);
            TerminateProcess(GetCurrentProcess(), 0);
        },
        testing::ExitedWithCode(kTrapExit),
        "Lazy loader failed to resolve symbol \"OlmaTestNoSuchFunction\" in \"KERNEL32.DLL\": ERR_SYMBOL_NOT_FOUND\n");
}

TEST(LdrNotConfigured, LoadingBeforeInitialisationIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitOnTrap);
            RTLDRMOD hMod;
            (void)LoadSystemLibrary("user32", false, &hMod);
            TerminateProcess(GetCurrentProcess(), 0);
        },
        testing::ExitedWithCode(kTrapExit),
        "Expression: g_hModKernel32\nLocation  : .+\nrtldrNativeLoadSystem\\(user32,,\\) is called before Olma has "
        "configured the "
        "windows loader!\n");
}

/* The exception filter chain. */
int g_cPrevCalls = 0;
LONG WINAPI CountingFilter(EXCEPTION_POINTERS *) {
    g_cPrevCalls++;
    return EXCEPTION_EXECUTE_HANDLER;
}

LONG WINAPI ExitWithCallCount(EXCEPTION_POINTERS *) {
    g_cPrevCalls++;
    TerminateProcess(GetCurrentProcess(), 40 + g_cPrevCalls);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(XcptFilter, CrashCallsTheEarlierFilterOnceEvenAfterTwoInitialisations) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitWithCallCount);
            InitRuntime();
            InitRuntime();
            // The runtime's filter is the one installed, chaining to the earlier one.
            if (SetUnhandledExceptionFilter(rtR3WinUnhandledXcptFilter) != rtR3WinUnhandledXcptFilter)
                TerminateProcess(GetCurrentProcess(), 2);
            if (g_pfnrtR3WinPrevXcptFilter != ExitWithCallCount)
                TerminateProcess(GetCurrentProcess(), 3);
            DebugBreak();
            TerminateProcess(GetCurrentProcess(), 4);
        },
        testing::ExitedWithCode(41), "");
}

TEST(XcptFilter, ReturnsTheEarlierFiltersVerdictOrContinuesTheSearch) {
    EXCEPTION_RECORD Rec = {};
    Rec.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT Ctx = {};
    EXCEPTION_POINTERS Ptrs = {&Rec, &Ctx};
    const LPTOP_LEVEL_EXCEPTION_FILTER pfnSaved = g_pfnrtR3WinPrevXcptFilter;
    g_cPrevCalls = 0;
    g_pfnrtR3WinPrevXcptFilter = CountingFilter;
    EXPECT_EQ(rtR3WinUnhandledXcptFilter(&Ptrs), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(g_cPrevCalls, 1);
    g_pfnrtR3WinPrevXcptFilter = nullptr;
    EXPECT_EQ(rtR3WinUnhandledXcptFilter(&Ptrs), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(g_cPrevCalls, 1);
    g_pfnrtR3WinPrevXcptFilter = pfnSaved;
}

} // namespace
