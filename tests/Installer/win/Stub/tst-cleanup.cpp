// Clean-up records: the list, and the removal of what it holds with its attempts,
// pauses, messages and the objects it must leave alone.
#include "stub-test.h"

#include <functional>

namespace {

class CleanupTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        silent = true;
        s_vecSleeps.clear();
        g_pfnCleanupSleep = recordSleep;
    }
    void TearDown() override {
        RTFileClose(m_hLock);
        StubTest::TearDown();
    }

    /** A record as the run makes it, with an open handle. */
    CleanupRecord *addFile(const std::string &strName, int32_t iPackage = -1) {
        writeFile(strName, "data");
        CleanupRecord *pRec = AddCleanupRecord(path(strName).c_str(), true);
        EXPECT_NE(pRec, nullptr);
        pRec->packageIndex = iPackage;
        EXPECT_EQ(RTFileOpen(&pRec->handle.hFile, path(strName).c_str(), 0x721), 0);
        return pRec;
    }
    CleanupRecord *addDir(const std::string &strName) {
        std::filesystem::create_directories(fsPath(strName));
        CleanupRecord *pRec = AddCleanupRecord(path(strName).c_str(), false);
        EXPECT_NE(pRec, nullptr);
        EXPECT_EQ(RTDirOpen(&pRec->handle.hDir, path(strName).c_str()), 0);
        return pRec;
    }
    /** Another handle that keeps a file from being deleted. */
    void lock(const std::string &strName) {
        ASSERT_EQ(RTFileOpen(&m_hLock, path(strName).c_str(), RTFILE_O_READ | RTFILE_O_DENY_NONE), 0);
    }

    static int recordSleep(RTMSINTERVAL cMillies) {
        s_vecSleeps.push_back(cMillies);
        return 0;
    }
    static inline std::vector<RTMSINTERVAL> s_vecSleeps;
    RTFILE m_hLock = NIL_RTFILE;
};

const std::vector<RTMSINTERVAL> kAllPauses = {100, 3000, 3000, 3000};

} // namespace

TEST_F(CleanupTest, RecordsAreListedNewestFirst) {
    size_t const cBlocks = RTMemTestOutstanding();
    captureStd();
    CleanupRecord *pDir = AddCleanupRecord("/x/dir", false);
    CleanupRecord *pFile = AddCleanupRecord("/x/dir/file.msi", true);
    ASSERT_TRUE(pDir && pFile);
    EXPECT_EQ(pDir->packageIndex, -1);
    EXPECT_FALSE(pDir->isFile);
    EXPECT_FALSE(pDir->dontDelete);
    EXPECT_FALSE(pDir->removeTree);
    EXPECT_EQ(pDir->handle.hDir, NIL_RTDIR);
    EXPECT_TRUE(pFile->isFile);
    EXPECT_EQ(pFile->handle.hFile, NIL_RTFILE);
    EXPECT_EQ(cleanupList(), (std::vector<std::pair<std::string, bool>>{{"/x/dir/file.msi", true}, {"/x/dir", false}}));
    // Circular through the head, both ways.
    EXPECT_EQ(g_CleanupList.prev, pDir);
    EXPECT_EQ(pDir->next, &g_CleanupList);
    EXPECT_EQ(pDir->prev, pFile);

    EXPECT_EQ(FindPackageCleanupRecord(0), nullptr);
    pFile->packageIndex = 3;
    EXPECT_EQ(FindPackageCleanupRecord(3), pFile);

    RTMemTestFailNth(1);
    EXPECT_EQ(AddCleanupRecord("/x/other", true), nullptr);
    EXPECT_EQ(cleanupList().size(), 2u);

    // Releasing frees the records and touches nothing else.
    ReleaseCleanupRecords();
    EXPECT_EQ(g_CleanupList.next, &g_CleanupList);
    EXPECT_EQ(g_CleanupList.prev, &g_CleanupList);
    EXPECT_EQ(finish("err"), "TeskStub.exe: error: Out of memory!\r\n");
    EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
}

TEST_F(CleanupTest, Scenarios) {
    struct Scenario {
        const char *pszName;
        std::function<void()> fnSetUp;
        bool fGiveDirectory; // pass "x" as the directory removed last
        std::vector<RTMSINTERVAL> vecPauses;
        std::string strErr;                    // with "<x>" for the directory's path
        std::vector<std::string> vecRemaining; // names still on disk
        size_t cRecordsLeft;
    };
    const Scenario aScenarios[] = {
        {"normal install: files, then the directory, no pause",
         [&] {
             addDir("x");
             addFile("x/a.msi", 0);
             addFile("x/b.cab", 1);
         },
         true,
         {},
         "",
         {},
         0},
        {"file that stays locked: four pauses, one message, the file stays",
         [&] {
             addDir("x");
             addFile("x/a.msi", 0);
             lock("x/a.msi");
         },
         true,
         kAllPauses,
         "TeskStub.exe: error: Failed to delete temporary file '<x>/a.msi': ERR_SHARING_VIOLATION\r\n",
         {"x", "x/a.msi"},
         1},
        {"directory that is not empty: retried, then dropped without a message",
         [&] {
             addDir("x");
             writeFile("x/log.txt", "log");
         },
         false,
         kAllPauses,
         "",
         {"x", "x/log.txt"},
         0},
        {"tree of our own: removed with everything in it",
         [&] {
             addDir("x");
             CleanupRecord *pTree = addDir("x/.custom/a/b");
             RTDirClose(pTree->handle.hDir);
             pTree->handle.hDir = NIL_RTDIR;
             writeFile("x/.custom/a/b/f", "f");
             pTree = addDir("x/.custom");
             pTree->removeTree = true;
         },
         true,
         {},
         "",
         {},
         0},
        {"tree that cannot be removed: one message after the last attempt",
         [&] {
             addDir("x");
             addDir("x/.custom")->removeTree = true;
             writeFile("x/.custom/locked", "l");
             lock("x/.custom/locked");
         },
         true,
         kAllPauses,
         "TeskStub.exe: error: Failed to delete temporary directory '<x>/.custom': ERR_SHARING_VIOLATION\r\n",
         {"x", "x/.custom/locked"},
         1},
        {"objects already gone count as removed",
         [&] {
             AddCleanupRecord(path("gone.msi").c_str(), true);
             AddCleanupRecord(path("gone-dir").c_str(), false);
             AddCleanupRecord(path("gone-dir/file").c_str(), true);
             AddCleanupRecord(path("gone-dir/sub").c_str(), false);
         },
         false,
         {},
         "",
         {},
         0},
        {"existing directory and file marked to stay: handles closed, objects left",
         [&] {
             addDir("x")->dontDelete = true;
             addFile("x/keep", 0)->dontDelete = true;
         },
         false,
         {},
         "",
         {"x", "x/keep"},
         0},
    };
    for (const Scenario &s : aScenarios) {
        SCOPED_TRACE(s.pszName);
        size_t const cBlocks = RTMemTestOutstanding();
        captureStd();
        s.fnSetUp();
        ProcessCleanupRecords(s.fGiveDirectory ? path("x").c_str() : nullptr);
        EXPECT_EQ(s_vecSleeps, s.vecPauses);
        EXPECT_EQ(cleanupList().size(), s.cRecordsLeft);
        // Whatever is left has had its handle closed: the run only releases it now.
        for (CleanupLink *pLink = g_CleanupList.next; pLink != &g_CleanupList; pLink = pLink->next) {
            const CleanupRecord *pRec = static_cast<CleanupRecord *>(pLink);
            EXPECT_TRUE(pRec->isFile ? pRec->handle.hFile == NIL_RTFILE : pRec->handle.hDir == NIL_RTDIR);
        }
        ReleaseCleanupRecords();
        std::string strErr = s.strErr;
        for (size_t off; (off = strErr.find("<x>")) != std::string::npos;)
            strErr.replace(off, 3, path("x"));
        EXPECT_EQ(finish("err"), strErr);
        EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
        for (const std::string &strName : s.vecRemaining)
            EXPECT_TRUE(exists(strName)) << strName;
        if (s.vecRemaining.empty())
            EXPECT_EQ(entryCount(), 2u); // the captured streams
        s_vecSleeps.clear();
        RTFileClose(m_hLock);
        m_hLock = NIL_RTFILE;
        std::filesystem::remove_all(fsPath("x"));
    }
}

TEST_F(CleanupTest, HandleCloseFailuresArePrintedAndCleanUpGoesOn) {
    captureStd();
    // The file's close fails (the newest record comes first): printed, and the file and
    // the directory go all the same.
    addDir("x");
    const RTFILE hFile = addFile("x/a.msi", 4)->handle.hFile;
    RTFsTestFailNth(1, ERR_INVALID_HANDLE);
    ProcessCleanupRecords(path("x").c_str());
    EXPECT_FALSE(exists("x"));
    EXPECT_TRUE(cleanupList().empty());

    // Likewise a directory's close.
    const RTDIR hDir = addDir("y")->handle.hDir;
    RTFsTestFailNth(1, ERR_INVALID_HANDLE);
    ProcessCleanupRecords(nullptr);
    EXPECT_FALSE(exists("y"));
    EXPECT_TRUE(cleanupList().empty());
    EXPECT_TRUE(s_vecSleeps.empty());

    char szExpected[2048];
    RTStrPrintf(szExpected, sizeof(szExpected),
                "error: Cleanup file '%s' for #4: RTFileClose(%p) failed: ERR_INVALID_HANDLE\r\n"
                "error: Cleanup dir '%s' for #4294967295: RTDirClose(%p) failed: ERR_INVALID_HANDLE\r\n",
                path("x/a.msi").c_str(), (void *)hFile, path("y").c_str(), (void *)hDir);
    EXPECT_EQ(finish("err"), szExpected);
}
