// RTPathAbsEx and its wrappers, with explicit bases (both styles) and the current directory.
#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/path.h>
#include <olma/string.h>
#include <string>
#include "common/path/internal-path.h"

namespace {

constexpr uint32_t DOS = PATH_STYLE_DOS, UNIX = PATH_STYLE_UNIX, WB = PATHABS_WITHIN_BASE, WC = PATHABS_WITHIN_CWD,
                   TS = PATHABS_TRAILING_SLASH;

struct AbsCase {
    const char *pszBase;
    const char *pszPath;
    uint32_t fFlags;
    size_t cb;
    int rc;
    const char *pszExpect; // on success
    size_t cbOut;          // *pcb afterwards
};

void checkAbsCases(const AbsCase *paCases, size_t cCases) {
    for (size_t i = 0; i < cCases; i++) {
        const AbsCase &c = paCases[i];
        SCOPED_TRACE(testing::Message() << "base '" << (c.pszBase ? c.pszBase : "<null>") << "' path '" << c.pszPath
                                        << "' flags " << std::hex << c.fFlags << std::dec << " cb " << c.cb);
        std::string strBuf(c.cb + 16, '\x7f');
        size_t cb = c.cb;
        EXPECT_EQ(RTPathAbsEx(c.pszBase, c.pszPath, c.fFlags, &strBuf[0], &cb), c.rc);
        EXPECT_EQ(cb, c.cbOut);
        if (c.rc == 0)
            EXPECT_STREQ(strBuf.c_str(), c.pszExpect);
        // Nothing is written past the buffer.
        EXPECT_EQ(strBuf.substr(c.cb), std::string(16, '\x7f'));
    }
}

TEST(PathAbs, DosWithoutCurrentDirectory) {
    const AbsCase aCases[] = {
        {nullptr, "C:\\a\\.\\b\\..\\c", DOS, 64, 0, "C:\\a\\c", 6},
        {nullptr, "c:\\x", DOS, 64, 0, "C:\\x", 4},
        {nullptr, "c:\\a\\..\\x", DOS, 64, 0, "C:\\x", 4},
        {nullptr, "c:/a//b/", DOS, 64, 0, "C:\\a\\b\\", 7},
        {nullptr, "C:\\a\\", DOS, 64, 0, "C:\\a\\", 5},
        {nullptr, "C:\\a", DOS | TS, 64, 0, "C:\\a\\", 5},
        {nullptr, "C:\\", DOS | TS, 64, 0, "C:\\", 3},
        {nullptr, "C:\\.", DOS | TS, 64, 0, "C:\\", 3},
        {nullptr, "C:\\a\\..", DOS | TS, 64, 0, "C:\\", 3},
        {nullptr, "C:\\..\\..", DOS, 64, 0, "C:\\", 3},
        {nullptr, "C:\\a\\..\\..\\b", DOS, 64, 0, "C:\\b", 4},
        {nullptr, "\\\\srv\\share\\..\\x", DOS, 64, 0, "\\\\srv\\share\\x", 13},
        {nullptr, "//srv/share/./d/../..", DOS, 64, 0, "\\\\srv\\share", 11},
        {nullptr, "\\\\srv\\..\\x", DOS, 64, 0, "\\\\srv\\..\\x", 10}, // ".." is the share here
        {nullptr, "\\\\.\\pipe\\..\\x", DOS, 64, 0, "\\\\.\\x", 5},    // no share to protect
        {nullptr, "\\\\srv", DOS, 64, 0, "\\\\srv", 5},
        {nullptr, "\\\\?\\C:\\x\\.\\y", DOS, 64, 0, "\\\\?\\C:\\x\\y", 10},
        // Buffer sizes: *pcb gets the size needed, terminator included.
        {nullptr, "C:\\a\\b", DOS, 6, ERR_BUFFER_OVERFLOW, nullptr, 7},
        {nullptr, "C:\\a\\b", DOS, 7, 0, "C:\\a\\b", 6},
        {nullptr, "C:\\a\\b", DOS, 0, ERR_BUFFER_OVERFLOW, nullptr, 7},
        {nullptr, "C:\\a\\..\\b", DOS, 4, ERR_BUFFER_OVERFLOW, nullptr, 5},
    };
    checkAbsCases(aCases, RT_ELEMENTS(aCases));
}

TEST(PathAbs, DosAgainstBase) {
    const AbsCase aCases[] = {
        {"C:\\base\\dir", "..\\..\\..\\x", DOS, 64, 0, "C:\\x", 4},
        {"C:\\base\\dir", "..\\..\\..\\x", DOS | WB, 64, 0, "C:\\base\\dir\\x", 13},
        {"C:\\base\\dir", "..\\..\\..\\x", DOS | WC, 64, 0, "C:\\x", 4}, // WITHIN_CWD is for the cwd only
        {"C:\\w\\v", "a\\..\\..\\b", DOS, 64, 0, "C:\\w\\b", 6},
        {"C:\\w\\v", "a\\..\\..\\b", DOS | WB, 64, 0, "C:\\w\\v\\b", 8},
        {"c:\\w", "x", DOS, 64, 0, "C:\\w\\x", 6},
        {"C:\\w", "x\\", DOS, 64, 0, "C:\\w\\x\\", 7},
        {"C:\\w", "x", DOS | TS, 64, 0, "C:\\w\\x\\", 7},
        {"C:\\w", ".", DOS, 64, 0, "C:\\w", 4},
        {"C:\\w", ".\\", DOS, 64, 0, "C:\\w\\", 5},
        {"C:\\w", ".", DOS | TS, 64, 0, "C:\\w\\", 5},
        {"C:\\w", "..", DOS, 64, 0, "C:\\", 3},
        {"C:\\w\\", "x", DOS, 64, 0, "C:\\w\\x", 6},
        {"C:\\", "x", DOS, 64, 0, "C:\\x", 4},
        {"C:\\", "..\\x", DOS, 64, 0, "C:\\x", 4},
        {"C:/w//v", "x", DOS, 64, 0, "C:\\w\\v\\x", 8},     // normalised first
        {"C:\\w\\.\\v", "x", DOS, 64, 0, "C:\\w\\v\\x", 8}, // normalised first
        {"C:\\w\\..\\v", "x", DOS, 64, 0, "C:\\v\\x", 6},   // normalised first
        {"\\\\srv\\share\\d", "..\\..\\x", DOS, 64, 0, "\\\\srv\\share\\x", 13},
        {"\\\\srv\\share", "x", DOS, 64, 0, "\\\\srv\\share\\x", 13},
        {"\\\\srv", "x", DOS, 64, ERR_PATH_BASE_NOT_ROOTED, nullptr, 64},
        {"\\\\srv\\", "x", DOS, 64, 0, "\\\\srv\\x", 7},
        // Drive-relative paths on the base's drive use the base.
        {"C:\\w", "C:x", DOS, 64, 0, "C:\\w\\x", 6},
        {"c:\\w", "C:x\\..\\..\\y", DOS, 64, 0, "C:\\y", 4},
        {"C:\\w", "c:", DOS, 64, 0, "C:\\w", 4},
        // Rooted paths take the volume of the base.
        {"D:\\w", "\\dir", DOS, 64, 0, "D:\\dir", 6},
        {"d:", "\\dir", DOS, 64, 0, "D:\\dir", 6},
        {"D:\\w", "\\dir\\..\\..\\x", DOS | TS, 64, 0, "D:\\x\\", 5},
        {"D:\\w", "\\", DOS | TS, 64, 0, "D:\\", 3},
        {"\\\\srv\\share\\x", "\\dir", DOS, 64, 0, "\\\\srv\\share\\dir", 15},
        {"//srv//share/x", "/dir", DOS, 64, 0, "\\\\srv\\share\\dir", 15},
        {"\\\\srv", "\\dir", DOS, 64, 0, "\\\\srv\\dir", 9},
        {"\\\\srv\\", "\\dir", DOS, 64, 0, "\\\\srv\\dir", 9},
        {"\\\\.\\pipe", "\\dir", DOS, 64, 0, "\\\\.\\dir", 7},
        // Sizes: base C:\base with x\y needs 12 bytes.
        {"C:\\base", "x\\y", DOS, 5, ERR_BUFFER_OVERFLOW, nullptr, 12},
        {"C:\\base", "x\\y", DOS, 11, ERR_BUFFER_OVERFLOW, nullptr, 12},
        {"C:\\base", "x\\y", DOS, 12, 0, "C:\\base\\x\\y", 11},
        {"C:\\base", ".", DOS, 3, ERR_BUFFER_OVERFLOW, nullptr, 8},
        {"D:\\w", "\\dir", DOS, 2, ERR_BUFFER_OVERFLOW, nullptr, 7},
        {"D:\\w", "\\dir", DOS, 3, ERR_BUFFER_OVERFLOW, nullptr, 7},
        {"D:\\w", "\\dir", DOS, 7, 0, "D:\\dir", 6},
        // A base that first has to be made absolute: the needed size of that plus the path.
        {"C:\\w\\..\\v", "x", DOS, 3, ERR_BUFFER_OVERFLOW, nullptr, 8},
    };
    checkAbsCases(aCases, RT_ELEMENTS(aCases));
}

TEST(PathAbs, UnixStyle) {
    const AbsCase aCases[] = {
        {nullptr, "/a/./b/../c", UNIX, 64, 0, "/a/c", 4},
        {nullptr, "//a//b/", UNIX, 64, 0, "/a/b/", 5},
        {nullptr, "/..", UNIX, 64, 0, "/", 1},
        {nullptr, "/a", UNIX | TS, 64, 0, "/a/", 3},
        {nullptr, "/", UNIX | TS, 64, 0, "/", 1},
        {nullptr, "/a\\b", UNIX, 64, 0, "/a\\b", 4},
        {"/base/dir", "../x", UNIX, 64, 0, "/base/x", 7},
        {"/base/dir", "../../../x", UNIX, 64, 0, "/x", 2},
        {"/base/dir", "../../../x", UNIX | WB, 64, 0, "/base/dir/x", 11},
        {"/b", "C:\\x", UNIX, 64, 0, "/b/C:\\x", 7},
        {"/b", "\\\\srv\\x", UNIX, 64, 0, "/b/\\\\srv\\x", 10},
        {"/b//c/.", "d", UNIX, 64, 0, "/b/c/d", 6},
        {"/b", "d", UNIX, 3, ERR_BUFFER_OVERFLOW, nullptr, 5},
        {"/b", "d", UNIX, 4, ERR_BUFFER_OVERFLOW, nullptr, 5},
    };
    checkAbsCases(aCases, RT_ELEMENTS(aCases));
}

TEST(PathAbs, BadInput) {
    char szBuf[64];
    size_t cb = sizeof(szBuf);
    EXPECT_EQ(RTPathAbsEx(nullptr, nullptr, 0, szBuf, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, (const char *)0x20, 0, szBuf, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx((const char *)(uintptr_t)-8, "a", 0, szBuf, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, "/a", 0, nullptr, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, "/a", 0, szBuf, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, "", 0, szBuf, &cb), ERR_PATH_ZERO_LENGTH);
    EXPECT_EQ(RTPathAbsEx(nullptr, "", 0x30, szBuf, &cb), ERR_PATH_ZERO_LENGTH);
    const uint32_t afBad[] = {3, 0x10, 0x20, 0x80000, 0x8000, 0x70003, 0x100000};
    for (uint32_t fFlags : afBad) {
        SCOPED_TRACE(fFlags);
        cb = sizeof(szBuf);
        EXPECT_EQ(RTPathAbsEx(nullptr, "/a", fFlags, szBuf, &cb), ERR_INVALID_FLAGS);
        EXPECT_EQ(cb, sizeof(szBuf));
    }
    // Too long for the parser, and a base that is too long.
    std::string strLong = "/" + std::string(65535, 'a');
    cb = sizeof(szBuf);
    EXPECT_EQ(RTPathAbsEx(nullptr, strLong.c_str(), UNIX, szBuf, &cb), ERR_FILENAME_TOO_LONG);
    EXPECT_EQ(RTPathAbsEx(strLong.c_str(), "x", UNIX, szBuf, &cb), ERR_FILENAME_TOO_LONG);
    EXPECT_EQ(RTPathAbsEx(nullptr, "C:\\\\..\\..\\.\\.", DOS, szBuf, &cb), 0);
    EXPECT_STREQ(szBuf, "C:\\");
}

/** Paths deeper than the stack record go through temporary memory. */
TEST(PathAbs, DeepPaths) {
    std::string strPath = "C:";
    std::string strExpect = "C:";
    for (int i = 0; i < 400; i++) {
        strPath += "\\d" + std::to_string(i) + "\\.";
        strExpect += "\\d" + std::to_string(i);
    }
    std::string strBase = strExpect;
    std::string strRel;
    for (int i = 0; i < 300; i++)
        strRel += "..\\";
    strRel += "x";
    std::string strRelExpect = "C:\\";
    for (int i = 0; i < 100; i++)
        strRelExpect += "d" + std::to_string(i) + "\\";
    strRelExpect += "x";

    struct Case {
        const char *pszBase;
        const char *pszPath;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {nullptr, strPath.c_str(), strExpect.c_str()},
        {strBase.c_str(), strRel.c_str(), strRelExpect.c_str()},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszBase ? "with base" : "no base");
        std::string strBuf(70000, '\0');
        size_t cb = strBuf.size();
        ASSERT_EQ(RTPathAbsEx(c.pszBase, c.pszPath, DOS, &strBuf[0], &cb), 0);
        EXPECT_EQ(cb, strlen(c.pszExpect));
        EXPECT_STREQ(strBuf.c_str(), c.pszExpect);

        // Each allocation fails in turn: the right status, nothing leaked.
        const size_t cBefore = RTMemTestOutstanding();
        for (uint32_t n = 1;; n++) {
            SCOPED_TRACE(n);
            RTMemTestFailNth(n);
            cb = strBuf.size();
            int rc = RTPathAbsEx(c.pszBase, c.pszPath, DOS, &strBuf[0], &cb);
            RTMemTestFailNth(0);
            EXPECT_EQ(RTMemTestOutstanding(), cBefore);
            if (rc == 0)
                break;
            EXPECT_EQ(rc, ERR_NO_TMP_MEMORY);
            ASSERT_LT(n, 10u);
        }
    }
}

TEST(PathAbs, Dup) {
    const size_t cBefore = RTMemTestOutstanding();
    char *psz = RTPathAbsExDup("C:\\w", "x\\..\\y", DOS);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "C:\\w\\y");
    RTStrFree(psz);

    // Longer than the first buffer: the retry gets the whole result.
    std::string strLong = "C:";
    for (int i = 0; i < 700; i++)
        strLong += "\\abcd";
    psz = RTPathAbsExDup(nullptr, strLong.c_str(), DOS);
    ASSERT_NE(psz, nullptr);
    EXPECT_EQ(std::string(psz), strLong);
    RTStrFree(psz);

    EXPECT_EQ(RTPathAbsExDup(nullptr, "", DOS), nullptr);
    EXPECT_EQ(RTPathAbsExDup("\\\\srv", "x", DOS), nullptr);
    EXPECT_EQ(RTPathAbsExDup(nullptr, "C:\\x", 3), nullptr);

    char *pszStatus = (char *)1;
    EXPECT_EQ(rtPathAbsExDup("\\\\srv", "x", DOS, &pszStatus), ERR_PATH_BASE_NOT_ROOTED);
    EXPECT_EQ(pszStatus, nullptr);

    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        RTMemTestFailNth(n);
        char *pszAbs;
        int rc = rtPathAbsExDup(nullptr, strLong.c_str(), DOS, &pszAbs);
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(std::string(pszAbs), strLong);
            RTStrFree(pszAbs);
            break;
        }
        EXPECT_TRUE(rc == ERR_NO_STR_MEMORY || rc == ERR_NO_TMP_MEMORY) << rc;
        EXPECT_EQ(pszAbs, nullptr);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        ASSERT_LT(n, 10u);
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

/** Relative paths against the process's current directory, in the host style. */
TEST(PathAbs, CurrentDirectory) {
    char szCwd[4100];
    ASSERT_EQ(RTPathGetCurrent(szCwd, sizeof(szCwd)), 0);
    const std::string strCwd = szCwd;
    const char chSep = PATH_STYLE == PATH_STYLE_DOS ? '\\' : '/';
    const std::string strCwdSep = strCwd.back() == chSep ? strCwd : strCwd + chSep;

    char szBuf[4200];
    ASSERT_EQ(RTPathAbs("x", szBuf, sizeof(szBuf)), 0);
    EXPECT_EQ(std::string(szBuf), strCwdSep + "x");

    size_t cb = sizeof(szBuf);
    ASSERT_EQ(RTPathAbsEx(nullptr, "a/./b/..", PATH_STYLE_HOST | TS, szBuf, &cb), 0);
    EXPECT_EQ(std::string(szBuf), strCwdSep + "a" + chSep);
    EXPECT_EQ(cb, strCwdSep.size() + 2);

    // An empty base means the current directory as well.
    cb = sizeof(szBuf);
    ASSERT_EQ(RTPathAbsEx("", "y", PATH_STYLE_HOST, szBuf, &cb), 0);
    EXPECT_EQ(std::string(szBuf), strCwdSep + "y");

    // Climbing: the root stops it, and WITHIN_CWD keeps it inside the directory.
    std::string strUp;
    for (int i = 0; i < 200; i++)
        strUp += "../";
    cb = sizeof(szBuf);
    ASSERT_EQ(RTPathAbsEx(nullptr, (strUp + "z").c_str(), PATH_STYLE_HOST | WC, szBuf, &cb), 0);
    EXPECT_EQ(std::string(szBuf), strCwdSep + "z");
    cb = sizeof(szBuf);
    ASSERT_EQ(RTPathAbsEx(nullptr, (strUp + "z").c_str(), PATH_STYLE_HOST | WB, szBuf, &cb), 0);
    EXPECT_EQ(strlen(szBuf), cb);
    EXPECT_LT(cb, strCwdSep.size() + 1);

    // Too small: the current directory itself does not fit, the size needed is exact.
    for (size_t cbSmall : {(size_t)0, (size_t)1, strCwd.size(), strCwdSep.size() + 1}) {
        SCOPED_TRACE(cbSmall);
        cb = cbSmall;
        EXPECT_EQ(RTPathAbsEx(nullptr, "x", PATH_STYLE_HOST, szBuf, &cb), ERR_BUFFER_OVERFLOW);
        EXPECT_EQ(cb, strCwdSep.size() + 2);
    }
    // The temporary buffer for a current directory that does not fit cannot be had.
    RTMemTestFailNth(1);
    cb = 4;
    EXPECT_EQ(RTPathAbsEx(nullptr, "x", PATH_STYLE_HOST, szBuf, &cb), ERR_BUFFER_OVERFLOW);
    RTMemTestFailNth(0);
    EXPECT_EQ(cb, 1 + 65536 + 2);
}

} // namespace
