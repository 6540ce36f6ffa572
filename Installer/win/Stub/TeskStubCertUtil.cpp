// Adding the maker's certificate to a certificate store of the machine.
#include "TeskStubCertUtil.h"
#include <olma/message.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStubPlatform.h"

namespace {

/* X.509 and PKCS #7 ASN.1 encodings. */
constexpr uint32_t kCertEncoding = 0x10001;
/* A system store named by a UTF-16 string. */
constexpr uint32_t kStoreProviderSystemW = 10;
/* Asks the platform to open a store read-only; adding to it would then fail. */
constexpr uint32_t kStoreReadOnlyFlag = 0x4000;
/* Replace a copy that is already in the store. */
constexpr uint32_t kAddReplaceExisting = 3;
/* Close without forcing: contexts still held (the certificate's own, freed right after)
 * stay valid; the platform merely notes them. */
constexpr uint32_t kCloseStoreCheck = 2;

} // namespace

bool AddCertificateToStore(uint32_t uStoreLocation, const char *pszStoreName, const void *pvCertificate,
                           uint32_t cbCertificate) {
    void *pCertContext = g_StubPlatform.pfnCertCreateCertificateContext(kCertEncoding, pvCertificate, cbCertificate);
    if (!pCertContext) {
        RTMsgError("Unable to get certificate context: %d", (int)g_StubPlatform.pfnGetLastError());
        return false;
    }

    // The error number is taken right after the failing call: freeing the name could
    // change it.
    void *hStore = nullptr;
    uint32_t uOpenError = 0;
    RTUTF16 *pwszStoreName = nullptr;
    if (RT_SUCCESS(RTStrToUtf16(pszStoreName, &pwszStoreName, RTSTR_TAG))) {
        hStore = g_StubPlatform.pfnCertOpenStore(kStoreProviderSystemW, kCertEncoding, 0 /*hCryptProv*/,
                                                 uStoreLocation & ~kStoreReadOnlyFlag, pwszStoreName);
        if (!hStore)
            uOpenError = g_StubPlatform.pfnGetLastError();
        RTUtf16Free(pwszStoreName);
    } else
        uOpenError = g_StubPlatform.pfnGetLastError();
    if (!hStore) {
        RTMsgError("Unable to open certificates store: %d", (int)uOpenError);
        g_StubPlatform.pfnCertFreeCertificateContext(pCertContext);
        return false;
    }

    bool fAdded = g_StubPlatform.pfnCertAddCertificateContextToStore(hStore, pCertContext, kAddReplaceExisting);
    if (!fAdded)
        RTMsgError("Unable to install certificate: %d", (int)g_StubPlatform.pfnGetLastError());

    g_StubPlatform.pfnCertCloseStore(hStore, kCloseStoreCheck);
    g_StubPlatform.pfnCertFreeCertificateContext(pCertContext);
    return fAdded;
}
