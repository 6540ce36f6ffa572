#include "dirtest.h"

using namespace dirtest;

TEST_F(DirTest, CreateRemoveExists) {
    std::string const strDir = sub("new");
    ASSERT_EQ(RTDirCreate(strDir.c_str(), 0700, 0), 0);
    EXPECT_TRUE(RTDirExists(strDir.c_str()));
    EXPECT_TRUE(RTDirExists((strDir + kSlash).c_str()));
    EXPECT_EQ(RTDirCreate(strDir.c_str(), 0700, 0), ERR_ALREADY_EXISTS);
#ifdef _WIN32
    if (keepsNotContentIndexed()) {
        DWORD fAttr = GetFileAttributesW(widen(strDir).c_str());
        EXPECT_NE(fAttr & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u) << std::hex << fAttr;
    }
#endif
    EXPECT_EQ(RTDirRemove(strDir.c_str()), 0);
    EXPECT_FALSE(RTDirExists(strDir.c_str()));
    int rc = RTDirRemove(strDir.c_str());
    EXPECT_TRUE(rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND) << rc;

    // Without the not-content-indexed attribute.
    ASSERT_EQ(RTDirCreate(strDir.c_str(), 0700, RTDIRCREATE_FLAGS_NOT_CONTENT_INDEXED_DONT_SET), 0);
#ifdef _WIN32
    DWORD fAttr = GetFileAttributesW(widen(strDir).c_str());
    EXPECT_EQ(fAttr & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u) << std::hex << fAttr;
#endif
    EXPECT_EQ(RTDirRemove(strDir.c_str()), 0);

    // A regular-file type cannot make a directory.
    EXPECT_EQ(RTDirCreate(strDir.c_str(), RTFS_TYPE_FILE | 0700, 0), ERR_INVALID_FMODE);
    EXPECT_FALSE(RTDirExists(strDir.c_str()));

    std::string const strFile = mkfile("file");
    EXPECT_FALSE(RTDirExists(strFile.c_str()));
    EXPECT_FALSE(RTDirExists(sub("missing").c_str()));
    EXPECT_FALSE(RTDirExists(""));
    rc = RTDirCreate(sub("missing/sub").c_str(), 0700, 0);
    EXPECT_TRUE(rc == ERR_PATH_NOT_FOUND || rc == ERR_FILE_NOT_FOUND) << rc;
}

TEST_F(DirTest, OpenAndFilterSplit) {
    std::string const strDir = mkdir("d");
    std::string const strDirSlash = strDir + kSlash;

    struct Case {
        std::string strPath;
        RTDIRFILTER enmFilter;
        bool fEndsWithSlash;
        const char *pszFilter; // null: no filter
        PFNRTDIRFILTER pfnMatch;
    };
    const Case aCases[] = {
        {strDir, RTDIRFILTER_NONE, false, nullptr, nullptr},
        {strDirSlash, RTDIRFILTER_NONE, true, nullptr, nullptr},
        {strDirSlash + "*.txt", RTDIRFILTER_WINNT, true, "*.txt", rtDirFilterMatchWild},
        {strDirSlash + "Exact.Name", RTDIRFILTER_WINNT, true, "Exact.Name", rtDirFilterMatchExact},
        {strDirSlash + "*", RTDIRFILTER_WINNT, true, "*", nullptr},
        {strDirSlash, RTDIRFILTER_WINNT, true, nullptr, nullptr},
        // Kind "none" leaves the final component in the path.
        {strDirSlash + "." + kSlash, RTDIRFILTER_NONE, true, nullptr, nullptr},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strPath);
        RTDIR hDir = NIL_RTDIR;
        ASSERT_EQ(RTDirOpenFiltered(&hDir, c.strPath.c_str(), c.enmFilter, 0), 0);
        ASSERT_TRUE(RTDirIsValid(hDir));
        EXPECT_STREQ(hDir->path, strDirSlash.c_str());
        EXPECT_EQ(hDir->pathLength, strDirSlash.size());
        EXPECT_EQ(hDir->endsWithSlash, c.fEndsWithSlash);
        EXPECT_NE(hDir->hNative, RTDIR_NATIVE_INVALID);
        EXPECT_FALSE(hDir->objectDirectory);
        EXPECT_EQ(hDir->enumBuffer, nullptr);
        if (c.pszFilter) {
            EXPECT_EQ(hDir->filterKind, RTDIRFILTER_WINNT);
            EXPECT_STREQ(hDir->filterText, c.pszFilter);
            EXPECT_EQ(hDir->filterMatch, c.pfnMatch);
#ifdef _WIN32
            ASSERT_NE(hDir->nativeFilter.Buffer, nullptr);
            EXPECT_EQ(std::wstring((const wchar_t *)hDir->nativeFilter.Buffer, hDir->nativeFilter.Length / 2),
                      widen(c.pszFilter));
#endif
        } else {
            EXPECT_EQ(hDir->filterKind, RTDIRFILTER_NONE);
            EXPECT_EQ(hDir->filterText, nullptr);
            EXPECT_EQ(hDir->filterMatch, nullptr);
        }
        EXPECT_EQ(RTDirClose(hDir), 0);
    }

    RTDIR hDir = NIL_RTDIR;
    ASSERT_EQ(RTDirOpenFiltered(&hDir, (strDirSlash + "*.txt").c_str(), RTDIRFILTER_WINNT, 0), 0);
    EXPECT_EQ(std::vector<RTUNICP>(hDir->filterCodePoints, hDir->filterCodePoints + hDir->filterCodePointCount + 1),
              (std::vector<RTUNICP>{'*', '.', 'T', 'X', 'T', 0}));
    EXPECT_TRUE(hDir->filterMatch(hDir, "readme.TXT"));
    EXPECT_FALSE(hDir->filterMatch(hDir, "readme.txt.bak"));
    EXPECT_EQ(RTDirClose(hDir), 0);
}

TEST_F(DirTest, OpenPathAsGiven) {
    std::string const strDir = mkdir("asis");
    struct Case {
        std::string strPath;
        RTDIRFILTER enmFilter;
        std::string strExpect;
        bool fEndsWithSlash;
    };
    const Case aCases[] = {
        {strDir, RTDIRFILTER_NONE, strDir + kSlash, false},
        {strDir + kSlash + kSlash, RTDIRFILTER_NONE, strDir + kSlash, true},
        {strDir + kSlash + "*.x", RTDIRFILTER_WINNT, strDir + kSlash, true},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strPath);
        RTDIR hDir = NIL_RTDIR;
        ASSERT_EQ(RTDirOpenFiltered(&hDir, c.strPath.c_str(), c.enmFilter, RTDIR_F_NO_ABS_PATH), 0);
        EXPECT_STREQ(hDir->path, c.strExpect.c_str());
        EXPECT_EQ(hDir->endsWithSlash, c.fEndsWithSlash);
        EXPECT_EQ(hDir->openFlags, RTDIR_F_NO_ABS_PATH);
        EXPECT_EQ(RTDirClose(hDir), 0);
    }

    // A path that is nothing but the filter names the current directory.
    RTDIR hDir = NIL_RTDIR;
    ASSERT_EQ(RTDirOpenFiltered(&hDir, "*.x", RTDIRFILTER_WINNT, RTDIR_F_NO_ABS_PATH), 0);
    EXPECT_EQ(std::string(hDir->path), std::string(".") + kSlash);
    EXPECT_STREQ(hDir->filterText, "*.x");
    EXPECT_EQ(RTDirClose(hDir), 0);
    ASSERT_EQ(RTDirOpenFiltered(&hDir, "*.x", RTDIRFILTER_WINNT, 0), 0);
    char szCwd[1024];
    ASSERT_EQ(RTPathGetCurrent(szCwd, sizeof(szCwd)), 0);
    std::string strCwd = szCwd;
    if (strCwd.back() != kSlash)
        strCwd += kSlash;
    EXPECT_STREQ(hDir->path, strCwd.c_str());
    EXPECT_EQ(RTDirClose(hDir), 0);
}

TEST_F(DirTest, OpenFailures) {
    std::string const strDir = mkdir("o");
    std::string const strFile = mkfile("f");
    RTDIR hDir = (RTDIR)(uintptr_t)0x1234;
    std::string const strBadFilter = strDir + kSlash + "a\xff";
    struct Case {
        const char *pszWhat;
        RTDIR *phDir;
        const char *pszPath;
        uint32_t enmFilter;
        uint32_t fFlags;
        int rc;
    };
    const Case aCases[] = {
        {"null handle pointer", nullptr, strDir.c_str(), RTDIRFILTER_NONE, 0, ERR_INVALID_POINTER},
        {"null path", &hDir, nullptr, RTDIRFILTER_NONE, 0, ERR_INVALID_POINTER},
        {"unix filter", &hDir, strDir.c_str(), RTDIRFILTER_UNIX, 0, ERR_NOT_IMPLEMENTED},
        {"unix upcased filter", &hDir, strDir.c_str(), RTDIRFILTER_UNIX_UPCASED, 0, ERR_NOT_IMPLEMENTED},
        {"filter kind 0", &hDir, strDir.c_str(), RTDIRFILTER_INVALID, 0, ERR_INVALID_PARAMETER},
        {"filter kind 5", &hDir, strDir.c_str(), 5, 0, ERR_INVALID_PARAMETER},
        {"flags 16", &hDir, strDir.c_str(), RTDIRFILTER_NONE, 0x10, ERR_INVALID_FLAGS},
        {"bad filter text", &hDir, strBadFilter.c_str(), RTDIRFILTER_WINNT, 0, ERR_INVALID_UTF8_ENCODING},
    };
    size_t const cBefore = RTMemTestOutstanding();
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(RTDirOpenFiltered(c.phDir, c.pszPath, (RTDIRFILTER)c.enmFilter, c.fFlags), c.rc);
        EXPECT_EQ(hDir, (RTDIR)(uintptr_t)0x1234);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }
    int rc = RTDirOpen(&hDir, sub("missing").c_str());
    EXPECT_TRUE(rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND) << rc;
    rc = RTDirOpen(&hDir, strFile.c_str());
    EXPECT_TRUE(RT_FAILURE(rc)) << rc;
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);

    // Every allocation of an open fails in turn without leaking.
    std::string const strFiltered = strDir + kSlash + "*.txt";
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        RTMemTestFailNth(n);
        rc = RTDirOpenFiltered(&hDir, strFiltered.c_str(), RTDIRFILTER_WINNT, 0);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(RTDirClose(hDir), 0);
            EXPECT_EQ(RTMemTestOutstanding(), cBefore);
            break;
        }
        EXPECT_TRUE(rc == ERR_NO_MEMORY || rc == ERR_NO_UTF16_MEMORY || rc == ERR_NO_STR_MEMORY ||
                    rc == ERR_NO_TMP_MEMORY)
            << rc;
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        ASSERT_LT(n, 30u);
    }
}

TEST(Dir, CloseAndValidity) {
    EXPECT_EQ(RTDirClose(NIL_RTDIR), ERR_INVALID_PARAMETER);
    EXPECT_FALSE(RTDirIsValid(NIL_RTDIR));
    DirHandle Fake{};
    Fake.magic = RTDIR_MAGIC_DEAD;
    EXPECT_FALSE(RTDirIsValid(&Fake));
    EXPECT_EQ(RTDirClose(&Fake), ERR_INVALID_PARAMETER);
    EXPECT_FALSE(RTDirIsValid((RTDIR)(uintptr_t)0x800));
}

TEST_F(DirTest, SymbolicLinks) {
    std::string const strTarget = mkdir("target");
    std::string const strLink = sub("link");
#ifdef _WIN32
    if (!CreateSymbolicLinkW(widen(strLink).c_str(), widen(strTarget).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2))
        GTEST_SKIP() << "directory links cannot be made here (" << GetLastError() << ")";
    m_vecDirs.push_back(strLink); // a directory link goes with RemoveDirectoryW, before its target
    // Some emulations make the link but cannot resolve it themselves.
    if (GetFileAttributesW(widen(strLink + kSlash).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the platform does not follow its own directory link (" << GetLastError() << ")";
#else
    ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
    struct Unlink {
        std::string str;
        ~Unlink() { unlink(str.c_str()); }
    } LinkRemover{strLink};
#endif
    RTDIR hDir = NIL_RTDIR;
    EXPECT_EQ(RTDirOpenFiltered(&hDir, strLink.c_str(), RTDIRFILTER_NONE, RTDIR_F_NO_SYMLINKS), ERR_IS_A_SYMLINK);
    ASSERT_EQ(RTDirOpenFiltered(&hDir, (strLink + kSlash).c_str(), RTDIRFILTER_NONE, RTDIR_F_NO_SYMLINKS), 0);
    EXPECT_EQ(RTDirClose(hDir), 0);
    ASSERT_EQ(RTDirOpenFiltered(&hDir, strLink.c_str(), RTDIRFILTER_NONE, 0), 0);
    EXPECT_EQ(RTDirClose(hDir), 0);
    // A plain directory opens either way.
    ASSERT_EQ(RTDirOpenFiltered(&hDir, strTarget.c_str(), RTDIRFILTER_NONE, RTDIR_F_NO_SYMLINKS), 0);
    EXPECT_EQ(RTDirClose(hDir), 0);
    EXPECT_TRUE(RTDirExists(strLink.c_str()));
}
