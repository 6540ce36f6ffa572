// Helpers for tests that run real threads: threads the runtime knows (so that the
// blocking bookkeeping shows when they really wait) and bounded polling.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <olma/thread.h>
#include "common/misc/internal-thread.h"

namespace tsthelp {

/** Longest any test waits for another thread to reach a state. */
constexpr auto kPatience = std::chrono::seconds(20);

/** Makes sure the registry exists (the calling thread becomes "main" the first time). */
inline void InitThreads() {
    const int rc = rtThreadInit();
    ASSERT_TRUE(rc == 0 || rc == INF_ALREADY_INITIALIZED) << rc;
}

/** Polls until pred holds; false when it never did within kPatience. */
inline bool WaitFor(const std::function<bool()> &pred) {
    const auto tsEnd = std::chrono::steady_clock::now() + kPatience;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > tsEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/** A thread adopted by the runtime under a name, running fn; its record is
 *  released when fn returns. record() is valid once started() is true. */
class AdoptedThread {
public:
    AdoptedThread(const char *pszName, std::function<void()> fn)
        : m_Thread([this, pszName, fn = std::move(fn)] {
              int rc = rtThreadAdopt(RTTHREADTYPE_DEFAULT, 0, 0, pszName);
              if (rc == 0)
                  m_pRecord.store(RTThreadSelf());
              m_rcAdopt.store(rc);
              m_fStarted.store(true);
              fn();
              if (rc == 0)
                  RTThreadRelease(RTThreadSelf());
          }) {}
    ~AdoptedThread() { join(); }
    void join() {
        if (m_Thread.joinable())
            m_Thread.join();
    }
    /** Waits until the thread's record is blocked in the given state. */
    bool WaitBlocked(RTTHREADSTATE enmState) {
        if (!WaitFor([this] { return m_fStarted.load(); }) || m_rcAdopt.load() != 0)
            return false;
        RTTHREAD hThread = m_pRecord.load();
        return WaitFor([&] { return RTThreadGetState(hThread) == enmState; });
    }

private:
    std::atomic<bool> m_fStarted{false};
    std::atomic<int> m_rcAdopt{0};
    std::atomic<RTTHREAD> m_pRecord{nullptr};
    std::thread m_Thread;
};

} // namespace tsthelp
