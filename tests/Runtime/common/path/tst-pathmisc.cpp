// Appending, joining, names, suffixes, the simple splitter, the drive of the current
// directory and the executable's directory.
#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/path.h>
#include <olma/string.h>
#include <string>
#include "common/path/internal-path.h"

namespace {

TEST(PathAppend, Table) {
    struct Case {
        const char *pszPath;
        const char *pszAppend;
        size_t cchAppendMax;
        uint32_t fFlags;
        const char *pszExpect;
    };
    const size_t M = RTSTR_MAX;
    const Case aCases[] = {
        {"C:", "b", M, PATH_STYLE_DOS, "C:b"},
        {"a\\\\\\", "\\b", M, PATH_STYLE_DOS, "a\\b"},
        {"a\\\\\\", "b", M, PATH_STYLE_DOS, "a\\b"},
        {"a", "//b", M, PATH_STYLE_DOS, "a/b"},
        {"a", "b", M, PATH_STYLE_DOS, "a\\b"},
        {"a/", "b", M, PATH_STYLE_DOS, "a/b"},
        {"", "\\\\b", M, PATH_STYLE_DOS, "\\\\b"},
        {"a", "", M, PATH_STYLE_DOS, "a"},
        {"a", nullptr, M, PATH_STYLE_DOS, "a"},
        {"a", "bcd", 2, PATH_STYLE_DOS, "a\\bc"},
        {"a", "bcd", 0, PATH_STYLE_DOS, "a"},
        {"C:\\", "\\\\b", M, PATH_STYLE_DOS, "C:\\b"},
        {"C:\\\\", "b", M, PATH_STYLE_DOS, "C:\\b"},
        {"\\", "b", M, PATH_STYLE_DOS, "\\b"},
        {"\\\\", "b", M, PATH_STYLE_DOS, "\\\\b"},
        {"\\\\srv\\share\\\\", "b", M, PATH_STYLE_DOS, "\\\\srv\\share\\b"},
        {"\\\\srv\\", "\\b", M, PATH_STYLE_DOS, "\\\\srv\\b"},
        {"C:\\x", "\\", M, PATH_STYLE_DOS, "C:\\x\\"},
        {"C:\\x\\\\", "\\\\", M, PATH_STYLE_DOS, "C:\\x\\"},
        {"a", "b", M, PATH_STYLE_UNIX, "a/b"},
        {"a\\", "b", M, PATH_STYLE_UNIX, "a\\/b"},
        {"a//", "//b", M, PATH_STYLE_UNIX, "a/b"},
        {"a//", "b", M, PATH_STYLE_UNIX, "a/b"},
        {"a", "//b", M, PATH_STYLE_UNIX, "a/b"},
        {"//", "/b", M, PATH_STYLE_UNIX, "/b"},
        {"C:", "b", M, PATH_STYLE_UNIX, "C:/b"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "'" << c.pszPath << "' + '" << (c.pszAppend ? c.pszAppend : "<null>")
                                        << "' style " << c.fFlags);
        char szBuf[64];
        strcpy(szBuf, c.pszPath);
        ASSERT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), c.pszAppend, c.cchAppendMax, c.fFlags), 0);
        EXPECT_STREQ(szBuf, c.pszExpect);
        // A buffer that holds exactly the result works, one byte less leaves it alone.
        const size_t cbExact = strlen(c.pszExpect) + 1;
        strcpy(szBuf, c.pszPath);
        if (cbExact > strlen(c.pszPath) + 1) {
            EXPECT_EQ(RTPathAppendEx(szBuf, cbExact - 1, c.pszAppend, c.cchAppendMax, c.fFlags), ERR_BUFFER_OVERFLOW);
            EXPECT_STREQ(szBuf, c.pszPath);
        }
        EXPECT_EQ(RTPathAppendEx(szBuf, cbExact > strlen(c.pszPath) + 1 ? cbExact : strlen(c.pszPath) + 1, c.pszAppend,
                                 c.cchAppendMax, c.fFlags),
                  0);
        EXPECT_STREQ(szBuf, c.pszExpect);
    }
}

TEST(PathAppend, BadInput) {
    char szBuf[8] = "abcdefg";
    EXPECT_EQ(RTPathAppendEx(szBuf, 7, "x", RTSTR_MAX, PATH_STYLE_DOS), ERR_INVALID_PARAMETER); // unterminated
    EXPECT_EQ(RTPathAppendEx(szBuf, 0, "x", RTSTR_MAX, PATH_STYLE_DOS), ERR_INVALID_PARAMETER);
    EXPECT_STREQ(szBuf, "abcdefg");
    EXPECT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), "x", RTSTR_MAX, 3), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), "x", RTSTR_MAX, 0x10), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathAppendEx(nullptr, sizeof(szBuf), "x", RTSTR_MAX, 0), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), (const char *)0x30, RTSTR_MAX, 0), ERR_INVALID_POINTER);
    szBuf[0] = '\0';
    EXPECT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), "12345678", RTSTR_MAX, 0), ERR_BUFFER_OVERFLOW);
    EXPECT_STREQ(szBuf, "");
    EXPECT_EQ(RTPathAppendEx(szBuf, sizeof(szBuf), "12345678", 7, 0), 0);
    EXPECT_STREQ(szBuf, "1234567");
}

TEST(PathAppend, HostStyleAndJoin) {
    char szBuf[16] = "a";
    ASSERT_EQ(RTPathAppend(szBuf, sizeof(szBuf), "b"), 0);
    EXPECT_STREQ(szBuf, PATH_STYLE == PATH_STYLE_DOS ? "a\\b" : "a/b");

    ASSERT_EQ(RTPathJoin(szBuf, sizeof(szBuf), "dir/", "/name"), 0);
    EXPECT_STREQ(szBuf, "dir/name");
    EXPECT_EQ(RTPathJoin(szBuf, 4, "dir", "x"), ERR_BUFFER_OVERFLOW); // "dir" plus separator and x
    EXPECT_EQ(RTPathJoin(szBuf, 3, "dir", nullptr), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathJoin(szBuf, 4, "dir", nullptr), 0);
    EXPECT_STREQ(szBuf, "dir");

    const size_t cBefore = RTMemTestOutstanding();
    char *psz = RTPathJoinA("/tmp/x//", "//.custom");
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "/tmp/x/.custom");
    RTStrFree(psz);
    psz = RTPathJoinA("", "b");
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "b");
    RTStrFree(psz);
    EXPECT_EQ(RTPathJoinA(nullptr, "b"), nullptr);
    RTMemTestFailNth(1);
    EXPECT_EQ(RTPathJoinA("a", "b"), nullptr);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(PathNames, FilenameAndSuffix) {
    struct Case {
        const char *pszPath;
        uint32_t fStyle;
        int offName;   // -1: null
        int offSuffix; // -1: null
    };
    const Case aCases[] = {
        {"C:\\dir\\file.txt", PATH_STYLE_DOS, 7, 11},
        {"archive.tar.gz", PATH_STYLE_DOS, 0, 11},
        {"a.b", PATH_STYLE_DOS, 0, 1},
        {".profile", PATH_STYLE_DOS, 0, -1},
        {"dir\\.profile", PATH_STYLE_DOS, 4, 4},
        {"a.", PATH_STYLE_DOS, 0, -1},
        {"a.b\\c", PATH_STYLE_DOS, 4, -1},
        {"a.b/c", PATH_STYLE_DOS, 4, -1},
        {"x.y:z", PATH_STYLE_DOS, 4, -1},
        {"C:", PATH_STYLE_DOS, -1, -1},
        {"C:name", PATH_STYLE_DOS, 2, -1},
        {"dir\\", PATH_STYLE_DOS, -1, -1},
        {"", PATH_STYLE_DOS, -1, -1},
        {"a.b\\c", PATH_STYLE_UNIX, 0, 1},
        {"d/x.y:z", PATH_STYLE_UNIX, 2, 3},
        {"dir/", PATH_STYLE_UNIX, -1, -1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "'" << c.pszPath << "' style " << c.fStyle);
        const char *pszName = rtPathFilenameEx(c.pszPath, c.fStyle);
        EXPECT_EQ(pszName ? pszName - c.pszPath : -1, c.offName);
        const char *pszSuffix = rtPathSuffixEx(c.pszPath, c.fStyle);
        EXPECT_EQ(pszSuffix ? pszSuffix - c.pszPath : -1, c.offSuffix);
        if (c.fStyle == PATH_STYLE) {
            EXPECT_EQ(RTPathFilename(c.pszPath), pszName);
            EXPECT_EQ(RTPathSuffix(c.pszPath), pszSuffix);
        }
    }
}

TEST(PathNames, SlashesAndTrailingSeparator) {
    char szPath[] = "a/b\\c//";
    EXPECT_EQ(RTPathChangeToDosSlashes(szPath, true), szPath);
    EXPECT_STREQ(szPath, "a\\b\\c\\\\");

    struct Case {
        const char *pszPath;
        size_t cb;
        uint32_t fStyle;
        size_t cchRet;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"", 3, PATH_STYLE_DOS, 2, ".\\"}, {"", 2, PATH_STYLE_DOS, 0, ""},       {"a", 3, PATH_STYLE_DOS, 2, "a\\"},
        {"a", 2, PATH_STYLE_DOS, 0, "a"},  {"a/", 3, PATH_STYLE_DOS, 2, "a/"},   {"C:", 3, PATH_STYLE_DOS, 2, "C:"},
        {"", 3, PATH_STYLE_UNIX, 2, "./"}, {"C:", 4, PATH_STYLE_UNIX, 3, "C:/"}, {"a\\", 4, PATH_STYLE_UNIX, 3, "a\\/"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "'" << c.pszPath << "' cb " << c.cb << " style " << c.fStyle);
        char szBuf[16];
        memset(szBuf, 'x', sizeof(szBuf));
        strcpy(szBuf, c.pszPath);
        EXPECT_EQ(rtPathEnsureTrailingSeparatorEx(szBuf, c.cb, c.fStyle), c.cchRet);
        EXPECT_STREQ(szBuf, c.pszExpect);
        EXPECT_EQ(szBuf[c.cb], 'x');
    }
    EXPECT_EQ(RTPathEnsureTrailingSeparator(nullptr, 10), 0u);
    EXPECT_EQ(RTPathFilename((const char *)0x40), nullptr);
    EXPECT_EQ(RTPathSuffix(nullptr), nullptr);
    EXPECT_EQ(RTPathChangeToDosSlashes(nullptr, false), nullptr);
    char szUnterminated[2] = {'a', 'b'};
    EXPECT_EQ(RTPathEnsureTrailingSeparator(szUnterminated, sizeof(szUnterminated)), 0u);
}

TEST(PathNames, SplitSimple) {
    struct Case {
        const char *pszPath;
        size_t cchDir;
        ssize_t offName;
        ssize_t offSuffix;
    };
    const Case aCases[] = {
        {"C:\\dir\\file.exe", 6, 7, 11},
        {"C:\\file.exe", 3, 3, 7},
        {"C:file", 2, 2, -1},
        {"C:\\dir\\\\x", 6, 8, -1},
        {"C:\\dir\\", 6, -1, -1},
        {"C:\\", 3, -1, -1},
        {"\\\\srv\\share\\x.y", 11, 12, 13},
        {"//srv/share", 6, 6, -1},
        {"/usr/bin/prog", 8, 9, -1},
        {"/prog", 1, 1, -1},
        {"prog", 0, 0, -1},
        {"dir/.hidden", 3, 4, -1},
        {"dir/name.", 3, 4, -1},
        {"a.b/c", 3, 4, -1},
        {"", 0, -1, -1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszPath);
        size_t cchDir = 99;
        ssize_t offName = 99, offSuffix = 99;
        EXPECT_EQ(RTPathSplitSimple(c.pszPath, &cchDir, &offName, &offSuffix), strlen(c.pszPath));
        EXPECT_EQ(cchDir, c.cchDir);
        EXPECT_EQ(offName, c.offName);
        EXPECT_EQ(offSuffix, c.offSuffix);
    }
    EXPECT_EQ(RTPathSplitSimple("C:\\x", nullptr, nullptr, nullptr), 4u);
}

TEST(PathCurrentDrive, FromCurrentDirectory) {
    struct Case {
        const char *pszCwd;
        int rc;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"c:\\x", 0, "c:"},
        {"C:", 0, "C:"},
        {"\\\\srv\\share\\dir", 0, "\\\\srv\\share"},
        {"//srv//share/dir", 0, "//srv//share"},
        {"\\\\srv\\share", 0, "\\\\srv\\share"},
        {"\\\\srv", 0, "\\\\srv"},
        {"\\\\srv\\\\", 0, "\\\\srv"},
        {"\\x", ERR_INTERNAL_ERROR_4, nullptr},
        {"\\\\\\x", ERR_INTERNAL_ERROR_4, nullptr},
        {"/home/x", ERR_INTERNAL_ERROR_4, nullptr},
        {"", ERR_INTERNAL_ERROR_4, nullptr},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszCwd);
        char szBuf[32];
        strcpy(szBuf, c.pszCwd);
        EXPECT_EQ(rtPathCurrentToDrive(szBuf), c.rc);
        if (c.rc == 0)
            EXPECT_STREQ(szBuf, c.pszExpect);
    }
}

TEST(PathExecDir, RecordedPath) {
    // Nothing recorded yet in this test program.
    char szBuf[64];
    EXPECT_EQ(rtPathGetExecPath(nullptr, nullptr), nullptr);
    EXPECT_EQ(RTPathExecDir(szBuf, sizeof(szBuf)), ERR_WRONG_ORDER);

    std::string strTooLong(RTPATH_EXEC_PATH_MAX, 'a');
    EXPECT_EQ(rtPathSetExecPath(strTooLong.c_str()), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathExecDir(szBuf, sizeof(szBuf)), ERR_WRONG_ORDER);

    struct Case {
        const char *pszExec;
        const char *pszDir;
        size_t offName;
    };
    const Case aCases[] = {
        {"C:\\Program Files\\Tesk\\TeskStub.exe", "C:\\Program Files\\Tesk", 22},
        {"C:\\TeskStub.exe", "C:\\", 3},
        {"\\\\srv\\share\\TeskStub.exe", "\\\\srv\\share", 12},
        {"/opt/bin//prog", "/opt/bin", 10},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszExec);
        ASSERT_EQ(rtPathSetExecPath(c.pszExec), 0);
        size_t cchDir = 0, offName = 0;
        EXPECT_STREQ(rtPathGetExecPath(&cchDir, &offName), c.pszExec);
        EXPECT_EQ(cchDir, strlen(c.pszDir));
        EXPECT_EQ(offName, c.offName);
        memset(szBuf, 'x', sizeof(szBuf));
        ASSERT_EQ(RTPathExecDir(szBuf, strlen(c.pszDir) + 1), 0);
        EXPECT_STREQ(szBuf, c.pszDir);
        EXPECT_EQ(RTPathExecDir(szBuf, strlen(c.pszDir)), ERR_BUFFER_OVERFLOW);
    }
    EXPECT_EQ(RTPathExecDir(nullptr, 10), ERR_INVALID_POINTER);
    std::string strLongest(RTPATH_EXEC_PATH_MAX - 1, 'a');
    strLongest[10] = '/';
    ASSERT_EQ(rtPathSetExecPath(strLongest.c_str()), 0);
    ASSERT_EQ(RTPathExecDir(szBuf, sizeof(szBuf)), 0);
    EXPECT_EQ(std::string(szBuf), strLongest.substr(0, 10));
}

} // namespace
