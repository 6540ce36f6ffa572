#include <gtest/gtest.h>
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/mem.h>
#include <olma/path.h>

#include "r3/internal-dir.h"
#include "r3/internal-tempname.h"
#include "r3/nt/internal-r3-nt.h"

#include <string>
#include <vector>

namespace {

/** What each native open asked for, and the answers the platform is made to give. */
struct OpenCall {
    ACCESS_MASK fAccess;
    ULONG fOptions;
};
std::vector<OpenCall> g_vecCalls;
bool g_fRefuseReparse; // open-reparse-point: STATUS_INVALID_PARAMETER
bool g_fDenyTraverse;  // traverse access: STATUS_ACCESS_DENIED

NTSTATUS NTAPI createFileHook(PHANDLE phFile, ACCESS_MASK fAccess, POBJECT_ATTRIBUTES pObjAttr, PIO_STATUS_BLOCK pIos,
                              PLARGE_INTEGER pcbAlloc, ULONG fAttribs, ULONG fShare, ULONG uDisposition, ULONG fOptions,
                              PVOID pvEa, ULONG cbEa) {
    g_vecCalls.push_back({fAccess, fOptions});
    if (g_fRefuseReparse && (fOptions & FILE_OPEN_REPARSE_POINT))
        return (NTSTATUS)0xC000000DL; // STATUS_INVALID_PARAMETER
    if (g_fDenyTraverse && (fAccess & FILE_TRAVERSE))
        return (NTSTATUS)0xC0000022L; // STATUS_ACCESS_DENIED
    return NtCreateFile(phFile, fAccess, pObjAttr, pIos, pcbAlloc, fAttribs, fShare, uDisposition, fOptions, pvEa,
                        cbEa);
}

NTSTATUS NTAPI denyAllHook(PHANDLE, ACCESS_MASK fAccess, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                           ULONG, ULONG, ULONG fOptions, PVOID, ULONG) {
    g_vecCalls.push_back({fAccess, fOptions});
    return (NTSTATUS)0xC0000022L; // STATUS_ACCESS_DENIED
}

struct HookScope {
    HookScope() {
        g_vecCalls.clear();
        g_pfnrtNtPathCreateFileHook = createFileHook;
    }
    ~HookScope() {
        g_pfnrtNtPathCreateFileHook = nullptr;
        g_fRefuseReparse = g_fDenyTraverse = false;
    }
};

} // namespace

// One test, because the file system's answer about open-reparse-point is
// remembered for the whole process.
TEST(DirWin, NativeOpenRetries) {
    char szTmp[1024];
    ASSERT_EQ(RTPathTemp(szTmp, sizeof(szTmp)), 0);
    std::string strDir = std::string(szTmp) + "\\tst-dirwin-XXXXXX";
    ASSERT_EQ(RTDirCreateTemp(&strDir[0], 0700), 0);
    strDir = strDir.c_str();

    ULONG const fBaseOptions = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    ACCESS_MASK const fFullAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    EXPECT_EQ(fBaseOptions, 0x4021u);
    EXPECT_EQ(fFullAccess, 0x1000A1u);
    RTDIR hDir = NIL_RTDIR;
    {
        // Links are refused: the first open looks at the final component itself.
        // A file system that does not take that for directories answers with an
        // invalid parameter; the open is repeated without it and that is remembered.
        HookScope Scope;
        g_fRefuseReparse = true;
        ASSERT_EQ(RTDirOpenFiltered(&hDir, strDir.c_str(), RTDIRFILTER_NONE, RTDIR_F_NO_SYMLINKS), 0);
        EXPECT_EQ(RTDirClose(hDir), 0);
        ASSERT_EQ(g_vecCalls.size(), 2u);
        EXPECT_EQ(g_vecCalls[0].fOptions, fBaseOptions | FILE_OPEN_REPARSE_POINT);
        EXPECT_EQ(g_vecCalls[0].fAccess, fFullAccess);
        EXPECT_EQ(g_vecCalls[1].fOptions, fBaseOptions);

        g_vecCalls.clear();
        ASSERT_EQ(RTDirOpenFiltered(&hDir, strDir.c_str(), RTDIRFILTER_NONE, RTDIR_F_NO_SYMLINKS), 0);
        EXPECT_EQ(RTDirClose(hDir), 0);
        ASSERT_EQ(g_vecCalls.size(), 1u);
        EXPECT_EQ(g_vecCalls[0].fOptions, fBaseOptions);
    }
    {
        // Access denied with traverse: once more without it.
        HookScope Scope;
        g_fDenyTraverse = true;
        ASSERT_EQ(RTDirOpen(&hDir, strDir.c_str()), 0);
        EXPECT_EQ(RTDirClose(hDir), 0);
        ASSERT_EQ(g_vecCalls.size(), 2u);
        EXPECT_EQ(g_vecCalls[0].fAccess, fFullAccess);
        EXPECT_EQ(g_vecCalls[1].fAccess, fFullAccess & ~(ACCESS_MASK)FILE_TRAVERSE);

        // Denied either way: the status goes back, nothing stays allocated.
        size_t const cBefore = RTMemTestOutstanding();
        g_vecCalls.clear();
        g_fRefuseReparse = false;
        g_pfnrtNtPathCreateFileHook = denyAllHook;
        hDir = (RTDIR)(uintptr_t)0x1234;
        EXPECT_EQ(RTDirOpenFiltered(&hDir, (strDir + "\\*.x").c_str(), RTDIRFILTER_WINNT, 0), ERR_ACCESS_DENIED);
        EXPECT_EQ(hDir, (RTDIR)(uintptr_t)0x1234);
        EXPECT_EQ(g_vecCalls.size(), 2u);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
    EXPECT_EQ(RTDirRemove(strDir.c_str()), 0);
}

// Wine cannot make junctions or symbolic links, so this shows the other half: every
// object the tree removal opens is opened as itself, never as what a reparse point
// leads to, also when the file system first refuses to be asked that way.
TEST(DirWin, TreeRemovalOpensEveryObjectAsItself) {
    char szTmp[1024];
    ASSERT_EQ(RTPathTemp(szTmp, sizeof(szTmp)), 0);
    for (bool fRefuseReparse : {false, true}) {
        SCOPED_TRACE(fRefuseReparse);
        std::string strDir = std::string(szTmp) + "\\tst-dirwin-tree-XXXXXX";
        ASSERT_EQ(RTDirCreateTemp(&strDir[0], 0700), 0);
        strDir = strDir.c_str();
        ASSERT_EQ(RTDirCreate((strDir + "\\sub").c_str(), 0700, 0), 0);
        for (const char *pszFile : {"\\f1", "\\sub\\f2"}) {
            RTFILE hFile = NIL_RTFILE;
            ASSERT_EQ(RTFileOpen(&hFile, (strDir + pszFile).c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE), 0);
            ASSERT_EQ(RTFileClose(hFile), 0);
        }
        HookScope Scope;
        g_fRefuseReparse = fRefuseReparse;
        EXPECT_EQ(RTDirRemoveRecursive(strDir.c_str()), 0);
        EXPECT_FALSE(RTDirExists(strDir.c_str()));
        // The top and sub opened to list them, f1, f2, sub and the top opened to delete.
        size_t cAsItself = 0;
        for (const OpenCall &Call : g_vecCalls)
            if (Call.fOptions & FILE_OPEN_REPARSE_POINT)
                cAsItself++;
        if (fRefuseReparse)
            EXPECT_GE(g_vecCalls.size(), 12u);
        else {
            EXPECT_EQ(g_vecCalls.size(), 6u);
            EXPECT_EQ(cAsItself, g_vecCalls.size());
        }
    }
}
