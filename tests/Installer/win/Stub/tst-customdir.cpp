// The customisation directory copy with the platform's real copy (the shell's on
// Windows, the replacement elsewhere): the tree arrives without a dialog, clean-up takes
// it back (and nothing a link inside it leads to), and every failure is shown once.
#include "stub-test.h"
#include <olma/message.h>

#include <functional>

namespace {

class CustomDirTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        silent = true;
        recordBoxes();
        s_vecSleeps.clear();
        s_vecOps.clear();
        g_pfnCleanupSleep = recordSleep;
        g_StubPlatform.pfnFileOperation = recordFileOperation;
        // The runtime takes the program name for messages from the executable path once
        // per process: let it do so now, from the path the other tests use.
        captureStd();
        RTMsgError("settles the program name");
        finish("err");
        std::filesystem::create_directories(fsPath("bin"));
        ASSERT_EQ(rtPathSetExecPath(native("bin/TeskStub.exe").c_str()), 0);
        std::filesystem::create_directories(fsPath("x"));
        m_pDirRec = AddCleanupRecord(native("x").c_str(), false); // as the run makes it
    }

    /** A path in the test directory with the host's separators. */
    std::string native(std::string strName) const {
        for (char &ch : strName)
            if (ch == '/')
                ch = kSlash;
        return path("") + strName;
    }
    void makeSource() {
        std::filesystem::create_directories(fsPath("bin/.custom/sub/deeper"));
        std::filesystem::create_directories(fsPath("bin/.custom/empty"));
        writeFile("bin/.custom/a.txt", "a");
        writeFile("bin/.custom/sub/b.txt", "b");
        writeFile("bin/.custom/sub/deeper/c.bin", std::string(70000, 'c'));
    }
    void expectCopy() {
        EXPECT_EQ(readFile("x/.custom/a.txt"), "a");
        EXPECT_EQ(readFile("x/.custom/sub/b.txt"), "b");
        EXPECT_EQ(readFile("x/.custom/sub/deeper/c.bin"), std::string(70000, 'c'));
        EXPECT_TRUE(std::filesystem::is_directory(fsPath("x/.custom/empty")));
    }
    /** The captured error stream with the program name as the other tests see it: the
     *  runtime takes the name from the executable path once per process, and this
     *  fixture moves that path. */
    std::string finishErr() {
        std::string str = finish("err");
        for (size_t offLine = 0; offLine < str.size();) {
            const size_t offEnd = str.find('\n', offLine);
            const size_t offError = str.find(": error: ", offLine);
            if (offError != std::string::npos && offError < offEnd && str.compare(offLine, 7, "error: ") != 0)
                str.replace(offLine, offError - offLine, "TeskStub.exe");
            offLine = str.find('\n', offLine);
            offLine = offLine == std::string::npos ? str.size() : offLine + 1;
        }
        return str;
    }
    /** What the run does at its end: the extraction directory is removed last. */
    void cleanUp() {
        ProcessCleanupRecords(native("x").c_str());
        ReleaseCleanupRecords();
    }

    struct FileOp {
        uint32_t uOperation;
        std::u16string strFrom;
        std::u16string strTo;
        uint16_t fFlags;
        bool fDoubleNul;
    };
    static std::u16string listEntry(const RTUTF16 *pwsz, bool *pfDoubleNul) {
        std::u16string str((const char16_t *)pwsz);
        *pfDoubleNul = *pfDoubleNul && pwsz[str.size() + 1] == 0;
        return str;
    }
    static int recordFileOperation(uint32_t uOperation, const RTUTF16 *pwszFrom, const RTUTF16 *pwszTo,
                                   uint16_t fFlags) {
        FileOp Op = {uOperation, u"", u"", fFlags, true};
        Op.strFrom = listEntry(pwszFrom, &Op.fDoubleNul);
        Op.strTo = listEntry(pwszTo, &Op.fDoubleNul);
        s_vecOps.push_back(Op);
        return s_fnFileOperation ? s_fnFileOperation()
                                 : g_StubPlatformDefault.pfnFileOperation(uOperation, pwszFrom, pwszTo, fFlags);
    }
    static int recordSleep(RTMSINTERVAL cMillies) {
        s_vecSleeps.push_back(cMillies);
        return 0;
    }

    static inline std::vector<RTMSINTERVAL> s_vecSleeps;
    static inline std::vector<FileOp> s_vecOps;
    /** Stands in for the platform's copy when set. */
    static inline std::function<int()> s_fnFileOperation;
    CleanupRecord *m_pDirRec = nullptr;
};

std::u16string utf16(const std::string &str) {
    RTUTF16 *pwsz = nullptr;
    EXPECT_EQ(RTStrToUtf16(str.c_str(), &pwsz, RTSTR_TAG), 0);
    std::u16string strRet((const char16_t *)pwsz);
    RTUtf16Free(pwsz);
    return strRet;
}

} // namespace

TEST_F(CustomDirTest, NothingToCopy) {
    captureStd();
    EXPECT_EQ(CopyCustomDirectory(native("x").c_str()), 0);
    writeFile("bin/.custom", "a file of that name");
    EXPECT_EQ(CopyCustomDirectory(native("x").c_str()), 0);
    EXPECT_TRUE(s_vecOps.empty());
    EXPECT_EQ(cleanupList().size(), 1u);
    EXPECT_EQ(finishErr(), "");
}

TEST_F(CustomDirTest, TreeIsCopiedWithoutDialogAndTakenBackAtCleanUp) {
    makeSource();
    silent = false; // a dialog would show as a box
    EXPECT_EQ(CopyCustomDirectory(native("x").c_str()), 0);
    EXPECT_TRUE(s_Boxes.empty());
    ASSERT_EQ(s_vecOps.size(), 1u);
    EXPECT_EQ(s_vecOps[0].uOperation, 2u);
    EXPECT_EQ(s_vecOps[0].strFrom, utf16(native("bin/.custom")));
    EXPECT_EQ(s_vecOps[0].strTo, utf16(native("x")));
    EXPECT_EQ(s_vecOps[0].fFlags, 0x614);
    EXPECT_TRUE(s_vecOps[0].fDoubleNul);
    expectCopy();

    const CleanupRecord *pRec = static_cast<CleanupRecord *>(g_CleanupList.next);
    EXPECT_EQ(std::string(pRec->path), native("x/.custom"));
    EXPECT_FALSE(pRec->isFile);
    EXPECT_TRUE(pRec->removeTree);
    EXPECT_TRUE(RTDirIsValid(pRec->handle.hDir));

    cleanUp();
    EXPECT_FALSE(exists("x"));
    EXPECT_TRUE(s_vecSleeps.empty());
    EXPECT_EQ(readFile("bin/.custom/a.txt"), "a");
}

TEST_F(CustomDirTest, LinksInTheCopyAreRemovedAsLinks) {
    std::filesystem::create_directories(fsPath("outside/deeper"));
    writeFile("outside/keep", "keep");
    writeFile("outside/deeper/keep2", "keep2");
    makeSource();
    std::error_code ec;
    std::filesystem::create_directory_symlink(fsPath("outside"), fsPath("bin/.custom/sub/dirlink"), ec);
    if (!ec)
        std::filesystem::create_symlink(fsPath("outside/keep"), fsPath("bin/.custom/filelink"), ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here (Wine makes neither junctions nor symbolic links): " << ec.message();
    EXPECT_EQ(CopyCustomDirectory(native("x").c_str()), 0);
    expectCopy();
    EXPECT_TRUE(std::filesystem::is_symlink(fsPath("x/.custom/sub/dirlink")));
    cleanUp();
    EXPECT_FALSE(exists("x"));
    EXPECT_EQ(readFile("outside/keep"), "keep");
    EXPECT_EQ(readFile("outside/deeper/keep2"), "keep2");
}

TEST_F(CustomDirTest, ACustomDirectoryThatWasThereIsLeftAlone) {
    // An existing --path directory that already holds a ".custom" of the user's.
    m_pDirRec->dontDelete = true;
    std::filesystem::create_directories(fsPath("x/.custom"));
    writeFile("x/.custom/user.txt", "mine");
    makeSource();
    EXPECT_EQ(CopyCustomDirectory(native("x").c_str()), 0);
    expectCopy();
    const CleanupRecord *pRec = static_cast<CleanupRecord *>(g_CleanupList.next);
    EXPECT_FALSE(pRec->removeTree);
    ProcessCleanupRecords(nullptr);
    ReleaseCleanupRecords();
    // Retried as any directory that is not empty, then dropped.
    EXPECT_EQ(s_vecSleeps, (std::vector<RTMSINTERVAL>{100, 3000, 3000, 3000}));
    EXPECT_EQ(readFile("x/.custom/user.txt"), "mine");
}

TEST_F(CustomDirTest, FailuresAreShownOnceAndLeaveTheRecord) {
    makeSource();
    const struct {
        const char *pszName;
        std::function<void()> fnSetUp;
        std::string strExtractionDir;
        std::string strErr;
        bool fRecord; // the copy's record is in the list
    } aCases[] = {
        {"extraction directory too long for the list", [] {}, native(std::string(4100, 'y')),
         "TeskStub.exe: error: RTStrToUtf16Ex failed on '<X>': ERR_BUFFER_OVERFLOW\r\n", false},
        {"extraction directory not valid text", [] {}, native("x\xff"),
         "TeskStub.exe: error: RTStrToUtf16Ex failed on '<X>': ERR_INVALID_UTF8_ENCODING\r\n", false},
        {"the copy fails half way",
         [&] {
             s_fnFileOperation = [&] {
                 std::filesystem::create_directories(fsPath("x/.custom/partial"));
                 return 0x75;
             };
         },
         native("x"), "TeskStub.exe: error: Copying the '.custom' dir failed: 0x75\r\n", true},
        {"the copy cannot be opened", [] { RTFsTestFailNth(1, ERR_WRITE_PROTECT); }, native("x"),
         "TeskStub.exe: error: Unable to open the destination .custom directory: ERR_WRITE_PROTECT\r\n", true},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        captureStd();
        ASSERT_EQ(RTStrmSetBufferingMode(g_pStdErr, RTSTRMBUFMODE_FULL_BUFFERED), 0);
        c.fnSetUp();
        EXPECT_EQ(CopyCustomDirectory(c.strExtractionDir.c_str()), 1);
        RTFsTestFailNth(0, 0);
        RTMemTestFailNth(0);
        s_fnFileOperation = nullptr;
        std::string strErr = c.strErr;
        if (size_t off = strErr.find("<X>"); off != std::string::npos)
            strErr.replace(off, 3, c.strExtractionDir);
        EXPECT_EQ(finishErr(), strErr);
        const CleanupRecord *pRec = static_cast<CleanupRecord *>(g_CleanupList.next);
        EXPECT_EQ(pRec != m_pDirRec, c.fRecord);
        if (c.fRecord) {
            EXPECT_EQ(std::string(pRec->path), native("x/.custom"));
            EXPECT_TRUE(pRec->removeTree);
        }
        // Clean-up takes back whatever part of the copy there is.
        cleanUp();
        EXPECT_FALSE(exists("x"));
        EXPECT_TRUE(s_vecSleeps.empty());
        std::filesystem::create_directories(fsPath("x"));
        m_pDirRec = AddCleanupRecord(native("x").c_str(), false);
    }
}

TEST_F(CustomDirTest, EachAllocationFailureInTurn) {
    makeSource();
    // Without the directory's record, which each clean-up frees.
    const size_t cBlocks = RTMemTestOutstanding() - 1;
    for (uint32_t iAlloc = 1;; iAlloc++) {
        SCOPED_TRACE(iAlloc);
        ASSERT_LT(iAlloc, 100u);
        captureStd();
        RTMemTestFailNth(iAlloc);
        const int rc = CopyCustomDirectory(native("x").c_str());
        const bool fFailed = RTMemTestFailNth(0) == 0;
        const std::string strErr = finishErr();
        EXPECT_EQ(rc == 1, !strErr.empty()) << strErr;
        if (rc == 0 && exists("x/.custom"))
            expectCopy();
        // When it could not be told whether the copy made the directory (no memory for
        // that question), the copy is not taken as its own and stays.
        const CleanupRecord *pRec = static_cast<CleanupRecord *>(g_CleanupList.next);
        const bool fKept = pRec != m_pDirRec && !pRec->removeTree;
        cleanUp();
        EXPECT_EQ(exists("x"), fKept);
        std::filesystem::remove_all(fsPath("x"));
        EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
        if (!fFailed)
            break;
        std::filesystem::create_directories(fsPath("x"));
        m_pDirRec = AddCleanupRecord(native("x").c_str(), false);
    }
}
