// Packing an installer: every input is opened and checked before anything is written,
// the stub's own resources are kept (the container's previous resources and, with a
// new icon, the old icon are dropped), and the image is written to a temporary file
// that replaces the output only when it is complete. Listing reads a built installer
// the way the bootstrapper does.
#include "Packer.h"
#include "Certificate.h"
#include "IconFile.h"
#include <olma/dir.h>
#include <olma/path.h>
#include <olma/string.h>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

/** Inputs read whole into memory are small by nature; anything larger is a mistake. */
constexpr uint64_t kMaxCertificateFile = 1024 * 1024;
constexpr uint64_t kMaxIconFile = 16 * 1024 * 1024;

struct ArchName {
    PackageArch enmArch;
    const char *pszName;
};
constexpr ArchName g_aArchNames[] = {
    {PackageArch::All, "all"}, {PackageArch::X86, "x86"}, {PackageArch::Amd64, "amd64"}};

const char *archName(uint32_t uArch) {
    for (const ArchName &Arch : g_aArchNames)
        if ((uint32_t)Arch.enmArch == uArch)
            return Arch.pszName;
    return nullptr;
}

char asciiLower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? (char)(ch + ('a' - 'A')) : ch;
}

bool equalIgnoringAsciiCase(const std::string &str1, const std::string &str2) {
    return str1.size() == str2.size() && std::equal(str1.begin(), str1.end(), str2.begin(), [](char ch1, char ch2) {
               return asciiLower(ch1) == asciiLower(ch2);
           });
}

std::string containerName(const char *pszFormat, unsigned i) {
    return strFormat(pszFormat, i);
}

/** Everything a packing holds open or owns until the image is written. */
struct PackInputs {
    std::unique_ptr<FileSource> pStub;
    PeImage Image;
    std::vector<Resource> Resources;
    std::vector<std::unique_ptr<ByteSource>> Sources;

    ByteSource *own(ByteSource *pSource) {
        Sources.emplace_back(pSource);
        return pSource;
    }
    void addRecord(const ResourceKey &Type, const ResourceKey &Name, uint16_t uLanguage, std::vector<uint8_t> Bytes,
                   const std::string &strWhat) {
        Resource Res;
        Res.Type = Type;
        Res.Name = Name;
        Res.uLanguage = uLanguage;
        Res.cb = (uint32_t)Bytes.size();
        Res.pSrc = own(new MemorySource(std::move(Bytes)));
        Res.strWhat = strWhat;
        Resources.push_back(std::move(Res));
    }
};

int fail(std::string *pstrError, int rc, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    *pstrError = strFormatV(pszFormat, args);
    va_end(args);
    return rc;
}

/** Opens a small input and reads it whole. */
int readSmallFile(const std::string &strPath, uint64_t cbMax, const char *pszWhat, std::vector<uint8_t> *pBytes,
                  std::string *pstrError) {
    std::unique_ptr<FileSource> pFile;
    int rc = FileSource::open(strPath, &pFile);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Cannot open %s '%s': %Rrc", pszWhat, strPath.c_str(), rc);
    if (pFile->size() > cbMax)
        return fail(pstrError, ERR_FILE_TOO_BIG, "The %s file '%s' is too large (%RU64 bytes)", pszWhat,
                    strPath.c_str(), pFile->size());
    rc = pFile->readAll(pBytes);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Cannot read %s '%s': %Rrc", pszWhat, strPath.c_str(), rc);
    return 0;
}

int addPackages(const PackRequest &Request, PackInputs *pInputs, std::string *pstrError) {
    if (Request.Packages.size() > PACKAGE_MAX_COUNT)
        return fail(pstrError, ERR_OUT_OF_RANGE, "Too many packages: %zu (an installer carries at most %u)",
                    Request.Packages.size(), PACKAGE_MAX_COUNT);
    std::vector<uint8_t> Manifest(sizeof(PackageManifest));
    memcpy(Manifest.data(), PACKAGE_MANIFEST_MAGIC, sizeof(PACKAGE_MANIFEST_MAGIC));
    Manifest[offsetof(PackageManifest, packageCount)] = (uint8_t)Request.Packages.size();
    pInputs->addRecord(ResourceKey::id(RES_TYPE_RCDATA), ResourceKey::name(PACKAGE_MANIFEST_NAME), 0,
                       std::move(Manifest), "the manifest");

    for (size_t i = 0; i < Request.Packages.size(); i++) {
        const PackageInput &Input = Request.Packages[i];
        const PackageNameFault enmFault = CheckPackageFileName(Input.strName.c_str(), sizeof(PackageHeader::fileName));
        if (enmFault != PackageNameFault::None)
            return fail(pstrError, ERR_INVALID_NAME, "Package name '%s' (--package %s) %s", Input.strName.c_str(),
                        Input.strArgument.c_str(), PackageNameFaultText(enmFault));
        for (size_t j = 0; j < i; j++)
            if (equalIgnoringAsciiCase(Request.Packages[j].strName, Input.strName))
                return fail(pstrError, ERR_ALREADY_EXISTS,
                            "Packages %s and %s have the same name '%s' (names are compared ignoring case)",
                            Request.Packages[j].strArgument.c_str(), Input.strArgument.c_str(), Input.strName.c_str());

        std::unique_ptr<FileSource> pFile;
        int rc = FileSource::open(Input.strPath, &pFile);
        if (RT_FAILURE(rc))
            return fail(pstrError, rc, "Cannot open package '%s': %Rrc", Input.strPath.c_str(), rc);
        if (pFile->size() == 0)
            return fail(pstrError, ERR_NO_DATA, "Package '%s' is empty", Input.strPath.c_str());
        if (pFile->size() > UINT32_MAX)
            return fail(pstrError, ERR_FILE_TOO_BIG, "Package '%s' is larger than 4 GiB", Input.strPath.c_str());

        const std::string strData = containerName(PACKAGE_DATA_NAME_FORMAT, (unsigned)i);
        PackageHeader Header = {};
        Header.architecture = (uint32_t)Input.enmArch;
        memcpy(Header.resourceName, strData.c_str(), strData.size() + 1);
        memcpy(Header.fileName, Input.strName.c_str(), Input.strName.size() + 1);
        const uint8_t *pbHeader = (const uint8_t *)&Header;
        pInputs->addRecord(ResourceKey::id(RES_TYPE_RCDATA),
                           ResourceKey::name(containerName(PACKAGE_HEADER_NAME_FORMAT, (unsigned)i).c_str()), 0,
                           std::vector<uint8_t>(pbHeader, pbHeader + sizeof(Header)), "a package header");

        Resource Data;
        Data.Type = ResourceKey::id(RES_TYPE_RCDATA);
        Data.Name = ResourceKey::name(strData.c_str());
        Data.cb = (uint32_t)pFile->size();
        Data.strWhat = strFormat("package '%s'", Input.strPath.c_str());
        Data.pSrc = pInputs->own(pFile.release());
        pInputs->Resources.push_back(std::move(Data));
    }
    return 0;
}

int addCertificates(const PackRequest &Request, PackInputs *pInputs, std::string *pstrError) {
    if (Request.Certificates.size() > PACKAGE_MAX_CERTIFICATES)
        return fail(pstrError, ERR_OUT_OF_RANGE, "Too many certificates: %zu (an installer carries at most %u)",
                    Request.Certificates.size(), PACKAGE_MAX_CERTIFICATES);
    for (size_t i = 0; i < Request.Certificates.size(); i++) {
        const std::string &strPath = Request.Certificates[i];
        std::vector<uint8_t> File, Der;
        int rc = readSmallFile(strPath, kMaxCertificateFile, "certificate", &File, pstrError);
        if (RT_FAILURE(rc))
            return rc;
        std::string strWhy;
        rc = ReadCertificateFile(File, &Der, &strWhy);
        if (RT_FAILURE(rc))
            return fail(pstrError, rc, "Certificate '%s' %s", strPath.c_str(), strWhy.c_str());
        pInputs->addRecord(ResourceKey::id(RES_TYPE_RCDATA),
                           ResourceKey::name(containerName(PACKAGE_CERT_NAME_FORMAT, (unsigned)i).c_str()), 0,
                           std::move(Der), strFormat("certificate '%s'", strPath.c_str()));
    }
    return 0;
}

/** Reads a group resource's bytes (from the stub). */
bool readGroup(const Resource &Group, std::vector<uint8_t> *pBytes) {
    pBytes->resize(Group.cb);
    return RT_SUCCESS(Group.pSrc->read(Group.offSrc, pBytes->data(), Group.cb));
}

/**
 * Replaces the first icon group (the one the shell shows for the program) and the icon
 * images only it refers to; the new images take the lowest free icon identifiers, so
 * packing the output again with the same icon gives the same bytes.
 */
int replaceIcon(const std::string &strIcon, PackInputs *pInputs, std::string *pstrError) {
    std::vector<uint8_t> File;
    int rc = readSmallFile(strIcon, kMaxIconFile, "icon", &File, pstrError);
    if (RT_FAILURE(rc))
        return rc;
    std::vector<IconImage> Images;
    std::string strWhy;
    rc = ReadIconFile(File, &Images, &strWhy);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Icon '%s' %s", strIcon.c_str(), strWhy.c_str());

    std::vector<Resource> &Resources = pInputs->Resources;
    const ResourceKey IconType = ResourceKey::id(RES_TYPE_ICON);
    const ResourceKey GroupType = ResourceKey::id(RES_TYPE_GROUP_ICON);
    ResourceKey GroupName = ResourceKey::id(1);
    uint16_t uLanguage = 0;
    std::vector<uint16_t> OldIds, KeptIds;
    bool fFound = false;
    for (size_t i = 0; i < Resources.size(); i++) {
        if (!(Resources[i].Type == GroupType))
            continue;
        std::vector<uint8_t> Group;
        std::vector<uint16_t> Ids;
        const bool fReadable = readGroup(Resources[i], &Group) && ReadIconGroup(Group, &Ids);
        if (!fFound) {
            fFound = true;
            GroupName = Resources[i].Name;
            uLanguage = Resources[i].uLanguage;
            OldIds = Ids;
            Resources.erase(Resources.begin() + (ptrdiff_t)i--);
        } else if (fReadable)
            KeptIds.insert(KeptIds.end(), Ids.begin(), Ids.end());
    }
    auto contains = [](const std::vector<uint16_t> &Ids, uint16_t uId) {
        return std::find(Ids.begin(), Ids.end(), uId) != Ids.end();
    };
    Resources.erase(std::remove_if(Resources.begin(), Resources.end(),
                                   [&](const Resource &Res) {
                                       return Res.Type == IconType && !Res.Name.fNamed &&
                                              contains(OldIds, Res.Name.uId) && !contains(KeptIds, Res.Name.uId);
                                   }),
                    Resources.end());
    std::vector<uint16_t> UsedIds;
    for (const Resource &Res : Resources)
        if (Res.Type == IconType && !Res.Name.fNamed)
            UsedIds.push_back(Res.Name.uId);
    std::vector<uint16_t> NewIds;
    for (uint32_t uId = 1; NewIds.size() < Images.size() && uId <= 0xffff; uId++)
        if (!contains(UsedIds, (uint16_t)uId))
            NewIds.push_back((uint16_t)uId);
    if (NewIds.size() < Images.size())
        return fail(pstrError, ERR_OUT_OF_RANGE, "Icon '%s' has more images than the stub has room for",
                    strIcon.c_str());
    const std::string strWhat = strFormat("icon '%s'", strIcon.c_str());
    pInputs->addRecord(GroupType, GroupName, uLanguage, MakeIconGroup(Images, NewIds), strWhat);
    for (size_t i = 0; i < Images.size(); i++)
        pInputs->addRecord(IconType, ResourceKey::id(NewIds[i]), uLanguage, std::move(Images[i].Data), strWhat);
    return 0;
}

int openStub(const std::string &strStub, PeReadPurpose enmPurpose, const char *pszWhat, PackInputs *pInputs,
             std::string *pstrError) {
    int rc = FileSource::open(strStub, &pInputs->pStub);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Cannot open %s '%s': %Rrc", pszWhat, strStub.c_str(), rc);
    std::string strWhy;
    rc = PeReadImage(*pInputs->pStub, &pInputs->Image, &strWhy, enmPurpose);
    if (RT_SUCCESS(rc))
        rc = PeReadResources(*pInputs->pStub, pInputs->Image, &pInputs->Resources, &strWhy);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "The %s '%s' %s", pszWhat, strStub.c_str(), strWhy.c_str());
    return 0;
}

/** Writes the image to a new temporary file beside the output; deletes it on failure. */
int writeTemporary(PackInputs &Inputs, const ResourceSection &Section, const std::string &strOutput,
                   std::string *pstrTemp, std::string *pstrError) {
    std::string strTemp = strOutput + ".tmpXXXXXXXXXX";
    RTFILE hFile = NIL_RTFILE;
    int rc = RTFileCreateTemp(&hFile, strTemp.data(),
                              RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_WRITE |
                                  (UINT64_C(0755) << RTFILE_O_CREATE_MODE_SHIFT));
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Cannot create a file beside '%s': %Rrc", strOutput.c_str(), rc);
    strTemp.resize(strlen(strTemp.c_str()));
    FileSink Out(hFile);
    std::string strWhy;
    rc = PeWriteImage(*Inputs.pStub, Inputs.Image, Section.Pieces, Section.cb, Out, &strWhy);
    const int rcClose = RTFileClose(hFile);
    if (RT_SUCCESS(rc) && RT_FAILURE(rcClose)) {
        rc = rcClose;
        strWhy = strFormat("writing the output failed: %Rrc", rc);
    }
    if (RT_FAILURE(rc)) {
        (void)RTFileDelete(strTemp.c_str());
        return fail(pstrError, rc, "Cannot write '%s': %s", strOutput.c_str(), strWhy.c_str());
    }
    *pstrTemp = strTemp;
    return 0;
}

} // namespace

bool IsContainerResource(const Resource &Res) {
    if (!(Res.Type == ResourceKey::id(RES_TYPE_RCDATA)) || !Res.Name.fNamed)
        return false;
    const std::u16string &strName = Res.Name.strName;
    auto startsWith = [&](const char16_t *pwszPrefix) {
        return strName.compare(0, std::char_traits<char16_t>::length(pwszPrefix), pwszPrefix) == 0;
    };
    return strName == u"MANIFEST" || startsWith(u"HDR_") || startsWith(u"BIN_") || startsWith(u"CERT_");
}

bool ParsePackageArgument(const char *pszArgument, PackageInput *pInput, std::string *pstrWhy) {
    const std::string strArgument = pszArgument;
    const size_t offColon = strArgument.find(':');
    if (offColon == std::string::npos) {
        *pstrWhy = strFormat("--package %s: expected ARCH:PATH[=NAME] with ARCH all, x86 or amd64", pszArgument);
        return false;
    }
    const std::string strArch = strArgument.substr(0, offColon);
    const ArchName *pArch = nullptr;
    for (const ArchName &Arch : g_aArchNames)
        if (equalIgnoringAsciiCase(strArch, Arch.pszName))
            pArch = &Arch;
    if (!pArch) {
        *pstrWhy =
            strFormat("--package %s: unknown architecture '%s' (all, x86 or amd64)", pszArgument, strArch.c_str());
        return false;
    }
    PackageInput Input;
    Input.enmArch = pArch->enmArch;
    Input.strArgument = strArgument;
    Input.strPath = strArgument.substr(offColon + 1);
    // A name follows the last '=', so a path may hold '=' when a name is given.
    const size_t offEquals = Input.strPath.rfind('=');
    if (offEquals != std::string::npos) {
        Input.strName = Input.strPath.substr(offEquals + 1);
        Input.strPath.resize(offEquals);
    } else
        Input.strName = RTPathFilename(Input.strPath.c_str()) ? RTPathFilename(Input.strPath.c_str()) : "";
    if (Input.strPath.empty()) {
        *pstrWhy = strFormat("--package %s: the package path is missing", pszArgument);
        return false;
    }
    *pInput = std::move(Input);
    return true;
}

int PeWriteWithResources(ByteSource &Stub, const PeImage &Image, std::vector<Resource> Resources, Sink &Out,
                         std::string *pstrWhy) {
    ResourceSection Section;
    int rc = BuildResourceSection(std::move(Resources), Image.rsrc().uVirtualAddress, &Section, pstrWhy);
    if (RT_SUCCESS(rc))
        rc = PeWriteImage(Stub, Image, Section.Pieces, Section.cb, Out, pstrWhy);
    return rc;
}

int PackInstaller(const PackRequest &Request, std::vector<std::string> *pWarnings, std::string *pstrError) {
    if (RTDirExists(Request.strOutput.c_str()))
        return fail(pstrError, ERR_IS_A_DIRECTORY, "The output '%s' is a directory", Request.strOutput.c_str());
    PackInputs Inputs;
    int rc = openStub(Request.strStub, PeReadPurpose::Rewrite, "stub", &Inputs, pstrError);
    if (RT_FAILURE(rc))
        return rc;
    Inputs.Resources.erase(std::remove_if(Inputs.Resources.begin(), Inputs.Resources.end(), IsContainerResource),
                           Inputs.Resources.end());
    rc = addPackages(Request, &Inputs, pstrError);
    if (RT_SUCCESS(rc))
        rc = addCertificates(Request, &Inputs, pstrError);
    if (RT_SUCCESS(rc) && !Request.strIcon.empty())
        rc = replaceIcon(Request.strIcon, &Inputs, pstrError);
    if (RT_FAILURE(rc))
        return rc;

    ResourceSection Section;
    std::string strWhy;
    PeRewritePlan Plan;
    rc = BuildResourceSection(std::move(Inputs.Resources), Inputs.Image.rsrc().uVirtualAddress, &Section, &strWhy);
    if (RT_SUCCESS(rc))
        rc = PePlanRewrite(Inputs.Image, Section.cb, &Plan, &strWhy);
    if (RT_FAILURE(rc))
        return fail(pstrError, rc, "Cannot pack '%s': %s", Request.strOutput.c_str(), strWhy.c_str());
    if (Plan.fLarge)
        pWarnings->push_back(strFormat("The 32-bit installer '%s' takes %RU32 MiB of address space; it may not load "
                                       "on every system",
                                       Request.strOutput.c_str(), Plan.cbImage >> 20));

    std::string strTemp;
    rc = writeTemporary(Inputs, Section, Request.strOutput, &strTemp, pstrError);
    if (RT_FAILURE(rc))
        return rc;
    // Let go of every input before the rename: the output may replace one of them.
    Section = ResourceSection();
    Inputs = PackInputs();
    rc = RTFileRename(strTemp.c_str(), Request.strOutput.c_str(), RTFILEMOVE_FLAGS_REPLACE);
    if (RT_FAILURE(rc)) {
        (void)RTFileDelete(strTemp.c_str());
        return fail(pstrError, rc, "Cannot write '%s': %Rrc", Request.strOutput.c_str(), rc);
    }
    return 0;
}

int ListInstaller(const std::string &strPath, std::string *pstrListing, std::string *pstrError) {
    PackInputs Inputs;
    int rc = openStub(strPath, PeReadPurpose::Inspect, "installer", &Inputs, pstrError);
    if (RT_FAILURE(rc))
        return rc;
    auto find = [&](const std::string &strName) -> const Resource * {
        const ResourceKey Name = ResourceKey::name(strName.c_str());
        for (const Resource &Res : Inputs.Resources)
            if (Res.Type == ResourceKey::id(RES_TYPE_RCDATA) && Res.Name == Name)
                return &Res;
        return nullptr;
    };
    auto readRecord = [&](const Resource *pRes, void *pv, size_t cb) {
        return pRes && pRes->cb >= cb && RT_SUCCESS(pRes->pSrc->read(pRes->offSrc, pv, cb));
    };
    auto damaged = [&](const std::string &strWhat) {
        return fail(pstrError, ERR_BAD_EXE_FORMAT, "The installer '%s' is damaged: %s", strPath.c_str(),
                    strWhat.c_str());
    };

    const Resource *pManifestRes = find(PACKAGE_MANIFEST_NAME);
    if (!pManifestRes)
        return fail(pstrError, ERR_NOT_FOUND, "'%s' carries no packages (it has no %s resource)", strPath.c_str(),
                    PACKAGE_MANIFEST_NAME);
    PackageManifest Manifest;
    if (!readRecord(pManifestRes, &Manifest, sizeof(Manifest)))
        return damaged(strFormat("%s is shorter than %zu bytes", PACKAGE_MANIFEST_NAME, sizeof(Manifest)));

    std::string strListing = strFormat("Packages: %u\n", Manifest.packageCount);
    for (unsigned i = 0; i < Manifest.packageCount; i++) {
        const std::string strHeader = containerName(PACKAGE_HEADER_NAME_FORMAT, i);
        PackageHeader Header;
        if (!readRecord(find(strHeader), &Header, sizeof(Header)))
            return damaged(strFormat("%s is missing or shorter than %zu bytes", strHeader.c_str(), sizeof(Header)));
        if (!memchr(Header.resourceName, '\0', sizeof(Header.resourceName)))
            return damaged(strFormat("the resource name in %s is not terminated", strHeader.c_str()));
        const PackageNameFault enmFault = CheckPackageFileName(Header.fileName, sizeof(Header.fileName));
        if (enmFault != PackageNameFault::None)
            return damaged(strFormat("the file name in %s %s", strHeader.c_str(), PackageNameFaultText(enmFault)));
        const Resource *pData = find(Header.resourceName);
        if (!pData || pData->cb == 0)
            return damaged(strFormat("the data of package %u (%s) is missing or empty", i, Header.resourceName));
        const char *pszArch = archName(Header.architecture);
        strListing += strFormat("  %u  %s  %s  %RU32 bytes  %s\n", i,
                                pszArch ? pszArch : strFormat("unknown (%RU32)", Header.architecture).c_str(),
                                Header.fileName, pData->cb, Header.resourceName);
    }

    std::string strCertificates;
    unsigned cCertificates = 0;
    for (; cCertificates < PACKAGE_MAX_CERTIFICATES; cCertificates++) {
        const std::string strName = containerName(PACKAGE_CERT_NAME_FORMAT, cCertificates);
        const Resource *pCert = find(strName);
        if (!pCert)
            break;
        std::vector<uint8_t> Der(pCert->cb);
        if (!readRecord(pCert, Der.data(), Der.size()))
            return damaged(strFormat("%s cannot be read", strName.c_str()));
        std::string strSubject = CertificateSubject(Der.data(), Der.size());
        strCertificates += strFormat("  %u  %s  %RU32 bytes  %s\n", cCertificates,
                                     strSubject.empty() ? "(not a readable certificate)" : strSubject.c_str(),
                                     pCert->cb, strName.c_str());
    }
    strListing += strFormat("Certificates: %u\n", cCertificates) + strCertificates;
    *pstrListing = strListing;
    return 0;
}
