// Test helper for the packer: fixture images made by the cross compilers at build time,
// the command line run in-process with its streams captured, external tools run
// through the shell, and an image checker written apart from the packer's own reader
// (it walks the headers and the resource tree from the raw bytes and asserts the
// invariants a rewritten image must keep).
#pragma once

#include "stream-capture.h"
#include "Packer.h"
#include "common/path/internal-path.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

#ifndef PACKER_FIXTURE_DIR
#error "PACKER_FIXTURE_DIR names the directory of the fixture images"
#endif

/** A fixture image built for the tests: "reloc.exe" (PE32+ with relocations),
 *  "noreloc.exe", "pe32.exe", "debug.exe" (symbols and debug sections), "norsrc.exe". */
inline std::string fixturePath(const char *pszName) {
    return std::string(PACKER_FIXTURE_DIR) + "/" + pszName;
}

inline std::string readBytes(const std::string &strPath) {
    std::string str;
    if (FILE *pFile = fopen(strPath.c_str(), "rb")) {
        char ach[65536];
        size_t cb;
        while ((cb = fread(ach, 1, sizeof(ach), pFile)) > 0)
            str.append(ach, cb);
        fclose(pFile);
    }
    return str;
}

inline void writeBytes(const std::string &strPath, const std::string &strBytes) {
    FILE *pFile = fopen(strPath.c_str(), "wb");
    ASSERT_NE(pFile, nullptr) << strPath;
    fwrite(strBytes.data(), 1, strBytes.size(), pFile);
    fclose(pFile);
}

inline std::string shellQuote(const std::string &str) {
    std::string strQuoted = "'";
    for (char ch : str)
        strQuoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return strQuoted + "'";
}

struct ToolResult {
    int iExit;
    std::string strOut;
};
/** Runs a shell command; its standard output (and error, with 2>&1 in the command). */
inline ToolResult runTool(const std::string &strCommand) {
    ToolResult Res = {-1, ""};
    FILE *pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe)
        return Res;
    char ach[4096];
    size_t cb;
    while ((cb = fread(ach, 1, sizeof(ach), pPipe)) > 0)
        Res.strOut.append(ach, cb);
    const int iStatus = pclose(pPipe);
    Res.iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    return Res;
}

/** What the independent reader finds in an image's resource tree. */
struct CheckedResource {
    std::string strType;
    std::string strName;
    uint16_t uLanguage;
    std::string strData;
};

namespace packertest {

inline uint16_t u16(const std::string &str, uint64_t off) {
    return off + 2 <= str.size() ? (uint16_t)((uint8_t)str[off] | (uint8_t)str[off + 1] << 8) : 0;
}
inline uint32_t u32(const std::string &str, uint64_t off) {
    return (uint32_t)u16(str, off) | (uint32_t)u16(str, off + 2) << 16;
}
inline uint64_t alignTo(uint64_t u, uint64_t uAlign) {
    return (u + uAlign - 1) / uAlign * uAlign;
}

/** The image checksum, word by word as the format describes it. */
inline uint32_t referenceChecksum(std::string strImage, uint32_t offField) {
    memset(&strImage[offField], 0, 4);
    uint32_t uSum = 0;
    for (size_t off = 0; off < strImage.size(); off += 2) {
        uSum += off + 1 < strImage.size() ? u16(strImage, off) : (uint8_t)strImage[off];
        uSum = (uSum & 0xffff) + (uSum >> 16);
    }
    uSum = (uSum & 0xffff) + (uSum >> 16);
    return uSum + (uint32_t)strImage.size();
}

struct ImageView {
    std::string strImage;
    uint32_t offOpt = 0, offDirs = 0, offSections = 0, cSections = 0;
    uint32_t uSectionAlignment = 0, uFileAlignment = 0;
    uint32_t section(unsigned i, unsigned offField) const { return u32(strImage, offSections + i * 40 + offField); }
    std::string sectionName(unsigned i) const { return std::string(strImage.c_str() + offSections + i * 40); }
    uint32_t dirVA(unsigned i) const { return u32(strImage, offDirs + i * 8); }
    uint32_t dirSize(unsigned i) const { return u32(strImage, offDirs + i * 8 + 4); }

    explicit ImageView(std::string str) : strImage(std::move(str)) {
        const uint32_t offNt = u32(strImage, 0x3c);
        cSections = u16(strImage, offNt + 6);
        offOpt = offNt + 24;
        const bool fPlus = u16(strImage, offOpt) == 0x20b;
        offDirs = offOpt + (fPlus ? 112 : 96);
        offSections = offOpt + u16(strImage, offNt + 20);
        uSectionAlignment = u32(strImage, offOpt + 32);
        uFileAlignment = u32(strImage, offOpt + 36);
    }
};

inline std::string utf16Name(const std::string &strImage, uint64_t off) {
    std::string str;
    const uint16_t cwc = u16(strImage, off);
    for (uint16_t i = 0; i < cwc; i++) {
        const uint16_t wc = u16(strImage, off + 2 + 2 * i);
        str += wc < 0x80 ? (char)wc : '?';
    }
    return str;
}

} // namespace packertest

/**
 * Checks what every image the packer writes must satisfy and returns the resources it
 * finds: sections ascending and adjacent, raw data contiguous from the headers but for the
 * gap that puts the resource section on a page boundary, the
 * image size, the file size a multiple of the file alignment, every data entry inside
 * the resource section, names upper case and sorted before the numbers, the relocation
 * directory inside the moved relocation section with its size (cbRelocDir, 0 without
 * relocations), no certificate table, and the checksum.
 */
inline std::vector<CheckedResource> checkPackedImage(const std::string &strImage, uint32_t cbRelocDir) {
    using namespace packertest;
    std::vector<CheckedResource> Resources;
    ImageView View(strImage);
    EXPECT_EQ(strImage.size() % View.uFileAlignment, 0u);
    uint64_t offRaw = u32(strImage, View.offOpt + 60);
    uint32_t iRsrc = UINT32_MAX, iReloc = UINT32_MAX;
    for (uint32_t i = 0; i < View.cSections; i++) {
        SCOPED_TRACE(View.sectionName(i));
        const uint32_t uVA = View.section(i, 12), cbVirtual = View.section(i, 8);
        if (i > 0)
            EXPECT_EQ(uVA, alignTo(View.section(i - 1, 12) + View.section(i - 1, 8), View.uSectionAlignment));
        if (View.section(i, 16) != 0) {
            // The resource section starts on a page of the file, so that it can be mapped.
            if (View.sectionName(i) == ".rsrc" && View.uSectionAlignment >= 4096)
                offRaw = alignTo(offRaw, 4096);
            EXPECT_EQ(View.section(i, 20), offRaw);
            offRaw += View.section(i, 16);
        }
        if (View.sectionName(i) == ".rsrc")
            iRsrc = i;
        if (View.sectionName(i) == ".reloc")
            iReloc = i;
        if (i + 1 == View.cSections)
            EXPECT_EQ(u32(strImage, View.offOpt + 56), alignTo(uVA + cbVirtual, View.uSectionAlignment));
    }
    EXPECT_EQ(offRaw, strImage.size());
    EXPECT_EQ(View.dirVA(4), 0u);
    EXPECT_EQ(View.dirSize(4), 0u);
    EXPECT_EQ(u32(strImage, View.offOpt + 64), referenceChecksum(strImage, View.offOpt + 64));
    if (cbRelocDir) {
        EXPECT_EQ(iReloc, iRsrc + 1);
        EXPECT_EQ(View.dirVA(5), View.section(iReloc, 12));
        EXPECT_EQ(View.dirSize(5), cbRelocDir);
    } else
        EXPECT_EQ(iReloc, UINT32_MAX);
    if (iRsrc == UINT32_MAX) {
        ADD_FAILURE() << "no .rsrc section";
        return Resources;
    }
    const uint32_t uRsrcVA = View.section(iRsrc, 12), cbRsrc = View.section(iRsrc, 8);
    const uint64_t offTree = View.section(iRsrc, 20);
    EXPECT_EQ(View.dirVA(2), uRsrcVA);
    EXPECT_EQ(View.dirSize(2), cbRsrc);

    // Three levels; at each, named entries first in code-unit order, then numbers.
    struct Walk {
        const std::string &strImage;
        uint64_t offTree;
        uint32_t uRsrcVA, cbRsrc;
        std::vector<CheckedResource> &Resources;
        void dir(uint32_t off, int iLevel, CheckedResource Partial) {
            const uint16_t cNamed = u16(strImage, offTree + off + 12), cIds = u16(strImage, offTree + off + 14);
            std::string strPrevName;
            uint32_t uPrevId = 0;
            for (uint32_t i = 0; i < (uint32_t)cNamed + cIds; i++) {
                const uint64_t offEntry = offTree + off + 16 + 8 * i;
                const uint32_t uName = u32(strImage, offEntry), uTarget = u32(strImage, offEntry + 4);
                std::string strKey;
                if (i < cNamed) {
                    EXPECT_TRUE(uName & 0x80000000);
                    strKey = utf16Name(strImage, offTree + (uName & 0x7fffffff));
                    for (char ch : strKey)
                        EXPECT_FALSE(ch >= 'a' && ch <= 'z') << strKey;
                    if (i > 0)
                        EXPECT_LT(strPrevName, strKey);
                    strPrevName = strKey;
                } else {
                    EXPECT_FALSE(uName & 0x80000000);
                    if (i > cNamed)
                        EXPECT_LT(uPrevId, uName);
                    uPrevId = uName;
                    strKey = "#" + std::to_string(uName);
                }
                if (iLevel == 0)
                    Partial.strType = strKey;
                else if (iLevel == 1)
                    Partial.strName = strKey;
                else
                    Partial.uLanguage = (uint16_t)uName;
                if (iLevel < 2) {
                    ASSERT_TRUE(uTarget & 0x80000000);
                    dir(uTarget & 0x7fffffff, iLevel + 1, Partial);
                } else {
                    const uint32_t uDataVA = u32(strImage, offTree + uTarget),
                                   cbData = u32(strImage, offTree + uTarget + 4);
                    EXPECT_GE(uDataVA, uRsrcVA);
                    EXPECT_LE((uint64_t)uDataVA + cbData, (uint64_t)uRsrcVA + cbRsrc);
                    EXPECT_EQ(uDataVA % 8, 0u);
                    Partial.strData = strImage.substr(offTree + (uDataVA - uRsrcVA), cbData);
                    Resources.push_back(Partial);
                }
            }
        }
    } Walker{strImage, offTree, uRsrcVA, cbRsrc, Resources};
    Walker.dir(0, 0, CheckedResource{});
    return Resources;
}

/** The data of one resource from a checked list, or "<missing>". */
inline std::string resourceData(const std::vector<CheckedResource> &Resources, const std::string &strType,
                                const std::string &strName) {
    for (const CheckedResource &Res : Resources)
        if (Res.strType == strType && Res.strName == strName)
            return Res.strData;
    return "<missing>";
}

class PackerTest : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        ASSERT_EQ(rtPathSetExecPath("/usr/bin/teskpack"), 0);
        std::filesystem::create_directories(fsPath("work"));
    }
    /** A path in the work directory (the captured streams live beside it). */
    std::string work(const std::string &strName) const { return path("work/" + strName); }
    /** How many files the work directory holds. */
    size_t workEntries() const {
        size_t c = 0;
        for ([[maybe_unused]] auto &Entry : std::filesystem::directory_iterator(fsPath("work")))
            c++;
        return c;
    }

    struct CliResult {
        int rcExit;
        std::string strOut;
        std::string strErr;
    };
    /** teskpack with these arguments, in this process. */
    CliResult runCli(const std::vector<std::string> &Args) {
        captureStd();
        std::vector<std::string> Copies = {"teskpack"};
        Copies.insert(Copies.end(), Args.begin(), Args.end());
        std::vector<char *> Argv;
        for (std::string &str : Copies)
            Argv.push_back(str.data());
        Argv.push_back(nullptr);
        CliResult Res;
        Res.rcExit = TeskPackMain((int)Copies.size(), Argv.data());
        Res.strErr = finish("err");
        Res.strOut = readFile("out");
        return Res;
    }
};
