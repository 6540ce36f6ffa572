// The PE reader on untrusted bytes: every kind of image the rewrite cannot handle is
// refused with its reason, damaged and truncated input never reads past its end, the
// checksum matches the word-by-word definition, and the size limits.
#include "packer-test.h"
#include <functional>
#include <random>

using packertest::u16;
using packertest::u32;

namespace {

void put32(std::string &str, uint64_t off, uint32_t u) {
    for (int i = 0; i < 4; i++)
        str[off + i] = (char)(u >> (8 * i));
}

/** Offsets into the fixture image "reloc.exe", read from it. */
struct Layout {
    uint32_t offNt, offOpt, offDirs, offSections, cSections;
    explicit Layout(const std::string &str) {
        offNt = u32(str, 0x3c);
        offOpt = offNt + 24;
        offDirs = offOpt + 112;
        offSections = offOpt + u16(str, offNt + 20);
        cSections = u16(str, offNt + 6);
    }
    uint32_t section(const std::string &strName, const std::string &str) const {
        for (uint32_t i = 0; i < cSections; i++)
            if (strName == std::string(str.c_str() + offSections + i * 40))
                return offSections + i * 40;
        return 0;
    }
};

int readImage(const std::string &strBytes, PeReadPurpose enmPurpose, std::string *pstrWhy, PeImage *pImage = nullptr) {
    MemorySource Src(std::vector<uint8_t>(strBytes.begin(), strBytes.end()));
    PeImage Image;
    int rc = PeReadImage(Src, &Image, pstrWhy, enmPurpose);
    if (RT_SUCCESS(rc)) {
        std::vector<Resource> Resources;
        rc = PeReadResources(Src, Image, &Resources, pstrWhy);
    }
    if (pImage)
        *pImage = Image;
    return rc;
}

} // namespace

TEST(PeImage, RefusesWhatItCannotRewrite) {
    const std::string strStub = readBytes(fixturePath("reloc.exe"));
    ASSERT_GT(strStub.size(), 4096u);
    const Layout L(strStub);
    const uint32_t offRsrcHdr = L.section(".rsrc", strStub), offRelocHdr = L.section(".reloc", strStub);
    const uint32_t offRdataHdr = L.section(".rdata", strStub);
    ASSERT_TRUE(offRsrcHdr && offRelocHdr && offRdataHdr);
    struct Case {
        const char *pszWhat;
        std::function<void(std::string &)> Mutate;
        const char *pszWhy;
    };
    const Case aCases[] = {
        {"tiny", [](std::string &s) { s.resize(0x30); }, "is too small to be a PE image"},
        {"no MZ", [](std::string &s) { s[0] = 'X'; }, "is not a PE image (no MZ signature)"},
        {"header offset", [](std::string &s) { put32(s, 0x3c, 0x20); }, "is not a PE image (bad PE header offset)"},
        {"header offset past end", [](std::string &s) { put32(s, 0x3c, 0xfffffff0); },
         "is not a PE image (bad PE header offset)"},
        {"no PE", [&](std::string &s) { s[L.offNt] = 'Q'; }, "is not a PE image (no PE signature)"},
        {"machine", [&](std::string &s) { s[L.offNt + 4] = 0x00; }, "is built for an unsupported machine"},
        {"DLL", [&](std::string &s) { s[L.offNt + 23] |= 0x20; }, "is not an executable program"},
        {"object", [&](std::string &s) { s[L.offNt + 22] &= ~2; }, "is not an executable program"},
        {"symbols", [&](std::string &s) { put32(s, L.offNt + 12, 0x1234); }, "carries a COFF symbol table"},
        {"magic", [&](std::string &s) { s[L.offOpt] = 0x07; }, "has an unknown optional header (magic 0x207)"},
        {"few directories", [&](std::string &s) { put32(s, L.offOpt + 108, 3); },
         "has a damaged optional header (3 data directories)"},
        {"many directories", [&](std::string &s) { put32(s, L.offOpt + 108, 17); },
         "has a damaged optional header (17 data directories)"},
        {"file alignment", [&](std::string &s) { put32(s, L.offOpt + 36, 0x300); },
         "has unusual alignments (file 0x300, sections 0x1000)"},
        {"no sections", [&](std::string &s) { s[L.offNt + 6] = 0, s[L.offNt + 7] = 0; }, "has a damaged section table"},
        {"headers too small", [&](std::string &s) { put32(s, L.offOpt + 60, 0x100); }, "has a damaged section table"},
        {"raw data past the end", [&](std::string &s) { put32(s, offRelocHdr + 16, 0x10000); },
         "has a damaged section table (section 7, '.reloc')"},
        {"sections overlap", [&](std::string &s) { put32(s, offRdataHdr + 12, u32(s, offRdataHdr - 40 + 12)); },
         "has a damaged section table (section 2, '.rdata')"},
        {"packed", [&](std::string &s) { memcpy(&s[L.offSections], "UPX0\0\0\0", 8); },
         "is compressed by an executable packer"},
        {"signed",
         [&](std::string &s) { put32(s, L.offDirs + 4 * 8, (uint32_t)s.size()), put32(s, L.offDirs + 36, 8); },
         "is signed (pack the stub first, then sign the installer)"},
        {"overlay", [](std::string &s) { s += "appended"; }, "has data appended after its last section"},
        {"no resource directory", [&](std::string &s) { put32(s, L.offDirs + 2 * 8, 0); },
         "has no resource section (.rsrc)"},
        {"resources elsewhere", [&](std::string &s) { memcpy(&s[offRsrcHdr], ".rsrx", 5); },
         "keeps its resources outside a .rsrc section of their own"},
        {"resource directory too large", [&](std::string &s) { put32(s, L.offDirs + 2 * 8 + 4, 0x100000); },
         "has a damaged resource directory"},
        {"another section behind", [&](std::string &s) { memcpy(&s[offRelocHdr], ".extra", 6); },
         "has a section behind its resources that cannot be moved ('.extra')"},
        {"relocations outside their section", [&](std::string &s) { put32(s, L.offDirs + 5 * 8, 0x1000); },
         "has a section behind its resources that cannot be moved ('.reloc')"},
        {"directory into the resources",
         [&](std::string &s) { put32(s, L.offDirs + 9 * 8, u32(s, offRsrcHdr + 12)), put32(s, L.offDirs + 76, 40); },
         "has data directory 9 pointing at or behind its resources"},
        {"debug data behind",
         [&](std::string &s) {
             // A debug entry in .rdata whose data lies in the resource section.
             const uint32_t offEntry = u32(s, offRdataHdr + 20);
             put32(s, offEntry + 16, 4);
             put32(s, offEntry + 20, 0);
             put32(s, offEntry + 24, u32(s, offRsrcHdr + 20) + 16);
             put32(s, L.offDirs + 6 * 8, u32(s, offRdataHdr + 12));
             put32(s, L.offDirs + 6 * 8 + 4, 28);
         },
         "has debug data behind its resources (link it stripped)"},
        {"debug directory in no section's data",
         [&](std::string &s) {
             put32(s, L.offDirs + 6 * 8, u32(s, offRdataHdr + 12) + 0x800);
             put32(s, L.offDirs + 6 * 8 + 4, 28);
         },
         "has a damaged debug directory"},
        {"resource offset outside", [&](std::string &s) { put32(s, u32(s, offRsrcHdr + 20) + 20, 0x80ffff00); },
         "has a damaged resource directory (an offset outside the section)"},
    };
    {
        std::string strWhy;
        ASSERT_EQ(readImage(strStub, PeReadPurpose::Rewrite, &strWhy), 0) << strWhy; // the control
    }
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        std::string strBytes = strStub;
        c.Mutate(strBytes);
        std::string strWhy;
        EXPECT_EQ(readImage(strBytes, PeReadPurpose::Rewrite, &strWhy), ERR_BAD_EXE_FORMAT);
        EXPECT_EQ(strWhy.substr(0, strlen(c.pszWhy)), c.pszWhy);
    }
    // Linked images with debug sections or without resources, as the linker makes them.
    for (const auto &Pair : {std::make_pair("debug.exe", "carries a COFF symbol table behind its sections (link it "
                                                         "stripped)"),
                             std::make_pair("norsrc.exe", "has no resource section (.rsrc)")}) {
        SCOPED_TRACE(Pair.first);
        std::string strWhy;
        EXPECT_EQ(readImage(readBytes(fixturePath(Pair.first)), PeReadPurpose::Rewrite, &strWhy), ERR_BAD_EXE_FORMAT);
        EXPECT_EQ(strWhy, Pair.second);
    }
}

TEST(PeImage, InspectingReadsSignedAndAppendedImages) {
    const std::string strStub = readBytes(fixturePath("reloc.exe"));
    const Layout L(strStub);
    std::string strSigned = strStub + std::string(16, '\x5a');
    put32(strSigned, L.offDirs + 4 * 8, (uint32_t)strStub.size());
    put32(strSigned, L.offDirs + 4 * 8 + 4, 16);
    for (const std::string &strBytes : {strSigned, readBytes(fixturePath("debug.exe"))}) {
        std::string strWhy;
        EXPECT_EQ(readImage(strBytes, PeReadPurpose::Inspect, &strWhy), 0) << strWhy;
        EXPECT_EQ(readImage(strBytes, PeReadPurpose::Rewrite, &strWhy), ERR_BAD_EXE_FORMAT);
    }
}

TEST(PeImage, DamagedInputNeverReadsPastItsEnd) {
    // Every prefix of the headers, and random byte changes in the headers and in the
    // resource tree: each read either works or fails; the sanitizers see any stray access.
    const std::string strStub = readBytes(fixturePath("reloc.exe"));
    const Layout L(strStub);
    const uint32_t offTree = u32(strStub, L.section(".rsrc", strStub) + 20);
    std::string strWhy;
    for (size_t cb = 0; cb < 0x600; cb++)
        EXPECT_NE(readImage(strStub.substr(0, cb), PeReadPurpose::Rewrite, &strWhy), 0) << cb;
    std::mt19937 Rng(4711);
    int cAccepted = 0;
    for (int iRound = 0; iRound < 3000; iRound++) {
        std::string strBytes = strStub;
        const uint64_t offBase = iRound % 2 ? offTree : 0;
        for (int i = 0; i < 4; i++)
            strBytes[offBase + Rng() % 0x300] = (char)Rng();
        cAccepted += readImage(strBytes, PeReadPurpose::Inspect, &strWhy) == 0;
    }
    EXPECT_GT(cAccepted, 0); // harmless changes are still read
}

TEST(PeImage, ChecksumIsTheWordSum) {
    std::mt19937 Rng(99);
    for (size_t cb : {0u, 1u, 2u, 3u, 7u, 4096u, 65537u, 300001u}) {
        SCOPED_TRACE(cb);
        std::string strBytes(cb + 4, '\0');
        for (char &ch : strBytes)
            ch = (char)Rng();
        if (cb == 4096)
            std::fill(strBytes.begin(), strBytes.end(), '\xff'); // every word the largest
        memset(&strBytes[0], 0, 4);                              // the checksum field, counted as zero
        PeChecksum Sum;
        // In pieces of every parity, as the writer hands them over.
        for (size_t off = 0; off < strBytes.size();) {
            const size_t cbPiece = std::min<size_t>(strBytes.size() - off, 1 + Rng() % 4099);
            Sum.add(&strBytes[off], cbPiece);
            off += cbPiece;
        }
        EXPECT_EQ(Sum.finish(), packertest::referenceChecksum(strBytes, 0));
    }
}

TEST(PeImage, SizeLimits) {
    for (const char *pszFixture : {"reloc.exe", "pe32.exe", "noreloc.exe"}) {
        SCOPED_TRACE(pszFixture);
        const std::string strStub = readBytes(fixturePath(pszFixture));
        PeImage Image;
        std::string strWhy;
        ASSERT_EQ(readImage(strStub, PeReadPurpose::Rewrite, &strWhy, &Image), 0) << strWhy;
        const uint64_t cbBefore = Image.rsrc().uVirtualAddress + 0x2000; // everything else, at most
        PeRewritePlan Plan;
        ASSERT_EQ(PePlanRewrite(Image, 1000, &Plan, &strWhy), 0);
        EXPECT_FALSE(Plan.fLarge);
        ASSERT_EQ(PePlanRewrite(Image, PE32_IMAGE_SIZE_WARNING, &Plan, &strWhy), 0);
        EXPECT_EQ(Plan.fLarge, !Image.fPe32Plus);
        EXPECT_EQ(Plan.cbImage % Image.cbSectionAlignment, 0u);
        EXPECT_EQ(PePlanRewrite(Image, PE_IMAGE_SIZE_LIMIT - cbBefore, &Plan, &strWhy), 0);
        EXPECT_EQ(PePlanRewrite(Image, PE_IMAGE_SIZE_LIMIT, &Plan, &strWhy), ERR_OUT_OF_RANGE);
        EXPECT_EQ(strWhy, "the installer image would take 1537 MiB; Windows cannot load more than 1536 MiB");
    }
}
