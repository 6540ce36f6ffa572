#include <gtest/gtest.h>
#include <olma/env.h>
#include <olma/mem.h>

#include "common/env/internal-env.h"

#include <cstdlib>
#include <cstring>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

/** Sets (or with null removes) a process variable; UTF-8 in, the platform's form out. */
void setVar(const char *pszName, const char *pszValue) {
#ifdef _WIN32
    auto widen = [](const char *psz) {
        int cwc = MultiByteToWideChar(CP_UTF8, 0, psz, -1, nullptr, 0);
        std::wstring wstr((size_t)cwc, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, psz, -1, &wstr[0], cwc);
        wstr.resize((size_t)cwc - 1);
        return wstr;
    };
    std::wstring wstrName = widen(pszName);
    if (pszValue)
        ASSERT_TRUE(SetEnvironmentVariableW(wstrName.c_str(), widen(pszValue).c_str()));
    else
        SetEnvironmentVariableW(wstrName.c_str(), nullptr);
#else
    if (pszValue)
        ASSERT_EQ(setenv(pszName, pszValue, 1), 0);
    else
        unsetenv(pszName);
#endif
}

} // namespace

TEST(EnvProcess, Lookups) {
    setVar("OLMA_TST_EMPTY", "");
    setVar("OLMA_TST_MISSING", nullptr);
    setVar("OLMA_TST_VALUE", "v\xc3\xa4lue"); // "välue": 6 bytes, 5 UTF-16 units

    char sz[64];
    size_t cch = 99;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_EMPTY", sz, sizeof(sz), &cch), 0);
    EXPECT_STREQ(sz, "");
    EXPECT_EQ(cch, 0u);

    cch = 99;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_MISSING", sz, sizeof(sz), &cch), ERR_ENV_VAR_NOT_FOUND);
    EXPECT_EQ(cch, 0u);

    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", sz, sizeof(sz), &cch), 0);
    EXPECT_STREQ(sz, "v\xc3\xa4lue");
    EXPECT_EQ(cch, 6u);
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", sz, sizeof(sz), nullptr), 0);
    // Only the length.
    cch = 0;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", nullptr, 0, &cch), 0);
    EXPECT_EQ(cch, 6u);
    // The exact length leaves no room for the terminator.
    cch = 0;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", sz, 6, &cch), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(cch, 6u);
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", sz, 7, &cch), 0);
    EXPECT_STREQ(sz, "v\xc3\xa4lue");
    // A buffer pointer with no room at all.
    cch = 0;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_VALUE", sz, 0, &cch), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(cch, 6u);

    setVar("OLMA_TST_EMPTY", nullptr);
    setVar("OLMA_TST_VALUE", nullptr);
}

TEST(EnvProcess, LongValueThroughHeapBuffer) {
    std::string const strValue(600, 'q');
    setVar("OLMA_TST_LONG", strValue.c_str());
    size_t const cBefore = RTMemTestOutstanding();
    std::string strBuf(700, '\0');
    size_t cch = 0;
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_LONG", &strBuf[0], 600, &cch), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(cch, 600u);
    EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_LONG", &strBuf[0], 601, &cch), 0);
    EXPECT_EQ(cch, 600u);
    EXPECT_STREQ(strBuf.c_str(), strValue.c_str());
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);

#ifdef _WIN32
    // Every allocation on the way fails in turn without leaking.
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        RTMemTestFailNth(n);
        int rc = RTEnvGetEx(RTENV_DEFAULT, "OLMA_TST_LONG", &strBuf[0], 601, &cch);
        RTMemTestFailNth(0);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        if (rc == 0)
            break;
        ASSERT_TRUE(rc == ERR_NO_TMP_MEMORY || rc == ERR_NO_UTF16_MEMORY) << rc;
        ASSERT_LT(n, 10u);
    }
#endif
    setVar("OLMA_TST_LONG", nullptr);
}

TEST(EnvProcess, ArgumentChecks) {
    char sz[16];
    size_t cch = 77;
    struct Case {
        const char *pszVar;
        char *pszValue;
        size_t cbValue;
        size_t *pcch;
        int rc;
    };
    const Case aCases[] = {
        {nullptr, sz, sizeof(sz), &cch, ERR_INVALID_POINTER},
        {(const char *)(uintptr_t)0x10, sz, sizeof(sz), &cch, ERR_INVALID_POINTER},
        {"PATH", (char *)(uintptr_t)0x10, sizeof(sz), &cch, ERR_INVALID_POINTER},
        {"PATH", sz, sizeof(sz), (size_t *)(uintptr_t)0x10, ERR_INVALID_POINTER},
        {"PATH", nullptr, 0, nullptr, ERR_INVALID_PARAMETER},
        {"PATH", sz, 0, nullptr, ERR_INVALID_PARAMETER},
        {"PATH", nullptr, sizeof(sz), &cch, ERR_INVALID_PARAMETER},
        {"A=B", sz, sizeof(sz), &cch, ERR_ENV_INVALID_VAR_NAME},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << (RT_VALID_PTR(c.pszVar) ? c.pszVar : "(bad)") << " " << c.cbValue);
        EXPECT_EQ(RTEnvGetEx(RTENV_DEFAULT, c.pszVar, c.pszValue, c.cbValue, c.pcch), c.rc);
        // The length output is left alone until the name has been accepted.
        EXPECT_EQ(cch, 77u);
    }
    EXPECT_EQ(RTEnvGet("A=B"), nullptr);
    EXPECT_EQ(RTEnvGet(nullptr), nullptr);
}

TEST(EnvProcess, RingOfReturnedStrings) {
    setVar("OLMA_TST_RING", "ring value");
    setVar("OLMA_TST_MISSING", nullptr);
    EXPECT_EQ(RTEnvGet("OLMA_TST_MISSING"), nullptr);

    // Fill every slot; from then on each call frees the string it displaces.
    const char *pszFirst = RTEnvGet("OLMA_TST_RING");
    ASSERT_NE(pszFirst, nullptr);
    EXPECT_STREQ(pszFirst, "ring value");
    for (int i = 0; i < 63; i++)
        ASSERT_NE(RTEnvGet("OLMA_TST_RING"), nullptr);
    EXPECT_STREQ(pszFirst, "ring value"); // still valid after 63 more
    size_t const cFull = RTMemTestOutstanding();
    for (int i = 0; i < 10; i++)
        ASSERT_NE(RTEnvGet("OLMA_TST_RING"), nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cFull);
    // A failed lookup takes no slot.
    EXPECT_EQ(RTEnvGet("OLMA_TST_MISSING"), nullptr);
    EXPECT_EQ(RTMemTestOutstanding(), cFull);
    setVar("OLMA_TST_RING", nullptr);
}

namespace {

int envCompare(const char *pszEntry, const char *pszName, size_t cchName) {
    return strncmp(pszEntry, pszName, cchName);
}

} // namespace

TEST(EnvBlock, Lookups) {
    char szA[] = "ALPHA=1", szAb[] = "ALPHABET=abc", szUnset[] = "GONE",
         szEmpty[] = "EMPTY=", szDrive[] = "=C:=C:\\dir", szDup[] = "ALPHA=2";
    char *apsz[] = {szAb, szA, szUnset, szEmpty, szDrive, szDup};
    EnvBlock Env{RTENV_MAGIC, true, RT_ELEMENTS(apsz), apsz, envCompare};

    struct Case {
        const char *pszVar;
        size_t cb;
        int rc;
        const char *pszValue;
        size_t cch;
    };
    const Case aCases[] = {
        {"ALPHA", 16, 0, "1", 1},      // the longer ALPHABET entry comes first and is passed over
        {"ALPHABET", 16, 0, "abc", 3}, //
        {"ALPHABET", 3, ERR_BUFFER_OVERFLOW, nullptr, 3},
        {"ALPHABET", 4, 0, "abc", 3}, //
        {"EMPTY", 16, 0, "", 0},      //
        {"GONE", 16, ERR_ENV_VAR_UNSET, nullptr, 0},
        {"NOPE", 16, ERR_ENV_VAR_NOT_FOUND, nullptr, 0},
        {"=C:", 16, 0, "C:\\dir", 6}, // a leading '=' is allowed in this block
        {"", 16, ERR_ENV_INVALID_VAR_NAME, nullptr, 77},
        {"A=B", 16, ERR_ENV_INVALID_VAR_NAME, nullptr, 77},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszVar);
        char sz[16];
        size_t cch = 77;
        EXPECT_EQ(RTEnvGetEx(&Env, c.pszVar, sz, c.cb, &cch), c.rc);
        EXPECT_EQ(cch, c.cch);
        if (c.pszValue)
            EXPECT_STREQ(sz, c.pszValue);
    }

    size_t cch = 0;
    EXPECT_EQ(RTEnvGetEx(&Env, "ALPHABET", nullptr, 0, &cch), 0);
    EXPECT_EQ(cch, 3u);

    Env.allowEqualsInName = false;
    EXPECT_EQ(RTEnvGetEx(&Env, "=C:", nullptr, 0, &cch), ERR_ENV_INVALID_VAR_NAME);
    Env.magic = ~RTENV_MAGIC;
    EXPECT_EQ(RTEnvGetEx(&Env, "ALPHA", nullptr, 0, &cch), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTEnvGetEx((RTENV)(uintptr_t)0x100, "ALPHA", nullptr, 0, &cch), ERR_INVALID_HANDLE);
}
