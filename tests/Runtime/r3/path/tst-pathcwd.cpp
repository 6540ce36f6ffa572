// Current directory and renaming through the platform, in a scratch directory.
#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/path.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t TYPE_DIR = 0x4000;
constexpr uint32_t TYPE_FILE = 0x8000;

std::string u8(const fs::path &Path) {
    const auto str = Path.u8string();
    return std::string(str.begin(), str.end());
}

class PathPlatform : public testing::Test {
protected:
    fs::path m_SavedCwd;
    fs::path m_Dir;
    std::string m_strDir;

    void SetUp() override {
        m_SavedCwd = fs::current_path();
        std::random_device Rnd;
        m_Dir = fs::temp_directory_path() / ("olma-path-" + std::to_string(Rnd()));
        ASSERT_TRUE(fs::create_directory(m_Dir));
        // Canonical form, the way the platform reports it back as the current directory.
        fs::current_path(m_Dir);
        m_Dir = fs::current_path();
        fs::current_path(m_SavedCwd);
        m_strDir = u8(m_Dir);
    }
    void TearDown() override {
        fs::current_path(m_SavedCwd);
        std::error_code ec;
        fs::remove_all(m_Dir, ec);
    }
    std::string sub(const char *pszName) const { return u8(m_Dir / pszName); }
    void writeFile(const char *pszName, const char *pszContent) const {
        std::ofstream(m_Dir / pszName, std::ios::binary) << pszContent;
    }
    std::string readFile(const char *pszName) const {
        std::ifstream In(m_Dir / pszName, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    }
};

TEST_F(PathPlatform, CurrentDirectory) {
    ASSERT_EQ(RTPathSetCurrent(m_strDir.c_str()), 0);
    char szBuf[4200];
    ASSERT_EQ(RTPathGetCurrent(szBuf, sizeof(szBuf)), 0);
    EXPECT_EQ(std::string(szBuf), m_strDir);
    EXPECT_EQ(u8(fs::current_path()), m_strDir);

    // Exactly the length plus terminator fits; one byte less does not.
    EXPECT_EQ(RTPathGetCurrent(szBuf, m_strDir.size() + 1), 0);
    EXPECT_EQ(RTPathGetCurrent(szBuf, m_strDir.size()), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathGetCurrent(szBuf, 0), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathGetCurrent(nullptr, 10), ERR_INVALID_POINTER);

    // Relative changes, a trailing separator, and back.
    fs::create_directory(m_Dir / "sub");
    ASSERT_EQ(RTPathSetCurrent("sub/"), 0);
    EXPECT_EQ(u8(fs::current_path()), sub("sub"));
    ASSERT_EQ(RTPathSetCurrent(".."), 0);
    EXPECT_EQ(u8(fs::current_path()), m_strDir);
}

TEST_F(PathPlatform, SetCurrentErrors) {
    writeFile("file", "x");
    struct Case {
        const char *pszPath;
        int rc;
    };
    const std::string strMissing = sub("missing");
    const std::string strFile = sub("file");
    const Case aCases[] = {
        {nullptr, ERR_INVALID_POINTER},
        {(const char *)0x100, ERR_INVALID_POINTER},
        {"", ERR_INVALID_PARAMETER},
        {strMissing.c_str(), ERR_FILE_NOT_FOUND},
        {strFile.c_str(), ERR_NOT_A_DIRECTORY},
    };
    ASSERT_EQ(RTPathSetCurrent(m_strDir.c_str()), 0);
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        EXPECT_EQ(RTPathSetCurrent(c.pszPath), c.rc);
        EXPECT_EQ(u8(fs::current_path()), m_strDir);
    }
}

TEST_F(PathPlatform, Rename) {
    writeFile("a", "first");
    writeFile("b", "second");
    fs::create_directory(m_Dir / "d");
    const std::string a = sub("a"), b = sub("b"), c = sub("c"), d = sub("d"), e = sub("e"), missing = sub("missing");

    struct Case {
        const char *pszSrc;
        const char *pszDst;
        unsigned fMove;
        uint32_t fType;
        int rc;
    };
    const Case aCases[] = {
        {a.c_str(), b.c_str(), 0, TYPE_FILE, ERR_ALREADY_EXISTS},
        {a.c_str(), c.c_str(), 0, TYPE_DIR, ERR_NOT_A_DIRECTORY},
        {d.c_str(), e.c_str(), 0, TYPE_FILE, ERR_IS_A_DIRECTORY},
        {missing.c_str(), c.c_str(), 0, TYPE_FILE, ERR_FILE_NOT_FOUND},
        {missing.c_str(), c.c_str(), 0, 0, ERR_FILE_NOT_FOUND},
        {nullptr, c.c_str(), 0, 0, ERR_INVALID_POINTER},
        {a.c_str(), (const char *)0x10, 0, 0, ERR_INVALID_POINTER},
    };
    for (const Case &t : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&t - aCases));
        EXPECT_EQ(RTPathRename(t.pszSrc, t.pszDst, t.fMove, t.fType), t.rc);
    }
    // Nothing moved by the failures.
    EXPECT_EQ(readFile("a"), "first");
    EXPECT_EQ(readFile("b"), "second");
    EXPECT_FALSE(fs::exists(m_Dir / "c"));
    EXPECT_FALSE(fs::exists(m_Dir / "e"));

    ASSERT_EQ(RTPathRename(a.c_str(), c.c_str(), 0, TYPE_FILE), 0);
    EXPECT_FALSE(fs::exists(m_Dir / "a"));
    EXPECT_EQ(readFile("c"), "first");
    ASSERT_EQ(RTPathRename(c.c_str(), b.c_str(), RTPATHRENAME_FLAGS_REPLACE, 0), 0);
    EXPECT_EQ(readFile("b"), "first");
    ASSERT_EQ(RTPathRename(d.c_str(), e.c_str(), 0, TYPE_DIR), 0);
    EXPECT_TRUE(fs::is_directory(m_Dir / "e"));
}

TEST_F(PathPlatform, NativeForm) {
    ASSERT_EQ(RTPathSetCurrent(m_strDir.c_str()), 0);
    RTPATHNATIVECHAR *pNative = (RTPATHNATIVECHAR *)1;
    EXPECT_EQ(RTPathToNative(&pNative, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(pNative, nullptr);
    EXPECT_EQ(RTPathToNative(nullptr, "x"), ERR_INVALID_POINTER);
#if !defined(_WIN32)
    // Without native namespaces the native form is the absolute path.
    const size_t cBefore = RTMemTestOutstanding();
    ASSERT_EQ(RTPathToNative(&pNative, "x/./y/../z"), 0);
    EXPECT_EQ(std::string(pNative), m_strDir + "/x/z");
    RTPathNativeFree(pNative);
    ASSERT_EQ(RTPathToNative(&pNative, "/a//b/"), 0);
    EXPECT_STREQ(pNative, "/a/b/");
    RTPathNativeFree(pNative);
    EXPECT_EQ(RTPathToNative(&pNative, ""), ERR_PATH_ZERO_LENGTH);
    EXPECT_EQ(pNative, nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
#endif
}

} // namespace
