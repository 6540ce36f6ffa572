#include "dirtest.h"

#include <olma/env.h>

using namespace dirtest;

namespace {

/** Sets (null: removes) a process variable and puts the old state back at the end. */
class EnvVarScope {
    std::string m_strName;
    bool m_fHad = false;
    std::string m_strOld;

    static void set(const std::string &strName, const char *pszValue) {
#ifdef _WIN32
        SetEnvironmentVariableW(widen(strName).c_str(), pszValue ? widen(pszValue).c_str() : nullptr);
#else
        if (pszValue)
            setenv(strName.c_str(), pszValue, 1);
        else
            unsetenv(strName.c_str());
#endif
    }

public:
    EnvVarScope(const char *pszName, const char *pszValue) : m_strName(pszName) {
        size_t cch = 0;
        if (RTEnvGetEx(RTENV_DEFAULT, pszName, nullptr, 0, &cch) == 0) {
            m_strOld.resize(cch + 1);
            m_fHad = RTEnvGetEx(RTENV_DEFAULT, pszName, &m_strOld[0], cch + 1, nullptr) == 0;
            m_strOld.resize(cch);
        }
        set(m_strName, pszValue);
    }
    ~EnvVarScope() {
        set(m_strName, m_fHad ? m_strOld.c_str() : nullptr);
    }
};

} // namespace

TEST(PathTemp, VariableOrder) {
    std::string const strLong(300, 'L');
    struct Case {
        const char *pszOlma, *pszTmp, *pszTemp, *pszProfile;
        size_t cb;
        int rc;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"/olma", "C:\\T", "C:\\Temp", "C:\\Users\\u", 64, 0, "/olma"},
        {nullptr, "C:\\T", "C:\\Temp", "C:\\Users\\u", 64, 0, "C:\\T"},
        {nullptr, nullptr, "C:\\Temp", "C:\\Users\\u", 64, 0, "C:\\Temp"},
        {nullptr, nullptr, nullptr, "C:\\Users\\u", 64, 0, "C:\\Users\\u"},
        {nullptr, nullptr, nullptr, nullptr, 64, 0, "/tmp"},
        {nullptr, nullptr, nullptr, nullptr, 5, 0, "/tmp"},
        {nullptr, nullptr, nullptr, nullptr, 4, ERR_BUFFER_OVERFLOW, nullptr},
        // A value that does not fit ends the lookup even though the next one would.
        {nullptr, strLong.c_str(), "C:\\Temp", nullptr, 64, ERR_BUFFER_OVERFLOW, nullptr},
        // Set but empty is an answer too.
        {"", "C:\\T", nullptr, nullptr, 64, 0, ""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << (c.pszOlma ? c.pszOlma : "-") << " " << (c.pszTmp ? "TMP" : "-") << " "
                                        << c.cb);
        EnvVarScope Olma("OLMA_TMPDIR", c.pszOlma), Tmp("TMP", c.pszTmp), Temp("TEMP", c.pszTemp),
            Profile("USERPROFILE", c.pszProfile);
        char sz[80];
        memset(sz, 'Z', sizeof(sz));
        EXPECT_EQ(RTPathTemp(sz, c.cb), c.rc);
        if (c.pszExpect)
            EXPECT_STREQ(sz, c.pszExpect);
        EXPECT_EQ(sz[c.cb], 'Z'); // nothing written past the buffer
    }
}

TEST(TempName, FindXRun) {
    struct Case {
        const char *pszTemplate;
        int rc;
        size_t off, cch;
    };
    const Case aCases[] = {
        {"/tmp/XXXXXXXXXXXXXXXXXXXXXXXX", 0, 5, 24},
        {"abcX", 0, 3, 1},
        {"X", 0, 0, 1},
        {"tmpXXXXXX.dat", 0, 3, 6},
        {"dir\\tmpXXX.d", 0, 7, 3},
        {"aXXXXb", 0, 1, 4},
        {"XXXaXXXb", 0, 4, 3}, // the last triple
        {"C:XXXy", 0, 2, 3},   // a drive colon ends the directory part
        {"", ERR_INVALID_PARAMETER, 0, 0},
        {"abc", ERR_INVALID_PARAMETER, 0, 0},
        {"dirXXX\\file", ERR_INVALID_PARAMETER, 0, 0},
        {"dirXXX/file", ERR_INVALID_PARAMETER, 0, 0},
        {"XXXa", 0, 0, 3},
        {"aXXX.", 0, 1, 3},
        {"d/XXXa", 0, 2, 3},
        {"XXa", ERR_INVALID_PARAMETER, 0, 0},
        {"aXXa", ERR_INVALID_PARAMETER, 0, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszTemplate);
        size_t off = 99, cch = 99;
        EXPECT_EQ(rtTempFindXRun(c.pszTemplate, &off, &cch), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(off, c.off);
            EXPECT_EQ(cch, c.cch);
        }
    }
}

TEST_F(DirTest, CreateTempDirectory) {
    std::string const strPrefix = m_strBase + kSlash;
    std::string strTemplate = strPrefix + std::string(24, 'X');
    ASSERT_EQ(RTDirCreateTemp(&strTemplate[0], 0700), 0);
    m_vecDirs.push_back(strTemplate);
    ASSERT_EQ(strTemplate.compare(0, strPrefix.size(), strPrefix), 0);
    std::string const strName = strTemplate.substr(strPrefix.size());
    EXPECT_EQ(strName.size(), 24u);
    EXPECT_EQ(strName.find_first_not_of(g_szAlphabet), std::string::npos) << strName;
    EXPECT_TRUE(RTDirExists(strTemplate.c_str()));
#ifdef _WIN32
    if (keepsNotContentIndexed()) {
        EXPECT_NE(GetFileAttributesW(widen(strTemplate).c_str()) & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0u);
    }
#endif

    // Templates without a run of X leave an empty string and touch nothing.
    for (std::string strBad : {sub("abc"), sub("dirXXX") + kSlash + "file", std::string()}) {
        SCOPED_TRACE(strBad);
        strBad.push_back('\0');
        EXPECT_EQ(RTDirCreateTemp(&strBad[0], 0700), ERR_INVALID_PARAMETER);
        EXPECT_EQ(strBad[0], '\0');
    }
    EXPECT_FALSE(RTDirExists(sub("abc").c_str()));

    // A failure other than a collision ends the attempts at once.
    std::string strNoParent = sub("missing") + kSlash + "XXXXXX";
    int rc = RTDirCreateTemp(&strNoParent[0], 0700);
    EXPECT_TRUE(rc == ERR_PATH_NOT_FOUND || rc == ERR_FILE_NOT_FOUND) << rc;
    EXPECT_EQ(strNoParent[0], '\0');
}

TEST_F(DirTest, CreateTempRetriesOnCollision) {
    std::string const strPrefix = m_strBase + kSlash;
    RTRAND hRand = NIL_RTRAND;
    ASSERT_EQ(RTRandCreateParkMiller(&hRand), 0);
    {
        ProcessRandScope Scope(hRand);
        ASSERT_EQ(RTRandSeed(hRand, 1), 0);
        std::string strFirst = strPrefix + std::string(24, 'X');
        ASSERT_EQ(RTDirCreateTemp(&strFirst[0], 0700), 0);
        m_vecDirs.push_back(strFirst);
        EXPECT_EQ(strFirst.substr(strPrefix.size()), expectedName(1, 0));

        // The same seed again: the first name exists, the second attempt takes the
        // next 24 draws.
        ASSERT_EQ(RTRandSeed(hRand, 1), 0);
        std::string strSecond = strPrefix + std::string(24, 'X');
        ASSERT_EQ(RTDirCreateTemp(&strSecond[0], 0700), 0);
        m_vecDirs.push_back(strSecond);
        EXPECT_EQ(strSecond.substr(strPrefix.size()), expectedName(1, 24));

        // Files collide with files the same way.
        ASSERT_EQ(RTRandSeed(hRand, 1), 0);
        std::string strFile = strPrefix + std::string(24, 'X') + ".tmp";
        RTFILE hFile = NIL_RTFILE;
        uint64_t const fOpen = RTFILE_O_READWRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE;
        ASSERT_EQ(RTFileCreateTemp(&hFile, &strFile[0], fOpen), 0);
        m_vecFiles.push_back(strFile);
        EXPECT_NE(hFile, NIL_RTFILE);
        EXPECT_EQ(RTFileClose(hFile), 0);
        EXPECT_EQ(strFile.substr(strPrefix.size()), expectedName(1, 0) + ".tmp");
        ASSERT_EQ(RTRandSeed(hRand, 1), 0);
        std::string strFile2 = strPrefix + std::string(24, 'X') + ".tmp";
        ASSERT_EQ(RTFileCreateTemp(&hFile, &strFile2[0], fOpen), 0);
        m_vecFiles.push_back(strFile2);
        EXPECT_EQ(RTFileClose(hFile), 0);
        EXPECT_EQ(strFile2.substr(strPrefix.size()), expectedName(1, 24) + ".tmp");
    }
    EXPECT_EQ(RTRandDestroy(hRand), 0);
}

TEST_F(DirTest, CreateTempGivesUpAfterTenThousandCollisions) {
    // Every draw is 0, so every attempt names the same directory.
    RandGenerator Const{};
    Const.magic = RTRAND_MAGIC;
    Const.getU32 = constGetU32;
    std::string const strTaken = mkdir("000000");
    ProcessRandScope Scope(&Const);

    g_cConstDraws = 0;
    std::string strTemplate = sub("XXXXXX");
    EXPECT_EQ(RTDirCreateTemp(&strTemplate[0], 0700), ERR_ALREADY_EXISTS);
    EXPECT_EQ(strTemplate[0], '\0');
    EXPECT_EQ(g_cConstDraws, RTTEMP_MAX_ATTEMPTS * 6);

    std::string const strTakenFile = mkfile("111111.f");
    (void)strTakenFile;
    g_cConstDraws = 0;
    std::string strFile = sub("XXXXXX.f");
    RTFILE hFile = (RTFILE)1234;
    EXPECT_EQ(RTFileCreateTemp(&hFile, &strFile[0], RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE), 0);
    // "000000.f" was free; now it is taken too.
    m_vecFiles.push_back(sub("000000.f"));
    EXPECT_EQ(strFile, sub("000000.f"));
    EXPECT_EQ(RTFileClose(hFile), 0);
    strFile = sub("XXXXXX.f");
    EXPECT_EQ(RTFileCreateTemp(&hFile, &strFile[0], RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE),
              ERR_ALREADY_EXISTS);
    EXPECT_EQ(hFile, NIL_RTFILE);
    EXPECT_EQ(strFile[0], '\0');
}

TEST_F(DirTest, CreateTempFileFlags) {
    std::string strTemplate = sub("fXXXXXX");
    std::string const strBefore = strTemplate;
    RTFILE hFile = (RTFILE)1234;
    // Only create-new makes a name unique; anything else is refused before the
    // template is touched.
    for (uint64_t fAction : {RTFILE_O_OPEN, RTFILE_O_OPEN_CREATE, RTFILE_O_CREATE_REPLACE, (uint64_t)0}) {
        SCOPED_TRACE(fAction);
        EXPECT_EQ(RTFileCreateTemp(&hFile, &strTemplate[0], RTFILE_O_WRITE | RTFILE_O_DENY_NONE | fAction),
                  ERR_INVALID_FLAGS);
        EXPECT_EQ(hFile, NIL_RTFILE);
        EXPECT_EQ(strTemplate, strBefore);
    }
    std::string strNoRun = sub("plain");
    EXPECT_EQ(RTFileCreateTemp(&hFile, &strNoRun[0], RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE),
              ERR_INVALID_PARAMETER);
    EXPECT_EQ(strNoRun[0], '\0');

    ASSERT_EQ(RTFileCreateTemp(&hFile, &strTemplate[0], RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE), 0);
    m_vecFiles.push_back(strTemplate);
    EXPECT_NE(strTemplate, strBefore);
    EXPECT_EQ(strTemplate.compare(0, strBefore.size() - 6, strBefore, 0, strBefore.size() - 6), 0);
    EXPECT_EQ(RTFileWrite(hFile, "x", 1, nullptr), 0);
    EXPECT_EQ(RTFileClose(hFile), 0);
}
