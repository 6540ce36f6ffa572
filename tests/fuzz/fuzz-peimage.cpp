// Fuzz target: the packer's PE reader on a whole image. Whatever it accepts has its
// sections inside the file and its resources' data inside the resource section; an
// image accepted for a rewrite is also accepted for reading, and packing it with one
// tiny package gives an image that is read back (and can be packed again) with the
// stub's resources, the package and its records, byte for byte, and the same output
// when packed a second time.
#include "Packer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

/** Packing copies every resource's bytes; a damaged tree may name the same bytes many
 *  times over. Beyond this the target does not pack (the packer would, slowly). */
constexpr uint64_t kMaxPackedBytes = 16 << 20;

void check(bool f) {
    if (!f)
        abort();
}

/** What an accepted image must be, from the reader's record of it. */
void checkImage(const PeImage &Image, uint64_t cbFile, PeReadPurpose enmPurpose) {
    check(Image.cbFile == cbFile && Image.Headers.size() == Image.cbHeaders && Image.cbHeaders <= cbFile);
    check(!Image.Sections.empty() && Image.iRsrc < Image.Sections.size());
    uint64_t uVirtualEnd = 0, offRawEnd = Image.cbHeaders;
    for (const PeSection &Sec : Image.Sections) {
        check(Sec.uVirtualAddress >= uVirtualEnd && Sec.cbLoaded() != 0);
        uVirtualEnd = (uint64_t)Sec.uVirtualAddress + Sec.cbLoaded();
        if (Sec.cbRaw) {
            check(Sec.offRaw >= offRawEnd && (uint64_t)Sec.offRaw + Sec.cbRaw <= cbFile);
            offRawEnd = (uint64_t)Sec.offRaw + Sec.cbRaw;
        }
    }
    const PeSection &Rsrc = Image.rsrc();
    check(strcmp(Rsrc.szName, ".rsrc") == 0 && Rsrc.cbRaw != 0 && Image.dirVA(PE_DIR_RESOURCE) == Rsrc.uVirtualAddress);
    if (enmPurpose == PeReadPurpose::Rewrite) {
        check(offRawEnd == cbFile && Image.dirVA(PE_DIR_SECURITY) == 0 && Image.dirSize(PE_DIR_SECURITY) == 0);
        // Nothing behind the resources but the relocations.
        if (Image.iReloc == SIZE_MAX)
            check(Image.iRsrc + 1 == Image.Sections.size());
        else
            check(Image.iReloc == Image.iRsrc + 1 && Image.iReloc + 1 == Image.Sections.size());
    }
}

/** Reads the resources and checks that each one's data lies in the resource section's
 *  file data, that the keys are unique and that the bytes can be read. */
int readResources(ByteSource &Src, const PeImage &Image, std::vector<Resource> *pResources) {
    std::string strWhy;
    const int rc = PeReadResources(Src, Image, pResources, &strWhy);
    if (RT_FAILURE(rc)) {
        check(!strWhy.empty());
        return rc;
    }
    const PeSection &Rsrc = Image.rsrc();
    const uint64_t offEnd = (uint64_t)Rsrc.offRaw + std::min(Rsrc.cbRaw, Rsrc.cbLoaded());
    for (size_t i = 0; i < pResources->size(); i++) {
        const Resource &Res = (*pResources)[i];
        check(Res.pSrc == &Src && Res.offSrc >= Rsrc.offRaw && Res.offSrc + Res.cb <= offEnd);
        if (i > 0) {
            const Resource &Prev = (*pResources)[i - 1];
            check(!(Prev.Type == Res.Type && Prev.Name == Res.Name && Prev.uLanguage == Res.uLanguage));
        }
    }
    return 0;
}

std::vector<uint8_t> bytesOf(const Resource &Res) {
    std::vector<uint8_t> Bytes(Res.cb);
    check(RT_SUCCESS(Res.pSrc->read(Res.offSrc, Bytes.data(), Bytes.size())));
    return Bytes;
}

bool sameResource(const Resource &A, const Resource &B) {
    return A.Type == B.Type && A.Name == B.Name && A.uLanguage == B.uLanguage && A.uCodePage == B.uCodePage &&
           bytesOf(A) == bytesOf(B);
}

/** The image checksum, word by word as the format defines it. */
uint32_t referenceChecksum(const std::vector<uint8_t> &Image, uint32_t offField) {
    uint32_t uSum = 0;
    for (size_t off = 0; off < Image.size(); off += 2) {
        uint32_t uWord = Image[off] | (off + 1 < Image.size() ? Image[off + 1] << 8 : 0);
        if (off >= offField && off < offField + 4)
            uWord = 0;
        uSum += uWord;
        uSum = (uSum & 0xffff) + (uSum >> 16);
    }
    return uSum + (uint32_t)Image.size();
}

/** Records the way the packer writes them, for one package. */
struct Container {
    std::vector<std::unique_ptr<MemorySource>> Sources;
    std::vector<Resource> Resources;

    void add(const char *pszName, const void *pv, size_t cb) {
        Sources.emplace_back(new MemorySource(std::vector<uint8_t>((const uint8_t *)pv, (const uint8_t *)pv + cb)));
        Resource Res;
        Res.Type = ResourceKey::id(RES_TYPE_RCDATA);
        Res.Name = ResourceKey::name(pszName);
        Res.pSrc = Sources.back().get();
        Res.cb = (uint32_t)cb;
        Res.strWhat = pszName;
        Resources.push_back(std::move(Res));
    }
    Container() {
        PackageManifest Manifest = {};
        memcpy(Manifest.magic, PACKAGE_MANIFEST_MAGIC, sizeof(PACKAGE_MANIFEST_MAGIC));
        Manifest.packageCount = 1;
        add(PACKAGE_MANIFEST_NAME, &Manifest, sizeof(Manifest));
        PackageHeader Header = {};
        Header.architecture = (uint32_t)PackageArch::All;
        strcpy(Header.resourceName, "BIN_00");
        strcpy(Header.fileName, "tiny.msi");
        add("HDR_00", &Header, sizeof(Header));
        add("BIN_00", "tiny package", 12);
    }
};

/** Packs the stub's own resources with the container; the output image, or empty when
 *  the image would be too large. */
std::vector<uint8_t> pack(ByteSource &Stub, const PeImage &Image, const std::vector<Resource> &StubResources,
                          const Container &Records) {
    std::vector<Resource> Resources = Records.Resources;
    for (const Resource &Res : StubResources)
        if (!IsContainerResource(Res))
            Resources.push_back(Res);
    MemorySink Out;
    std::string strWhy;
    const int rc = PeWriteWithResources(Stub, Image, std::move(Resources), Out, &strWhy);
    // Only the size limit may stop a packing of what the reader accepted.
    check(RT_SUCCESS(rc) || rc == ERR_OUT_OF_RANGE);
    if (RT_FAILURE(rc))
        return {};
    check(Out.Bytes.size() % Image.cbFileAlignment == 0);
    check(getU32(&Out.Bytes[Image.offOptHeader + PE_OPT_CHECKSUM_OFFSET]) ==
          referenceChecksum(Out.Bytes, Image.offOptHeader + PE_OPT_CHECKSUM_OFFSET));
    return std::move(Out.Bytes);
}

void checkPacking(ByteSource &Stub, const PeImage &Image, const std::vector<Resource> &StubResources) {
    uint64_t cbTotal = 0;
    for (const Resource &Res : StubResources)
        cbTotal += Res.cb;
    if (cbTotal > kMaxPackedBytes)
        return;
    const Container Records;
    std::vector<uint8_t> Packed = pack(Stub, Image, StubResources, Records);
    if (Packed.empty())
        return;

    // The packed image can be packed again, and holds exactly what went in.
    MemorySource PackedSrc(Packed);
    PeImage PackedImage;
    std::string strWhy;
    check(RT_SUCCESS(PeReadImage(PackedSrc, &PackedImage, &strWhy, PeReadPurpose::Rewrite)));
    checkImage(PackedImage, Packed.size(), PeReadPurpose::Rewrite);
    std::vector<Resource> Found;
    check(RT_SUCCESS(readResources(PackedSrc, PackedImage, &Found)));
    std::vector<const Resource *> Expected;
    for (const Resource &Res : Records.Resources)
        Expected.push_back(&Res);
    for (const Resource &Res : StubResources)
        if (!IsContainerResource(Res))
            Expected.push_back(&Res);
    check(Found.size() == Expected.size());
    for (const Resource *pExpected : Expected)
        check(std::any_of(Found.begin(), Found.end(),
                          [&](const Resource &Res) { return sameResource(Res, *pExpected); }));

    // Packing the output again with the same package gives the same bytes.
    check(pack(PackedSrc, PackedImage, Found, Records) == Packed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb > (1 << 20))
        return 0;
    MemorySource Src(std::vector<uint8_t>(pb, pb + cb));
    PeImage Inspected, Rewritable;
    std::string strWhy;
    const int rcInspect = PeReadImage(Src, &Inspected, &strWhy, PeReadPurpose::Inspect);
    check(RT_SUCCESS(rcInspect) || !strWhy.empty());
    strWhy.clear();
    const int rcRewrite = PeReadImage(Src, &Rewritable, &strWhy, PeReadPurpose::Rewrite);
    check(RT_SUCCESS(rcRewrite) || !strWhy.empty());
    // A rewrite asks more of an image than reading it does.
    check(RT_FAILURE(rcRewrite) || RT_SUCCESS(rcInspect));
    if (RT_FAILURE(rcInspect))
        return 0;
    checkImage(Inspected, cb, PeReadPurpose::Inspect);
    std::vector<Resource> Resources;
    if (RT_FAILURE(readResources(Src, Inspected, &Resources)) || RT_FAILURE(rcRewrite))
        return 0;
    checkImage(Rewritable, cb, PeReadPurpose::Rewrite);
    check(Rewritable.iRsrc == Inspected.iRsrc && Rewritable.Sections.size() == Inspected.Sections.size());
    checkPacking(Src, Rewritable, Resources);
    return 0;
}
