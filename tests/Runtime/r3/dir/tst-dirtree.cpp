// Reading directory entries through a handle (types, filter, batches, failures) and
// removing whole trees without ever following a link out of them.
#include <gtest/gtest.h>

#include <olma/dir.h>
#include <olma/mem.h>

#include "Runtime/r3/test-tmpdir.h"

#include <map>
#include <set>

namespace {

class DirTreeTest : public TmpDirTest {
protected:
    void TearDown() override {
        RTFsTestFailNth(0, 0);
        RTMemTestFailNth(0);
        dropTree("top");
        TmpDirTest::TearDown();
    }

    /** Every entry the handle gives, name to mode; the read that ends it must say so. */
    static std::map<std::string, uint32_t> readAll(RTDIR hDir) {
        std::map<std::string, uint32_t> mapEntries;
        RTDIRENTRY Entry;
        int rc;
        while ((rc = RTDirRead(hDir, &Entry)) == 0) {
            EXPECT_EQ(strlen(Entry.name), Entry.nameLength);
            EXPECT_TRUE(mapEntries.emplace(Entry.name, Entry.mode).second) << "twice: " << Entry.name;
        }
        EXPECT_EQ(rc, ERR_NO_MORE_FILES);
        EXPECT_EQ(RTDirRead(hDir, &Entry), ERR_NO_MORE_FILES); // and stays at the end
        return mapEntries;
    }
    std::map<std::string, uint32_t> list(const std::string &strPath, RTDIRFILTER enmFilter = RTDIRFILTER_NONE) {
        RTDIR hDir = NIL_RTDIR;
        EXPECT_EQ(RTDirOpenFiltered(&hDir, strPath.c_str(), enmFilter, 0), 0) << strPath;
        if (!hDir)
            return {};
        std::map<std::string, uint32_t> mapEntries = readAll(hDir);
        EXPECT_EQ(RTDirClose(hDir), 0);
        return mapEntries;
    }
    static std::set<std::string> names(const std::map<std::string, uint32_t> &mapEntries) {
        std::set<std::string> setNames;
        for (const auto &Entry : mapEntries)
            setNames.insert(Entry.first);
        return setNames;
    }

    /** Symbolic links where the platform can make them; false (and a note) where not. */
    bool symlink(const std::string &strTarget, const std::string &strLink, bool fDir) {
        std::error_code ec;
        if (fDir)
            std::filesystem::create_directory_symlink(fsPath(strTarget), fsPath(strLink), ec);
        else
            std::filesystem::create_symlink(fsPath(strTarget), fsPath(strLink), ec);
        if (!ec && std::filesystem::is_symlink(std::filesystem::symlink_status(fsPath(strLink), ec)))
            return true;
        std::filesystem::remove(fsPath(strLink), ec);
        return false;
    }

    /** Removes what is left of a tree of makeTree, with the test's own means. */
    void dropTree(const std::string &strTop) {
        std::error_code ec;
        for (const char *pszReadOnly : {"/ro-dir", "/ro-file"})
            if (std::filesystem::exists(std::filesystem::symlink_status(fsPath(strTop + pszReadOnly), ec)))
                std::filesystem::permissions(fsPath(strTop + pszReadOnly), std::filesystem::perms::owner_write,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(fsPath(strTop), ec);
    }
    /** A tree with files at every level, an empty directory and a read-only file and
     *  directory, plus links out of it where the platform has them. */
    void makeTree(const std::string &strTop) {
        dropTree(strTop);
        std::filesystem::create_directories(fsPath(strTop + "/sub1/sub2/empty"));
        writeFile(strTop + "/f1", "1");
        writeFile(strTop + "/sub1/f2", "2");
        writeFile(strTop + "/sub1/sub2/f3", "3");
        writeFile(strTop + "/ro-file", "ro");
        std::filesystem::permissions(fsPath(strTop + "/ro-file"), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        std::filesystem::create_directories(fsPath(strTop + "/ro-dir"));
        writeFile(strTop + "/ro-dir/inside", "x");
        std::filesystem::permissions(fsPath(strTop + "/ro-dir"), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        if (symlink("outside", strTop + "/sub1/dirlink", true)) {
            EXPECT_TRUE(symlink("outside/keep", strTop + "/filelink", false));
            EXPECT_TRUE(symlink("gone", strTop + "/sub1/sub2/dangling", false));
            m_fLinks = true;
        }
    }
    void makeOutside() {
        std::filesystem::create_directories(fsPath("outside/deeper"));
        writeFile("outside/keep", "keep");
        writeFile("outside/deeper/keep2", "keep2");
    }
    void expectOutsideIntact() {
        EXPECT_EQ(readFile("outside/keep"), "keep");
        EXPECT_EQ(readFile("outside/deeper/keep2"), "keep2");
    }

    bool m_fLinks = false;
};

} // namespace

TEST_F(DirTreeTest, ReadGivesEveryEntryOnceWithItsType) {
    std::filesystem::create_directories(fsPath("d/sub"));
    writeFile("d/a.txt", "a");
    writeFile("d/B.TXT", "b");
    writeFile("d/c.dat", "c");
    writeFile("d/.hidden", "h");
    const bool fLinks = symlink("d/sub", "d/lnk", true) && symlink("missing", "d/dangling", false);

    const std::map<std::string, uint32_t> mapEntries = list(path("d"));
    std::set<std::string> setExpected = {".hidden", "B.TXT", "a.txt", "c.dat", "sub"};
    if (fLinks)
        setExpected.insert({"lnk", "dangling"});
    EXPECT_EQ(names(mapEntries), setExpected);
    for (const auto &Entry : mapEntries) {
        SCOPED_TRACE(Entry.first);
        const uint32_t fMode = Entry.second;
        if (Entry.first == "sub") {
            EXPECT_EQ(fMode & RTFS_TYPE_MASK, RTFS_TYPE_DIRECTORY);
            EXPECT_NE(fMode & RTFS_DOS_DIRECTORY, 0u);
            EXPECT_FALSE(RTDirEntryIsLink(fMode));
        } else if (Entry.first == "lnk" || Entry.first == "dangling") {
            EXPECT_EQ(fMode & RTFS_TYPE_MASK, RTFS_TYPE_SYMLINK);
            EXPECT_TRUE(RTDirEntryIsLink(fMode));
        } else {
            EXPECT_EQ(fMode & RTFS_TYPE_MASK, RTFS_TYPE_FILE);
            EXPECT_FALSE(RTDirEntryIsLink(fMode));
        }
    }

    // The handle's filter decides which names come back.
    EXPECT_EQ(names(list(path("d/*.txt"), RTDIRFILTER_WINNT)), (std::set<std::string>{"B.TXT", "a.txt"}));
    EXPECT_EQ(names(list(path("d/C.DAT"), RTDIRFILTER_WINNT)), (std::set<std::string>{"c.dat"}));
    EXPECT_EQ(names(list(path("d/*.none"), RTDIRFILTER_WINNT)), (std::set<std::string>{}));
    EXPECT_EQ(names(list(path("d/sub"))), (std::set<std::string>{}));

    RTDIRENTRY Entry;
    EXPECT_EQ(RTDirRead(NIL_RTDIR, &Entry), ERR_INVALID_HANDLE);
    RTDIR hDir = NIL_RTDIR;
    ASSERT_EQ(RTDirOpen(&hDir, path("d").c_str()), 0);
    EXPECT_EQ(RTDirRead(hDir, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTDirClose(hDir), 0);
}

TEST_F(DirTreeTest, ReadManyEntriesAcrossBatches) {
    // Far more entries than one batch of the platform's listing holds.
    std::filesystem::create_directory(fsPath("many"));
    std::set<std::string> setExpected;
    for (unsigned i = 0; i < 700; i++) {
        std::string strName = "entry-with-a-rather-long-name-" + std::to_string(i * 7919) + "-\xc3\xa9";
        writeFile("many/" + strName, "");
        setExpected.insert(strName);
    }
    EXPECT_EQ(names(list(path("many"))), setExpected);
}

TEST_F(DirTreeTest, ReadSurvivesEachAllocationFailure) {
    std::filesystem::create_directory(fsPath("d"));
    writeFile("d/only", "");
    size_t const cBlocks = RTMemTestOutstanding();
    for (uint32_t iFail = 1;; iFail++) {
        SCOPED_TRACE(iFail);
        ASSERT_LT(iFail, 10u);
        RTDIR hDir = NIL_RTDIR;
        ASSERT_EQ(RTDirOpen(&hDir, path("d").c_str()), 0);
        RTMemTestFailNth(iFail);
        RTDIRENTRY Entry;
        int rc = RTDirRead(hDir, &Entry);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_STREQ(Entry.name, "only");
            EXPECT_EQ(RTDirClose(hDir), 0);
            break;
        }
        EXPECT_TRUE(rc == ERR_NO_STR_MEMORY || rc == ERR_NO_TMP_MEMORY) << rc;
        // The handle goes on working after the failure.
        EXPECT_EQ(names(readAll(hDir)), (std::set<std::string>{"only"}));
        EXPECT_EQ(RTDirClose(hDir), 0);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
}

TEST_F(DirTreeTest, RemoveRecursiveTakesTheTreeAndNothingBeyondIt) {
    makeOutside();
    for (const char *pszSuffix : {"", "/"}) {
        SCOPED_TRACE(pszSuffix);
        makeTree("top");
        ASSERT_EQ(RTDirRemoveRecursive((path("top") + pszSuffix).c_str()), 0);
        EXPECT_FALSE(exists("top"));
        expectOutsideIntact();
    }
    if (!m_fLinks)
        std::cout << "note: no symbolic links here; links inside the tree were not tried\n";
}

TEST_F(DirTreeTest, RemoveRecursiveOfALinkRemovesTheLinkOnly) {
    makeOutside();
    if (!symlink("outside", "top", true))
        GTEST_SKIP() << "no symbolic links here";
    for (const char *pszSuffix : {"", "/"}) {
        SCOPED_TRACE(pszSuffix);
        ASSERT_EQ(RTDirRemoveRecursive((path("top") + pszSuffix).c_str()), 0);
        EXPECT_FALSE(exists("top"));
        expectOutsideIntact();
        ASSERT_TRUE(symlink("outside", "top", true));
    }
}

TEST_F(DirTreeTest, RemoveRecursiveStatuses) {
    writeFile("file", "f");
    const struct {
        const char *pszName;
        std::string strPath;
        int rc;
    } aCases[] = {
        {"missing", path("missing"), ERR_FILE_NOT_FOUND},
        {"missing parent", path("missing/below"), ERR_PATH_NOT_FOUND},
        {"a file", path("file"), ERR_NOT_A_DIRECTORY},
        {"empty", "", ERR_PATH_ZERO_LENGTH},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(RTDirRemoveRecursive(c.strPath.c_str()), c.rc);
    }
    EXPECT_EQ(readFile("file"), "f");
    EXPECT_EQ(RTDirRemoveRecursive(nullptr), ERR_INVALID_POINTER);
}

TEST_F(DirTreeTest, RemoveRecursiveStopsAtTheDepthLimit) {
    std::string strDeep = "top";
    for (unsigned i = 0; i < RTDIR_REMOVE_MAX_DEPTH; i++)
        strDeep += "/d";
    std::error_code ec;
    std::filesystem::create_directories(fsPath(strDeep), ec);
    if (ec)
        GTEST_SKIP() << "cannot make a tree this deep here: " << ec.message();
    writeFile(strDeep + "/f", "");
    std::filesystem::create_directory(fsPath(strDeep + "/d"));
    // One level too deep: nothing is removed.
    EXPECT_EQ(RTDirRemoveRecursive(path("top").c_str()), ERR_FILENAME_TOO_LONG);
    EXPECT_TRUE(exists(strDeep + "/d"));
    std::filesystem::remove(fsPath(strDeep + "/d"));
    EXPECT_EQ(RTDirRemoveRecursive(path("top").c_str()), 0);
    EXPECT_FALSE(exists("top"));
}

TEST_F(DirTreeTest, RemoveRecursiveFailsOnEachCallAndAllocationInTurn) {
    makeOutside();
    size_t const cBlocks = RTMemTestOutstanding();
    for (bool fMemory : {false, true}) {
        for (uint32_t iFail = 1;; iFail++) {
            SCOPED_TRACE(testing::Message() << (fMemory ? "allocation " : "call ") << iFail);
            ASSERT_LT(iFail, 200u);
            makeTree("top");
            if (fMemory)
                RTMemTestFailNth(iFail);
            else
                RTFsTestFailNth(iFail, ERR_WRITE_PROTECT);
            int rc = RTDirRemoveRecursive(path("top").c_str());
            RTMemTestFailNth(0);
            RTFsTestFailNth(0, 0);
            expectOutsideIntact();
            EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
            if (rc == 0) {
                EXPECT_FALSE(exists("top"));
                break;
            }
            if (fMemory)
                EXPECT_TRUE(rc == ERR_NO_MEMORY || rc == ERR_NO_STR_MEMORY || rc == ERR_NO_TMP_MEMORY ||
                            rc == ERR_NO_UTF16_MEMORY)
                    << rc;
            else
                EXPECT_EQ(rc, ERR_WRITE_PROTECT);
            // What is left is still a tree the next round completes.
            EXPECT_TRUE(exists("top"));
        }
    }
}
