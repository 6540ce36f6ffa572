// The runtime's unsigned parser against the C library's strtoull on typical option values.
#include <benchmark/benchmark.h>
#include <olma/string.h>

#include <cstdlib>

namespace {

const char *const g_apszInputs[] = {"0", "42", "65535", "0x7fffffff", "18446744073709551615", "123456789012"};

void BM_RTStrToUInt64Ex(benchmark::State &State) {
    for (auto _ : State)
        for (const char *psz : g_apszInputs) {
            uint64_t u64;
            char *pszNext;
            int rc = RTStrToUInt64Ex(psz, &pszNext, 0, &u64);
            benchmark::DoNotOptimize(rc);
            benchmark::DoNotOptimize(u64);
        }
    State.SetItemsProcessed(State.iterations() * (int64_t)(sizeof(g_apszInputs) / sizeof(g_apszInputs[0])));
}
BENCHMARK(BM_RTStrToUInt64Ex);

void BM_strtoull(benchmark::State &State) {
    for (auto _ : State)
        for (const char *psz : g_apszInputs) {
            char *pszNext;
            unsigned long long u = strtoull(psz, &pszNext, 0);
            benchmark::DoNotOptimize(u);
            benchmark::DoNotOptimize(pszNext);
        }
    State.SetItemsProcessed(State.iterations() * (int64_t)(sizeof(g_apszInputs) / sizeof(g_apszInputs[0])));
}
BENCHMARK(BM_strtoull);

} // namespace
