// Adding a certificate to the machine's trusted-publisher store with the real
// certificate functions: the certificate lands in the store and in the registry under
// its thumbprint, adding it again replaces it, and a malformed certificate, a store that
// does not open and a refused add are each reported with the platform's error number.
#include "Installer/win/Stub/stub-test.h"
#include "TeskStubCertUtil.h"
#include <windows.h>
#include <wincrypt.h>

#include <fstream>

#include "win/trusted-publishers.h"

namespace {

using wintest::certThumbprint;
using wintest::trustedPublisherCopies;

std::string programDir() {
    char sz[MAX_PATH];
    DWORD cch = GetModuleFileNameA(nullptr, sz, MAX_PATH);
    std::string str(sz, cch);
    return str.substr(0, str.find_last_of("\\/") + 1);
}

/** The throw-away certificate the build made. */
std::string testCertificate() {
    std::ifstream In(programDir() + "packages\\TestPublisher.cer", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

bool registryKeyExists(const std::string &strThumbprint) {
    std::string strKey = "Software\\Microsoft\\SystemCertificates\\TrustedPublisher\\Certificates\\" + strThumbprint;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

/** Hooks that make one step of the real store fail with a chosen error number. */
constinit uint32_t g_uHookError = 0;

void *failOpenStore(uint32_t, uint32_t, uintptr_t, uint32_t, const RTUTF16 *) {
    SetLastError(g_uHookError);
    return nullptr;
}

bool failAddToStore(void *, void *, uint32_t) {
    SetLastError(g_uHookError);
    return false;
}

class CertStoreTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        m_strCert = testCertificate();
        ASSERT_GT(m_strCert.size(), 100u) << "the build makes packages\\TestPublisher.cer";
        m_strThumbprint = certThumbprint(m_strCert);
        ASSERT_EQ(m_strThumbprint.size(), 40u);
        trustedPublisherCopies(m_strCert, true /*fDelete*/);
        ASSERT_EQ(trustedPublisherCopies(m_strCert), 0u);
    }
    void TearDown() override {
        trustedPublisherCopies(m_strCert, true /*fDelete*/);
        StubTest::TearDown();
    }

    bool add(const std::string &strCert, std::string *pstrErr) {
        bool fAdded = false;
        *pstrErr = captureCall([&] {
                       fAdded = AddCertificateToStore(TESKSTUB_CERT_STORE_LOCAL_MACHINE, "TrustedPublisher",
                                                      strCert.data(), (uint32_t)strCert.size());
                   }).strErr;
        return fAdded;
    }

    std::string m_strCert;
    std::string m_strThumbprint;
};

} // namespace

TEST_F(CertStoreTest, AddedToTheMachineStoreAndReplaced) {
    std::string strErr;
    EXPECT_TRUE(add(m_strCert, &strErr));
    EXPECT_EQ(strErr, "");
    EXPECT_EQ(trustedPublisherCopies(m_strCert), 1u);
    EXPECT_TRUE(registryKeyExists(m_strThumbprint)) << m_strThumbprint;

    // Already there: replaced, not an error, still one copy.
    EXPECT_TRUE(add(m_strCert, &strErr));
    EXPECT_EQ(strErr, "");
    EXPECT_EQ(trustedPublisherCopies(m_strCert), 1u);
    EXPECT_TRUE(registryKeyExists(m_strThumbprint));
}

TEST_F(CertStoreTest, MalformedCertificate) {
    struct Case {
        const char *pszName;
        std::string strBytes;
    };
    const Case aCases[] = {
        {"not DER", "not a certificate"},
        {"cut short", m_strCert.substr(0, m_strCert.size() / 2)},
        {"empty", std::string(1, '\0')},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        // The number the platform gives for these bytes, asked independently.
        SetLastError(0);
        EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, (const BYTE *)c.strBytes.data(),
                                               (DWORD)c.strBytes.size()),
                  nullptr);
        const DWORD uError = GetLastError();
        EXPECT_NE(uError, 0u);
        std::string strErr;
        EXPECT_FALSE(add(c.strBytes, &strErr));
        EXPECT_EQ(strErr,
                  "TeskStub.exe: error: Unable to get certificate context: " + std::to_string((int)uError) + "\r\n");
    }
    EXPECT_EQ(trustedPublisherCopies(m_strCert), 0u);
}

TEST_F(CertStoreTest, StoreFailures) {
    struct Case {
        const char *pszName;
        void *(*pfnOpen)(uint32_t, uint32_t, uintptr_t, uint32_t, const RTUTF16 *);
        bool (*pfnAdd)(void *, void *, uint32_t);
        uint32_t uError;
        const char *pszError;
    };
    const Case aCases[] = {
        {"open", failOpenStore, nullptr, ERROR_ACCESS_DENIED, "Unable to open certificates store: 5"},
        {"add", nullptr, failAddToStore, 0x80070005, "Unable to install certificate: -2147024891"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        g_StubPlatform = m_SavedPlatform;
        if (c.pfnOpen)
            g_StubPlatform.pfnCertOpenStore = c.pfnOpen;
        if (c.pfnAdd)
            g_StubPlatform.pfnCertAddCertificateContextToStore = c.pfnAdd;
        g_uHookError = c.uError;
        std::string strErr;
        EXPECT_FALSE(add(m_strCert, &strErr));
        EXPECT_EQ(strErr, std::string("TeskStub.exe: error: ") + c.pszError + "\r\n");
        EXPECT_EQ(trustedPublisherCopies(m_strCert), 0u);
        EXPECT_FALSE(registryKeyExists(m_strThumbprint));
    }
}
