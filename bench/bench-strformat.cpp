// The formatter against the C library's snprintf on messages typical for the
// runtime. Both write into a stack buffer; where the runtime has a directive of its
// own (%Rrc, %'RU64) the C library gets the nearest equivalent. The texts are
// compared first, so that the figures compare equal work.
#include <benchmark/benchmark.h>
#include <olma/string.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const std::string g_strLong(1000, 'p');

#define STATUS_ARGS "TeskStub", 3u, 4u, 0x1f2u
#define FMT_STATUS_OLMA "%s: extracted %u of %u files, flags %#x, status %Rrc\n"
#define FMT_STATUS_LIBC "%s: extracted %u of %u files, flags %#x, status %s\n"
// The C locale of snprintf has no digit grouping, so it prints the plain number.
#define FMT_U64_OLMA "%'RU64 bytes"
#define FMT_U64_LIBC "%llu bytes"
constexpr uint64_t g_u64 = 18446744073709551557ULL;
#define FMT_LONG "path: %s\n"
#define FMT_PADDED "%-20s|%8s|"

bool SameTexts() {
    char szOlma[2048], szLibc[2048];
    RTStrPrintf(szOlma, sizeof(szOlma), FMT_STATUS_OLMA, STATUS_ARGS, ERR_BUFFER_OVERFLOW);
    snprintf(szLibc, sizeof(szLibc), FMT_STATUS_LIBC, STATUS_ARGS, "ERR_BUFFER_OVERFLOW");
    if (strcmp(szOlma, szLibc) != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), FMT_U64_OLMA, g_u64);
    if (strcmp(szOlma, "18 446 744 073 709 551 557 bytes") != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), FMT_LONG, g_strLong.c_str());
    snprintf(szLibc, sizeof(szLibc), FMT_LONG, g_strLong.c_str());
    if (strcmp(szOlma, szLibc) != 0)
        return false;
    RTStrPrintf(szOlma, sizeof(szOlma), FMT_PADDED, "name", "value");
    snprintf(szLibc, sizeof(szLibc), FMT_PADDED, "name", "value");
    return strcmp(szOlma, szLibc) == 0;
}

const bool g_fSameTexts = SameTexts();

#define BENCH_PAIR(a_Name, a_cbBuf, a_OlmaArgs, a_LibcArgs)                                                            \
    void BM_##a_Name##_Olma(benchmark::State &state) {                                                                 \
        if (!g_fSameTexts) {                                                                                           \
            state.SkipWithError("the formatters disagree");                                                            \
            return;                                                                                                    \
        }                                                                                                              \
        char szBuf[a_cbBuf];                                                                                           \
        for (auto _ : state) {                                                                                         \
            size_t cch = RTStrPrintf(szBuf, sizeof(szBuf), a_OlmaArgs);                                                \
            benchmark::DoNotOptimize(cch);                                                                             \
            benchmark::ClobberMemory();                                                                                \
        }                                                                                                              \
    }                                                                                                                  \
    void BM_##a_Name##_Snprintf(benchmark::State &state) {                                                             \
        char szBuf[a_cbBuf];                                                                                           \
        for (auto _ : state) {                                                                                         \
            int cch = snprintf(szBuf, sizeof(szBuf), a_LibcArgs);                                                      \
            benchmark::DoNotOptimize(cch);                                                                             \
            benchmark::ClobberMemory();                                                                                \
        }                                                                                                              \
    }                                                                                                                  \
    BENCHMARK(BM_##a_Name##_Olma);                                                                                     \
    BENCHMARK(BM_##a_Name##_Snprintf)

#define ARGS(...) __VA_ARGS__

BENCH_PAIR(StatusLine, 256, ARGS(FMT_STATUS_OLMA, STATUS_ARGS, ERR_BUFFER_OVERFLOW),
           ARGS(FMT_STATUS_LIBC, STATUS_ARGS, "ERR_BUFFER_OVERFLOW"));
BENCH_PAIR(U64Grouped, 64, ARGS(FMT_U64_OLMA, g_u64), ARGS(FMT_U64_LIBC, (unsigned long long)g_u64));
BENCH_PAIR(LongString, 2048, ARGS(FMT_LONG, g_strLong.c_str()), ARGS(FMT_LONG, g_strLong.c_str()));
BENCH_PAIR(PaddedString, 256, ARGS(FMT_PADDED, "name", "value"), ARGS(FMT_PADDED, "name", "value"));

} // namespace
