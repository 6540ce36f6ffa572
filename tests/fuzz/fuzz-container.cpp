// Fuzz target: the installer's package container reader on resources made of the input.
// The input is a list of resources (manifest, headers, data, certificates, any name),
// each held in a heap block of exactly its size, so that a read past a resource's end
// is caught. The reader's answers are checked against the table itself: the manifest
// and headers it returns are whole, a header's name fields end inside their fields,
// the certificates are the run of CERT_nn that exists, and a file name that passes the
// name check is one that can only name a plain file in the extraction directory.
#include <olma/mem.h>
#include <olma/stream.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct FuzzResource {
    std::string strName;
    uint8_t *pb; // exactly cb bytes (null when empty)
    uint32_t cb;
};

std::vector<FuzzResource> g_Resources;
/** The name the reader asked for last. */
std::string g_strAsked;

bool asciiEqualIgnoringCase(const std::string &str1, const std::string &str2) {
    if (str1.size() != str2.size())
        return false;
    for (size_t i = 0; i < str1.size(); i++) {
        char ch1 = str1[i], ch2 = str2[i];
        if (ch1 >= 'a' && ch1 <= 'z')
            ch1 = (char)(ch1 - 'a' + 'A');
        if (ch2 >= 'a' && ch2 <= 'z')
            ch2 = (char)(ch2 - 'a' + 'A');
        if (ch1 != ch2)
            return false;
    }
    return true;
}

const FuzzResource *lookup(const std::string &strName) {
    for (const FuzzResource &Res : g_Resources)
        if (asciiEqualIgnoringCase(Res.strName, strName))
            return &Res;
    return nullptr;
}

/** The platform's resource lookup, over the table: names without regard to ASCII case,
 *  the size stored before an empty resource is refused. */
int findResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
    char szName[256];
    char *pszName = szName;
    if (RT_FAILURE(RTUtf16ToUtf8Ex(pwszName, RTSTR_MAX, &pszName, sizeof(szName), nullptr, RTSTR_TAG)))
        abort(); // the reader made the name from UTF-8 itself
    g_strAsked = szName;
    const FuzzResource *pRes = lookup(g_strAsked);
    if (!pRes)
        return ERR_IO_GEN_FAILURE;
    *pcbData = pRes->cb;
    if (pRes->cb == 0)
        return ERR_NO_DATA;
    *ppvData = pRes->pb;
    return 0;
}

std::string nameOf(const char *pszFormat, unsigned i) {
    char szName[32];
    snprintf(szName, sizeof(szName), pszFormat, i);
    return szName;
}

/** Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. */
bool isValidUtf8(const uint8_t *pb, size_t cb) {
    for (size_t i = 0; i < cb;) {
        const uint8_t b = pb[i];
        size_t cbSeq;
        uint32_t uCp;
        if (b < 0x80) {
            i++;
            continue;
        } else if ((b & 0xe0) == 0xc0) {
            cbSeq = 2;
            uCp = b & 0x1f;
        } else if ((b & 0xf0) == 0xe0) {
            cbSeq = 3;
            uCp = b & 0x0f;
        } else if ((b & 0xf8) == 0xf0) {
            cbSeq = 4;
            uCp = b & 0x07;
        } else
            return false;
        if (cb - i < cbSeq)
            return false;
        for (size_t j = 1; j < cbSeq; j++) {
            if ((pb[i + j] & 0xc0) != 0x80)
                return false;
            uCp = uCp << 6 | (pb[i + j] & 0x3f);
        }
        static const uint32_t s_auMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (uCp < s_auMin[cbSeq] || uCp > 0x10ffff || (uCp >= 0xd800 && uCp < 0xe000))
            return false;
        i += cbSeq;
    }
    return true;
}

/** A name Windows opens as a device whatever directory and suffix it is given: the part
 *  before the first dot, blanks at its end dropped, is a DOS device name (COM and LPT
 *  also with the superscript digits one to three). */
bool namesDevice(const std::string &strName) {
    std::string strBase = strName.substr(0, strName.find('.'));
    while (!strBase.empty() && strBase.back() == ' ')
        strBase.pop_back();
    for (char &ch : strBase)
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
    if (strBase == "CON" || strBase == "PRN" || strBase == "AUX" || strBase == "NUL")
        return true;
    if (strBase.compare(0, 3, "COM") != 0 && strBase.compare(0, 3, "LPT") != 0)
        return false;
    const std::string strNumber = strBase.substr(3);
    return (strNumber.size() == 1 && strNumber[0] >= '0' && strNumber[0] <= '9') || strNumber == "\xc2\xb9" ||
           strNumber == "\xc2\xb2" || strNumber == "\xc2\xb3";
}

/** What a name that passed the check must be, tested apart from the check's own code. */
void checkAcceptedName(const char *pchField, size_t cbField) {
    const void *pvEnd = memchr(pchField, '\0', cbField);
    if (!pvEnd)
        abort();
    const std::string strName(pchField, (const char *)pvEnd - pchField);
    if (strName.empty() || !isValidUtf8((const uint8_t *)strName.data(), strName.size()))
        abort();
    for (unsigned char ch : strName)
        if (ch < 0x20 || ch == 0x7f || strchr("\\/:*?\"<>|", ch))
            abort();
    if (strName == "." || strName == ".." || strName.back() == '.' || strName.back() == ' ')
        abort();
    if (namesDevice(strName))
        abort();
    const std::string strSuffix = strName.size() > 4 ? strName.substr(strName.size() - 4) : "";
    if (!asciiEqualIgnoringCase(strSuffix, ".msi") && !asciiEqualIgnoringCase(strSuffix, ".cab"))
        abort();
}

/** Splits the input into resources: a kind byte, an index byte and a 16-bit length, then
 *  that many bytes (fewer at the end of the input). */
void parseInput(const uint8_t *pb, size_t cb) {
    static const char *const s_apszFormats[] = {PACKAGE_MANIFEST_NAME, PACKAGE_HEADER_NAME_FORMAT,
                                                PACKAGE_DATA_NAME_FORMAT, PACKAGE_CERT_NAME_FORMAT};
    size_t off = 0;
    while (cb - off >= 4) {
        const unsigned uKind = pb[off] % 5;
        const unsigned uIndex = pb[off + 1];
        size_t cbData = pb[off + 2] | (size_t)pb[off + 3] << 8;
        off += 4;
        if (cbData > cb - off)
            cbData = cb - off;
        const uint8_t *pbData = pb + off;
        off += cbData;
        FuzzResource Res;
        if (uKind < 4)
            Res.strName = nameOf(s_apszFormats[uKind], uIndex);
        else {
            // Any other name, as a header's resource name may give: the bytes before the
            // first NUL, the data behind it.
            const void *pvNul = memchr(pbData, '\0', cbData);
            const size_t cchName = pvNul ? (const uint8_t *)pvNul - pbData : cbData;
            Res.strName.assign((const char *)pbData, cchName);
            pbData += cchName + (pvNul ? 1 : 0);
            cbData -= cchName + (pvNul ? 1 : 0);
        }
        Res.cb = (uint32_t)cbData;
        Res.pb = cbData ? (uint8_t *)malloc(cbData) : nullptr;
        if (cbData)
            memcpy(Res.pb, pbData, cbData);
        g_Resources.push_back(Res);
    }
}

void checkContainer() {
    const FuzzResource *pManifestRes = lookup(PACKAGE_MANIFEST_NAME);
    const PackageManifest *pManifest = nullptr;
    const int rcManifest = FindPackageManifest(&pManifest);
    unsigned cPackages = 0;
    if (!pManifestRes) {
        if (rcManifest != ERR_IO_GEN_FAILURE)
            abort();
    } else if (pManifestRes->cb == 0) {
        if (rcManifest != ERR_NO_DATA)
            abort();
    } else if (pManifestRes->cb < sizeof(PackageManifest)) {
        if (rcManifest != ERR_BAD_EXE_FORMAT)
            abort();
    } else {
        if (rcManifest != 0 || (const void *)pManifest != pManifestRes->pb)
            abort();
        cPackages = pManifest->packageCount;
    }

    // The run asks for the headers the manifest counts; the input's other headers are
    // read too, so that they are fuzzed without a manifest in front.
    for (unsigned i = 0; i <= PACKAGE_MAX_COUNT; i++) {
        const std::string strHeader = nameOf(PACKAGE_HEADER_NAME_FORMAT, i);
        const FuzzResource *pHeaderRes = lookup(strHeader);
        if (i >= cPackages && !pHeaderRes)
            continue;
        g_strAsked.clear();
        const PackageHeader *pHeader = FindPackageHeader(i);
        if (g_strAsked != strHeader)
            abort();
        const bool fWhole =
            pHeaderRes && pHeaderRes->cb >= sizeof(PackageHeader) &&
            memchr(pHeaderRes->pb + offsetof(PackageHeader, resourceName), '\0', sizeof(PackageHeader::resourceName)) &&
            memchr(pHeaderRes->pb + offsetof(PackageHeader, fileName), '\0', sizeof(PackageHeader::fileName));
        if (fWhole != (pHeader != nullptr) || (pHeader && (const void *)pHeader != pHeaderRes->pb))
            abort();
        if (!pHeader)
            continue;

        // The data resource the header names, as extraction looks it up.
        const void *pvData = nullptr;
        uint32_t cbData = 0;
        const int rc = FindResourceData(pHeader->resourceName, &pvData, &cbData);
        const FuzzResource *pDataRes = lookup(pHeader->resourceName);
        if (RT_SUCCESS(rc) && (!pDataRes || pvData != pDataRes->pb || cbData != pDataRes->cb))
            abort();
        if (pDataRes && pDataRes->cb &&
            isValidUtf8((const uint8_t *)pHeader->resourceName, strlen(pHeader->resourceName)) && RT_FAILURE(rc))
            abort();

        const PackageNameFault enmFault = CheckPackageFileName(pHeader->fileName, sizeof(pHeader->fileName));
        if (enmFault == PackageNameFault::None)
            checkAcceptedName(pHeader->fileName, sizeof(pHeader->fileName));
        else if (!PackageNameFaultText(enmFault))
            abort();
    }

    // The certificates are the unbroken run CERT_00, CERT_01, ... of non-empty resources.
    unsigned cExpected = 0;
    while (cExpected < PACKAGE_MAX_CERTIFICATES) {
        const FuzzResource *pCert = lookup(nameOf(PACKAGE_CERT_NAME_FORMAT, cExpected));
        if (!pCert || pCert->cb == 0)
            break;
        cExpected++;
    }
    const unsigned cCerts = LoadEmbeddedCertificates();
    if (cCerts != cExpected)
        abort();
    for (unsigned i = 0; i < cCerts; i++) {
        const FuzzResource *pCert = lookup(nameOf(PACKAGE_CERT_NAME_FORMAT, i));
        if (EmbeddedCertificates[i].pvData != pCert->pb || EmbeddedCertificates[i].cbData != pCert->cb)
            abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb > 16384)
        return 0;
    // Messages are formatted for real but go nowhere.
    static PRTSTREAM s_pNull = nullptr;
    if (!s_pNull) {
        if (RT_FAILURE(RTStrmOpen("/dev/null", "w", &s_pNull)))
            abort();
        g_pStdErr = s_pNull;
        g_pStdOut = s_pNull;
        silent = true;
        g_StubPlatform.pfnFindResource = findResource;
        // The stream takes its buffer with the first message and keeps it: not a leak.
        ShowError("first message");
    }

    parseInput(pb, cb);
    const size_t cBlocks = RTMemTestOutstanding();
    checkContainer();
    if (RTMemTestOutstanding() != cBlocks)
        abort(); // the reader's names and messages are freed again
    for (FuzzResource &Res : g_Resources)
        free(Res.pb);
    g_Resources.clear();
    return 0;
}
