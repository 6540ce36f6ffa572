// Streams: mode strings, CR LF translation, the three buffering modes, standard
// streams redirected to a file, invalid UTF-8, sticky errors after a broken pipe, and
// allocation failures.
#include "stream-capture.h"
#include <olma/mem.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

/** Points the process's standard output or error handle at a file for a while. The
 *  streams are shut down around it so they look for the handle again. */
class StdHandleRedirect {
public:
    StdHandleRedirect(int iStd, const std::string &strPath) : m_iStd(iStd) {
        rtStrmTerm();
#if defined(_WIN32)
        const DWORD dwStd = iStd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
        m_hSaved = GetStdHandle(dwStd);
        m_hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(m_hFile, INVALID_HANDLE_VALUE);
        SetStdHandle(dwStd, m_hFile);
#else
        fflush(iStd == 1 ? stdout : stderr);
        m_fdSaved = dup(iStd);
        const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        dup2(fd, iStd);
        close(fd);
#endif
    }
    ~StdHandleRedirect() {
        rtStrmTerm();
#if defined(_WIN32)
        SetStdHandle(m_iStd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, m_hSaved);
        CloseHandle(m_hFile);
#else
        dup2(m_fdSaved, m_iStd);
        close(m_fdSaved);
#endif
    }

private:
    int m_iStd;
#if defined(_WIN32)
    HANDLE m_hSaved = nullptr;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
#else
    int m_fdSaved = -1;
#endif
};

/** A pipe whose write end is opened as a stream by name and whose read end the test
 *  holds (and may close to break the pipe). */
class PipeFixture {
public:
    PipeFixture() {
#if defined(_WIN32)
        m_strName =
            "\\\\.\\pipe\\olma-stream-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(s_cPipes++);
        m_hRead = CreateNamedPipeA(m_strName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                   0, nullptr);
        EXPECT_NE(m_hRead, INVALID_HANDLE_VALUE);
#else
        signal(SIGPIPE, SIG_IGN); // the failed write must come back as a status
        int afd[2];
        EXPECT_EQ(pipe(afd), 0);
        m_fdRead = afd[0];
        m_fdWrite = afd[1];
        m_strName = "/dev/fd/" + std::to_string(m_fdWrite);
#endif
    }
    ~PipeFixture() {
        closeReadEnd();
#if !defined(_WIN32)
        if (m_fdWrite >= 0)
            close(m_fdWrite);
#endif
    }
    const std::string &name() const {
        return m_strName;
    }
    /** Call once the stream is open. */
    void connected() {
#if defined(_WIN32)
        ConnectNamedPipe(m_hRead, nullptr); // the client is there already: ERROR_PIPE_CONNECTED
#else
        close(m_fdWrite); // the stream has its own descriptor now
        m_fdWrite = -1;
#endif
    }
    std::string read(size_t cb) {
        std::string str(cb, '\0');
#if defined(_WIN32)
        DWORD cbRead = 0;
        EXPECT_TRUE(ReadFile(m_hRead, str.data(), (DWORD)cb, &cbRead, nullptr));
        str.resize(cbRead);
#else
        const ssize_t cbRead = ::read(m_fdRead, str.data(), cb);
        str.resize(cbRead > 0 ? (size_t)cbRead : 0);
#endif
        return str;
    }
    void closeReadEnd() {
#if defined(_WIN32)
        if (m_hRead != INVALID_HANDLE_VALUE)
            CloseHandle(m_hRead);
        m_hRead = INVALID_HANDLE_VALUE;
#else
        if (m_fdRead >= 0)
            close(m_fdRead);
        m_fdRead = -1;
#endif
    }

private:
    std::string m_strName;
#if defined(_WIN32)
    static inline unsigned s_cPipes = 0;
    HANDLE m_hRead = INVALID_HANDLE_VALUE;
#else
    int m_fdRead = -1;
    int m_fdWrite = -1;
#endif
};

} // namespace

TEST_F(StreamTest, ModeStrings) {
    struct Case {
        const char *pszMode;
        int rcExpected;
        const char *pszPrinted; // what "a\nb" leaves in a file that held "old"
    };
    const Case aCases[] = {
        {"w", 0, "a\r\nb"},
        {"wt", 0, "a\r\nb"},
        {"wb", 0, "a\nb"},
        {"bw", 0, "a\nb"},
        {"rw", 0, "a\r\nb"}, // the last access letter wins: replaced and written
        {"a", 0, "olda\r\nb"},
        {"ab", 0, "olda\nb"},
        {"r+", 0, "a\r\nb"}, // read/write from the start, over the old text
        {"we", 0, "a\r\nb"},
        {"wN", 0, "a\r\nb"},
        {"wE", 0, "a\r\nb"},
        {"wx", ERR_ALREADY_EXISTS, nullptr},
        {"rx", ERR_INVALID_FLAGS, nullptr},
        {"ax", ERR_INVALID_FLAGS, nullptr},
        {"", ERR_INVALID_FLAGS, nullptr},
        {"+", ERR_INVALID_FLAGS, nullptr},
        {"bt", ERR_INVALID_FLAGS, nullptr},
        {"wq", ERR_INVALID_FLAGS, nullptr},
        {"w ", ERR_INVALID_FLAGS, nullptr},
    };
    int i = 0;
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszMode);
        const std::string strName = "f" + std::to_string(i++);
        writeFile(strName, "old");
        PRTSTREAM pStream = (PRTSTREAM)(uintptr_t)0x1234;
        EXPECT_EQ(RTStrmOpen(path(strName).c_str(), c.pszMode, &pStream), c.rcExpected);
        if (c.rcExpected != 0) {
            EXPECT_EQ(pStream, nullptr);
            EXPECT_EQ(readFile(strName), "old");
            continue;
        }
        ASSERT_NE(pStream, nullptr);
        EXPECT_EQ(RTStrmPrintf(pStream, "a\nb"), 3);
        // "r+" overwrites in place, so the old text's tail would show if it were longer.
        EXPECT_EQ(finish(strName), c.pszPrinted);
    }

    PRTSTREAM pStream = (PRTSTREAM)(uintptr_t)0x1234;
    EXPECT_EQ(RTStrmOpen(path("x").c_str(), nullptr, &pStream), ERR_INVALID_FLAGS);
    EXPECT_EQ(pStream, nullptr);
    EXPECT_EQ(RTStrmOpen(nullptr, "w", &pStream), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTStrmOpen(path("missing").c_str(), "r", &pStream), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(pStream, nullptr);
    EXPECT_FALSE(exists("missing"));

    // A new file with "wx" is created and writable.
    pStream = open("new", "wx");
    ASSERT_NE(pStream, nullptr);
    EXPECT_EQ(RTStrmPrintf(pStream, "n"), 1);
    EXPECT_EQ(finish("new"), "n");
}

TEST_F(StreamTest, BufferingModes) {
    struct Case {
        const char *pszMode;
        int enmBuf;
        const char *pszNow;   // in the file right after printing "x\ny"
        const char *pszFinal; // after the shutdown
    };
    const Case aCases[] = {
        {"w", RTSTRMBUFMODE_FULL_BUFFERED, "", "x\r\ny"},    {"w", RTSTRMBUFMODE_LINE_BUFFERED, "x\r\n", "x\r\ny"},
        {"w", RTSTRMBUFMODE_UNBUFFERED, "x\r\ny", "x\r\ny"}, {"wb", RTSTRMBUFMODE_LINE_BUFFERED, "x\n", "x\ny"},
        {"wb", RTSTRMBUFMODE_UNBUFFERED, "x\ny", "x\ny"},
    };
    int i = 0;
    for (const Case &c : aCases) {
        SCOPED_TRACE(std::string(c.pszMode) + " " + std::to_string(c.enmBuf));
        const std::string strName = "f" + std::to_string(i++);
        PRTSTREAM pStream = open(strName, c.pszMode);
        ASSERT_NE(pStream, nullptr);
        ASSERT_EQ(RTStrmSetBufferingMode(pStream, c.enmBuf), 0);
        EXPECT_EQ(RTStrmPrintf(pStream, "x\n%s", "y"), 3);
        EXPECT_EQ(readFile(strName), c.pszNow);
        EXPECT_EQ(finish(strName), c.pszFinal);
    }
}

TEST_F(StreamTest, FullBufferIsWrittenOutWhenFull) {
    // A line end at every buffer boundary position: the CR LF pair must never be split
    // and nothing may be lost or doubled when the buffer fills.
    PRTSTREAM pStream = open("big");
    ASSERT_NE(pStream, nullptr);
    std::string strExpected;
    const std::string strRun(65535, 'a');
    EXPECT_EQ(RTStrmPrintf(pStream, "%s\n", strRun.c_str()), 65536);
    strExpected += strRun + "\r\n";
    EXPECT_EQ(readFile("big"), strRun); // the full buffer went out before the CR LF
    for (int i = 0; i < 3000; i++) {
        EXPECT_EQ(RTStrmPrintf(pStream, "line %d\n", i), (int)std::to_string(i).size() + 6);
        strExpected += "line " + std::to_string(i) + "\r\n";
    }
    EXPECT_EQ(finish("big"), strExpected);
}

TEST_F(StreamTest, BadStreams) {
    RTSTREAM Fake = {};
    Fake.magic = RTSTREAM_MAGIC_DEAD;
    EXPECT_EQ(RTStrmPrintf(nullptr, "x"), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTStrmPrintf((PRTSTREAM)(uintptr_t)0xfff, "x"), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTStrmPrintf(&Fake, "x"), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTStrmSetBufferingMode(nullptr, RTSTRMBUFMODE_UNBUFFERED), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTStrmSetBufferingMode(&Fake, RTSTRMBUFMODE_UNBUFFERED), ERR_INVALID_HANDLE);

    PRTSTREAM pStream = open("f");
    ASSERT_NE(pStream, nullptr);
    for (int enmMode : {0, 4, -1}) {
        SCOPED_TRACE(enmMode);
        EXPECT_EQ(RTStrmSetBufferingMode(pStream, enmMode), ERR_INVALID_PARAMETER);
    }
    // The stream stayed fully buffered.
    EXPECT_EQ(RTStrmPrintf(pStream, "z\n"), 2);
    EXPECT_EQ(readFile("f"), "");
    EXPECT_EQ(finish("f"), "z\r\n");
}

TEST_F(StreamTest, BrokenPipeMakesTheStreamFailForGood) {
    PipeFixture Pipe;
    PRTSTREAM pStream = nullptr;
    ASSERT_EQ(RTStrmOpen(Pipe.name().c_str(), "wb", &pStream), 0);
    Pipe.connected();
    ASSERT_EQ(RTStrmSetBufferingMode(pStream, RTSTRMBUFMODE_UNBUFFERED), 0);
    EXPECT_EQ(RTStrmPrintf(pStream, "%s", "one"), 3);
    EXPECT_EQ(Pipe.read(16), "one");

    Pipe.closeReadEnd();
    EXPECT_EQ(RTStrmPrintf(pStream, "two"), 0); // the write failed: nothing counted
    // From now on the stream refuses at once.
    EXPECT_EQ(RTStrmPrintf(pStream, "three"), -1);
    EXPECT_EQ(RTStrmPrintf(pStream, "%s", ""), -1);
    EXPECT_EQ(RTStrmSetBufferingMode(pStream, RTSTRMBUFMODE_LINE_BUFFERED), 0);
    EXPECT_EQ(RTStrmPrintf(pStream, "four\n"), -1);
}

TEST_F(StreamTest, RedirectedStandardOutputBecomesFullyBuffered) {
    {
        StdHandleRedirect Redirect(1, path("stdout"));
        // Line-buffered at first: the first line goes out and the console test finds a file.
        EXPECT_EQ(RTPrintf("first %s\n", "line"), 11);
        EXPECT_EQ(readFile("stdout"), "first line\r\n");
        EXPECT_EQ(RTPrintf("second\n"), 7);
        EXPECT_EQ(RTStrmPrintf(g_pStdOut, "third\n"), 6);
        EXPECT_EQ(readFile("stdout"), "first line\r\n");
        // Text that is not UTF-8 spoils only its own call.
        EXPECT_EQ(RTPrintf("bad \xff\xfe\n"), 0);
        EXPECT_EQ(RTPrintf("fourth\n"), 7);
    }
    EXPECT_EQ(readFile("stdout"), "first line\r\nsecond\r\nthird\r\nfourth\r\n");
}

TEST_F(StreamTest, RedirectedStandardErrorIsWrittenOnceThenBuffered) {
    {
        StdHandleRedirect Redirect(2, path("stderr"));
        EXPECT_EQ(RTStrmPrintf(g_pStdErr, "e1 "), 3); // unbuffered: written out at once
        EXPECT_EQ(readFile("stderr"), "e1 ");
        EXPECT_EQ(RTStrmPrintf(g_pStdErr, "e2\n"), 3);
        EXPECT_EQ(readFile("stderr"), "e1 ");
    }
    EXPECT_EQ(readFile("stderr"), "e1 e2\r\n");
}

TEST_F(StreamTest, RedirectedStandardOutputFollowsThePointer) {
    // The pointer is read at every call: pointing it at a file stream redirects RTPrintf.
    PRTSTREAM pStream = open("f");
    ASSERT_NE(pStream, nullptr);
    g_pStdOut = pStream;
    EXPECT_EQ(RTPrintf("%d-%s\n", 42, "x"), 5);
    EXPECT_EQ(finish("f"), "42-x\r\n");
}

TEST_F(StreamTest, AllocationFailures) {
    rtStrmTerm();
    const size_t cBaseline = RTMemTestOutstanding();
    // Opening: each allocation in turn (the list set-up included, so the list is reset
    // before every try).
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 50u);
        rtStrmTerm();
        PRTSTREAM pStream = nullptr;
        RTMemTestFailNth(n);
        const int rc = RTStrmOpen(path("o" + std::to_string(n)).c_str(), "w", &pStream);
        RTMemTestFailNth(0);
        if (rc == 0) {
            ASSERT_NE(pStream, nullptr);
            break;
        }
        EXPECT_LT(rc, 0);
        EXPECT_EQ(pStream, nullptr);
        rtStrmTerm(); // the list and its lock stay set up until the shutdown
        EXPECT_EQ(RTMemTestOutstanding(), cBaseline);
    }
    rtStrmTerm();
    EXPECT_EQ(RTMemTestOutstanding(), cBaseline);

    // The first print on a stream allocates its lock and its buffer; a failed lock
    // fails the call only, a failed buffer allocation is retried with less.
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 50u);
        const std::string strName = "p" + std::to_string(n);
        PRTSTREAM pStream = open(strName);
        ASSERT_NE(pStream, nullptr);
        RTMemTestFailNth(n);
        const int rc = RTStrmPrintf(pStream, "hello\n");
        RTMemTestFailNth(0);
        if (rc < 0) {
            EXPECT_EQ(rc, ERR_NO_MEMORY);
            EXPECT_EQ(RTStrmPrintf(pStream, "again\n"), 6);
            EXPECT_EQ(finish(strName), "again\r\n");
        } else {
            EXPECT_EQ(rc, 6);
            EXPECT_EQ(finish(strName), "hello\r\n");
            if (n > 8)
                break;
        }
        EXPECT_EQ(RTMemTestOutstanding(), cBaseline);
    }
}

TEST_F(StreamTest, OnePrintIsNeverInterleavedWithAnother) {
    // Every argument reaches the stream as a chunk of its own, so without the stream's
    // lock the pieces of concurrent prints would mix within a line.
    PRTSTREAM pStream = open("f");
    ASSERT_NE(pStream, nullptr);
    constexpr int cThreads = 4;
    constexpr int cLines = 20000;
    std::atomic<bool> fGo{false};
    std::vector<std::thread> Threads;
    for (int t = 0; t < cThreads; t++)
        Threads.emplace_back([pStream, t, &fGo] {
            while (!fGo.load())
                std::this_thread::yield();
            const std::string strTag(1, (char)('A' + t));
            for (int i = 0; i < cLines; i++)
                RTStrmPrintf(pStream, "%s:%s:%s:%d:%s\n", strTag.c_str(), strTag.c_str(), strTag.c_str(), i,
                             strTag.c_str());
        });
    fGo.store(true);
    for (std::thread &Thrd : Threads)
        Thrd.join();
    std::istringstream In(finish("f"));
    std::string strLine;
    int acNext[cThreads] = {};
    int cSeen = 0;
    while (std::getline(In, strLine)) {
        ASSERT_GE(strLine.size(), 9u) << strLine;
        const int t = strLine[0] - 'A';
        ASSERT_TRUE(t >= 0 && t < cThreads) << strLine;
        const std::string strTag(1, strLine[0]);
        EXPECT_EQ(strLine,
                  strTag + ":" + strTag + ":" + strTag + ":" + std::to_string(acNext[t]) + ":" + strTag + "\r");
        acNext[t]++;
        cSeen++;
    }
    EXPECT_EQ(cSeen, cThreads * cLines);
}
