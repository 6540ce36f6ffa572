// RTPathAbsEx on typical paths: already absolute, needing normalisation, relative to a base.
#include <benchmark/benchmark.h>
#include <olma/path.h>

namespace {

void absEx(benchmark::State &State, const char *pszBase, const char *pszPath, uint32_t fFlags) {
    char szBuf[4100];
    for (auto _ : State) {
        size_t cb = sizeof(szBuf);
        int rc = RTPathAbsEx(pszBase, pszPath, fFlags, szBuf, &cb);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(szBuf);
    }
}

BENCHMARK_CAPTURE(absEx, dos_absolute, nullptr, "C:\\Users\\me\\AppData\\Local\\Temp\\setup.msi", PATH_STYLE_DOS);
BENCHMARK_CAPTURE(absEx, dos_dots, nullptr, "c:/Users/me/./AppData//Local/../Local/Temp/setup.msi", PATH_STYLE_DOS);
BENCHMARK_CAPTURE(absEx, dos_base, "C:\\Users\\me\\AppData\\Local\\Temp", "XXXXXXXXXXXXXXXXXXXXXXXX\\package.msi",
                  PATH_STYLE_DOS);
BENCHMARK_CAPTURE(absEx, unix_absolute, nullptr, "/home/me/.cache/olma/setup.msi", PATH_STYLE_UNIX);
BENCHMARK_CAPTURE(absEx, unix_base, "/home/me/work", "../src/./olma/path.cpp", PATH_STYLE_UNIX);
BENCHMARK_CAPTURE(absEx, unix_cwd, nullptr, "build/native/tests", PATH_STYLE_UNIX);

} // namespace
