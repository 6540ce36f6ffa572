// Runtime initialisation: the first call and the rules for later calls, the executable
// path record, the exit handler, and the Windows version classification table.
#include <gtest/gtest.h>

#include <string>

#include <olma/initterm.h>
#include <olma/path.h>
#include <olma/thread.h>
#include "common/compiler/internal-startup.h"
#include "common/path/internal-path.h"
#include "r3/internal-init.h"

namespace {

TEST(WindowsVersionClass, Table) {
    struct Case {
        uint32_t uPlatform, uMajor, uMinor, uBuild;
        uint8_t bProduct;
        uint32_t uClass;
    };
    constexpr uint8_t WS = RTWIN_PRODUCT_WORKSTATION, SRV = RTWIN_PRODUCT_SERVER, DC = RTWIN_PRODUCT_DOMAIN_CONTROLLER;
    const Case aCases[] = {
        // 9x: builds inside and outside the listed ranges.
        {1, 4, 0, 950, WS, 1},
        {1, 4, 0, 951, WS, 2},
        {1, 4, 3, 1080, WS, 2},
        {1, 4, 9, 1081, WS, 3},
        {1, 4, 0, 949, WS, 0},
        {1, 4, 10, 1998, WS, 4},
        {1, 4, 10, 1999, WS, 5},
        {1, 4, 10, 2182, WS, 5},
        {1, 4, 10, 2183, WS, 6},
        {1, 4, 10, 1997, WS, 0},
        {1, 4, 90, 3000, WS, 7},
        {1, 4, 50, 3000, WS, 0},
        {1, 5, 0, 3000, WS, 0},
        // NT up to XP/2003.
        {2, 3, 10, 0, WS, 100},
        {2, 3, 49, 0, WS, 100},
        {2, 3, 50, 0, WS, 101},
        {2, 3, 51, 0, WS, 102},
        {2, 4, 0, 1381, SRV, 103},
        {2, 5, 0, 2195, WS, 104},
        {2, 5, 1, 2600, WS, 105},
        {2, 5, 2, 3790, SRV, 107},
        // 6.x: workstation or anything else.
        {2, 6, 0, 6000, WS, 108},
        {2, 6, 0, 6001, SRV, 109},
        {2, 6, 1, 7601, WS, 110},
        {2, 6, 1, 7601, DC, 111},
        {2, 6, 2, 9200, WS, 112},
        {2, 6, 2, 9200, SRV, 113},
        {2, 6, 3, 9600, WS, 114},
        {2, 6, 3, 9600, SRV, 115},
        {2, 6, 4, 9800, WS, 116},
        {2, 6, 4, 9800, SRV, 117},
        {2, 6, 5, 0, WS, 199},
        // 10.0: the build boundaries.
        {2, 10, 0, 19045, WS, 116},
        {2, 10, 0, 21999, WS, 116},
        {2, 10, 0, 22000, WS, 120},
        {2, 10, 0, 17762, SRV, 117},
        {2, 10, 0, 17763, SRV, 118},
        {2, 10, 0, 20347, DC, 118},
        {2, 10, 0, 20348, SRV, 119},
        {2, 10, 1, 0, WS, 199},
        {2, 11, 0, 30000, WS, 199},
        {0, 10, 0, 19045, WS, 0},
        {3, 10, 0, 19045, WS, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.uPlatform << " " << c.uMajor << "." << c.uMinor << " build "
                                        << c.uBuild << " product " << (int)c.bProduct);
        EXPECT_EQ(rtR3WinClassifyVersion(c.uPlatform, c.uMajor, c.uMinor, c.uBuild, c.bProduct), c.uClass);
    }
}

// One process, one initialisation: the first call and every later call are checked
// in order in this one test.
TEST(RTR3Init, FirstCallThenLaterCalls) {
    static char szArg0[] = "prog";
    static char szArg1[] = "--x";
    static char *s_apszArgs[] = {szArg0, szArg1, nullptr};
    static char *s_apszOther[] = {szArg0, szArg1, nullptr};
    char **papszArgs = s_apszArgs;
    char **papszOther = s_apszOther;

    ASSERT_FALSE(RTR3InitIsInitialized());
    const uint32_t cHandlersBefore = rtExitHandlerCount();
    ASSERT_EQ(RTR3Init(2, &papszArgs, RTR3INIT_FLAGS_SYSTEM_DLL_PATH), 0);
    EXPECT_TRUE(RTR3InitIsInitialized());
    EXPECT_EQ(rtExitHandlerCount(), cHandlersBefore + 1);
    EXPECT_NE(rtR3InitProcessId(), 0u);
    EXPECT_NE(rtR3InitStartTime(), 0u);
    EXPECT_EQ(rtR3InitFlags(), RTR3INIT_FLAGS_SYSTEM_DLL_PATH);

    // The calling thread was adopted as "main".
    ASSERT_NE(RTThreadSelf(), NIL_RTTHREAD);
    EXPECT_STREQ(RTThreadGetName(RTThreadSelf()), "main");

    // The executable path is this test program; its directory comes from the record.
    size_t cchDir = 0, offName = 0;
    const char *pszExec = rtPathGetExecPath(&cchDir, &offName);
    ASSERT_NE(pszExec, nullptr);
    EXPECT_NE(std::string(pszExec + offName).find("test-runtime-r3-init"), std::string::npos) << pszExec;
    char szDir[4100];
    ASSERT_EQ(RTPathExecDir(szDir, sizeof(szDir)), 0);
    EXPECT_EQ(std::string(szDir), std::string(pszExec, cchDir));

    // Same arguments again: success, flags merged, no second exit handler.
    EXPECT_EQ(RTR3Init(2, &papszArgs, 0x10), 0);
    EXPECT_EQ(rtR3InitFlags(), RTR3INIT_FLAGS_SYSTEM_DLL_PATH | 0x10u);
    EXPECT_EQ(rtExitHandlerCount(), cHandlersBefore + 1);

    // Another count or another vector (even with equal contents) is refused.
    EXPECT_EQ(RTR3Init(1, &papszArgs, 0), ERR_WRONG_ORDER);
    EXPECT_EQ(RTR3Init(2, &papszOther, 0), ERR_WRONG_ORDER);
    EXPECT_EQ(RTR3Init(0, nullptr, 0), ERR_WRONG_ORDER);

    // A later call may replace the program path; one that does not fit is refused and
    // leaves the record alone.
    const std::string strOld = pszExec;
#if defined(_WIN32)
    const char *pszNew = "C:\\Tools\\other.exe";
    const char *pszNewDir = "C:\\Tools";
#else
    const char *pszNew = "/opt/tools/other";
    const char *pszNewDir = "/opt/tools";
#endif
    EXPECT_EQ(RTR3Init(2, &papszArgs, 0, pszNew), 0);
    ASSERT_EQ(RTPathExecDir(szDir, sizeof(szDir)), 0);
    EXPECT_STREQ(szDir, pszNewDir);
    const std::string strLong(4068, 'a');
    EXPECT_EQ(RTR3Init(2, &papszArgs, 0, strLong.c_str()), ERR_BUFFER_OVERFLOW);
    ASSERT_EQ(RTPathExecDir(szDir, sizeof(szDir)), 0);
    EXPECT_STREQ(szDir, pszNewDir);
    EXPECT_EQ(RTR3Init(2, &papszArgs, 0, strOld.c_str()), 0);
    EXPECT_EQ(std::string(rtPathGetExecPath(nullptr, nullptr)), strOld);
}

} // namespace
