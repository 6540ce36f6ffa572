// Extraction and verification over a replacement resource table: payload sizes around
// the comparison block, the architecture filter and file names, the extraction
// directory, files changed between write and check, and every failing call and
// allocation in turn with its own message and the records left for clean-up.
#include "stub-test.h"

#include <functional>
#include <map>
#include <regex>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

class ExtractTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        silent = true;
        setResources(&m_Resources);
        g_pfnCleanupSleep = noSleep;
        s_fHost64 = true;
        g_StubPlatform.pfnHostIs64Bit = [] { return s_fHost64; };
        // The unique names' random generator is made on first use and stays; make it
        // now, so that it does not count as a leak of the first extraction.
        std::string strWarmUp = path("warm-upXXXXXX");
        RTFILE hFile = NIL_RTFILE;
        ASSERT_EQ(RTFileCreateTemp(&hFile, &strWarmUp[0], RTFILE_O_WRITE | RTFILE_O_CREATE), 0);
        ASSERT_EQ(RTFileClose(hFile), 0);
        ASSERT_EQ(RTFileDelete(strWarmUp.c_str()), 0);
    }

    void addPackage(unsigned i, uint32_t uArch, const std::string &strFile, const std::string &strData) {
        StubTest::addPackage(m_Resources, i, uArch, strFile, strData);
    }
    std::string dir(const std::string &strName) const { return path(strName); }
    static std::string join(const std::string &strDir, const std::string &strName) { return strDir + kSlash + strName; }
    static std::string slurp(const std::string &strPath) {
        std::ifstream in(fromUtf8(strPath), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    /** What the run sequence does at the end of an installing run: the directory is
     *  removed last when it has a record of its own that does not keep it. */
    void cleanUp(const std::string &strDir, const CleanupRecord *pDirRec) {
        std::filesystem::current_path(m_SavedCwd);
        ProcessCleanupRecords(pDirRec && !pDirRec->dontDelete ? strDir.c_str() : nullptr);
        EXPECT_TRUE(cleanupList().empty());
        ReleaseCleanupRecords();
    }
    /** The text with <D>, <F> and <N> replaced by the directory, file path and name. */
    static std::string substitute(std::string str, const std::string &strDir, const std::string &strFile,
                                  const std::string &strName = "") {
        for (const auto &Pair :
             {std::make_pair("<D>", strDir), std::make_pair("<F>", strFile), std::make_pair("<N>", strName)})
            for (size_t off; (off = str.find(Pair.first)) != std::string::npos;)
                str.replace(off, 3, Pair.second);
        return str;
    }

    static int noSleep(RTMSINTERVAL cMillies) {
        ADD_FAILURE() << "clean-up paused for " << cMillies << " ms";
        return 0;
    }
    static inline bool s_fHost64 = true;
    std::vector<Resource> m_Resources;
};

const size_t kcbThreeBlocksAndOne = 3 * 65536 + 1;

} // namespace

TEST_F(ExtractTest, PayloadSizesAroundTheComparisonBlock) {
    for (size_t cb : {(size_t)1, (size_t)65535, (size_t)65536, (size_t)65537, kcbThreeBlocksAndOne}) {
        SCOPED_TRACE(cb);
        captureStd();
        m_Resources.clear();
        const std::string strData = payload(cb, (unsigned)cb);
        addPackage(0, 1, "p.cab", strData);
        const std::string strDir = dir("x" + std::to_string(cb));
        CleanupRecord *pDirRec = nullptr;
        ASSERT_EQ(ExtractPackages(1, strDir.c_str(), false, &pDirRec), 0);
        EXPECT_EQ(finish("err"), "");

        ASSERT_NE(pDirRec, nullptr);
        EXPECT_STREQ(pDirRec->path, strDir.c_str());
        EXPECT_FALSE(pDirRec->dontDelete);
        EXPECT_TRUE(RTDirIsValid(pDirRec->handle.hDir));
        const CleanupRecord *pFileRec = FindPackageCleanupRecord(0);
        ASSERT_NE(pFileRec, nullptr);
        EXPECT_EQ(std::string(pFileRec->path), join(strDir, "p.cab"));
        EXPECT_TRUE(RTFileIsValid(pFileRec->handle.hFile));
        EXPECT_TRUE(slurp(pFileRec->path) == strData);
        EXPECT_EQ(cleanupList(), (std::vector<std::pair<std::string, bool>>{{pFileRec->path, true}, {strDir, false}}));
        EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), fromUtf8(strDir)));
#ifndef _WIN32
        struct stat St;
        ASSERT_EQ(stat(strDir.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 0777, 0700u);
        ASSERT_EQ(stat(pFileRec->path, &St), 0);
        EXPECT_EQ(St.st_mode & 0777, 0700u);
#endif

        cleanUp(strDir, pDirRec);
        EXPECT_FALSE(std::filesystem::exists(fromUtf8(strDir)));
    }
}

TEST_F(ExtractTest, EmptyPackageAndMissingHeader) {
    captureStd();
    addPackage(0, 1, "empty.cab", "");
    const std::string strDir = dir("x");
    CleanupRecord *pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(1, strDir.c_str(), false, &pDirRec), 1);
    // The file was made and stays in the list with its handle until clean-up.
    const CleanupRecord *pFileRec = FindPackageCleanupRecord(0);
    ASSERT_NE(pFileRec, nullptr);
    EXPECT_TRUE(RTFileIsValid(pFileRec->handle.hFile));
    EXPECT_EQ(finish("err"), substitute("error: #0: Failed to locate resource 'BIN_00': ERR_NO_DATA\r\n"
                                        "TeskStub.exe: error: Error extracting package #0 (empty.cab): ERR_NO_DATA\r\n",
                                        strDir, ""));
    cleanUp(strDir, pDirRec);
    EXPECT_FALSE(std::filesystem::exists(fromUtf8(strDir)));

    captureStd();
    m_Resources.clear();
    addPackage(0, 1, "a.cab", "a");
    pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(2, strDir.c_str(), false, &pDirRec), 1);
    EXPECT_NE(FindPackageCleanupRecord(0), nullptr);
    EXPECT_EQ(finish("err"), "TeskStub.exe: error: Internal error: Could not find package header #1: "
                             "ERR_IO_GEN_FAILURE\r\n");
    cleanUp(strDir, pDirRec);
}

TEST_F(ExtractTest, ArchitectureFilterAndFileNames) {
    const struct {
        const char *pszArch;
        uint32_t uArch;
        const char *pszFile;
    } aPackages[] = {
        {"all", 1, "shared.cab"},  {"x86", 2, "x86.msi"},     {"amd64", 3, "amd64.msi"},
        {"unknown", 7, "odd.msi"}, {"amd64", 3, "upper.MSI"},
    };
    for (unsigned i = 0; i < RT_ELEMENTS(aPackages); i++)
        addPackage(i, aPackages[i].uArch, aPackages[i].pszFile, payload(1000 + i, i));

    // Per package: "" not extracted, "=" under its header name, or the suffix that follows
    // a unique name of 24 characters (as the header has it).
    const struct {
        bool fHost64;
        bool fExtractOnly;
        const char *apszExpected[RT_ELEMENTS(aPackages)];
    } aCases[] = {
        {true, false, {"=", "", ".msi", "", ".MSI"}},
        {false, false, {"=", ".msi", "", "", ""}},
        {true, true, {"=", "=", "=", "=", "="}},
        {false, true, {"=", "=", "=", "=", "="}},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(testing::Message() << (c.fHost64 ? "64-bit host" : "32-bit host")
                                        << (c.fExtractOnly ? ", extraction only" : ""));
        captureStd();
        s_fHost64 = c.fHost64;
        const std::string strDir = dir("x");
        CleanupRecord *pDirRec = nullptr;
        ASSERT_EQ(ExtractPackages(RT_ELEMENTS(aPackages), strDir.c_str(), c.fExtractOnly, &pDirRec), 0);
        EXPECT_EQ(finish("err"), "");
        size_t cFiles = 0;
        for (unsigned i = 0; i < RT_ELEMENTS(aPackages); i++) {
            SCOPED_TRACE(aPackages[i].pszFile);
            const std::string strExpected = c.apszExpected[i];
            const CleanupRecord *pRec = FindPackageCleanupRecord(i);
            if (strExpected.empty()) {
                EXPECT_EQ(pRec, nullptr);
                continue;
            }
            ASSERT_NE(pRec, nullptr);
            cFiles++;
            const std::string strPath = pRec->path;
            ASSERT_EQ(strPath.substr(0, strDir.size() + 1), strDir + kSlash);
            const std::string strName = strPath.substr(strDir.size() + 1);
            if (strExpected == "=")
                EXPECT_EQ(strName, aPackages[i].pszFile);
            else
                EXPECT_TRUE(std::regex_match(strName, std::regex("[0-9a-z]{24}\\" + strExpected))) << strName;
            EXPECT_TRUE(slurp(strPath) == payload(1000 + i, i));
        }
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(fromUtf8(strDir)), std::filesystem::directory_iterator()),
            (ptrdiff_t)cFiles);
        cleanUp(strDir, pDirRec);
        EXPECT_FALSE(std::filesystem::exists(fromUtf8(strDir)));
    }
}

TEST_F(ExtractTest, ExtractionDirectory) {
    addPackage(0, 1, "shared.cab", payload(5000, 1));
    const struct {
        const char *pszName;
        bool fExists;
        bool fFileInTheWay;
        bool fRecordPassedIn;
        int rcExpected;
        const char *pszErr;
        bool fDontDelete;
    } aCases[] = {
        {"missing: created, and removed at the end", false, false, false, 0, "", false},
        {"already there: adopted and left in place", true, false, false, 0, "", true},
        {"made by the run: its record is used", true, false, true, 0, "", false},
        {"made by the run, gone since", false, false, true, 1,
         "TeskStub.exe: error: RTDirExists failed on '<D>' which we just created!\r\n", false},
        {"a file in the way", false, true, false, 1,
         "TeskStub.exe: error: Failed to create extraction path '<D>': ERR_ALREADY_EXISTS\r\n", false},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        captureStd();
        const std::string strDir = dir("x");
        if (c.fExists)
            std::filesystem::create_directory(fromUtf8(strDir));
        if (c.fFileInTheWay)
            writeFile("x", "in the way");
        CleanupRecord *pDirRec = c.fRecordPassedIn ? AddCleanupRecord(strDir.c_str(), false) : nullptr;
        CleanupRecord *const pPassedIn = pDirRec;
        EXPECT_EQ(ExtractPackages(1, strDir.c_str(), false, &pDirRec), c.rcExpected);
        EXPECT_EQ(finish("err"), substitute(c.pszErr, strDir, ""));
        if (c.rcExpected == 0) {
            ASSERT_NE(pDirRec, nullptr);
            if (pPassedIn)
                EXPECT_EQ(pDirRec, pPassedIn);
            EXPECT_EQ(pDirRec->dontDelete, c.fDontDelete);
            EXPECT_EQ(cleanupList().size(), 2u);
        } else
            EXPECT_EQ(pDirRec, pPassedIn);
        cleanUp(strDir, pDirRec);
        EXPECT_EQ(exists("x"), c.fDontDelete || c.fFileInTheWay);
        EXPECT_FALSE(exists("x/shared.cab"));
        std::filesystem::remove_all(fromUtf8(strDir));
    }
}

TEST_F(ExtractTest, AllArchitecturePackageReplacesTheFileOfItsName) {
    captureStd();
    const std::string strData = payload(1000, 3);
    addPackage(0, 1, "shared.cab", strData);
    std::filesystem::create_directory(fsPath("x"));
    writeFile("x/shared.cab", payload(200000, 9));
    CleanupRecord *pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(1, dir("x").c_str(), false, &pDirRec), 0);
    EXPECT_TRUE(readFile("x/shared.cab") == strData);
    cleanUp(dir("x"), pDirRec);
    EXPECT_FALSE(exists("x/shared.cab"));

    // A directory of that name cannot be replaced.
    m_Resources.clear();
    addPackage(0, 1, "sub.cab", strData);
    std::filesystem::create_directory(fsPath("x/sub.cab"));
    pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(1, dir("x").c_str(), false, &pDirRec), 1);
    const char *pszStatus = "ERR_IS_A_DIRECTORY";
    EXPECT_EQ(finish("err"),
              substitute(std::string("error: #0: Failed to create/replace '<F>' for writing: ") + pszStatus +
                             "\r\nTeskStub.exe: error: Error extracting package #0 (sub.cab): " + pszStatus + "\r\n",
                         "", join(dir("x"), "sub.cab")));
    cleanUp(dir("x"), pDirRec);
    EXPECT_TRUE(exists("x/sub.cab"));
}

namespace {
/** What the after-write hook does to the file it is handed. */
std::function<void(RTFILE, const char *)> g_fnAfterWrite;
void afterWrite(RTFILE hFile, const char *pszPath) {
    g_fnAfterWrite(hFile, pszPath);
}
} // namespace

TEST_F(ExtractTest, ChangesBetweenWriteAndCheckAreFound) {
    const std::string strData = payload(kcbThreeBlocksAndOne, 5);
    addPackage(0, 1, "p.cab", strData);
    auto fnWriteAt = [](uint64_t off, const std::string &str) {
        return [off, str](RTFILE hFile, const char *) {
            ASSERT_EQ(RTFileSeek(hFile, (int64_t)off, RTFILE_SEEK_BEGIN, nullptr), 0);
            ASSERT_EQ(RTFileWrite(hFile, str.data(), str.size(), nullptr), 0);
        };
    };
    std::string strIdentity;
    const struct {
        const char *pszName;
        std::function<void(RTFILE, const char *)> fnChange;
        std::string strMessage;
    } aCases[] = {
        {"a byte inside a block", fnWriteAt(0x20010, std::string(1, (char)~strData[0x20010])),
         "File '<F>' has change (mismatch in 0x10000 byte block at 0x20000)"},
        {"the last byte", fnWriteAt(0x30000, std::string(1, (char)~strData[0x30000])),
         "File '<F>' has change (mismatch in 0x1 byte block at 0x30000)"},
        {"two bytes more", fnWriteAt(kcbThreeBlocksAndOne, "++"),
         "File size of '<F>' changed: 196 611, expected 196 609"},
        // A second name would keep the bytes past the clean-up, out of the run's reach.
        {"another name for the file",
         [&](RTFILE, const char *pszPath) { std::filesystem::create_hard_link(fromUtf8(pszPath), fsPath("link")); },
         "File '<F>' has 2 names, expected 1"},
#ifndef _WIN32
        // Only here can another file take the name while the handles are open; on
        // Windows the open handles forbid it (shown by the tests of that platform).
        {"another file under the name",
         [&](RTFILE hFile, const char *pszPath) {
             const std::string strOther = std::string(pszPath) + ".other";
             std::ofstream(strOther, std::ios::binary) << strData;
             struct stat StOld, StNew;
             ASSERT_EQ(fstat((int)hFile, &StOld), 0);
             ASSERT_EQ(stat(strOther.c_str(), &StNew), 0);
             ASSERT_EQ(rename(strOther.c_str(), pszPath), 0);
             char szMsg[512];
             snprintf(szMsg, sizeof(szMsg), "File ID of '<F>' changed: %#llx, expected %#llx",
                      (unsigned long long)StNew.st_ino, (unsigned long long)StOld.st_ino);
             strIdentity = szMsg;
         },
         "<identity>"},
#endif
    };
    g_pfnExtractAfterWriteHook = afterWrite;
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        captureStd();
        g_fnAfterWrite = c.fnChange;
        const std::string strDir = dir("x");
        CleanupRecord *pDirRec = nullptr;
        EXPECT_EQ(ExtractPackages(1, strDir.c_str(), false, &pDirRec), 1);
        const std::string strMessage = c.strMessage == "<identity>" ? strIdentity : c.strMessage;
        EXPECT_EQ(finish("err"),
                  substitute("error: #0: " + strMessage +
                                 "\r\nTeskStub.exe: error: Error extracting package #0 (p.cab): ERR_STATE_CHANGED\r\n",
                             strDir, join(strDir, "p.cab")));
        EXPECT_NE(FindPackageCleanupRecord(0), nullptr);
        cleanUp(strDir, pDirRec);
        EXPECT_FALSE(exists("x"));
        std::filesystem::remove(fsPath("link"));
    }
}

TEST_F(ExtractTest, HeaderFileNamesMustBePlainNames) {
    // Headers made by hand, not by the packer: each name would put the file somewhere
    // other than a file of that name in the extraction directory (a parent directory, the
    // current directory of a drive, a stream of another file, a device, a name the
    // platform shortens). Checked for every package that is extracted, whichever way.
    const struct {
        const char *pszName;
        const char *pszFault;
    } aNames[] = {
        {"..\\x.msi",
         "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)"},
        {"../x.msi",
         "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)"},
        {"C:x.msi",
         "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)"},
        {"x.msi:stream",
         "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)"},
        {"CON.msi", "is a reserved device name"},
        {"x.msi.", "ends in a dot or a blank"},
        {"..", "is '.' or '..'"},
    };
    const struct {
        const char *pszHow;
        uint32_t uArch;
        bool fExtractOnly;
    } aWays[] = {{"under its own name", 1, false}, {"under a unique name", 3, false}, {"extraction only", 3, true}};
    for (const auto &w : aWays)
        for (const auto &n : aNames) {
            SCOPED_TRACE(testing::Message() << w.pszHow << ": " << n.pszName);
            captureStd();
            m_Resources.clear();
            addPackage(0, 1, "good.cab", payload(100, 1));
            addPackage(1, w.uArch, n.pszName, payload(100, 2));
            std::filesystem::create_directories(fsPath("top/x"));
            const std::string strDir = dir("top/x");
            CleanupRecord *pDirRec = nullptr;
            EXPECT_EQ(ExtractPackages(2, strDir.c_str(), w.fExtractOnly, &pDirRec), 1);
            EXPECT_EQ(finish("err"), std::string("TeskStub.exe: error: Internal package error: The file name of "
                                                 "package #1 ") +
                                         n.pszFault + "\r\n");
            // Nothing was written for the package, there or anywhere near.
            EXPECT_EQ(FindPackageCleanupRecord(1), nullptr);
            EXPECT_EQ(entries("top"), std::vector<std::string>{"x"});
            EXPECT_EQ(entries("top/x"), std::vector<std::string>{"good.cab"});
            cleanUp(strDir, pDirRec);
            EXPECT_TRUE(entries("top/x").empty());
            std::filesystem::remove_all(fsPath("top"));
        }
}

TEST_F(ExtractTest, AFileUnderThePackagesNameIsReplacedNotWrittenThrough) {
    // Someone who may write into an existing --path directory leaves a second name of a
    // file elsewhere under the name a package keeps. Writing into it would overwrite that
    // file; the name is removed and a new file made instead.
    const std::string strData = payload(5000, 4);
    addPackage(0, 1, "shared.cab", strData);
    std::filesystem::create_directory(fsPath("x"));
    writeFile("victim", "not to be overwritten");
    std::filesystem::create_hard_link(fsPath("victim"), fsPath("x/shared.cab"));
    captureStd();
    CleanupRecord *pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(1, dir("x").c_str(), true, &pDirRec), 0);
    EXPECT_EQ(finish("err"), "");
    EXPECT_EQ(readFile("victim"), "not to be overwritten");
    EXPECT_TRUE(readFile("x/shared.cab") == strData);
    EXPECT_EQ(std::filesystem::hard_link_count(fsPath("x/shared.cab")), 1u);
    releaseCleanupRecords();
#ifndef _WIN32
    // A symbolic link is not removed through a file's name: the extraction stops.
    std::filesystem::remove(fsPath("x/shared.cab"));
    std::filesystem::create_symlink(fsPath("victim"), fsPath("x/shared.cab"));
    captureStd();
    pDirRec = nullptr;
    EXPECT_EQ(ExtractPackages(1, dir("x").c_str(), true, &pDirRec), 1);
    EXPECT_EQ(finish("err"), substitute("error: #0: Failed to create/replace '<F>' for writing: ERR_IS_A_SYMLINK\r\n"
                                        "TeskStub.exe: error: Error extracting package #0 (shared.cab): "
                                        "ERR_IS_A_SYMLINK\r\n",
                                        "", join(dir("x"), "shared.cab")));
    EXPECT_EQ(readFile("victim"), "not to be overwritten");
    releaseCleanupRecords();
#endif
}

TEST_F(ExtractTest, EveryFailingCallShowsItsOwnMessage) {
    // The calls of one extraction in order, each failed in turn; "" marks the one
    // failure the extraction goes on after.
    const std::string strTail = "\r\nTeskStub.exe: error: Error extracting package #0 (<N>): ERR_WRITE_PROTECT\r\n";
    const std::vector<std::string> vecFromWrite = {
        "error: #0: RTFileWrite('<F>',, 0x10001,) failed: ERR_WRITE_PROTECT" + strTail,
        "error: #0: RTFileQueryInfo failed on '<F>': ERR_WRITE_PROTECT" + strTail,
        "error: #0: First re-opening of '<F>' failed: ERR_WRITE_PROTECT" + strTail,
        "error: #0: RTFileClose('<F>') failed: ERR_WRITE_PROTECT" + strTail,
        "error: #0: Second re-opening of '<F>' failed: ERR_WRITE_PROTECT" + strTail,
        "error: #0: Failed to close 2nd handle to '<F>': ERR_WRITE_PROTECT\r\n",
        "error: #0: RTFileQueryInfo failed on '<F>': ERR_WRITE_PROTECT" + strTail,
        "error: #0: RTFileRead failed on '<F>' at offset 0x0: ERR_WRITE_PROTECT" + strTail,
        "error: #0: RTFileRead failed on '<F>' at offset 0x10000: ERR_WRITE_PROTECT" + strTail,
    };
    const std::vector<std::string> vecStart = {
        "TeskStub.exe: error: Failed to create extraction path '<D>': ERR_WRITE_PROTECT\r\n",
        "TeskStub.exe: error: Failed to open extraction path '<D>': ERR_WRITE_PROTECT\r\n",
    };
    const std::string strReplace = "error: #0: Failed to create/replace '<F>' for writing: ERR_WRITE_PROTECT" + strTail;
    const struct {
        const char *pszName;
        uint32_t uArch;
        const char *pszFile;
        std::vector<std::string> vecCreate;
    } aCases[] = {
        // A file under its own name: whatever has the name is removed, then it is made.
        {"under its own name", 1, "p.cab", {strReplace, strReplace}},
        {"under a unique name",
         3,
         "p.msi",
         {"TeskStub.exe: error: Failed to create unique filename for 'p.msi' in '<D>': ERR_WRITE_PROTECT\r\n"}},
    };
    for (const auto &c : aCases) {
        m_Resources.clear();
        const std::string strData = payload(65537, 11);
        addPackage(0, c.uArch, c.pszFile, strData);
        std::vector<std::string> vecExpected = vecStart;
        vecExpected.insert(vecExpected.end(), c.vecCreate.begin(), c.vecCreate.end());
        vecExpected.insert(vecExpected.end(), vecFromWrite.begin(), vecFromWrite.end());
        const size_t cBlocks = RTMemTestOutstanding();
        for (uint32_t iCall = 1;; iCall++) {
            SCOPED_TRACE(testing::Message() << c.pszName << ": call " << iCall);
            ASSERT_LE(iCall, vecExpected.size() + 1);
            captureStd();
            // Written at the end: the hook counts the streams' writes too.
            ASSERT_EQ(RTStrmSetBufferingMode(g_pStdErr, RTSTRMBUFMODE_FULL_BUFFERED), 0);
            const std::string strDir = dir("x");
            CleanupRecord *pDirRec = nullptr;
            RTFsTestFailNth(iCall, ERR_WRITE_PROTECT);
            const int rc = ExtractPackages(1, strDir.c_str(), false, &pDirRec);
            const bool fFailed = RTFsTestFailNth(0, 0) == 0;
            const CleanupRecord *pFileRec = FindPackageCleanupRecord(0);
            const std::string strFile = pFileRec ? pFileRec->path : join(strDir, c.pszFile);
            const std::string strErr = finish("err");
            if (!fFailed) {
                // Past the last call: a clean run.
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(strErr, "");
                EXPECT_EQ(iCall, vecExpected.size() + 1);
                EXPECT_TRUE(slurp(strFile) == strData);
                cleanUp(strDir, pDirRec);
                break;
            }
            // Every failure but the one printed on the way ends the extraction.
            const std::string &strExpected = vecExpected[iCall - 1];
            EXPECT_EQ(rc, strExpected.find("TeskStub.exe: error:") != std::string::npos ? 1 : 0);
            EXPECT_EQ(strErr, substitute(strExpected, strDir, strFile, c.pszFile));
            // Once the file exists, its record is there for clean-up, which removes it all.
            EXPECT_EQ(pFileRec != nullptr, iCall > vecStart.size() + c.vecCreate.size());
            cleanUp(strDir, pDirRec);
            EXPECT_FALSE(exists("x"));
            EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
        }
    }
}

TEST_F(ExtractTest, EachAllocationFailureInTurn) {
    addPackage(0, 1, "shared.cab", payload(70000, 1));
    addPackage(1, 3, "p.msi", payload(1000, 2));
    const size_t cBlocks = RTMemTestOutstanding();
    for (uint32_t iAlloc = 1;; iAlloc++) {
        SCOPED_TRACE(iAlloc);
        ASSERT_LT(iAlloc, 500u);
        captureStd();
        const std::string strDir = dir("x");
        CleanupRecord *pDirRec = nullptr;
        RTMemTestFailNth(iAlloc);
        const int rc = ExtractPackages(2, strDir.c_str(), false, &pDirRec);
        const bool fFailed = RTMemTestFailNth(0) == 0;
        const std::string strErr = finish("err");
        if (rc == 0) {
            // Some allocations only serve what may fail quietly (the current directory).
            EXPECT_EQ(strErr, "");
            ASSERT_NE(FindPackageCleanupRecord(0), nullptr);
            ASSERT_NE(FindPackageCleanupRecord(1), nullptr);
            EXPECT_TRUE(slurp(FindPackageCleanupRecord(0)->path) == payload(70000, 1));
            EXPECT_TRUE(slurp(FindPackageCleanupRecord(1)->path) == payload(1000, 2));
        } else {
            EXPECT_EQ(rc, 1);
            EXPECT_TRUE(fFailed);
            EXPECT_NE(strErr, "");
        }
        cleanUp(strDir, pDirRec);
        // Without its record the new directory is not known to clean-up; it is empty.
        if (strErr.find("Failed to add cleanup record for dir") != std::string::npos) {
            EXPECT_TRUE(std::filesystem::is_empty(fsPath("x")));
            std::filesystem::remove(fsPath("x"));
        }
        EXPECT_FALSE(exists("x"));
        EXPECT_EQ(RTMemTestOutstanding(), cBlocks);
        if (!fFailed)
            break;
    }
}
