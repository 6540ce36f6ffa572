// Assertion messages (texts on standard error, stored copies, hooks, the caller's
// error state) and the reports of failed compiler-inserted checks, which end the
// process and are therefore run in a child.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <olma/assert.h>
#include <olma/err.h>
#include <olma/string.h>
#include "common/misc/internal-assert.h"

namespace {

std::string TempPath(const char *pszName) {
    return testing::TempDir() + pszName;
}

std::string ReadFile(const std::string &strPath) {
    std::string str;
    if (FILE *pFile = fopen(strPath.c_str(), "rb")) {
        char ach[4096];
        size_t cb;
        while ((cb = fread(ach, 1, sizeof(ach), pFile)) > 0)
            str.append(ach, cb);
        fclose(pFile);
    }
    return str;
}

/** Sends the standard-error handle into a file for its lifetime. */
class StdErrToFile {
public:
    explicit StdErrToFile(const std::string &strPath) : m_strPath(strPath) {
        fflush(stderr);
#if defined(_WIN32)
        m_hSaved = GetStdHandle(STD_ERROR_HANDLE);
        m_hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        SetStdHandle(STD_ERROR_HANDLE, m_hFile);
#else
        m_fdSaved = dup(2);
        const int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
#endif
    }
    ~StdErrToFile() {
        Restore();
    }
    void Restore() {
#if defined(_WIN32)
        if (m_hFile != INVALID_HANDLE_VALUE) {
            SetStdHandle(STD_ERROR_HANDLE, m_hSaved);
            CloseHandle(m_hFile);
            m_hFile = INVALID_HANDLE_VALUE;
        }
#else
        if (m_fdSaved >= 0) {
            dup2(m_fdSaved, 2);
            close(m_fdSaved);
            m_fdSaved = -1;
        }
#endif
    }
    std::string Text() {
        Restore();
        return ReadFile(m_strPath);
    }

private:
    std::string m_strPath;
#if defined(_WIN32)
    HANDLE m_hSaved = nullptr;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
#else
    int m_fdSaved = -1;
#endif
};

/** The thread's error value as the runtime saves it. */
void SetOsError(uint32_t u) {
#if defined(_WIN32)
    SetLastError(u);
#else
    errno = (int)u;
#endif
}
uint32_t GetOsError() {
#if defined(_WIN32)
    return GetLastError();
#else
    return (uint32_t)errno;
#endif
}

std::string g_strHook1, g_strHook2;
int g_cHook1, g_cHook2;

// The hooks clobber the error state on purpose: the caller must not see it.
void Msg1Hook(const char *pszFormat, ...) {
    va_list va;
    va_start(va, pszFormat);
    char sz[2048];
    RTStrPrintfV(sz, sizeof(sz), pszFormat, va);
    va_end(va);
    g_strHook1 = sz;
    g_cHook1++;
    SetOsError(1111);
}

void Msg2Hook(const char *pszFormat, va_list va) {
    char sz[4096];
    RTStrPrintfV(sz, sizeof(sz), pszFormat, va);
    g_strHook2 = sz;
    g_cHook2++;
    SetOsError(2222);
}

class Assert : public testing::Test {
protected:
    void SetUp() override {
        g_strHook1.clear();
        g_strHook2.clear();
        g_cHook1 = g_cHook2 = 0;
        g_pfnRTAssertMsg1Hook = Msg1Hook;
        g_pfnRTAssertMsg2Hook = Msg2Hook;
    }
    void TearDown() override {
        g_pfnRTAssertMsg1Hook = nullptr;
        g_pfnRTAssertMsg2Hook = nullptr;
    }
};

TEST_F(Assert, FirstMessageTextsAndRecord) {
    struct Case {
        const char *pszExpr;
        const char *pszFile;
        unsigned uLine;
        const char *pszFunction;
        const char *pszStdErr;
    };
    const Case aCases[] = {
        {"RT_SUCCESS_NP(rc)", "critsect.cpp", 117, "int RTCritSectLeave(RTCRITSECT*)",
         "\n!!Assertion Failed!!\nExpression: RT_SUCCESS_NP(rc)\nLocation  : critsect.cpp(117) int "
         "RTCritSectLeave(RTCRITSECT*)\n"},
        {nullptr, nullptr, 0, nullptr, "\n!!Assertion Failed!!\nExpression: <none>\nLocation  : <none>(0) \n"},
        {(const char *)(uintptr_t)0x10, "f.cpp", 4294967295u, (const char *)(uintptr_t)0x20,
         "\n!!Assertion Failed!!\nExpression: <none>\nLocation  : f.cpp(-1) \n"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszStdErr);
        g_cHook1 = 0;
        StdErrToFile Capture(TempPath("olma-assert-msg1.txt"));
        SetOsError(4321);
        RTAssertMsg1(c.pszExpr, c.uLine, c.pszFile, c.pszFunction);
        const uint32_t uErrAfter = GetOsError();
        EXPECT_EQ(Capture.Text(), c.pszStdErr);
        EXPECT_EQ(uErrAfter, 4321u);
        EXPECT_EQ(g_cHook1, 1);
        EXPECT_EQ(g_RTAssertMsg1.pszExpr, c.pszExpr);
        EXPECT_EQ(g_RTAssertMsg1.pszFile, c.pszFile);
        EXPECT_EQ(g_RTAssertMsg1.uLine, c.uLine);
        EXPECT_EQ(g_RTAssertMsg1.pszFunction, c.pszFunction);
        if (c.pszFunction && RT_VALID_PTR(c.pszExpr)) {
            // Readable arguments: the stored text and the hook's equal the output.
            EXPECT_STREQ(g_RTAssertMsg1.szMsg, c.pszStdErr);
            EXPECT_EQ(g_strHook1, c.pszStdErr);
        }
    }
}

TEST_F(Assert, SecondMessageReplacesOrAppends) {
    {
        StdErrToFile Capture(TempPath("olma-assert-msg2.txt"));
        SetOsError(77);
        RTAssertMsg2("first %d\n", 1);
        RTAssertMsg2Add("%s=%u\n", "second", 2u);
        EXPECT_EQ(GetOsError(), 77u);
        EXPECT_EQ(Capture.Text(), "first 1\nsecond=2\n");
    }
    EXPECT_STREQ(g_szRTAssertMsg2, "first 1\nsecond=2\n");
    EXPECT_EQ(g_cchRTAssertMsg2, strlen("first 1\nsecond=2\n"));
    EXPECT_EQ(g_cHook2, 2);
    EXPECT_EQ(g_strHook2, "second=2\n");

    StdErrToFile Capture(TempPath("olma-assert-msg2b.txt"));
    RTAssertMsg2("again%c", '!');
    EXPECT_EQ(Capture.Text(), "again!");
    EXPECT_STREQ(g_szRTAssertMsg2, "again!");
    EXPECT_EQ(g_cchRTAssertMsg2, 6u);
}

TEST_F(Assert, AppendingStopsNearTheEndOfTheBuffer) {
    g_pfnRTAssertMsg2Hook = nullptr;
    StdErrToFile Capture(TempPath("olma-assert-fill.txt"));
    const std::string str100(100, 'x');
    RTAssertMsg2("%s", "");
    // 40 appends of 100 bytes reach 4000, the next ones run up to the last byte.
    for (int i = 0; i < 40; i++)
        RTAssertMsg2Add("%s", str100.c_str());
    EXPECT_EQ(g_cchRTAssertMsg2, 4000u);
    RTAssertMsg2Add("%s", str100.c_str()); // cut at the buffer's end
    EXPECT_EQ(g_cchRTAssertMsg2, RTASSERT_MSG2_SIZE - 1);
    EXPECT_EQ(g_szRTAssertMsg2[RTASSERT_MSG2_SIZE - 1], '\0');
    RTAssertMsg2Add("%s", "more"); // full: left alone
    EXPECT_EQ(g_cchRTAssertMsg2, RTASSERT_MSG2_SIZE - 1);
    EXPECT_EQ(std::string(g_szRTAssertMsg2).find("more"), std::string::npos);

    // Exactly at the limit appends stop too.
    RTAssertMsg2("%s", std::string(RTASSERT_MSG2_APPEND_LIMIT, 'y').c_str());
    EXPECT_EQ(g_cchRTAssertMsg2, RTASSERT_MSG2_APPEND_LIMIT);
    RTAssertMsg2Add("z");
    EXPECT_EQ(g_cchRTAssertMsg2, RTASSERT_MSG2_APPEND_LIMIT);
    RTAssertMsg2Add("z");
    EXPECT_EQ(strlen(g_szRTAssertMsg2), RTASSERT_MSG2_APPEND_LIMIT);
    // Below it they still go in.
    RTAssertMsg2("%s", std::string(RTASSERT_MSG2_APPEND_LIMIT - 1, 'y').c_str());
    RTAssertMsg2Add("zz");
    EXPECT_EQ(g_cchRTAssertMsg2, RTASSERT_MSG2_APPEND_LIMIT + 1);

    // Replacing starts again at the beginning.
    RTAssertMsg2("fresh");
    EXPECT_STREQ(g_szRTAssertMsg2, "fresh");
    EXPECT_EQ(g_cchRTAssertMsg2, 5u);
    // Every message went out in full, the cut one included.
    const std::string strOut = Capture.Text();
    EXPECT_NE(strOut.find(str100 + "more"), std::string::npos);
}

#if !defined(_WIN32)
// The fatal sequence: both messages, then the breakpoint trap ends the process.
TEST(AssertDeathTest, FatalSequenceWritesBothMessagesAndTraps) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RT_ASSERT_FATAL_MSG("RT_SUCCESS_NP(rc)", "status %d\n", -8), testing::KilledBySignal(SIGTRAP),
                "\n!!Assertion Failed!!\nExpression: RT_SUCCESS_NP\\(rc\\)\nLocation  : .*tst-assert.cpp\\([0-9]+\\) "
                ".*\nstatus -8\n");
}
#endif

#if defined(_WIN32)
constexpr int kCheckExit = (int)0xc0000409;
#endif

/** Runs a check-failure report in a child with standard error in a file; returns
 *  what it wrote. */
template <typename Fn> std::string RunReport(const char *pszFile, Fn fn) {
    const std::string strPath = TempPath(pszFile);
    remove(strPath.c_str());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(_WIN32)
    EXPECT_EXIT(
        {
            StdErrToFile Capture(strPath);
            fn();
        },
        testing::ExitedWithCode(kCheckExit), "");
#else
    EXPECT_EXIT(
        {
            StdErrToFile Capture(strPath);
            fn();
        },
        testing::KilledBySignal(SIGABRT), "");
#endif
    return ReadFile(strPath);
}

std::string Hex(uintptr_t u) {
    char sz[32];
    snprintf(sz, sizeof(sz), "%0*llx", (int)(sizeof(uintptr_t) * 2), (unsigned long long)u);
    return sz;
}

TEST(CheckFailDeathTest, ReportsTheirFixedTexts) {
    static const RTCHECKCONTEXT s_Ctx = {0x401234, 0x12ff00, 0x12ff40};
    static const RTCHECKVARDESC s_Var = {-0x20, 0x40, "szBuffer"};
    static const RTCHECKVARDESC s_VarNoName = {8, 0x1000, nullptr};

    EXPECT_EQ(RunReport("olma-cookie.txt", [] { rtCheckFailStackCookie(0xcafe1234, 0xdead, &s_Ctx); }),
              "\r\n\r\n!!Stack cookie corruption!!\r\n\r\nexpected" + Hex(0xcafe1234) + ", found " + Hex(0xdead) +
                  "\r\n");
    EXPECT_EQ(RunReport("olma-var.txt", [] { rtCheckFailStackVariable(0x12ff40, &s_Var, &s_Ctx); }),
              "\r\n\r\n!!Stack corruption!!\r\n\r\n" + Hex(0x12ff20) + " LB 0x40 - szBuffer\r\n");
    EXPECT_EQ(RunReport("olma-var2.txt", [] { rtCheckFailStackVariable(0x1000, &s_VarNoName, &s_Ctx); }),
              "\r\n\r\n!!Stack corruption!!\r\n\r\n" + Hex(0x1008) + " LB 0x1000 - <pszString=" + Hex(0) + ">\r\n");
    EXPECT_EQ(RunReport("olma-esp.txt", [] { rtCheckFailStackPointer(&s_Ctx); }),
              "\r\n\r\n!!ESP check failed!!\r\n\r\neip=" + Hex(0x401234) + " esp=" + Hex(0x12ff00) +
                  " ebp=" + Hex(0x12ff40) + "\r\n");
    EXPECT_EQ(RunReport("olma-range.txt", [] { rtCheckFailRange(&s_Ctx); }),
              "\r\n\r\n!!Range check failed at " + Hex(0x401234) + "!!\r\n");
    EXPECT_EQ(RunReport("olma-ctx.txt", [] { rtCheckFailContext(&s_Ctx); }),
              "\r\n\r\n!!Context (stack) check failed!!\r\n\r\nPC=" + Hex(0x401234) + " SP=" + Hex(0x12ff00) +
                  " BP=" + Hex(0x12ff40) + "\r\n");
}

} // namespace
