// Scratch directories and generator helpers shared by the directory tests.
#pragma once

#include <gtest/gtest.h>
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/fs.h>
#include <olma/mem.h>
#include <olma/path.h>

#include "Runtime/common/rand/forced-rand.h"
#include "common/rand/internal-rand.h"
#include "r3/internal-dir.h"
#include "r3/internal-tempname.h"

#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace dirtest {

#ifdef _WIN32
constexpr char kSlash = '\\';
inline std::wstring widen(const std::string &str) {
    int cwc = MultiByteToWideChar(CP_UTF8, 0, str.c_str(), -1, nullptr, 0);
    std::wstring wstr((size_t)cwc, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.c_str(), -1, &wstr[0], cwc);
    wstr.resize((size_t)cwc - 1);
    return wstr;
}
#else
constexpr char kSlash = '/';
#endif

#ifdef _WIN32
/** Wine accepts the not-content-indexed attribute but does not keep it. */
inline bool keepsNotContentIndexed() {
    return !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
}
#endif

/** A scratch directory of the test's own under the temporary directory, removed
 *  (with what the tests put in it) at the end. */
class DirTest : public testing::Test {
protected:
    std::string m_strBase;
    std::vector<std::string> m_vecFiles, m_vecDirs;

    void SetUp() override {
        char szTmp[1024];
        ASSERT_EQ(RTPathTemp(szTmp, sizeof(szTmp)), 0);
        std::string strTemplate = std::string(szTmp) + kSlash + "tst-dir-XXXXXXXX";
        ASSERT_EQ(RTDirCreateTemp(&strTemplate[0], 0700), 0);
        m_strBase = strTemplate.c_str();
        ASSERT_TRUE(RTDirExists(m_strBase.c_str()));
    }
    void TearDown() override {
        for (const std::string &str : m_vecFiles)
            (void)RTFileDelete(str.c_str());
        for (auto it = m_vecDirs.rbegin(); it != m_vecDirs.rend(); ++it)
            (void)RTDirRemove(it->c_str());
        EXPECT_EQ(RTDirRemove(m_strBase.c_str()), 0);
    }
    std::string sub(const char *pszName) const { return m_strBase + kSlash + pszName; }
    std::string mkdir(const char *pszName) {
        std::string str = sub(pszName);
        EXPECT_EQ(RTDirCreate(str.c_str(), 0700, 0), 0);
        m_vecDirs.push_back(str);
        return str;
    }
    std::string mkfile(const char *pszName) {
        std::string str = sub(pszName);
        RTFILE hFile = NIL_RTFILE;
        EXPECT_EQ(RTFileOpen(&hFile, str.c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE), 0);
        EXPECT_EQ(RTFileClose(hFile), 0);
        m_vecFiles.push_back(str);
        return str;
    }
};

/** Generator whose every draw is the same number, to force collisions. */
inline uint32_t g_cConstDraws;
inline uint32_t constGetU32(RandGenerator *, uint32_t u32Min, uint32_t) {
    g_cConstDraws++;
    return u32Min;
}

} // namespace dirtest
