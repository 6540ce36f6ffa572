// Test helper: streams opened on files in a test directory, the standard stream
// pointers pointed at them, and the shutdown that writes everything out.
#pragma once

#include "Runtime/r3/test-tmpdir.h"
#include <olma/stream.h>
#include "r3/internal-stream.h"

class StreamTest : public TmpDirTest {
protected:
    void SetUp() override {
        TmpDirTest::SetUp();
        m_pSavedErr = g_pStdErr;
        m_pSavedOut = g_pStdOut;
    }
    void TearDown() override {
        g_pStdErr = m_pSavedErr;
        g_pStdOut = m_pSavedOut;
        rtStrmTerm();
        TmpDirTest::TearDown();
    }

    /** A stream on a new file of the test directory. */
    PRTSTREAM open(const std::string &name, const char *pszMode = "w") {
        PRTSTREAM pStream = nullptr;
        EXPECT_EQ(RTStrmOpen(path(name).c_str(), pszMode, &pStream), 0) << name << " " << pszMode;
        return pStream;
    }
    /** Points standard error and output at files "err" and "out" (written through). */
    void captureStd() {
        g_pStdErr = open("err");
        g_pStdOut = open("out");
        ASSERT_EQ(RTStrmSetBufferingMode(g_pStdErr, RTSTRMBUFMODE_UNBUFFERED), 0);
        ASSERT_EQ(RTStrmSetBufferingMode(g_pStdOut, RTSTRMBUFMODE_UNBUFFERED), 0);
    }
    /** Runs the shutdown (every opened stream is closed, the pointers go back) and
     *  returns what the file holds. */
    std::string finish(const std::string &name) {
        g_pStdErr = m_pSavedErr;
        g_pStdOut = m_pSavedOut;
        rtStrmTerm();
        return readFile(name);
    }

    PRTSTREAM m_pSavedErr = nullptr;
    PRTSTREAM m_pSavedOut = nullptr;
};
