#include <gtest/gtest.h>
#include <olma/mem.h>
#include <string>
#include "common/compiler/internal-startup.h"

namespace {
std::string g_strTrace;
unsigned g_cCalls = 0;
void handlerA() {
    g_strTrace += "A";
}
void handlerB() {
    g_strTrace += "B";
}
void handlerC() {
    g_strTrace += "C";
}
void counting() {
    g_cCalls++;
}
} // namespace

// The table is process-wide; every test leaves it empty by running it.
TEST(ExitHandlers, RunNewestFirstAndOnlyOnce) {
    rtExitHandlersRun();
    g_strTrace.clear();
    ASSERT_EQ(rtExitHandlerRegister(handlerA), 0);
    ASSERT_EQ(rtExitHandlerRegister(handlerB), 0);
    ASSERT_EQ(rtExitHandlerRegister(handlerC), 0);
    EXPECT_EQ(rtExitHandlerCount(), 3u);
    rtExitHandlersRun();
    EXPECT_EQ(g_strTrace, "CBA");
    EXPECT_EQ(rtExitHandlerCount(), 0u);
    rtExitHandlersRun(); // cleared entries are not called again
    EXPECT_EQ(g_strTrace, "CBA");
}

// Must run before the limit test, which installs every page.
TEST(ExitHandlers, PageAllocationFailureKeepsTheSlot) {
    rtExitHandlersRun();
    g_cCalls = 0;
    for (uint32_t i = 0; i < RTEXIT_HANDLERS_PER_PAGE; i++)
        ASSERT_EQ(rtExitHandlerRegister(counting), 0);
    // Slot 256 is the first of the second page, which has to be allocated now.
    RTMemTestFailNth(1);
    EXPECT_EQ(rtExitHandlerRegister(handlerA), -1);
    RTMemTestFailNth(0);
    EXPECT_EQ(rtExitHandlerCount(), RTEXIT_HANDLERS_PER_PAGE + 1);
    g_strTrace.clear();
    EXPECT_EQ(rtExitHandlerRegister(handlerB), 0);
    rtExitHandlersRun();
    EXPECT_EQ(g_strTrace, "B");
    EXPECT_EQ(g_cCalls, RTEXIT_HANDLERS_PER_PAGE);
}

TEST(ExitHandlers, TableLimitIs8192) {
    rtExitHandlersRun();
    g_cCalls = 0;
    for (uint32_t i = 0; i < RTEXIT_HANDLERS_MAX; i++)
        ASSERT_EQ(rtExitHandlerRegister(counting), 0) << i;
    EXPECT_EQ(rtExitHandlerRegister(counting), -1);
    EXPECT_EQ(rtExitHandlerCount(), 8192u); // the failed registration gave its slot back
    rtExitHandlersRun();
    EXPECT_EQ(g_cCalls, 8192u);
}
