// Writing and reading back a 128 MiB file in 64 KiB blocks: the runtime's file calls
// against the platform's own, on the same file.
#include <benchmark/benchmark.h>

#include <olma/file.h>

#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t kFileSize = 128u << 20;
constexpr size_t kBlock = 64u << 10;

std::string benchPath() {
    auto p = std::filesystem::temp_directory_path() / ("olma-bench-fileio-" + std::to_string(
#if defined(_WIN32)
                                                                                  GetCurrentProcessId()
#else
                                                                                  getpid()
#endif
                                                                                      ));
    return p.string();
}

void BM_RTFileWriteRead(benchmark::State &state) {
    const std::string strPath = benchPath();
    std::vector<char> block(kBlock, 'x'), back(kBlock);
    for (auto _ : state) {
        RTFILE h;
        if (RT_FAILURE(RTFileOpen(&h, strPath.c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE_REPLACE | RTFILE_O_DENY_WRITE)))
            state.SkipWithError("open for writing failed");
        for (size_t off = 0; off < kFileSize; off += kBlock)
            if (RT_FAILURE(RTFileWrite(h, block.data(), kBlock, nullptr)))
                state.SkipWithError("write failed");
        (void)RTFileClose(h);
        if (RT_FAILURE(RTFileOpen(&h, strPath.c_str(), RTFILE_O_READ | RTFILE_O_OPEN | RTFILE_O_DENY_WRITE)))
            state.SkipWithError("open for reading failed");
        for (size_t off = 0; off < kFileSize; off += kBlock) {
            if (RT_FAILURE(RTFileRead(h, back.data(), kBlock, nullptr)))
                state.SkipWithError("read failed");
            benchmark::DoNotOptimize(back.data());
        }
        (void)RTFileClose(h);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * 2 * kFileSize);
    std::filesystem::remove(strPath);
}
BENCHMARK(BM_RTFileWriteRead)->Unit(benchmark::kMillisecond);

void BM_PlatformWriteRead(benchmark::State &state) {
    const std::string strPath = benchPath();
    std::vector<char> block(kBlock, 'x'), back(kBlock);
    for (auto _ : state) {
#if defined(_WIN32)
        HANDLE h = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD cb;
        for (size_t off = 0; off < kFileSize; off += kBlock)
            WriteFile(h, block.data(), kBlock, &cb, nullptr);
        CloseHandle(h);
        h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        for (size_t off = 0; off < kFileSize; off += kBlock) {
            ReadFile(h, back.data(), kBlock, &cb, nullptr);
            benchmark::DoNotOptimize(back.data());
        }
        CloseHandle(h);
#else
        int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        for (size_t off = 0; off < kFileSize; off += kBlock)
            benchmark::DoNotOptimize(write(fd, block.data(), kBlock));
        close(fd);
        fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
        for (size_t off = 0; off < kFileSize; off += kBlock) {
            benchmark::DoNotOptimize(read(fd, back.data(), kBlock));
            benchmark::DoNotOptimize(back.data());
        }
        close(fd);
#endif
    }
    state.SetBytesProcessed((int64_t)state.iterations() * 2 * kFileSize);
    std::filesystem::remove(strPath);
}
BENCHMARK(BM_PlatformWriteRead)->Unit(benchmark::kMillisecond);

} // namespace
