// Extracting and verifying a 128 MiB package on Windows (the installer's extraction
// over a resource held in memory) against copying the same bytes with CopyFileW and
// comparing both files block by block, with the growth of the peak private bytes: the
// payload must never be copied to memory.
#include <windows.h>
#include <psapi.h>

#include "TeskStub.h"
#include "TeskStubPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kcbPackage = 128u << 20;
constexpr DWORD kcbBlock = 65536;
constexpr int kcRounds = 5;

std::string g_strPackage;
std::string g_strHeader;

int findResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
    // HDR_00 and BIN_00 differ in their first letter.
    const std::string &str = pwszName[0] == 'H' ? g_strHeader : g_strPackage;
    *ppvData = str.data();
    *pcbData = (uint32_t)str.size();
    return 0;
}

double seconds() {
    LARGE_INTEGER Now, Freq;
    QueryPerformanceCounter(&Now);
    QueryPerformanceFrequency(&Freq);
    return (double)Now.QuadPart / (double)Freq.QuadPart;
}

size_t peakPrivateBytes() {
    PROCESS_MEMORY_COUNTERS Counters = {};
    Counters.cb = sizeof(Counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &Counters, sizeof(Counters));
    return Counters.PeakPagefileUsage;
}

double median(std::vector<double> vec) {
    std::sort(vec.begin(), vec.end());
    return vec[vec.size() / 2];
}

/** CopyFileW, then both files read back and compared in blocks; false on any difference. */
bool copyThenCompare(const std::wstring &strSrc, const std::wstring &strDst) {
    if (!CopyFileW(strSrc.c_str(), strDst.c_str(), FALSE))
        return false;
    HANDLE hA = CreateFileW(strSrc.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hB = CreateFileW(strDst.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    static char s_abA[kcbBlock], s_abB[kcbBlock];
    bool fSame = hA != INVALID_HANDLE_VALUE && hB != INVALID_HANDLE_VALUE;
    for (;;) {
        DWORD cbA = 0, cbB = 0;
        if (!fSame || !ReadFile(hA, s_abA, kcbBlock, &cbA, nullptr) || !ReadFile(hB, s_abB, kcbBlock, &cbB, nullptr) ||
            cbA != cbB || memcmp(s_abA, s_abB, cbA) != 0) {
            fSame = false;
            break;
        }
        if (cbA == 0)
            break;
    }
    CloseHandle(hA);
    CloseHandle(hB);
    return fSame;
}

} // namespace

int main() {
    g_strPackage.resize(kcbPackage);
    for (size_t i = 0; i < kcbPackage; i++)
        g_strPackage[i] = (char)(uint8_t)(i * 2654435761u >> 13);
    PackageHeader Hdr = {};
    Hdr.architecture = (uint32_t)PackageArch::All;
    strcpy(Hdr.resourceName, "BIN_00");
    strcpy(Hdr.fileName, "package.msi");
    g_strHeader.assign((const char *)&Hdr, sizeof(Hdr));
    g_StubPlatform.pfnFindResource = findResource;
    silent = true;

    wchar_t wszTmp[MAX_PATH];
    GetTempPathW(MAX_PATH, wszTmp);
    const std::wstring strBase = std::wstring(wszTmp) + L"olma-bench-extract-" + std::to_wstring(GetCurrentProcessId());
    char szDir[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, strBase.c_str(), -1, szDir, sizeof(szDir), nullptr, nullptr);
    wchar_t wszCwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, wszCwd);

    const size_t cbPeakBefore = peakPrivateBytes();
    std::vector<double> vecExtract;
    for (int i = 0; i < kcRounds; i++) {
        InitCleanupRecords();
        CleanupRecord *pDirRec = nullptr;
        const double tStart = seconds();
        if (ExtractPackages(1, szDir, false, &pDirRec) != 0) {
            printf("extraction failed\n");
            return 1;
        }
        vecExtract.push_back(seconds() - tStart);
        SetCurrentDirectoryW(wszCwd);
        ProcessCleanupRecords(szDir);
        ReleaseCleanupRecords();
    }
    const size_t cbPeakAfter = peakPrivateBytes();

    const std::wstring strSrc = strBase + L"-src", strDst = strBase + L"-dst";
    HANDLE hSrc = CreateFileW(strSrc.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hSrc, g_strPackage.data(), (DWORD)kcbPackage, &cbWritten, nullptr);
    CloseHandle(hSrc);
    std::vector<double> vecCopy;
    for (int i = 0; i < kcRounds; i++) {
        const double tStart = seconds();
        if (!copyThenCompare(strSrc, strDst)) {
            printf("copy or comparison failed\n");
            return 1;
        }
        vecCopy.push_back(seconds() - tStart);
        DeleteFileW(strDst.c_str());
    }
    DeleteFileW(strSrc.c_str());

    const double tExtract = median(vecExtract), tCopy = median(vecCopy);
    printf("package                       : %zu MiB, %d rounds, medians\n", kcbPackage >> 20, kcRounds);
    printf("ExtractPackages (write+verify): %.1f ms\n", tExtract * 1000);
    printf("CopyFileW + compare           : %.1f ms\n", tCopy * 1000);
    printf("ratio extraction / copy+compare: %.2f\n", tExtract / tCopy);
    printf("peak private bytes            : %.1f MiB before, %.1f MiB after extraction (growth %.1f KiB)\n",
           cbPeakBefore / 1048576.0, cbPeakAfter / 1048576.0, (cbPeakAfter - cbPeakBefore) / 1024.0);
    return 0;
}
