// The packer and the installer's container reader on Windows: teskpack.exe packs the
// probe program, which then reads its own resources with the installer's code through
// the platform's resource lookup; unusual containers are written with the packer's
// image writer directly. Also teskpack.exe's exit codes and its replacing of outputs.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include "e2e/run-image.h"
#include "Packer.h"

using e2e::RunResult;

namespace {

std::string toUtf8(const std::wstring &wstr) {
    const int cb = WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), (int)wstr.size(), nullptr, 0, nullptr, nullptr);
    std::string str(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), (int)wstr.size(), str.data(), cb, nullptr, nullptr);
    return str;
}

class PackedProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_wstrRel = L"packer-work\\" + e2e::utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // A fresh directory per test, left behind for a look after a failure.
        std::error_code Ec;
        std::filesystem::remove_all(e2e::imageDir() + m_wstrRel, Ec);
        std::filesystem::create_directories(e2e::imageDir() + m_wstrRel);
    }
    /** A file of the test's directory: its path relative to the image directory (to run
     *  it) and its full path as UTF-8 (for teskpack's command line). */
    std::wstring rel(const std::string &strName) const { return m_wstrRel + L"\\" + e2e::utf8ToWide(strName); }
    std::string full(const std::string &strName) const { return toUtf8(e2e::imageDir() + rel(strName)); }
    void write(const std::string &strName, const std::string &strBytes) const {
        std::ofstream Out(std::filesystem::path(e2e::imageDir() + rel(strName)), std::ios::binary | std::ios::trunc);
        Out << strBytes;
    }
    std::string read(const std::string &strName) const {
        std::ifstream In(std::filesystem::path(e2e::imageDir() + rel(strName)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    }
    bool exists(const std::string &strName) const {
        return GetFileAttributesW((e2e::imageDir() + rel(strName)).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    RunResult teskpack(const std::string &strArgs) const {
        return e2e::run(L"teskpack.exe", "teskpack.exe " + strArgs);
    }
    RunResult probe(const std::string &strName, const std::string &strArgs) const {
        return e2e::run(rel(strName).c_str(), strName + " " + strArgs);
    }
    std::string stubArgs(const std::string &strOutput) const {
        return "--stub \"" + toUtf8(e2e::imageDir()) + "container-probe.exe\" --output \"" + full(strOutput) + "\"";
    }

    std::wstring m_wstrRel;
};

std::string header(uint32_t uArch, const char *pszResource, const char *pszFile) {
    PackageHeader Header = {};
    Header.architecture = uArch;
    strcpy(Header.resourceName, pszResource);
    strcpy(Header.fileName, pszFile);
    return std::string((const char *)&Header, sizeof(Header));
}

} // namespace

TEST_F(PackedProbeTest, HeaderNamesAndLookups) {
    // 124 packages, so that the last header's name has three digits.
    std::string strArgs = stubArgs("packed.exe");
    for (int i = 0; i < 124; i++) {
        char szName[16];
        snprintf(szName, sizeof(szName), "p%03d.msi", i);
        write(szName, "package " + std::to_string(i));
        strArgs += " --package all:\"" + full(szName) + "\"";
    }
    strArgs += " --certificate \"" + toUtf8(e2e::imageDir()) + "BrindlecapTestPublisher.der\"";
    const RunResult Pack = teskpack(strArgs);
    ASSERT_EQ(Pack.strErr, "");
    ASSERT_EQ(Pack.uExit, 0u);

    const RunResult Res = probe("packed.exe", "manifest header 7 header 42 header 123 header 124 find HDR_124 "
                                              "find BIN_07 find bin_123 findw BIN_07 findw bin_07 findw Bin_123 "
                                              "findw HDR_124 certs");
    EXPECT_EQ(Res.strOut, "manifest: rc=0 count=124\r\n"
                          "header 7: arch=1 resource=BIN_07 file=p007.msi\r\n"
                          "header 42: arch=1 resource=BIN_42 file=p042.msi\r\n"
                          "header 123: arch=1 resource=BIN_123 file=p123.msi\r\n"
                          "header 124: none\r\n"
                          "find HDR_124: rc=-257 size=0\r\n"
                          "find BIN_07: rc=0 size=9\r\n"
                          "find bin_123: rc=0 size=11\r\n"
                          "findw BIN_07: size=9\r\n"
                          "findw bin_07: size=9\r\n"
                          "findw Bin_123: size=11\r\n"
                          "findw HDR_124: not found\r\n"
                          "certs: 1 889\r\n");
    EXPECT_EQ(Res.strErr,
              "packed.exe: error: Internal error: Could not find package header #124: ERR_IO_GEN_FAILURE\r\n");
    EXPECT_EQ(Res.uExit, 0u);
}

TEST_F(PackedProbeTest, EmptyShortAndUnterminatedRecords) {
    // Containers the packer never writes, made with its image writer directly.
    std::unique_ptr<FileSource> pStub;
    PeImage Image;
    std::vector<Resource> Resources;
    std::string strWhy;
    ASSERT_EQ(FileSource::open(toUtf8(e2e::imageDir() + L"container-probe.exe"), &pStub), 0);
    ASSERT_EQ(PeReadImage(*pStub, &Image, &strWhy, PeReadPurpose::Rewrite), 0) << strWhy;
    ASSERT_EQ(PeReadResources(*pStub, Image, &Resources, &strWhy), 0) << strWhy;
    std::string strNoFileNul = header(3, "BIN_00", "");
    std::fill(strNoFileNul.begin() + 32, strNoFileNul.end(), 'f');
    std::string strNoResourceNul = header(3, "", "b.msi");
    std::fill(strNoResourceNul.begin() + 4, strNoResourceNul.begin() + 32, 'R');
    const std::pair<const char *, std::string> aRecords[] = {
        {"MANIFEST", std::string("TeskInstV1\0\0\0\0\0", 15)},
        {"HDR_00", strNoFileNul},
        {"HDR_01", header(3, "BIN_00", "a.msi").substr(0, 255)},
        {"HDR_02", strNoResourceNul},
        {"HDR_03", header(3, "BIN_00", "a.msi")},
        {"BIN_00", ""},
    };
    std::vector<std::unique_ptr<MemorySource>> Sources;
    for (const auto &[pszName, strData] : aRecords) {
        Sources.emplace_back(new MemorySource(std::vector<uint8_t>(strData.begin(), strData.end())));
        Resource Res;
        Res.Type = ResourceKey::id(RES_TYPE_RCDATA);
        Res.Name = ResourceKey::name(pszName);
        Res.pSrc = Sources.back().get();
        Res.cb = (uint32_t)strData.size();
        Resources.push_back(Res);
    }
    MemorySink Out;
    ASSERT_EQ(PeWriteWithResources(*pStub, Image, Resources, Out, &strWhy), 0) << strWhy;
    pStub.reset();
    write("crafted.exe", std::string(Out.Bytes.begin(), Out.Bytes.end()));

    const RunResult Res = probe("crafted.exe", "manifest header 0 header 1 header 2 header 3 find BIN_00");
    EXPECT_EQ(Res.strOut, "manifest: rc=-608 count=0\r\n"
                          "header 0: none\r\n"
                          "header 1: none\r\n"
                          "header 2: none\r\n"
                          "header 3: arch=3 resource=BIN_00 file=a.msi\r\n"
                          "find BIN_00: rc=-304 size=0\r\n");
    EXPECT_EQ(Res.strErr, "crafted.exe: error: Internal error: Package header #0 is damaged: ERR_BAD_EXE_FORMAT\r\n"
                          "crafted.exe: error: Internal error: Package header #1 is damaged: ERR_BAD_EXE_FORMAT\r\n"
                          "crafted.exe: error: Internal error: Package header #2 is damaged: ERR_BAD_EXE_FORMAT\r\n");
}

TEST_F(PackedProbeTest, TeskpackOnWindows) {
    write("a.msi", "first package");
    // Syntax and input errors: their exit codes, and no output.
    RunResult Res = teskpack(stubArgs("out.exe") + " --package amd64");
    EXPECT_EQ(Res.uExit, 2u);
    EXPECT_EQ(Res.strErr,
              "teskpack.exe: error: --package amd64: expected ARCH:PATH[=NAME] with ARCH all, x86 or amd64\r\n");
    Res = teskpack(stubArgs("out.exe") + " --package amd64:\"" + full("missing.msi") + "\"");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr,
              "teskpack.exe: error: Cannot open package '" + full("missing.msi") + "': ERR_FILE_NOT_FOUND\r\n");
    EXPECT_FALSE(exists("out.exe"));

    // An existing output is replaced; packing the output in place gives the same bytes.
    write("out.exe", "old");
    const std::string strArgs = " --package x86:\"" + full("a.msi") + "=Setup.msi\"";
    Res = teskpack(stubArgs("out.exe") + strArgs);
    ASSERT_EQ(Res.uExit, 0u) << Res.strErr;
    const std::string strFirst = read("out.exe");
    EXPECT_GT(strFirst.size(), 1000u);
    Res = teskpack("--stub \"" + full("out.exe") + "\" --output \"" + full("out.exe") + "\"" + strArgs);
    ASSERT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_TRUE(read("out.exe") == strFirst);
    Res = teskpack("--list \"" + full("out.exe") + "\"");
    EXPECT_EQ(Res.strOut, "Packages: 1\r\n  0  x86  Setup.msi  13 bytes  BIN_00\r\nCertificates: 0\r\n");
    EXPECT_EQ(Res.uExit, 0u);
    Res = probe("out.exe", "header 0 find BIN_00");
    EXPECT_EQ(Res.strOut, "header 0: arch=2 resource=BIN_00 file=Setup.msi\r\nfind BIN_00: rc=0 size=13\r\n");
}
