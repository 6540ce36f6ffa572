// The machine's trusted-publisher store as the certificate tests see it: a certificate's
// SHA-1 thumbprint (the name of its registry key) and its copies in the store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

namespace wintest {

/** The SHA-1 hash of a DER certificate in capital hex digits; empty on failure. */
inline std::string certThumbprint(const std::string &strCert) {
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    if (!CryptHashCertificate(0, CALG_SHA1, 0, (const BYTE *)strCert.data(), (DWORD)strCert.size(), abHash, &cbHash))
        return "";
    std::string str;
    for (BYTE b : abHash) {
        char sz[3];
        snprintf(sz, sizeof(sz), "%02X", b);
        str += sz;
    }
    return str;
}

/** Copies of the certificate in LocalMachine "TrustedPublisher", found by their SHA-1
 *  hash; deletes them instead of only counting when fDelete is set. ~0u when the hash
 *  or the store fails. */
inline unsigned trustedPublisherCopies(const std::string &strCert, bool fDelete = false) {
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    if (!CryptHashCertificate(0, CALG_SHA1, 0, (const BYTE *)strCert.data(), (DWORD)strCert.size(), abHash, &cbHash))
        return ~0u;
    HCERTSTORE hStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_LOCAL_MACHINE | (fDelete ? 0 : CERT_STORE_READONLY_FLAG), L"TrustedPublisher");
    if (!hStore)
        return ~0u;
    CRYPT_HASH_BLOB Blob = {cbHash, abHash};
    unsigned cCopies = 0;
    if (fDelete) {
        // Each search starts afresh: the store need not move on past a deleted copy.
        PCCERT_CONTEXT pCtx;
        while (cCopies < 16 &&
               (pCtx = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &Blob, nullptr))) {
            CertDeleteCertificateFromStore(pCtx); // frees the context
            cCopies++;
        }
        // Wine writes deletions to the registry only when asked to.
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    } else {
        PCCERT_CONTEXT pCtx = nullptr;
        while ((pCtx = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &Blob, pCtx)))
            cCopies++;
    }
    CertCloseStore(hStore, 0);
    return cCopies;
}

} // namespace wintest
