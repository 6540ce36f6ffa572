// Reading the package container from the executable's resources: resources by name,
// the manifest, package headers, the embedded certificates, and the host architecture
// test that decides which packages apply.
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"
#include "common/string/internal-str.h"

EmbeddedCertificate EmbeddedCertificates[PACKAGE_MAX_CERTIFICATES];

int FindResourceData(const char *pszName, const void **ppvData, uint32_t *pcbData) {
    if (!pszName)
        return ERR_INVALID_PARAMETER;
    RTUTF16 *pwszName = nullptr;
    int rc = RTStrToUtf16(pszName, &pwszName, RTSTR_TAG);
    if (RT_FAILURE(rc))
        return rc;
    uint32_t cbIgnored = 0;
    rc = g_StubPlatform.pfnFindResource(pwszName, ppvData, pcbData ? pcbData : &cbIgnored);
    RTUtf16Free(pwszName);
    return rc;
}

int FindPackageManifest(const PackageManifest **ppManifest) {
    const void *pvData = nullptr;
    uint32_t cbData = 0;
    int rc = FindResourceData(PACKAGE_MANIFEST_NAME, &pvData, &cbData);
    if (RT_FAILURE(rc))
        return rc;
    // A cut-off manifest would be read past its end.
    if (cbData < sizeof(PackageManifest))
        return ERR_BAD_EXE_FORMAT;
    *ppManifest = (const PackageManifest *)pvData;
    return 0;
}

const PackageHeader *FindPackageHeader(unsigned iPackage) {
    char szName[32];
    RTStrPrintf(szName, sizeof(szName), PACKAGE_HEADER_NAME_FORMAT, iPackage);
    const void *pvData = nullptr;
    uint32_t cbData = 0;
    int rc = FindResourceData(szName, &pvData, &cbData);
    if (RT_FAILURE(rc)) {
        ShowError("Internal error: Could not find package header #%u: %Rrc", iPackage, rc);
        return nullptr;
    }
    // The header's strings are used as C strings: they must end inside their fields,
    // and the record must be whole.
    const PackageHeader *pHeader = (const PackageHeader *)pvData;
    if (cbData < sizeof(PackageHeader) ||
        rtStrNLen(pHeader->resourceName, sizeof(pHeader->resourceName)) >= sizeof(pHeader->resourceName) ||
        rtStrNLen(pHeader->fileName, sizeof(pHeader->fileName)) >= sizeof(pHeader->fileName)) {
        ShowError("Internal error: Package header #%u is damaged: %Rrc", iPackage, ERR_BAD_EXE_FORMAT);
        return nullptr;
    }
    return pHeader;
}

bool HostIs64Bit() {
    return g_StubPlatform.pfnHostIs64Bit();
}

bool PackageRunsOnHost(const PackageHeader *pHeader) {
    const uint32_t uHostArch = (uint32_t)(HostIs64Bit() ? PackageArch::Amd64 : PackageArch::X86);
    return pHeader->architecture == (uint32_t)PackageArch::All || pHeader->architecture == uHostArch;
}

unsigned LoadEmbeddedCertificates() {
    unsigned cCerts = 0;
    for (; cCerts < PACKAGE_MAX_CERTIFICATES; cCerts++) {
        char szName[32];
        RTStrPrintf(szName, sizeof(szName), PACKAGE_CERT_NAME_FORMAT, cCerts);
        EmbeddedCertificate &Cert = EmbeddedCertificates[cCerts];
        if (RT_FAILURE(FindResourceData(szName, &Cert.pvData, &Cert.cbData)))
            break;
    }
    return cCerts;
}
