#include <gtest/gtest.h>
#include <olma/env.h>
#include <olma/mem.h>

#include "r3/win/internal-env-win.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

/** A variable that grows by g_cwcStep units every time it is read. */
unsigned g_cReads;
unsigned g_cwcStart;
unsigned g_cwcStep;
unsigned long __stdcall growingGetter(const wchar_t *pwszName, wchar_t *pwszBuf, unsigned long cwcBuf) {
    unsigned long const cwcValue = g_cwcStart + g_cwcStep * g_cReads++;
    if (cwcValue >= cwcBuf)
        return cwcValue + 1; // the size it needs, terminator included
    for (unsigned long i = 0; i < cwcValue; i++)
        pwszBuf[i] = L'g';
    pwszBuf[cwcValue] = 0;
    return cwcValue;
}

/** Reads of an empty but set variable on a system that leaves a stale last error. */
unsigned long __stdcall staleErrorGetter(const wchar_t *, wchar_t *pwszBuf, unsigned long cwcBuf) {
    if (pwszBuf && cwcBuf)
        pwszBuf[0] = 0;
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
}

struct GetterScope {
    explicit GetterScope(PFNRTENVWINGETVAR pfn) { rtEnvWinTestSetGetter(pfn); }
    ~GetterScope() { rtEnvWinTestSetGetter(nullptr); }
};

} // namespace

TEST(EnvWin, ValueThatGrowsBetweenReads) {
    GetterScope Scope(growingGetter);

    struct Case {
        unsigned cwcStart, cwcStep, cReads;
        int rc;
    };
    const Case aCases[] = {
        {600, 0, 2, 0},                       // a steady long value: one heap buffer
        {600, 1, 2, 0},                       // one unit more on the second read still fits (slack of one retry)
        {600, 2, 3, 0},                       // two more do not; the third buffer is 1024 units
        {5000, 1, 2, 0},                      //
        {600, 1000, 0, ERR_INTERNAL_ERROR_3}, // never catches up: gives up past 32767 units
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.cwcStart << "+" << c.cwcStep);
        g_cReads = 0;
        g_cwcStart = c.cwcStart;
        g_cwcStep = c.cwcStep;
        size_t const cBefore = RTMemTestOutstanding();
        std::string strBuf(40000, '\0');
        size_t cch = 1;
        int rc = RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_GROW", &strBuf[0], strBuf.size(), &cch);
        EXPECT_EQ(rc, c.rc);
        if (c.cReads)
            EXPECT_EQ(g_cReads, c.cReads);
        if (rc == 0) {
            EXPECT_GE(cch, c.cwcStart);
            EXPECT_EQ(strlen(strBuf.c_str()), cch);
            EXPECT_EQ(strBuf.find_first_not_of('g'), cch);
        } else
            EXPECT_EQ(cch, 0u);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);

        g_cReads = 0;
        const char *psz = RTEnvGet("OLMA_TST_GROW");
        if (c.rc == 0)
            EXPECT_NE(psz, nullptr);
        else
            EXPECT_EQ(psz, nullptr);
    }
}

TEST(EnvWin, EmptyValueWithStaleLastError) {
    // Outside NT 3.x a 0 answer with an error set means the variable is missing.
    GetterScope Scope(staleErrorGetter);
    char sz[8];
    size_t cch = 5;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_ANY", sz, sizeof(sz), &cch), ERR_ENV_VAR_NOT_FOUND);
    EXPECT_EQ(cch, 0u);
}

TEST(EnvWin, UnpairedSurrogateIsReported) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"OLMA_TST_SURR", L"a\xD800"
                                                          L"b"));
    char sz[16];
    size_t cch = 0;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_SURR", sz, sizeof(sz), &cch), ERR_INVALID_UTF16_ENCODING);
    EXPECT_EQ(RTEnvGet("OLMA_TST_SURR"), nullptr);
    SetEnvironmentVariableW(L"OLMA_TST_SURR", nullptr);
}
