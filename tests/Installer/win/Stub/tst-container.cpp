// The package container reader over a replacement resource table: resource lookups and
// their statuses, header names, damaged records, the manifest and the certificates.
#include "stub-test.h"

namespace {

class ContainerTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        silent = true;
        captureStd();
        setResources(&m_Resources);
    }
    std::vector<Resource> m_Resources;
};

} // namespace

TEST_F(ContainerTest, FindResourceData) {
    m_Resources = {{"BIN_00", "payload"}, {"EMPTY", ""}};
    const void *pv = nullptr;
    uint32_t cb = 0xdead;
    EXPECT_EQ(FindResourceData(nullptr, &pv, &cb), ERR_INVALID_PARAMETER);
    EXPECT_EQ(FindResourceData("BIN_00", &pv, &cb), 0);
    EXPECT_EQ(cb, 7u);
    EXPECT_EQ(std::string((const char *)pv, cb), "payload");
    EXPECT_EQ(FindResourceData("bin_00", &pv, nullptr), 0); // size optional, name case ignored
    EXPECT_EQ(FindResourceData("BIN_01", &pv, &cb), ERR_IO_GEN_FAILURE);
    cb = 0xdead;
    EXPECT_EQ(FindResourceData("EMPTY", &pv, &cb), ERR_NO_DATA);
    EXPECT_EQ(cb, 0u); // the size is known before the data
    EXPECT_EQ(FindResourceData("\xff", &pv, &cb), ERR_INVALID_UTF8_ENCODING);
    EXPECT_EQ(finish("err"), "");
}

TEST_F(ContainerTest, HeaderNamesHaveAtLeastTwoDigits) {
    for (unsigned i : {0u, 7u, 42u, 123u}) {
        char szName[16];
        snprintf(szName, sizeof(szName), "HDR_%02u", i);
        m_Resources.push_back({szName, header(1, "BIN_" + std::to_string(i), "p" + std::to_string(i) + ".msi")});
    }
    for (unsigned i : {0u, 7u, 42u, 123u}) {
        SCOPED_TRACE(i);
        const PackageHeader *pHdr = FindPackageHeader(i);
        ASSERT_NE(pHdr, nullptr);
        EXPECT_EQ(std::string(pHdr->fileName), "p" + std::to_string(i) + ".msi");
        EXPECT_EQ(std::string(pHdr->resourceName), "BIN_" + std::to_string(i));
    }
    EXPECT_EQ(finish("err"), "");
    EXPECT_EQ(m_Resources[1].strName, "HDR_07");
}

TEST_F(ContainerTest, DamagedOrMissingHeadersAreShownOnce) {
    std::string strNoFileNul = header(3, "BIN_02", "");
    std::fill(strNoFileNul.begin() + 32, strNoFileNul.end(), 'a');
    std::string strNoRsrcNul = header(3, "", "x.msi");
    std::fill(strNoRsrcNul.begin() + 4, strNoRsrcNul.begin() + 32, 'B');
    m_Resources = {
        {"HDR_00", header(3, "BIN_00", "a.msi").substr(0, 255)},
        {"HDR_01", ""},
        {"HDR_02", strNoFileNul},
        {"HDR_03", strNoRsrcNul},
        {"HDR_04", header(3, "BIN_04", std::string(223, 'f'))}, // the longest name that ends in its field
    };
    for (unsigned i = 0; i < 6; i++)
        if (i != 4)
            EXPECT_EQ(FindPackageHeader(i), nullptr) << i;
    EXPECT_NE(FindPackageHeader(4), nullptr);
    EXPECT_EQ(finish("err"), "TeskStub.exe: error: Internal error: Package header #0 is damaged: ERR_BAD_EXE_FORMAT\r\n"
                             "TeskStub.exe: error: Internal error: Could not find package header #1: ERR_NO_DATA\r\n"
                             "TeskStub.exe: error: Internal error: Package header #2 is damaged: ERR_BAD_EXE_FORMAT\r\n"
                             "TeskStub.exe: error: Internal error: Package header #3 is damaged: ERR_BAD_EXE_FORMAT\r\n"
                             "TeskStub.exe: error: Internal error: Could not find package header #5: "
                             "ERR_IO_GEN_FAILURE\r\n");
}

TEST_F(ContainerTest, Manifest) {
    const PackageManifest *pManifest = nullptr;
    EXPECT_EQ(FindPackageManifest(&pManifest), ERR_IO_GEN_FAILURE);
    m_Resources = {{"MANIFEST", manifest(3).substr(0, 15)}};
    EXPECT_EQ(FindPackageManifest(&pManifest), ERR_BAD_EXE_FORMAT);
    m_Resources = {{"MANIFEST", ""}};
    EXPECT_EQ(FindPackageManifest(&pManifest), ERR_NO_DATA);
    m_Resources = {{"MANIFEST", manifest(255)}};
    ASSERT_EQ(FindPackageManifest(&pManifest), 0);
    EXPECT_EQ(pManifest->packageCount, 255);
    EXPECT_STREQ(pManifest->magic, "TeskInstV1");
    EXPECT_EQ(finish("err"), ""); // the caller reports
}

TEST_F(ContainerTest, CertificatesUpToTheFirstMissingOne) {
    EXPECT_EQ(LoadEmbeddedCertificates(), 0u);
    m_Resources = {{"CERT_00", "first"}, {"CERT_01", "second!"}, {"CERT_03", "after a gap"}};
    ASSERT_EQ(LoadEmbeddedCertificates(), 2u);
    EXPECT_EQ(std::string((const char *)EmbeddedCertificates[0].pvData, EmbeddedCertificates[0].cbData), "first");
    EXPECT_EQ(std::string((const char *)EmbeddedCertificates[1].pvData, EmbeddedCertificates[1].cbData), "second!");
    m_Resources.clear();
    for (unsigned i = 0; i < PACKAGE_MAX_CERTIFICATES + 2; i++)
        m_Resources.push_back({"CERT_" + std::string(i < 10 ? "0" : "") + std::to_string(i), "c"});
    EXPECT_EQ(LoadEmbeddedCertificates(), PACKAGE_MAX_CERTIFICATES);
}

TEST_F(ContainerTest, HostArchitectureComesFromThePlatform) {
#if defined(_WIN64)
    EXPECT_TRUE(HostIs64Bit()); // a 64-bit process is on a 64-bit host
#endif
    g_StubPlatform.pfnHostIs64Bit = [] { return false; };
    EXPECT_FALSE(HostIs64Bit());
}
