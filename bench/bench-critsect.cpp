// Uncontended critical-section enter/leave against the platform mutex.
#include <benchmark/benchmark.h>

#include <pthread.h>

#include <olma/semaphore.h>

namespace {

void BM_RTCritSectEnterLeave(benchmark::State &state) {
    RTCRITSECT Cs;
    if (RTCritSectInit(&Cs) != 0) {
        state.SkipWithError("RTCritSectInit failed");
        return;
    }
    for (auto _ : state) {
        if (RTCritSectEnter(&Cs) != 0)
            state.SkipWithError("enter failed");
        (void)RTCritSectLeave(&Cs);
    }
    (void)RTCritSectDelete(&Cs);
}
BENCHMARK(BM_RTCritSectEnterLeave);

void BM_RTCritSectNestedEnterLeave(benchmark::State &state) {
    RTCRITSECT Cs;
    if (RTCritSectInit(&Cs) != 0 || RTCritSectEnter(&Cs) != 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    for (auto _ : state) {
        if (RTCritSectEnter(&Cs) != 0)
            state.SkipWithError("enter failed");
        (void)RTCritSectLeave(&Cs);
    }
    (void)RTCritSectLeave(&Cs);
    (void)RTCritSectDelete(&Cs);
}
BENCHMARK(BM_RTCritSectNestedEnterLeave);

void BM_PthreadMutexLockUnlock(benchmark::State &state) {
    pthread_mutex_t Mtx = PTHREAD_MUTEX_INITIALIZER;
    for (auto _ : state) {
        pthread_mutex_lock(&Mtx);
        pthread_mutex_unlock(&Mtx);
    }
    pthread_mutex_destroy(&Mtx);
}
BENCHMARK(BM_PthreadMutexLockUnlock);

} // namespace
