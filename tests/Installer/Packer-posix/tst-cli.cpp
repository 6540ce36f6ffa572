// teskpack's command line: syntax errors (exit 2), everything a user can get wrong in
// the inputs (exit 1), each with a message naming the input and no file written; help,
// version, and listing damaged installers.
#include "packer-test.h"
#include <olma/string.h>

namespace {

class CliTest : public PackerTest {
protected:
    void SetUp() override {
        PackerTest::SetUp();
        m_strPackage = work("product.msi");
        writeBytes(m_strPackage, "package bytes");
    }
    struct Case {
        std::vector<std::string> Args;
        std::string strErr;
    };
    /** Each command line fails with the exit code and its message, and writes nothing. */
    void expectFailures(const std::vector<Case> &Cases, int rcExit) {
        for (const Case &c : Cases) {
            SCOPED_TRACE(c.strErr);
            const size_t cBefore = workEntries();
            const CliResult Res = runCli(c.Args);
            EXPECT_EQ(workEntries(), cBefore);
            EXPECT_EQ(Res.rcExit, rcExit);
            EXPECT_EQ(Res.strErr, "teskpack: error: " + c.strErr + "\r\n");
            EXPECT_EQ(Res.strOut, "");
        }
    }
    std::vector<std::string> packArgs(std::vector<std::string> Extra) {
        std::vector<std::string> Args = {"--stub", fixturePath("reloc.exe"), "--output", work("out.exe")};
        Args.insert(Args.end(), Extra.begin(), Extra.end());
        return Args;
    }
    std::string m_strPackage;
};

std::string writeImageWith(const std::string &strPath, const std::vector<std::pair<std::string, std::string>> &Rcdata) {
    std::unique_ptr<FileSource> pStub;
    PeImage Image;
    std::vector<Resource> Resources;
    std::string strWhy;
    EXPECT_EQ(FileSource::open(fixturePath("noreloc.exe"), &pStub), 0);
    EXPECT_EQ(PeReadImage(*pStub, &Image, &strWhy, PeReadPurpose::Rewrite), 0);
    EXPECT_EQ(PeReadResources(*pStub, Image, &Resources, &strWhy), 0);
    std::vector<std::unique_ptr<MemorySource>> Sources;
    for (const auto &[strName, strData] : Rcdata) {
        Sources.emplace_back(new MemorySource(std::vector<uint8_t>(strData.begin(), strData.end())));
        Resource Res;
        Res.Type = ResourceKey::id(RES_TYPE_RCDATA);
        Res.Name = ResourceKey::name(strName.c_str());
        Res.pSrc = Sources.back().get();
        Res.cb = (uint32_t)strData.size();
        Resources.push_back(Res);
    }
    MemorySink Out;
    EXPECT_EQ(PeWriteWithResources(*pStub, Image, Resources, Out, &strWhy), 0) << strWhy;
    writeBytes(strPath, std::string(Out.Bytes.begin(), Out.Bytes.end()));
    return strPath;
}

std::string header(uint32_t uArch, const char *pszResource, const std::string &strFile) {
    PackageHeader Header = {};
    Header.architecture = uArch;
    strcpy(Header.resourceName, pszResource);
    memcpy(Header.fileName, strFile.data(), std::min(strFile.size(), sizeof(Header.fileName)));
    return std::string((const char *)&Header, sizeof(Header));
}

} // namespace

TEST_F(CliTest, SyntaxErrors) {
    const std::string strStub = fixturePath("reloc.exe");
    expectFailures(
        {
            {{}, "--stub and --output are required (or --list); see --help"},
            {{"--stub", strStub}, "--stub and --output are required (or --list); see --help"},
            {{"--bogus"}, "Unknown option: '--bogus'"},
            {{"extra"}, "Invalid parameter: extra"},
            {{"--stub", strStub, "-s", strStub}, "--stub is given more than once"},
            {{"--output", ""}, "--output needs a non-empty value"},
            {{"--certificate", ""}, "--certificate needs a non-empty value"},
            {{"--package", "amd64"}, "--package amd64: expected ARCH:PATH[=NAME] with ARCH all, x86 or amd64"},
            {{"--package", "arm64:x.msi"}, "--package arm64:x.msi: unknown architecture 'arm64' (all, x86 or amd64)"},
            {{"--package", "amd64:=x.msi"}, "--package amd64:=x.msi: the package path is missing"},
            {{"--list", strStub, "--stub", strStub}, "--list takes no other options"},
        },
        2);
}

TEST_F(CliTest, InputErrorsNameTheInput) {
    const std::string strDir = work("dir.msi");
    std::filesystem::create_directories(strDir);
    const std::string strEmpty = work("empty.msi"), strText = work("text.exe"), strBadCert = work("bad.der");
    const std::string strBadIcon = work("bad.ico"), strSigned = work("signed.exe");
    writeBytes(strEmpty, "");
    writeBytes(strText, "A text file, long enough to hold the headers of a program but not one at all.");
    writeBytes(strBadCert, "not a certificate");
    const std::string strHuge = work("huge.pem");
    writeBytes(strHuge, std::string(1024 * 1024 + 1, '-'));
    writeBytes(strBadIcon, std::string("\0\0\1\0\1\0", 6) + std::string(16, '\x7f'));
    {
        // The fixture with a certificate table, as a signing tool leaves it.
        std::string strBytes = readBytes(fixturePath("reloc.exe"));
        const uint32_t offDirs = packertest::u32(strBytes, 0x3c) + 24 + 112;
        const uint32_t cbImage = (uint32_t)strBytes.size();
        for (int i = 0; i < 4; i++) {
            strBytes[offDirs + 32 + i] = (char)(cbImage >> (8 * i));
            strBytes[offDirs + 36 + i] = (char)(16 >> (8 * i));
        }
        writeBytes(strSigned, strBytes + std::string(16, '\1'));
    }
    std::vector<std::string> TooManyPackages, TooManyCertificates;
    for (int i = 0; i < 256; i++) {
        TooManyPackages.push_back("-p");
        TooManyPackages.push_back("all:" + m_strPackage + "=p" + std::to_string(i) + ".cab");
    }
    for (int i = 0; i < 17; i++) {
        TooManyCertificates.push_back("-c");
        TooManyCertificates.push_back(PACKER_SAMPLE_CERTIFICATE);
    }
    const std::string strMissing = work("missing.msi");
    expectFailures(
        {
            {packArgs({"-p", "amd64:" + strMissing}), "Cannot open package '" + strMissing + "': ERR_FILE_NOT_FOUND"},
            {packArgs({"-p", "amd64:" + strDir}), "Cannot open package '" + strDir + "': ERR_IS_A_DIRECTORY"},
            {packArgs({"-p", "amd64:" + strEmpty}), "Package '" + strEmpty + "' is empty"},
            {packArgs({"-p", "amd64:" + m_strPackage + "=con.msi"}),
             "Package name 'con.msi' (--package amd64:" + m_strPackage + "=con.msi) is a reserved device name"},
            {packArgs({"-p", "x86:" + m_strPackage + "=setup.exe"}),
             "Package name 'setup.exe' (--package x86:" + m_strPackage +
                 "=setup.exe) does not end in \".msi\" or \".cab\""},
            {packArgs({"-p", "x86:" + m_strPackage + "="}),
             "Package name '' (--package x86:" + m_strPackage + "=) is empty"},
            {packArgs({"-p", "x86:" + m_strPackage + "=" + std::string(220, 'n') + ".msi"}),
             "Package name '" + std::string(220, 'n') + ".msi' (--package x86:" + m_strPackage + "=" +
                 std::string(220, 'n') + ".msi) is longer than the 223 bytes a package header holds"},
            {packArgs({"-p", "amd64:" + m_strPackage, "-p", "x86:" + m_strPackage + "=PRODUCT.MSI"}),
             "Packages amd64:" + m_strPackage + " and x86:" + m_strPackage +
                 "=PRODUCT.MSI have the same name 'PRODUCT.MSI' (names are compared ignoring case)"},
            {packArgs(TooManyPackages), "Too many packages: 256 (an installer carries at most 255)"},
            {packArgs({"-c", strMissing}), "Cannot open certificate '" + strMissing + "': ERR_FILE_NOT_FOUND"},
            {packArgs({"-c", strBadCert}),
             "Certificate '" + strBadCert + "' is not an X.509 certificate in DER or PEM form"},
            {packArgs(TooManyCertificates), "Too many certificates: 17 (an installer carries at most 16)"},
            {packArgs({"-c", strHuge}), "The certificate file '" + strHuge + "' is too large (1048577 bytes)"},
            {packArgs({"-i", strBadIcon}), "Icon '" + strBadIcon + "' is not an icon file (image 0 is damaged)"},
            {packArgs({"-i", m_strPackage}), "Icon '" + m_strPackage + "' is not an icon file"},
            {{"-s", strMissing, "-o", work("out.exe")}, "Cannot open stub '" + strMissing + "': ERR_FILE_NOT_FOUND"},
            {{"-s", strText, "-o", work("out.exe")}, "The stub '" + strText + "' is not a PE image (no MZ signature)"},
            {{"-s", strSigned, "-o", work("out.exe")},
             "The stub '" + strSigned + "' is signed (pack the stub first, then sign the installer)"},
            {{"-s", fixturePath("debug.exe"), "-o", work("out.exe")},
             "The stub '" + fixturePath("debug.exe") +
                 "' carries a COFF symbol table behind its sections (link it stripped)"},
            {{"-s", fixturePath("norsrc.exe"), "-o", work("out.exe")},
             "The stub '" + fixturePath("norsrc.exe") + "' has no resource section (.rsrc)"},
            {{"-s", fixturePath("reloc.exe"), "-o", strDir}, "The output '" + strDir + "' is a directory"},
            {{"-s", fixturePath("reloc.exe"), "-o", work("no/such/dir/out.exe")},
             "Cannot create a file beside '" + work("no/such/dir/out.exe") + "': ERR_PATH_NOT_FOUND"},
        },
        1);
}

TEST_F(CliTest, HelpAndVersion) {
    for (const char *pszHelp : {"--help", "-h", "-?"}) {
        const CliResult Res = runCli({"--stub", "x", pszHelp});
        EXPECT_EQ(Res.rcExit, 0);
        EXPECT_EQ(Res.strOut.rfind("Usage: teskpack --stub STUB --output OUT", 0), 0u) << pszHelp;
    }
    const CliResult Res = runCli({"-V"});
    EXPECT_EQ(Res.rcExit, 0);
    EXPECT_EQ(Res.strOut, "teskpack 1.0.0r1\r\n");
}

TEST_F(CliTest, ListingRefusesDamagedContainers) {
    const std::string strManifest1 = std::string("TeskInstV1\0\0\0\0\0\x01", 16);
    const std::string strGood = header(3, "BIN_00", "a.msi");
    std::string strUnterminated = strGood;
    std::fill(strUnterminated.begin() + 4, strUnterminated.begin() + 32, 'R');
    struct Case {
        std::vector<std::pair<std::string, std::string>> Rcdata;
        std::string strErr;
    };
    const Case aCases[] = {
        {{}, "carries no packages (it has no MANIFEST resource)"},
        {{{"MANIFEST", strManifest1.substr(0, 15)}}, "is damaged: MANIFEST is shorter than 16 bytes"},
        {{{"MANIFEST", strManifest1}}, "is damaged: HDR_00 is missing or shorter than 256 bytes"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", strGood.substr(0, 255)}},
         "is damaged: HDR_00 is missing or shorter than 256 bytes"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", strUnterminated}},
         "is damaged: the resource name in HDR_00 is not terminated"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", header(3, "BIN_00", std::string(224, 'f'))}},
         "is damaged: the file name in HDR_00 is longer than the 223 bytes a package header holds"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", header(3, "BIN_00", "a/b.msi")}},
         "is damaged: the file name in HDR_00 contains a character that file names must not contain (\\ / : * ? \" "
         "< > | or a control character)"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", strGood}},
         "is damaged: the data of package 0 (BIN_00) is missing or empty"},
        {{{"MANIFEST", strManifest1}, {"HDR_00", strGood}, {"BIN_00", ""}},
         "is damaged: the data of package 0 (BIN_00) is missing or empty"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strErr);
        const std::string strPath = writeImageWith(work("damaged.exe"), c.Rcdata);
        const CliResult Res = runCli({"--list", strPath});
        EXPECT_EQ(Res.rcExit, 1);
        const std::string strLead =
            c.strErr.rfind("carries", 0) == 0 ? "'" + strPath + "' " : "The installer '" + strPath + "' ";
        EXPECT_EQ(Res.strErr, "teskpack: error: " + strLead + c.strErr + "\r\n");
        EXPECT_EQ(Res.strOut, "");
    }
    // An unknown architecture and an unreadable certificate are shown, not refused.
    const std::string strPath = writeImageWith(
        work("odd.exe"),
        {{"MANIFEST", strManifest1}, {"HDR_00", header(9, "BIN_00", "a.msi")}, {"BIN_00", "x"}, {"CERT_00", "junk"}});
    const CliResult Res = runCli({"--list", strPath});
    EXPECT_EQ(Res.rcExit, 0);
    EXPECT_EQ(Res.strOut, "Packages: 1\r\n"
                          "  0  unknown (9)  a.msi  1 bytes  BIN_00\r\n"
                          "Certificates: 1\r\n"
                          "  0  (not a readable certificate)  4 bytes  CERT_00\r\n");
}
