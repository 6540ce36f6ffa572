// The formatter against the C library's snprintf on messages typical for the
// runtime. Both write into the same stack buffer; the texts are checked once so
// that the comparison is between equal work.
#include <benchmark/benchmark.h>
#include <olma/string.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const std::string g_strLong(1000, 'p');

/** Both sides must produce the same text, or the figures compare different work. */
bool SameTexts() {
    char szOlma[2048], szLibc[2048];
    RTStrPrintf(szOlma, sizeof(szOlma), "%s: extracted %u of %u files, flags %#x, status %d\n", "TeskStub", 3u, 4u,
                0x1f2u, -41);
    snprintf(szLibc, sizeof(szLibc), "%s: extracted %u of %u files, flags %#x, status %d\n", "TeskStub", 3u, 4u, 0x1f2u,
             -41);
    if (strcmp(szOlma, szLibc) != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), "%llu bytes", 18446744073709551557ULL);
    snprintf(szLibc, sizeof(szLibc), "%llu bytes", 18446744073709551557ULL);
    if (strcmp(szOlma, szLibc) != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), "path: %s\n", g_strLong.c_str());
    snprintf(szLibc, sizeof(szLibc), "path: %s\n", g_strLong.c_str());
    if (strcmp(szOlma, szLibc) != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), "%-20s|%8s|", "name", "value");
    snprintf(szLibc, sizeof(szLibc), "%-20s|%8s|", "name", "value");
    return strcmp(szOlma, szLibc) == 0;
}

const bool g_fSameTexts = SameTexts();

#define CHECK_TEXTS(state)                                                                                             \
    do {                                                                                                               \
        if (!g_fSameTexts) {                                                                                           \
            (state).SkipWithError("the formatters disagree");                                                          \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)

void BM_StatusLine_Olma(benchmark::State &state) {
    CHECK_TEXTS(state);
    char szBuf[256];
    for (auto _ : state) {
        size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "%s: extracted %u of %u files, flags %#x, status %d\n",
                                 "TeskStub", 3u, 4u, 0x1f2u, -41);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_StatusLine_Snprintf(benchmark::State &state) {
    char szBuf[256];
    for (auto _ : state) {
        int cch = snprintf(szBuf, sizeof(szBuf), "%s: extracted %u of %u files, flags %#x, status %d\n", "TeskStub", 3u,
                           4u, 0x1f2u, -41);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_U64_Olma(benchmark::State &state) {
    CHECK_TEXTS(state);
    char szBuf[64];
    for (auto _ : state) {
        size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "%llu bytes", 18446744073709551557ULL);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_U64_Snprintf(benchmark::State &state) {
    char szBuf[64];
    for (auto _ : state) {
        int cch = snprintf(szBuf, sizeof(szBuf), "%llu bytes", 18446744073709551557ULL);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

// Grouped digits: the C locale of snprintf has no separator, so its text is the
// plain number; the figures still show the cost of the 64-bit conversion.
void BM_U64Grouped_Olma(benchmark::State &state) {
    CHECK_TEXTS(state);
    char szBuf[64];
    for (auto _ : state) {
        size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "%'llu bytes", 18446744073709551557ULL);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_U64Grouped_Snprintf(benchmark::State &state) {
    char szBuf[64];
    for (auto _ : state) {
        int cch = snprintf(szBuf, sizeof(szBuf), "%'llu bytes", 18446744073709551557ULL);
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_LongString_Olma(benchmark::State &state) {
    CHECK_TEXTS(state);
    char szBuf[2048];
    for (auto _ : state) {
        size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "path: %s\n", g_strLong.c_str());
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_LongString_Snprintf(benchmark::State &state) {
    char szBuf[2048];
    for (auto _ : state) {
        int cch = snprintf(szBuf, sizeof(szBuf), "path: %s\n", g_strLong.c_str());
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_PaddedString_Olma(benchmark::State &state) {
    CHECK_TEXTS(state);
    char szBuf[256];
    for (auto _ : state) {
        size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), "%-20s|%8s|", "name", "value");
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

void BM_PaddedString_Snprintf(benchmark::State &state) {
    char szBuf[256];
    for (auto _ : state) {
        int cch = snprintf(szBuf, sizeof(szBuf), "%-20s|%8s|", "name", "value");
        benchmark::DoNotOptimize(cch);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_StatusLine_Olma);
BENCHMARK(BM_StatusLine_Snprintf);
BENCHMARK(BM_U64_Olma);
BENCHMARK(BM_U64_Snprintf);
BENCHMARK(BM_U64Grouped_Olma);
BENCHMARK(BM_U64Grouped_Snprintf);
BENCHMARK(BM_LongString_Olma);
BENCHMARK(BM_LongString_Snprintf);
BENCHMARK(BM_PaddedString_Olma);
BENCHMARK(BM_PaddedString_Snprintf);

} // namespace
