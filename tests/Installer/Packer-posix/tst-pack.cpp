// Packing end to end on linked stubs: what lands in the image (read back by the
// independent walker, objdump, wrestool and the installer's own reader), reproducible
// bytes, icon replacement, signing with osslsigncode, failed writes that leave nothing
// behind, and payloads far larger than memory would like, streamed.
#include "packer-test.h"
#include <olma/mem.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string randomBytes(size_t cb, uint32_t uSeed) {
    std::mt19937 Rng(uSeed);
    std::string str(cb, '\0');
    for (char &ch : str)
        ch = (char)Rng();
    return str;
}

std::string headerBytes(PackageArch enmArch, const char *pszResource, const char *pszFile) {
    PackageHeader Header = {};
    Header.architecture = (uint32_t)enmArch;
    strcpy(Header.resourceName, pszResource);
    strcpy(Header.fileName, pszFile);
    return std::string((const char *)&Header, sizeof(Header));
}

/** A canonical icon file (entries, then the images in order) with 32-bit bitmaps. */
std::string makeIcon(std::initializer_list<uint8_t> Sizes) {
    std::string strDir(6, '\0'), strImages;
    strDir[2] = 1;
    strDir[4] = (char)Sizes.size();
    uint32_t offImage = 6 + 16 * (uint32_t)Sizes.size();
    for (uint8_t uSize : Sizes) {
        std::string strImage(40, '\0');
        strImage[0] = 40;
        strImage[4] = (char)uSize;
        strImage[8] = (char)(uSize * 2);
        strImage[12] = 1;
        strImage[14] = 32;
        strImage += randomBytes(uSize * uSize * 4 + uSize * 4, uSize); // colours and mask
        std::string strEntry(16, '\0');
        strEntry[0] = (char)uSize;
        strEntry[1] = (char)uSize;
        strEntry[4] = 1;
        strEntry[6] = 32;
        for (int i = 0; i < 4; i++) {
            strEntry[8 + i] = (char)(strImage.size() >> (8 * i));
            strEntry[12 + i] = (char)(offImage >> (8 * i));
        }
        offImage += (uint32_t)strImage.size();
        strDir += strEntry;
        strImages += strImage;
    }
    return strDir + strImages;
}

/** The size of a stub's relocation directory, which a packed image keeps. */
uint32_t relocDirSize(const std::string &strStub) {
    std::unique_ptr<FileSource> pSrc;
    PeImage Image;
    std::string strWhy;
    EXPECT_EQ(FileSource::open(strStub, &pSrc), 0);
    EXPECT_EQ(PeReadImage(*pSrc, &Image, &strWhy, PeReadPurpose::Rewrite), 0) << strWhy;
    return Image.dirSize(PE_DIR_BASERELOC);
}

class PackTest : public PackerTest {
protected:
    /** Writes a work file and returns its path. */
    std::string file(const std::string &strName, const std::string &strBytes) {
        writeBytes(work(strName), strBytes);
        return work(strName);
    }
    PackageInput package(const std::string &strArgument) {
        PackageInput Input;
        std::string strWhy;
        EXPECT_TRUE(ParsePackageArgument(strArgument.c_str(), &Input, &strWhy)) << strWhy;
        return Input;
    }
    /** Packs and returns the output's bytes ("" after a failure, which is expected to be rc). */
    std::string pack(const PackRequest &Request, int rcExpected = 0, std::string *pstrError = nullptr) {
        std::vector<std::string> Warnings;
        std::string strError;
        EXPECT_EQ(PackInstaller(Request, &Warnings, &strError), rcExpected) << strError;
        EXPECT_TRUE(Warnings.empty());
        if (pstrError)
            *pstrError = strError;
        return rcExpected == 0 ? readBytes(Request.strOutput) : "";
    }
    /** The three packages and two certificates of the round trips. */
    PackRequest typicalRequest(const std::string &strStub) {
        PackRequest Request;
        Request.strStub = strStub;
        Request.strOutput = work("setup.exe");
        Request.Packages = {package("amd64:" + file("product.msi", randomBytes(70000, 1))),
                            package("X86:" + file("product32.msi", randomBytes(5000, 2))),
                            package("all:" + file("data.cab", "c") + "=Data1.cab")};
        const std::string strPem = work("publisher.pem");
        EXPECT_EQ(runTool("openssl x509 -inform DER -in " + shellQuote(PACKER_SAMPLE_CERTIFICATE) + " -out " +
                          shellQuote(strPem))
                      .iExit,
                  0);
        Request.Certificates = {PACKER_SAMPLE_CERTIFICATE, strPem};
        return Request;
    }
};

} // namespace

TEST_F(PackTest, RoundTrip) {
    const std::string strCert = readBytes(PACKER_SAMPLE_CERTIFICATE);
    for (const char *pszFixture : {"reloc.exe", "noreloc.exe", "pe32.exe"}) {
        SCOPED_TRACE(pszFixture);
        const std::string strStub = fixturePath(pszFixture);
        const PackRequest Request = typicalRequest(strStub);
        const std::string strImage = pack(Request);
        ASSERT_FALSE(strImage.empty());

        // The invariants, and what the walker finds.
        const std::vector<CheckedResource> Found = checkPackedImage(strImage, relocDirSize(strStub));
        const std::map<std::string, std::string> Expected = {
            {"MANIFEST", std::string("TeskInstV1\0\0\0\0\0\x03", 16)},
            {"HDR_00", headerBytes(PackageArch::Amd64, "BIN_00", "product.msi")},
            {"HDR_01", headerBytes(PackageArch::X86, "BIN_01", "product32.msi")},
            {"HDR_02", headerBytes(PackageArch::All, "BIN_02", "Data1.cab")},
            {"BIN_00", readBytes(work("product.msi"))},
            {"BIN_01", readBytes(work("product32.msi"))},
            {"BIN_02", "c"},
            {"CERT_00", strCert},
            {"CERT_01", strCert}, // the PEM copy, back in DER
        };
        for (const auto &[strName, strBytes] : Expected) {
            SCOPED_TRACE(strName);
            EXPECT_TRUE(resourceData(Found, "#10", strName) == strBytes);
            // wrestool reads the same bytes.
            const ToolResult Res =
                runTool("wrestool -x --raw -t 10 -n " + strName + " " + shellQuote(Request.strOutput));
            EXPECT_EQ(Res.iExit, 0);
            EXPECT_TRUE(Res.strOut == strBytes);
        }
        EXPECT_EQ(Found.size(), Expected.size() + 6); // three icons, the group, the version, the manifest
        // The stub's own resources are still there, byte for byte.
        for (const char *pszType : {"3", "14", "16", "24"}) {
            SCOPED_TRACE(pszType);
            const std::string strCommand = std::string("wrestool -x --raw -t ") + pszType + " ";
            const ToolResult Before = runTool(strCommand + shellQuote(strStub));
            EXPECT_FALSE(Before.strOut.empty());
            EXPECT_TRUE(runTool(strCommand + shellQuote(Request.strOutput)).strOut == Before.strOut);
        }
        // objdump lists every container resource with its size.
        const ToolResult Dump = runTool("x86_64-w64-mingw32-objdump -p " + shellQuote(Request.strOutput));
        ASSERT_EQ(Dump.iExit, 0);
        for (const auto &[strName, strBytes] : Expected) {
            const size_t offName = Dump.strOut.find("]: " + strName + ", Value");
            ASSERT_NE(offName, std::string::npos) << strName;
            char szSize[32];
            snprintf(szSize, sizeof(szSize), "Size: 0x%06zx,", strBytes.size());
            EXPECT_NE(Dump.strOut.find(szSize, offName), std::string::npos) << strName;
        }
        // The installer's own reader, over the same bytes.
        std::vector<StubResource> Table;
        for (const CheckedResource &Res : Found)
            if (Res.strType == "#10")
                Table.push_back({Res.strName.c_str(), Res.strData.data(), (uint32_t)Res.strData.size()});
        g_paStubResources = Table.data();
        g_cStubResources = Table.size();
        const PackageManifest *pManifest = nullptr;
        ASSERT_EQ(FindPackageManifest(&pManifest), 0);
        ASSERT_EQ(pManifest->packageCount, 3);
        for (unsigned i = 0; i < 3; i++) {
            const PackageHeader *pHeader = FindPackageHeader(i);
            ASSERT_NE(pHeader, nullptr);
            const void *pvData = nullptr;
            uint32_t cbData = 0;
            ASSERT_EQ(FindResourceData(pHeader->resourceName, &pvData, &cbData), 0);
            EXPECT_TRUE(std::string((const char *)pvData, cbData) == Expected.at(pHeader->resourceName));
        }
        EXPECT_EQ(LoadEmbeddedCertificates(), 2u);
        g_paStubResources = nullptr;
        g_cStubResources = 0;

        // And the listing.
        const CliResult Res = runCli({"--list", Request.strOutput});
        EXPECT_EQ(Res.rcExit, 0);
        // (The runtime's text streams end lines with CR LF on every platform.)
        EXPECT_EQ(Res.strOut, "Packages: 3\r\n"
                              "  0  amd64  product.msi  70000 bytes  BIN_00\r\n"
                              "  1  x86  product32.msi  5000 bytes  BIN_01\r\n"
                              "  2  all  Data1.cab  1 bytes  BIN_02\r\n"
                              "Certificates: 2\r\n"
                              "  0  O=Brindlecap, CN=Brindlecap Test Publisher  889 bytes  CERT_00\r\n"
                              "  1  O=Brindlecap, CN=Brindlecap Test Publisher  889 bytes  CERT_01\r\n");
        EXPECT_EQ(Res.strErr, "");
    }
}

TEST_F(PackTest, SameInputsSameBytes) {
    PackRequest Request = typicalRequest(fixturePath("reloc.exe"));
    const std::string strFirst = pack(Request);
    ASSERT_FALSE(strFirst.empty());
    EXPECT_TRUE(pack(Request) == strFirst);
    // The output as the stub: its container is replaced, not added to.
    const std::string strCopy = file("copy.exe", strFirst);
    Request.strStub = strCopy;
    EXPECT_TRUE(pack(Request) == strFirst);
    // Packing fewer packages into it equals packing them into the stub.
    PackRequest Fewer = Request;
    Fewer.Packages.resize(1);
    Fewer.Certificates.clear();
    const std::string strFromPacked = pack(Fewer);
    Fewer.strStub = fixturePath("reloc.exe");
    EXPECT_TRUE(pack(Fewer) == strFromPacked);
    // Output over its own stub: read first, then replaced.
    Request.strOutput = strCopy;
    EXPECT_TRUE(pack(Request) == strFirst);
    EXPECT_EQ(workEntries(), 6u); // four inputs, setup.exe and copy.exe: no temporary file left
}

TEST_F(PackTest, IconIsReplaced) {
    const std::string strIcon = makeIcon({16, 32, 48});
    PackRequest Request = typicalRequest(fixturePath("reloc.exe"));
    Request.strIcon = file("new.ico", strIcon);
    const std::string strImage = pack(Request);
    const std::vector<CheckedResource> Found = checkPackedImage(strImage, relocDirSize(fixturePath("reloc.exe")));
    // The group is rebuilt from the images; wrestool puts the icon file back together
    // (and appends as many bytes as the group record has, a quirk of its own).
    const ToolResult Ico = runTool("wrestool -x -t 14 " + shellQuote(Request.strOutput));
    EXPECT_EQ(Ico.iExit, 0);
    EXPECT_TRUE(Ico.strOut.substr(0, strIcon.size()) == strIcon);
    EXPECT_EQ(resourceData(Found, "#14", "#1").size(), 6u + 3 * 14);
    size_t cIcons = 0;
    for (const CheckedResource &Res : Found)
        cIcons += Res.strType == "#3";
    EXPECT_EQ(cIcons, 3u); // the stub's three images are gone
    EXPECT_EQ(resourceData(Found, "#3", "#2").size(), 32u * 32 * 4 + 32 * 4 + 40);
    // Again with the same icon: the same bytes; without one: the icon stays.
    const std::string strPacked = file("packed.exe", strImage);
    Request.strStub = strPacked;
    EXPECT_TRUE(pack(Request) == strImage);
    Request.strIcon.clear();
    EXPECT_TRUE(pack(Request) == strImage);
}

TEST_F(PackTest, SignedInstallerVerifiesUntilAPayloadByteChanges) {
    const PackRequest Request = typicalRequest(fixturePath("reloc.exe"));
    ASSERT_FALSE(pack(Request).empty());
    // The unsigned image's checksum is what the signing tool computes.
    const ToolResult Unsigned = runTool("osslsigncode verify -in " + shellQuote(Request.strOutput) + " 2>&1");
    EXPECT_NE(Unsigned.strOut.find("PE checksum"), std::string::npos) << Unsigned.strOut;
    EXPECT_EQ(Unsigned.strOut.find("MISMATCH"), std::string::npos) << Unsigned.strOut;

    const std::string strKey = work("key.pem"), strCert = work("cert.pem"), strSigned = work("signed.exe");
    ASSERT_EQ(runTool("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + shellQuote(strKey) + " -out " +
                      shellQuote(strCert) + " -subj /CN=Throwaway -days 2 -addext extendedKeyUsage=codeSigning 2>&1")
                  .iExit,
              0);
    const ToolResult Sign =
        runTool("osslsigncode sign -certs " + shellQuote(strCert) + " -key " + shellQuote(strKey) + " -in " +
                shellQuote(Request.strOutput) + " -out " + shellQuote(strSigned) + " 2>&1");
    ASSERT_EQ(Sign.iExit, 0) << Sign.strOut;
    const std::string strVerify = "osslsigncode verify -CAfile " + shellQuote(strCert) + " -in ";
    const ToolResult Good = runTool(strVerify + shellQuote(strSigned) + " 2>&1");
    EXPECT_EQ(Good.iExit, 0) << Good.strOut;
    EXPECT_NE(Good.strOut.find("Signature verification: ok"), std::string::npos) << Good.strOut;

    // One payload byte flipped: the digest no longer matches.
    std::string strBytes = readBytes(strSigned);
    const size_t offPayload = strBytes.find(readBytes(work("product.msi")).substr(0, 64));
    ASSERT_NE(offPayload, std::string::npos);
    strBytes[offPayload + 30000] ^= 1;
    writeBytes(work("tampered.exe"), strBytes);
    const ToolResult Bad = runTool(strVerify + shellQuote(work("tampered.exe")) + " 2>&1");
    EXPECT_NE(Bad.iExit, 0);
    EXPECT_NE(Bad.strOut.find("MISMATCH"), std::string::npos) << Bad.strOut;

    // A signed installer is listed, but it is no stub to pack into.
    EXPECT_EQ(runCli({"--list", strSigned}).rcExit, 0);
    const CliResult Repack = runCli({"--stub", strSigned, "--output", work("again.exe")});
    EXPECT_EQ(Repack.rcExit, 1);
    EXPECT_EQ(Repack.strErr, "teskpack: error: The stub '" + strSigned +
                                 "' is signed (pack the stub first, then sign the installer)\r\n");
}

TEST_F(PackTest, FailedWritesLeaveNothingBehind) {
    const PackRequest Request = typicalRequest(fixturePath("pe32.exe"));
    const size_t cInputs = workEntries();
    const std::string strExpected = pack(Request);
    ASSERT_EQ(unlink(Request.strOutput.c_str()), 0);
    // Fail the first write, then the second, ... until the packing gets through.
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        Sink::testFailNth(n);
        std::vector<std::string> Warnings;
        std::string strError;
        const int rc = PackInstaller(Request, &Warnings, &strError);
        Sink::testFailNth(0);
        if (rc == 0) {
            EXPECT_GT(n, 5u);
            EXPECT_TRUE(readBytes(Request.strOutput) == strExpected);
            break;
        }
        EXPECT_EQ(rc, ERR_DISK_FULL);
        EXPECT_EQ(strError, "Cannot write '" + Request.strOutput + "': writing the output failed: ERR_DISK_FULL");
        EXPECT_EQ(workEntries(), cInputs);
        ASSERT_LT(n, 1000u);
    }
}

TEST_F(PackTest, LargePackagesAreStreamed) {
    // A sparse 512 MiB package (plus one byte) with marks at both ends and in the middle,
    // packed into the 32-bit stub: the packer warns about the address space it takes.
    const uint64_t cbLarge = (UINT64_C(512) << 20) + 1;
    const std::string strPackage = work("large.msi");
    {
        FILE *pFile = fopen(strPackage.c_str(), "wb");
        ASSERT_NE(pFile, nullptr);
        ASSERT_EQ(ftruncate(fileno(pFile), (off_t)cbLarge), 0);
        for (uint64_t off : {UINT64_C(0), cbLarge / 2, cbLarge - 8}) {
            fseeko(pFile, (off_t)off, SEEK_SET);
            fwrite("MARK1234", 1, off + 8 <= cbLarge ? 8 : cbLarge - off, pFile);
        }
        fclose(pFile);
    }
    const std::string strOutput = work("large.exe");
    const CliResult Res =
        runCli({"--stub", fixturePath("pe32.exe"), "--output", strOutput, "--package", "x86:" + strPackage});
    EXPECT_EQ(Res.rcExit, 0);
    EXPECT_EQ(Res.strErr, "teskpack: warning: The 32-bit installer '" + strOutput +
                              "' takes 512 MiB of address space; it may not load on every system\r\n");
    // The payload's place from objdump, its bytes compared by cmp.
    const ToolResult Dump = runTool("x86_64-w64-mingw32-objdump -p " + shellQuote(strOutput));
    const ToolResult Sections = runTool("x86_64-w64-mingw32-objdump -h " + shellQuote(strOutput));
    const size_t offName = Dump.strOut.find("]: BIN_00, Value");
    ASSERT_NE(offName, std::string::npos);
    unsigned long uAddr = 0, cbData = 0;
    ASSERT_EQ(sscanf(Dump.strOut.c_str() + Dump.strOut.find("Leaf: Addr: ", offName), "Leaf: Addr: %lx, Size: %lx",
                     &uAddr, &cbData),
              2);
    EXPECT_EQ(cbData, cbLarge);
    unsigned long uRsrcVMA = 0, offRsrc = 0, uImageBase = 0x400000;
    const size_t offHdr = Sections.strOut.find(".rsrc ");
    ASSERT_NE(offHdr, std::string::npos);
    ASSERT_EQ(sscanf(Sections.strOut.c_str() + offHdr, ".rsrc %*x %lx %*x %lx", &uRsrcVMA, &offRsrc), 2);
    const unsigned long offPayload = uAddr - (uRsrcVMA - uImageBase) + offRsrc;
    const ToolResult Cmp = runTool("cmp -n " + std::to_string(cbLarge) + " -i " + std::to_string(offPayload) + ":0 " +
                                   shellQuote(strOutput) + " " + shellQuote(strPackage) + " 2>&1");
    EXPECT_EQ(Cmp.iExit, 0) << Cmp.strOut;
    ASSERT_EQ(unlink(strOutput.c_str()), 0);

    // Three times as much does not fit in an image, and nothing is written.
    ASSERT_EQ(truncate(strPackage.c_str(), (off_t)(cbLarge * 3)), 0);
    const CliResult Big =
        runCli({"--stub", fixturePath("reloc.exe"), "--output", strOutput, "--package", "amd64:" + strPackage});
    EXPECT_EQ(Big.rcExit, 1);
    EXPECT_EQ(Big.strErr, "teskpack: error: Cannot pack '" + strOutput +
                              "': the installer image would take 1537 MiB; Windows cannot load more than 1536 MiB\r\n");
    EXPECT_FALSE(exists("work/large.exe"));
}
