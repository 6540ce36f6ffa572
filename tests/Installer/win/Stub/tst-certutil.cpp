// Adding a certificate to a machine store, over a recording certificate-store double:
// the calls and their arguments in order, the store location's read-only bit, each
// step failing with its message and platform error number, and each allocation
// failing in turn.
#include "stub-test.h"
#include "TeskStubCertUtil.h"
#include <olma/mem.h>

#include <cerrno>

namespace {

/** Which step of the certificate-store double fails, and with which error number. */
enum class Fail { None, Create, Open, Add };

void *const kContext = (void *)(uintptr_t)0xc0de;
void *const kStore = (void *)(uintptr_t)0x5707e;

class CertUtilTest : public StubTest {
protected:
    void SetUp() override {
        StubTest::SetUp();
        s_Fail = Fail::None;
        s_uLastError = 0;
        s_Calls.clear();
        g_StubPlatform.pfnCertCreateCertificateContext = createContext;
        g_StubPlatform.pfnCertOpenStore = openStore;
        g_StubPlatform.pfnCertAddCertificateContextToStore = addToStore;
        g_StubPlatform.pfnCertCloseStore = closeStore;
        g_StubPlatform.pfnCertFreeCertificateContext = freeContext;
        g_StubPlatform.pfnGetLastError = getLastError;
    }

    static inline Fail s_Fail = Fail::None;
    static inline uint32_t s_uLastError = 0;
    static inline std::vector<std::string> s_Calls;

private:
    static void *createContext(uint32_t fEncoding, const void *pvData, uint32_t cbData) {
        s_Calls.push_back(callText("Create(%#x, %.*s, %u)", fEncoding, (int)cbData, (const char *)pvData, cbData));
        return s_Fail == Fail::Create ? nullptr : kContext;
    }
    static void *openStore(uint32_t uProvider, uint32_t fEncoding, uintptr_t hCryptProv, uint32_t fFlags,
                           const RTUTF16 *pwszStoreName) {
        s_Calls.push_back(callText("Open(%u, %#x, %zu, %#x, %s)", uProvider, fEncoding, (size_t)hCryptProv, fFlags,
                                   toUtf8(pwszStoreName).c_str()));
        return s_Fail == Fail::Open ? nullptr : kStore;
    }
    static bool addToStore(void *hStore, void *pCertContext, uint32_t uDisposition) {
        s_Calls.push_back(callText("Add(%s, %s, %u)", hStore == kStore ? "store" : "?",
                                   pCertContext == kContext ? "context" : "?", uDisposition));
        return s_Fail != Fail::Add;
    }
    static bool closeStore(void *hStore, uint32_t fFlags) {
        s_Calls.push_back(callText("Close(%s, %u)", hStore == kStore ? "store" : "?", fFlags));
        return true;
    }
    static bool freeContext(void *pCertContext) {
        s_Calls.push_back(callText("Free(%s)", pCertContext == kContext ? "context" : "?"));
        return true;
    }
    static uint32_t getLastError() { return s_uLastError; }
};

const char g_abCert[] = "DER bytes";

} // namespace

TEST_F(CertUtilTest, AddsWithReplacementAndClosesEverything) {
    // The read-only bit of the location is dropped: the store is opened to be written.
    struct Case {
        uint32_t uLocation;
        const char *pszOpen;
    };
    const Case aCases[] = {
        {TESKSTUB_CERT_STORE_LOCAL_MACHINE, "Open(10, 0x10001, 0, 0x20000, TrustedPublisher)"},
        {0x24000, "Open(10, 0x10001, 0, 0x20000, TrustedPublisher)"},
        {0x14000, "Open(10, 0x10001, 0, 0x10000, TrustedPublisher)"},
        {0x4000, "Open(10, 0x10001, 0, 0, TrustedPublisher)"},
        {0xffffffff, "Open(10, 0x10001, 0, 0xffffbfff, TrustedPublisher)"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.uLocation);
        s_Calls.clear();
        bool fAdded = false;
        const Output Out =
            captureCall([&] { fAdded = AddCertificateToStore(c.uLocation, "TrustedPublisher", g_abCert, 9); });
        EXPECT_TRUE(fAdded);
        EXPECT_EQ(s_Calls, (std::vector<std::string>{"Create(0x10001, DER bytes, 9)", c.pszOpen,
                                                     "Add(store, context, 3)", "Close(store, 2)", "Free(context)"}));
        EXPECT_EQ(Out.strErr, "");
        EXPECT_EQ(Out.strOut, "");
    }
}

TEST_F(CertUtilTest, FailingSteps) {
    struct Case {
        Fail enmFail;
        uint32_t uLastError;
        const char *pszStoreName;
        const char *pszError;
        std::vector<std::string> Calls;
    };
    const Case aCases[] = {
        // The platform's error numbers print as signed numbers, HRESULT-style ones negative.
        {Fail::Create,
         0x8009310b,
         "TrustedPublisher",
         "Unable to get certificate context: -2146881269",
         {"Create(0x10001, DER bytes, 9)"}},
        {Fail::Open,
         5,
         "TrustedPublisher",
         "Unable to open certificates store: 5",
         {"Create(0x10001, DER bytes, 9)", "Open(10, 0x10001, 0, 0x20000, TrustedPublisher)", "Free(context)"}},
        // A name that does not convert fails like a store that does not open.
        {Fail::None,
         87,
         "Trusted\xffPublisher",
         "Unable to open certificates store: 87",
         {"Create(0x10001, DER bytes, 9)", "Free(context)"}},
        {Fail::Add,
         0x80092005,
         "TrustedPublisher",
         "Unable to install certificate: -2146885627",
         {"Create(0x10001, DER bytes, 9)", "Open(10, 0x10001, 0, 0x20000, TrustedPublisher)", "Add(store, context, 3)",
          "Close(store, 2)", "Free(context)"}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszError);
        s_Fail = c.enmFail;
        s_uLastError = c.uLastError;
        s_Calls.clear();
        bool fAdded = true;
        const Output Out = captureCall(
            [&] { fAdded = AddCertificateToStore(TESKSTUB_CERT_STORE_LOCAL_MACHINE, c.pszStoreName, g_abCert, 9); });
        EXPECT_FALSE(fAdded);
        EXPECT_EQ(s_Calls, c.Calls);
        // The reason goes to standard error whether or not the run is silent.
        EXPECT_EQ(Out.strErr, std::string("TeskStub.exe: error: ") + c.pszError + "\r\n");
        EXPECT_EQ(Out.strOut, "");
    }
}

TEST_F(CertUtilTest, AllocationFailuresInTurn) {
    // The store name's conversion is the one allocation of the operation's own; a
    // failure there reads as a store that did not open and leaks nothing.
    s_uLastError = 8;
    bool fDone = false;
    unsigned cFailures = 0;
    for (uint32_t iFail = 1; iFail < 50 && !fDone; iFail++) {
        SCOPED_TRACE(iFail);
        s_Calls.clear();
        bool fAdded = false;
        const std::string strErr =
            captureCall([&] {
                RTMemTestFailNth(iFail);
                fAdded = AddCertificateToStore(TESKSTUB_CERT_STORE_LOCAL_MACHINE, "TrustedPublisher", g_abCert, 9);
                RTMemTestFailNth(0);
            }).strErr;
        if (fAdded) {
            EXPECT_EQ(s_Calls.size(), 5u);
            EXPECT_EQ(strErr, "");
            fDone = true;
        } else {
            cFailures++;
            EXPECT_EQ(s_Calls, (std::vector<std::string>{"Create(0x10001, DER bytes, 9)", "Free(context)"}));
            EXPECT_EQ(strErr, "TeskStub.exe: error: Unable to open certificates store: 8\r\n");
        }
    }
    EXPECT_TRUE(fDone);
    EXPECT_EQ(cFailures, 1u);
}

#if defined(RT_OS_POSIX)
TEST_F(CertUtilTest, NoStoreOnThisPlatform) {
    // Outside Windows there is no certificate store unless a test puts one in: the
    // backend refuses with the platform's "not implemented" number.
    g_StubPlatform = g_StubPlatformDefault;
    bool fAdded = true;
    Output Out = captureCall([&] { fAdded = AddCertificateToStore(0x20000, "TrustedPublisher", g_abCert, 9); });
    EXPECT_FALSE(fAdded);
    EXPECT_EQ(Out.strErr, "TeskStub.exe: error: Unable to get certificate context: " + std::to_string(ENOSYS) + "\r\n");
}
#endif
