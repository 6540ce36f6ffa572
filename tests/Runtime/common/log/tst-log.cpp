// Logging hooks: with no logger instance every hook is a no-op; with a forwarder or
// getter put in by the test, the hooks show what they would hand on.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include <olma/assert.h>
#include <olma/log.h>
#include <olma/string.h>
#include "common/compiler/internal-inittables.h"

namespace {

// A program gets the static-initialiser tables run by the start-up module; referencing
// the tables links it into this test program too.
[[maybe_unused]] PFNRTSTAGEFN *(*volatile g_pfnLinkStartup)() = rtInitTableXcBegin;

struct Forwarded {
    RTLOGGER *pLogger;
    uint32_t fFlags;
    uint32_t iGroup;
    std::string strText;
};
std::vector<Forwarded> g_aForwarded;
std::vector<uint32_t> g_aGetterFlags;
RTLOGGER *g_pGetterResult = nullptr;

void TestForwarder(RTLOGGER *pLogger, uint32_t fFlags, uint32_t iGroup, const char *pszFormat, va_list va) {
    char sz[256];
    RTStrPrintfV(sz, sizeof(sz), pszFormat, va);
    g_aForwarded.push_back({pLogger, fFlags, iGroup, sz});
}

RTLOGGER *TestGetter(uint32_t fFlags) {
    g_aGetterFlags.push_back(fFlags);
    return g_pGetterResult;
}

class LogHooks : public testing::Test {
protected:
    void SetUp() override {
        g_aForwarded.clear();
        g_aGetterFlags.clear();
        g_pGetterResult = nullptr;
    }
    void TearDown() override {
        g_pfnRTLogForwarder = nullptr;
        g_pfnRTLogRelGetter = nullptr;
        g_pRTLogDefaultInstance = nullptr;
        g_pRTLogRelDefaultInstance = nullptr;
    }
};

RTLOGGER *FakeLogger(uintptr_t u) {
    return reinterpret_cast<RTLOGGER *>(u);
}

TEST_F(LogHooks, NothingIsSetForTheWholeRun) {
    EXPECT_EQ(g_pRTLogDefaultInstance, nullptr);
    EXPECT_EQ(g_pRTLogRelDefaultInstance, nullptr);
    EXPECT_EQ(g_pfnRTLogRelGetter, nullptr);
    EXPECT_EQ(g_pfnRTLogForwarder, nullptr);
    EXPECT_EQ(RTLogRelGetDefaultInstanceEx(RTLOGREL_NOTE_FLAGS), nullptr);
    // Without forwarder and instances these return without touching anything.
    RTLogLogger(nullptr, "x %s\n", "y");
    RTLogRelPrintf("Failed to get executable directory path, rc=%Rrc!\n", -8);
    rtLogExitFlush(true);
    EXPECT_TRUE(g_aForwarded.empty());
}

TEST_F(LogHooks, LoggerCallsGoToTheForwarderWithTheirFlagsAndGroup) {
    g_pfnRTLogForwarder = TestForwarder;
    RTLogLoggerEx(FakeLogger(0x1000), 5, 7, "a%d", 1);
    RTLogLogger(FakeLogger(0x2000), "b%s", "2");
    ASSERT_EQ(g_aForwarded.size(), 2u);
    EXPECT_EQ(g_aForwarded[0].pLogger, FakeLogger(0x1000));
    EXPECT_EQ(g_aForwarded[0].fFlags, 5u);
    EXPECT_EQ(g_aForwarded[0].iGroup, 7u);
    EXPECT_EQ(g_aForwarded[0].strText, "a1");
    EXPECT_EQ(g_aForwarded[1].fFlags, 0u);
    EXPECT_EQ(g_aForwarded[1].iGroup, UINT32_MAX);
    EXPECT_EQ(g_aForwarded[1].strText, "b2");
}

TEST_F(LogHooks, ReleaseNotesAskTheGetterAndWriteOnlyWithAnInstance) {
    g_pfnRTLogForwarder = TestForwarder;
    g_pfnRTLogRelGetter = TestGetter;
    RTLogRelPrintf("Failed to convert the arguments, rc=%Rrc!\n", -22);
    ASSERT_EQ(g_aGetterFlags.size(), 1u);
    EXPECT_EQ(g_aGetterFlags[0], 16u);
    EXPECT_TRUE(g_aForwarded.empty());

    g_pGetterResult = FakeLogger(0x3000);
    RTLogRelPrintf("Failed to convert the arguments, rc=%Rrc!\n", -22);
    ASSERT_EQ(g_aForwarded.size(), 1u);
    EXPECT_EQ(g_aForwarded[0].pLogger, FakeLogger(0x3000));
    EXPECT_EQ(g_aForwarded[0].strText, "Failed to convert the arguments, rc=ERR_WRONG_ORDER!\n");
}

TEST_F(LogHooks, AssertionHooksAreInstalledAndWriteIntoExistingInstancesOnly) {
    ASSERT_NE(g_pfnRTAssertMsg1Hook, nullptr);
    ASSERT_NE(g_pfnRTAssertMsg2Hook, nullptr);
    g_pfnRTLogForwarder = TestForwarder;
    g_pfnRTAssertMsg1Hook("first %s", "x");
    EXPECT_TRUE(g_aForwarded.empty());

    // With both instances the text goes into the release instance, then the default one.
    g_pRTLogRelDefaultInstance = FakeLogger(0x4000);
    g_pRTLogDefaultInstance = FakeLogger(0x5000);
    g_pfnRTAssertMsg1Hook("first %s", "x");
    ASSERT_EQ(g_aForwarded.size(), 2u);
    EXPECT_EQ(g_aForwarded[0].pLogger, FakeLogger(0x4000));
    EXPECT_EQ(g_aForwarded[1].pLogger, FakeLogger(0x5000));
    EXPECT_EQ(g_aForwarded[0].strText, "first x");
    EXPECT_EQ(g_aForwarded[1].strText, "first x");
}

} // namespace

#if !defined(_WIN32)
// The POSIX start-up module calls the program's main function; this program has none.
extern "C" int InstallerMain(int, char **, char **) {
    return 1;
}
#endif
