// The packer's small inputs: certificates in DER and PEM (made by openssl here) and
// their subjects, and icon files; what is refused and why.
#include "packer-test.h"
#include "Certificate.h"
#include "IconFile.h"

namespace {

class InputTest : public PackerTest {
protected:
    std::vector<uint8_t> bytes(const std::string &str) { return std::vector<uint8_t>(str.begin(), str.end()); }
    /** A fresh self-signed certificate, as DER. */
    std::string makeCertificate(const std::string &strSubject) {
        const std::string strDer = work("made.der");
        const ToolResult Res =
            runTool("openssl req -x509 -newkey rsa:1024 -nodes -keyout /dev/null -utf8 -subj " +
                    shellQuote(strSubject) + " -days 1 -outform DER -out " + shellQuote(strDer) + " 2>&1");
        EXPECT_EQ(Res.iExit, 0) << Res.strOut;
        return readBytes(strDer);
    }
};

} // namespace

TEST_F(InputTest, CertificatesInDerAndPem) {
    const std::string strDer = readBytes(PACKER_SAMPLE_CERTIFICATE);
    ASSERT_EQ(runTool("openssl x509 -inform DER -in " + shellQuote(PACKER_SAMPLE_CERTIFICATE) + " -out " +
                      shellQuote(work("c.pem")))
                  .iExit,
              0);
    std::string strPem = readBytes(work("c.pem"));
    std::string strCrLf;
    for (char ch : strPem)
        strCrLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    for (const std::string &strFile : {strDer, strPem, strCrLf, "a key would be here\n" + strPem}) {
        std::vector<uint8_t> Der;
        std::string strWhy;
        EXPECT_EQ(ReadCertificateFile(bytes(strFile), &Der, &strWhy), 0) << strWhy;
        EXPECT_TRUE(std::string(Der.begin(), Der.end()) == strDer);
    }
    EXPECT_EQ(CertificateSubject((const uint8_t *)strDer.data(), strDer.size()),
              "O=Brindlecap, CN=Brindlecap Test Publisher");
    // UTF-8 text and an entry of two attributes (DER sorts a set by its encodings).
    const std::string strMade = makeCertificate("/CN=Caf\xc3\xa9 Test+OU=Unit/O=Org");
    EXPECT_EQ(CertificateSubject((const uint8_t *)strMade.data(), strMade.size()),
              "OU=Unit + CN=Caf\xc3\xa9 Test, O=Org");

    std::string strTwo = strPem + strPem;
    std::string strBadBase64 = strPem;
    strBadBase64[40] = '!';
    struct Case {
        std::string strWhat;
        std::string strFile;
        std::string strWhy;
    };
    const std::string strNotX509 = "is not an X.509 certificate in DER or PEM form";
    const Case aCases[] = {
        {"empty", "", strNotX509},
        {"text", "hello", strNotX509},
        {"truncated DER", strDer.substr(0, strDer.size() - 1), strNotX509},
        {"DER with a byte more", strDer + "x", strNotX509},
        {"DER of something else", std::string("\x30\x03\x02\x01\x05", 5), strNotX509},
        {"two PEM certificates", strTwo, "holds more than one certificate (give each one with its own --certificate)"},
        {"bad base64", strBadBase64, strNotX509 + " (damaged PEM block)"},
        {"no END line", strPem.substr(0, strPem.find("-----END")), strNotX509 + " (damaged PEM block)"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strWhat);
        std::vector<uint8_t> Der;
        std::string strWhy;
        EXPECT_EQ(ReadCertificateFile(bytes(c.strFile), &Der, &strWhy), ERR_INVALID_PARAMETER);
        EXPECT_EQ(strWhy, c.strWhy);
    }
}

TEST_F(InputTest, IconFiles) {
    // Two images: a bitmap and a PNG stream, back to back behind the directory.
    std::string strBitmap(40, '\0');
    strBitmap[0] = 40;
    const std::string strPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of the stream";
    std::string strIcon = std::string("\0\0\1\0\2\0", 6);
    const auto entry = [](uint8_t uSize, size_t cb, size_t off) {
        std::string str = {(char)uSize, (char)uSize, 0, 0, 1, 0, 32, 0};
        for (size_t u : {cb, off})
            for (int i = 0; i < 4; i++)
                str += (char)(u >> (8 * i));
        return str;
    };
    strIcon += entry(16, strBitmap.size(), 38) + entry(0, strPng.size(), 38 + strBitmap.size()) + strBitmap + strPng;
    std::vector<IconImage> Images;
    std::string strWhy;
    ASSERT_EQ(ReadIconFile(bytes(strIcon), &Images, &strWhy), 0) << strWhy;
    ASSERT_EQ(Images.size(), 2u);
    EXPECT_TRUE(std::string(Images[1].Data.begin(), Images[1].Data.end()) == strPng);
    const std::vector<uint8_t> Group = MakeIconGroup(Images, {7, 9});
    ASSERT_EQ(Group.size(), 6u + 2 * 14);
    EXPECT_EQ(std::string(Group.begin() + 6, Group.begin() + 18), strIcon.substr(6, 12)); // the entry's first 12 bytes
    std::vector<uint16_t> Ids;
    ASSERT_TRUE(ReadIconGroup(Group, &Ids));
    EXPECT_EQ(Ids, (std::vector<uint16_t>{7, 9}));

    std::string strNotAnImage = strIcon;
    strNotAnImage[38] = 39; // not a bitmap header
    std::string strOutside = strIcon;
    strOutside[6 + 16 + 12] = (char)0xff;
    for (const auto &[strFile, strExpected] :
         {std::make_pair(std::string("\0\0\2\0\1\0", 6) + strIcon.substr(6), std::string("is not an icon file")),
          std::make_pair(strIcon.substr(0, 4) + std::string("\0\0", 2), std::string("is not an icon file")),
          std::make_pair(strIcon.substr(0, 30), std::string("is not an icon file")),
          std::make_pair(strNotAnImage, std::string("is not an icon file (image 0 is damaged)")),
          std::make_pair(strOutside, std::string("is not an icon file (image 1 is damaged)"))}) {
        SCOPED_TRACE(strExpected);
        EXPECT_EQ(ReadIconFile(bytes(strFile), &Images, &strWhy), ERR_INVALID_PARAMETER);
        EXPECT_EQ(strWhy, strExpected);
    }
    EXPECT_FALSE(ReadIconGroup(std::vector<uint8_t>(Group.begin(), Group.end() - 1), &Ids));
}
