// POSIX backend: the monotonic clock, nanosleep and sched_yield.
#include <olma/time.h>

#include <cerrno>
#include <ctime>
#include <sched.h>

uint64_t RTTimeNanoTS() {
    struct timespec Ts;
    clock_gettime(CLOCK_MONOTONIC, &Ts);
    return (uint64_t)Ts.tv_sec * UINT64_C(1000000000) + (uint64_t)Ts.tv_nsec;
}

int RTThreadSleep(RTMSINTERVAL cMillies) {
    struct timespec Ts;
    Ts.tv_sec = cMillies / 1000;
    Ts.tv_nsec = (long)(cMillies % 1000) * 1000000;
    /* A signal cuts nanosleep short; sleep the rest so the caller gets the full time. */
    while (nanosleep(&Ts, &Ts) != 0 && errno == EINTR) {
    }
    return 0;
}

bool RTThreadYield() {
    const uint64_t uStart = RTTimeNanoTS();
    sched_yield();
    /* A yield that returns at once takes well under half a microsecond; longer means
       another thread had the processor. */
    return RTTimeNanoTS() - uStart > 500;
}
