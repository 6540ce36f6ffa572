// Extracting and verifying a 128 MiB package (write from the resource in place, then
// re-open and compare block by block) against cp followed by cmp of the same bytes,
// with the growth of the peak resident set: the payload must never be copied to memory.
#include <benchmark/benchmark.h>

#include <olma/path.h>
#include <olma/string.h>

#include "TeskStub.h"
#include "TeskStubPlatform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr size_t kcbPackage = 128u << 20;

/** The package bytes, made once; the replacement resource table hands them out in place. */
const std::string &packageBytes() {
    static const std::string s_str = [] {
        std::string str(kcbPackage, '\0');
        for (size_t i = 0; i < kcbPackage; i++)
            str[i] = (char)(uint8_t)(i * 2654435761u >> 13);
        return str;
    }();
    return s_str;
}

int findResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
    // HDR_00 and BIN_00 differ in their first letter.
    static const std::string s_strHeader = [] {
        PackageHeader Hdr = {};
        Hdr.architecture = (uint32_t)PackageArch::All;
        strcpy(Hdr.resourceName, "BIN_00");
        strcpy(Hdr.fileName, "package.msi");
        return std::string((const char *)&Hdr, sizeof(Hdr));
    }();
    const std::string &str = pwszName[0] == 'H' ? s_strHeader : packageBytes();
    *ppvData = str.data();
    *pcbData = (uint32_t)str.size();
    return 0;
}

std::string scratch(const char *pszName) {
    return (std::filesystem::temp_directory_path() / (std::string(pszName) + "-" + std::to_string(getpid()))).string();
}

long peakRssKiB() {
    struct rusage Usage;
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss;
}

void BM_ExtractPackages(benchmark::State &state) {
    g_StubPlatform.pfnFindResource = findResource;
    silent = true;
    (void)packageBytes();
    const std::string strDir = scratch("olma-bench-extract");
    const auto Cwd = std::filesystem::current_path();
    const long cKiBBefore = peakRssKiB();
    for (auto _ : state) {
        InitCleanupRecords();
        CleanupRecord *pDirRec = nullptr;
        if (ExtractPackages(1, strDir.c_str(), false, &pDirRec) != 0)
            state.SkipWithError("extraction failed");
        state.PauseTiming();
        std::filesystem::current_path(Cwd);
        ProcessCleanupRecords(strDir.c_str());
        ReleaseCleanupRecords();
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * kcbPackage);
    state.counters["peak_rss_MiB"] = (double)peakRssKiB() / 1024;
    state.counters["peak_rss_growth_KiB"] = (double)(peakRssKiB() - cKiBBefore);
}
BENCHMARK(BM_ExtractPackages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CpThenCmp(benchmark::State &state) {
    const std::string strSrc = scratch("olma-bench-cp-src");
    const std::string strDst = scratch("olma-bench-cp-dst");
    {
        std::ofstream out(strSrc, std::ios::binary);
        out.write(packageBytes().data(), (std::streamsize)kcbPackage);
    }
    const std::string strCmd = "cp '" + strSrc + "' '" + strDst + "' && cmp '" + strSrc + "' '" + strDst + "'";
    for (auto _ : state) {
        if (std::system(strCmd.c_str()) != 0)
            state.SkipWithError("cp or cmp failed");
        state.PauseTiming();
        std::filesystem::remove(strDst);
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * kcbPackage);
    std::filesystem::remove(strSrc);
}
BENCHMARK(BM_CpThenCmp)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
