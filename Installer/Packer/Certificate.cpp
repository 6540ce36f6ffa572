// X.509 certificates in DER and PEM form: a bounded DER walker over the certificate's
// outer structure and its subject name, and a PEM (base64) decoder.
#include "Certificate.h"
#include "PackIo.h"
#include <olma/string.h>
#include <cstring>

namespace {

constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagUtf8String = 0x0c;
constexpr uint8_t kTagPrintableString = 0x13;
constexpr uint8_t kTagT61String = 0x14;
constexpr uint8_t kTagIa5String = 0x16;
constexpr uint8_t kTagBmpString = 0x1e;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;
constexpr uint8_t kTagVersion = 0xa0;

/** A DER element's content, or the rest of a buffer being walked. */
struct Der {
    const uint8_t *pb;
    size_t cb;
};

/** Takes the next element off In: single-byte tags and definite lengths only. */
bool derNext(Der &In, uint8_t *puTag, Der *pContent) {
    if (In.cb < 2 || (In.pb[0] & 0x1f) == 0x1f)
        return false;
    *puTag = In.pb[0];
    size_t off = 2;
    size_t cbContent = In.pb[1];
    if (cbContent & 0x80) {
        const size_t cbLength = cbContent & 0x7f;
        if (cbLength == 0 || cbLength > 4 || In.cb < 2 + cbLength)
            return false;
        cbContent = 0;
        for (size_t i = 0; i < cbLength; i++)
            cbContent = cbContent << 8 | In.pb[2 + i];
        off += cbLength;
    }
    if (cbContent > In.cb - off)
        return false;
    *pContent = {In.pb + off, cbContent};
    In.pb += off + cbContent;
    In.cb -= off + cbContent;
    return true;
}

bool derExpect(Der &In, uint8_t uTag, Der *pContent) {
    uint8_t uActual;
    return derNext(In, &uActual, pContent) && uActual == uTag;
}

/** Walks to the subject name: Certificate { tbsCertificate { [0] version, serial,
 *  signature, issuer, validity, subject, subjectPublicKeyInfo, ... }, algorithm,
 *  signature value }. */
bool derCertificate(const uint8_t *pb, size_t cb, Der *pSubject) {
    Der In = {pb, cb};
    Der Cert, Tbs, Skip, AlgOrVersion;
    if (!derExpect(In, kTagSequence, &Cert) || In.cb != 0)
        return false;
    if (!derExpect(Cert, kTagSequence, &Tbs) || !derExpect(Cert, kTagSequence, &AlgOrVersion) ||
        !derExpect(Cert, kTagBitString, &Skip) || Cert.cb != 0)
        return false;
    if (Tbs.cb > 0 && Tbs.pb[0] == kTagVersion && !derExpect(Tbs, kTagVersion, &AlgOrVersion))
        return false;
    return derExpect(Tbs, kTagInteger, &Skip) && derExpect(Tbs, kTagSequence, &Skip) &&
           derExpect(Tbs, kTagSequence, &Skip) && derExpect(Tbs, kTagSequence, &Skip) &&
           derExpect(Tbs, kTagSequence, pSubject) && derExpect(Tbs, kTagSequence, &Skip);
}

const char *attributeName(const Der &Oid) {
    static const struct {
        uint8_t cb;
        uint8_t ab[9];
        const char *pszName;
    } s_aNames[] = {
        {3, {0x55, 0x04, 0x03}, "CN"},
        {3, {0x55, 0x04, 0x06}, "C"},
        {3, {0x55, 0x04, 0x07}, "L"},
        {3, {0x55, 0x04, 0x08}, "ST"},
        {3, {0x55, 0x04, 0x0a}, "O"},
        {3, {0x55, 0x04, 0x0b}, "OU"},
        {9, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x01}, "emailAddress"},
    };
    for (const auto &Name : s_aNames)
        if (Oid.cb == Name.cb && memcmp(Oid.pb, Name.ab, Name.cb) == 0)
            return Name.pszName;
    return nullptr;
}

std::string dottedOid(const Der &Oid) {
    std::string str;
    uint64_t uArc = 0;
    for (size_t i = 0; i < Oid.cb; i++) {
        uArc = uArc << 7 | (Oid.pb[i] & 0x7f);
        if (Oid.pb[i] & 0x80)
            continue;
        if (str.empty())
            str = uArc < 80 ? std::to_string(uArc / 40) + "." + std::to_string(uArc % 40)
                            : "2." + std::to_string(uArc - 80);
        else
            str += "." + std::to_string(uArc);
        uArc = 0;
    }
    return str;
}

void appendCodePoint(std::string &str, RTUNICP uCp) {
    // Control characters would garble a listing.
    if (uCp < 0x20 || uCp == 0x7f || (uCp >= 0xd800 && uCp < 0xe000) || uCp > 0x10ffff)
        uCp = '?';
    char ach[8];
    str.append(ach, RTStrPutCp(ach, uCp) - ach);
}

bool appendValue(std::string &str, uint8_t uTag, const Der &Value) {
    switch (uTag) {
    case kTagUtf8String:
        if (RT_FAILURE(RTStrValidateEncodingEx((const char *)Value.pb, Value.cb, 0)))
            return false;
        for (const char *psz = (const char *)Value.pb; psz < (const char *)Value.pb + Value.cb;) {
            RTUNICP uCp = 0;
            if (RT_FAILURE(RTStrGetCpEx(&psz, &uCp)))
                return false;
            appendCodePoint(str, uCp);
        }
        return true;
    case kTagPrintableString:
    case kTagIa5String:
    case kTagT61String:
        for (size_t i = 0; i < Value.cb; i++)
            appendCodePoint(str, Value.pb[i]);
        return true;
    case kTagBmpString:
        if (Value.cb % 2)
            return false;
        for (size_t i = 0; i < Value.cb; i += 2)
            appendCodePoint(str, (RTUNICP)Value.pb[i] << 8 | Value.pb[i + 1]);
        return true;
    default:
        return false;
    }
}

int base64Value(uint8_t ch) {
    if (ch >= 'A' && ch <= 'Z')
        return ch - 'A';
    if (ch >= 'a' && ch <= 'z')
        return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9')
        return ch - '0' + 52;
    if (ch == '+')
        return 62;
    if (ch == '/')
        return 63;
    return -1;
}

bool decodeBase64(const uint8_t *pb, size_t cb, std::vector<uint8_t> *pOut) {
    uint32_t uBits = 0;
    unsigned cBits = 0;
    size_t cPadding = 0;
    for (size_t i = 0; i < cb; i++) {
        const uint8_t ch = pb[i];
        if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n')
            continue;
        if (ch == '=') {
            cPadding++;
            continue;
        }
        const int iValue = base64Value(ch);
        if (iValue < 0 || cPadding)
            return false;
        uBits = uBits << 6 | (uint32_t)iValue;
        cBits += 6;
        if (cBits >= 8) {
            cBits -= 8;
            pOut->push_back((uint8_t)(uBits >> cBits));
        }
    }
    return cPadding <= 2;
}

const uint8_t *findText(const uint8_t *pb, const uint8_t *pbEnd, const char *psz) {
    const size_t cch = strlen(psz);
    for (; pbEnd - pb >= (ptrdiff_t)cch; pb++)
        if (memcmp(pb, psz, cch) == 0)
            return pb;
    return nullptr;
}

} // namespace

bool IsX509Certificate(const uint8_t *pb, size_t cb) {
    Der Subject;
    return derCertificate(pb, cb, &Subject);
}

std::string CertificateSubject(const uint8_t *pb, size_t cb) {
    Der Subject;
    if (!derCertificate(pb, cb, &Subject))
        return "";
    std::string str;
    Der Rdn;
    while (Subject.cb) {
        if (!derExpect(Subject, kTagSet, &Rdn))
            return "";
        bool fFirstInRdn = true;
        Der Attribute;
        while (Rdn.cb) {
            Der Oid, Value;
            uint8_t uTag;
            if (!derExpect(Rdn, kTagSequence, &Attribute) || !derExpect(Attribute, kTagOid, &Oid) ||
                !derNext(Attribute, &uTag, &Value))
                return "";
            if (!str.empty())
                str += fFirstInRdn ? ", " : " + ";
            fFirstInRdn = false;
            const char *pszName = attributeName(Oid);
            str += (pszName ? std::string(pszName) : dottedOid(Oid)) + "=";
            if (!appendValue(str, uTag, Value))
                str += "(unreadable)";
        }
    }
    return str;
}

int ReadCertificateFile(const std::vector<uint8_t> &File, std::vector<uint8_t> *pDer, std::string *pstrWhy) {
    static const char s_szBegin[] = "-----BEGIN CERTIFICATE-----";
    static const char s_szEnd[] = "-----END CERTIFICATE-----";
    const uint8_t *pbFile = File.data();
    const uint8_t *pbEnd = pbFile + File.size();
    const uint8_t *pbBegin = findText(pbFile, pbEnd, s_szBegin);
    if (!pbBegin) {
        if (!IsX509Certificate(pbFile, File.size())) {
            *pstrWhy = "is not an X.509 certificate in DER or PEM form";
            return ERR_INVALID_PARAMETER;
        }
        *pDer = File;
        return 0;
    }
    const uint8_t *pbBase64 = pbBegin + strlen(s_szBegin);
    const uint8_t *pbBlockEnd = findText(pbBase64, pbEnd, s_szEnd);
    if (pbBlockEnd && findText(pbBlockEnd, pbEnd, s_szBegin)) {
        *pstrWhy = "holds more than one certificate (give each one with its own --certificate)";
        return ERR_INVALID_PARAMETER;
    }
    std::vector<uint8_t> Der;
    if (!pbBlockEnd || !decodeBase64(pbBase64, (size_t)(pbBlockEnd - pbBase64), &Der) ||
        !IsX509Certificate(Der.data(), Der.size())) {
        *pstrWhy = "is not an X.509 certificate in DER or PEM form (damaged PEM block)";
        return ERR_INVALID_PARAMETER;
    }
    *pDer = std::move(Der);
    return 0;
}
