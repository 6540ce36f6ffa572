// The file-system test hook: each counted entry point fails on its turn with the chosen
// status and does nothing, the closes still release their handle, and the hook fires once.
#include <gtest/gtest.h>

#include <olma/dir.h>
#include <olma/file.h>
#include <olma/mem.h>

#include "Runtime/r3/test-tmpdir.h"

#include <functional>

namespace {

class FsFaultTest : public TmpDirTest {
protected:
    void TearDown() override {
        RTFsTestFailNth(0, 0);
        TmpDirTest::TearDown();
    }
};

constexpr int kRcInjected = ERR_WRITE_PROTECT;

} // namespace

TEST_F(FsFaultTest, EachEntryPointFailsOnItsTurnAndDoesNothing) {
    writeFile("file", "content");
    std::filesystem::create_directory(fsPath("dir"));
    writeFile("dir/entry", "");
    RTFILE hFile = NIL_RTFILE;
    RTDIR hDir = NIL_RTDIR;
    char abBuf[16];
    FsObjInfo Info;
    RTDIRENTRY Entry;
    // The unique names' random generator is set up on first use, and stays.
    std::string strWarmUp = path("warmXXXXXX");
    ASSERT_EQ(RTFileCreateTemp(&hFile, &strWarmUp[0], 0x1c000222), 0);
    ASSERT_EQ(RTFileClose(hFile), 0);
    ASSERT_EQ(RTFileDelete(strWarmUp.c_str()), 0);
    hFile = NIL_RTFILE;

    const struct {
        const char *pszName;
        std::function<void()> fnSetUp;
        std::function<int()> fnCall;
        std::function<void()> fnCheck; // what must still be as it was
    } aCases[] = {
        {"RTFileOpen", [] {}, [&] { return RTFileOpen(&hFile, path("new").c_str(), 0x1c000322); },
         [&] {
             EXPECT_EQ(hFile, NIL_RTFILE);
             EXPECT_FALSE(exists("new"));
         }},
        {"RTFileCreateTemp", [] {},
         [&] {
             std::string strTemplate = path("tmpXXXXXX");
             return RTFileCreateTemp(&hFile, &strTemplate[0], 0x1c000222);
         },
         [&] { EXPECT_EQ(entryCount(), 2u); }},
        {"RTFileRead", [&] { ASSERT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0); },
         [&] { return RTFileRead(hFile, abBuf, 7, nullptr); }, [&] { EXPECT_EQ(RTFileTell(hFile), 0u); }},
        {"RTFileWrite", [&] { ASSERT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_WRITE | RTFILE_O_OPEN), 0); },
         [&] { return RTFileWrite(hFile, "XX", 2, nullptr); }, [&] { EXPECT_EQ(readFile("file"), "content"); }},
        {"RTFileQueryInfo", [&] { ASSERT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0); },
         [&] { return RTFileQueryInfo(hFile, &Info, FSOBJ_ADD_UNIX); }, [] {}},
        {"RTFileClose", [&] { ASSERT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0); },
         [&] { return RTFileClose(hFile); },
         [&] {
             EXPECT_FALSE(RTFileIsValid(hFile));
             hFile = NIL_RTFILE;
         }},
        {"RTFileDelete", [] {}, [&] { return RTFileDelete(path("file").c_str()); },
         [&] { EXPECT_TRUE(exists("file")); }},
        {"RTDirCreate", [] {}, [&] { return RTDirCreate(path("newdir").c_str(), 0700, 0); },
         [&] { EXPECT_FALSE(exists("newdir")); }},
        {"RTDirOpen", [] {}, [&] { return RTDirOpen(&hDir, path("dir").c_str()); },
         [&] { EXPECT_EQ(hDir, NIL_RTDIR); }},
        {"RTDirRead", [&] { ASSERT_EQ(RTDirOpen(&hDir, path("dir").c_str()), 0); },
         [&] { return RTDirRead(hDir, &Entry); },
         [&] {
             // Nothing was consumed.
             ASSERT_EQ(RTDirRead(hDir, &Entry), 0);
             EXPECT_STREQ(Entry.name, "entry");
         }},
        {"RTDirClose", [&] { ASSERT_EQ(RTDirOpen(&hDir, path("dir").c_str()), 0); }, [&] { return RTDirClose(hDir); },
         [&] { hDir = NIL_RTDIR; }},
        {"RTDirRemove", [&] { std::filesystem::create_directory(fsPath("empty")); },
         [&] { return RTDirRemove(path("empty").c_str()); }, [&] { EXPECT_TRUE(exists("empty")); }},
        {"RTDirRemoveRecursive", [] {}, [&] { return RTDirRemoveRecursive(path("dir").c_str()); },
         [&] { EXPECT_TRUE(exists("dir/entry")); }},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        size_t const cBlocks = RTMemTestOutstanding();
        c.fnSetUp();
        RTFsTestFailNth(1, kRcInjected);
        EXPECT_EQ(c.fnCall(), kRcInjected);
        c.fnCheck();
        EXPECT_EQ(RTFileClose(hFile), 0);
        hFile = NIL_RTFILE;
        if (hDir != NIL_RTDIR)
            EXPECT_EQ(RTDirClose(hDir), 0);
        hDir = NIL_RTDIR;
        EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
    }
}

TEST_F(FsFaultTest, CountsCallsAcrossEntryPoints) {
    writeFile("file", "abc");
    RTFILE hFile = NIL_RTFILE;
    char abBuf[3];
    // Open, read, read: the third counted call fails, the fourth does not.
    RTFsTestFailNth(3, ERR_ACCESS_DENIED);
    ASSERT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0);
    EXPECT_EQ(RTFileRead(hFile, abBuf, 1, nullptr), 0);
    EXPECT_EQ(RTFileRead(hFile, abBuf + 1, 1, nullptr), ERR_ACCESS_DENIED);
    EXPECT_EQ(RTFileRead(hFile, abBuf + 1, 2, nullptr), 0);
    EXPECT_EQ(std::string(abBuf, 3), "abc");
    // The nil handle's close and calls with bad arguments do not count.
    RTFsTestFailNth(1, ERR_ACCESS_DENIED);
    EXPECT_EQ(RTFileClose(NIL_RTFILE), 0);
    RTFILE hNotOpened = NIL_RTFILE;
    EXPECT_EQ(RTFileOpen(&hNotOpened, "", RTFILE_O_READ), ERR_PATH_ZERO_LENGTH);
    EXPECT_EQ(RTDirClose(NIL_RTDIR), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTFileClose(hFile), ERR_ACCESS_DENIED);
    // Rearming tells whether the failure armed before has happened.
    EXPECT_EQ(RTFsTestFailNth(5, ERR_ACCESS_DENIED), 0u);
    EXPECT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0);
    EXPECT_EQ(RTFileClose(hFile), 0);
    EXPECT_EQ(RTFsTestFailNth(0, 0), 3u);
    EXPECT_EQ(RTFileOpen(&hFile, path("file").c_str(), RTFILE_O_READ), 0);
    EXPECT_EQ(RTFileClose(hFile), 0);
}
