// Reading and checking a PE image's headers, and writing the image again with a new
// resource section: every field of the untrusted input is bounds-checked before use.
#include "PeImage.h"
#include <algorithm>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the checksum sums host-order words");

namespace {

/** Headers larger than this are not something a linker of ours writes. */
constexpr uint32_t kMaxHeaders = 64 * 1024;
constexpr uint16_t kMachineI386 = 0x14c;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xaa64;
constexpr uint16_t kFileExecutableImage = 0x0002;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x10b;
constexpr uint16_t kMagicPe32Plus = 0x20b;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kMaxDataDirs = 16;
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kMaxDebugEntries = 64;
/** Optional-header fields at the same offset in both formats. */
constexpr uint32_t kOptSizeOfInitializedData = 8;
constexpr uint32_t kOptSectionAlignment = 32;
constexpr uint32_t kOptFileAlignment = 36;
constexpr uint32_t kOptSizeOfImage = 56;
constexpr uint32_t kOptSizeOfHeaders = 60;
/** Section header fields. */
constexpr uint32_t kSecVirtualSize = 8;
constexpr uint32_t kSecVirtualAddress = 12;
constexpr uint32_t kSecSizeOfRawData = 16;
constexpr uint32_t kSecPointerToRawData = 20;
constexpr uint32_t kSecCharacteristics = 36;
/** Streaming buffer: payloads pass through it, so memory does not grow with them. */
constexpr size_t kCopyChunk = 1024 * 1024;
/** The page of the loaders that map images (Windows on x86, x64 and arm64; Wine). */
constexpr uint32_t kPageSize = 4096;

bool isPowerOfTwo(uint32_t u) {
    return u != 0 && (u & (u - 1)) == 0;
}

int refuse(std::string *pstrWhy, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    *pstrWhy = strFormatV(pszFormat, args);
    va_end(args);
    return ERR_BAD_EXE_FORMAT;
}

/** File offset of [uRva, uRva + cb) when it lies in one section's file data. */
bool rvaToFileOffset(const PeImage &Image, uint32_t uRva, uint32_t cb, uint64_t *poff) {
    for (const PeSection &Sec : Image.Sections) {
        const uint64_t cbData = std::min(Sec.cbRaw, Sec.cbLoaded());
        if (uRva >= Sec.uVirtualAddress && (uint64_t)uRva + cb <= Sec.uVirtualAddress + cbData) {
            *poff = Sec.offRaw + (uint64_t)(uRva - Sec.uVirtualAddress);
            return true;
        }
    }
    return false;
}

/** Debug data (a CodeView record and the like) is found through file offsets and
 *  addresses that the rewrite would not move; it must lie before the resources. */
int checkDebugDirectory(ByteSource &Src, const PeImage &Image, std::string *pstrWhy) {
    const uint32_t uVA = Image.dirVA(PE_DIR_DEBUG);
    const uint32_t cb = Image.dirSize(PE_DIR_DEBUG);
    if (uVA == 0 && cb == 0)
        return 0;
    uint64_t off = 0;
    if (cb % kDebugEntrySize != 0 || cb / kDebugEntrySize > kMaxDebugEntries || !rvaToFileOffset(Image, uVA, cb, &off))
        return refuse(pstrWhy, "has a damaged debug directory");
    std::vector<uint8_t> Entries(cb);
    int rc = Src.read(off, Entries.data(), cb);
    if (RT_FAILURE(rc)) {
        *pstrWhy = strFormat("cannot be read: %Rrc", rc);
        return rc;
    }
    const PeSection &Rsrc = Image.rsrc();
    for (uint32_t offEntry = 0; offEntry < cb; offEntry += kDebugEntrySize) {
        const uint8_t *pb = &Entries[offEntry];
        const uint64_t cbData = getU32(pb + 16);
        const uint64_t uDataVA = getU32(pb + 20);
        const uint64_t offData = getU32(pb + 24);
        if ((offData != 0 && offData + cbData > Rsrc.offRaw) ||
            (uDataVA != 0 && uDataVA + cbData > Rsrc.uVirtualAddress))
            return refuse(pstrWhy, "has debug data behind its resources (link it stripped)");
    }
    return 0;
}

/** Reads the sections and checks that they are ordered and inside the file. */
int readSections(const uint8_t *pbTable, uint32_t cSections, PeImage *pImage, std::string *pstrWhy) {
    uint64_t uVirtualEnd = 0;
    uint64_t offRawEnd = pImage->cbHeaders;
    for (uint32_t i = 0; i < cSections; i++) {
        const uint8_t *pb = pbTable + i * kSectionHeaderSize;
        PeSection Sec = {};
        memcpy(Sec.szName, pb, 8);
        Sec.cbVirtual = getU32(pb + kSecVirtualSize);
        Sec.uVirtualAddress = getU32(pb + kSecVirtualAddress);
        Sec.cbRaw = getU32(pb + kSecSizeOfRawData);
        Sec.offRaw = getU32(pb + kSecPointerToRawData);
        Sec.fCharacteristics = getU32(pb + kSecCharacteristics);
        if (strncmp(Sec.szName, "UPX", 3) == 0)
            return refuse(pstrWhy, "is compressed by an executable packer");
        if (Sec.uVirtualAddress % pImage->cbSectionAlignment != 0 || Sec.uVirtualAddress < uVirtualEnd ||
            Sec.cbLoaded() == 0)
            return refuse(pstrWhy, "has a damaged section table (section %u, '%s')", i, Sec.szName);
        uVirtualEnd = Sec.uVirtualAddress + alignUp(Sec.cbLoaded(), pImage->cbSectionAlignment);
        if (Sec.cbRaw != 0) {
            if (Sec.offRaw % pImage->cbFileAlignment != 0 || Sec.offRaw < offRawEnd ||
                (uint64_t)Sec.offRaw + Sec.cbRaw > pImage->cbFile)
                return refuse(pstrWhy, "has a damaged section table (section %u, '%s')", i, Sec.szName);
            offRawEnd = (uint64_t)Sec.offRaw + Sec.cbRaw;
        }
        pImage->Sections.push_back(Sec);
    }
    if (uVirtualEnd > UINT32_MAX)
        return refuse(pstrWhy, "has a damaged section table");
    return 0;
}

/** Finds the resource section and, for a rewrite, checks what lies behind it. */
int findResourceSection(PeImage *pImage, std::string *pstrWhy, PeReadPurpose enmPurpose) {
    const uint32_t uRsrcVA = pImage->dirVA(PE_DIR_RESOURCE);
    if (uRsrcVA == 0)
        return refuse(pstrWhy, "has no resource section (.rsrc)");
    size_t iRsrc = 0;
    while (iRsrc < pImage->Sections.size() && pImage->Sections[iRsrc].uVirtualAddress != uRsrcVA)
        iRsrc++;
    if (iRsrc == pImage->Sections.size() || strcmp(pImage->Sections[iRsrc].szName, ".rsrc") != 0)
        return refuse(pstrWhy, "keeps its resources outside a .rsrc section of their own");
    const PeSection &Rsrc = pImage->Sections[iRsrc];
    if (Rsrc.cbRaw == 0 || pImage->dirSize(PE_DIR_RESOURCE) > std::min(Rsrc.cbRaw, Rsrc.cbLoaded()))
        return refuse(pstrWhy, "has a damaged resource directory");
    pImage->iRsrc = iRsrc;
    if (enmPurpose == PeReadPurpose::Inspect)
        return 0;

    // Only the relocations may follow: nothing refers to their place but their directory.
    if (iRsrc + 1 < pImage->Sections.size()) {
        const PeSection &Reloc = pImage->Sections[iRsrc + 1];
        const uint32_t uRelocDirVA = pImage->dirVA(PE_DIR_BASERELOC);
        const uint64_t uRelocDirEnd = (uint64_t)uRelocDirVA + pImage->dirSize(PE_DIR_BASERELOC);
        if (iRsrc + 2 != pImage->Sections.size() || strcmp(Reloc.szName, ".reloc") != 0 || Reloc.cbRaw == 0 ||
            uRelocDirVA < Reloc.uVirtualAddress || uRelocDirEnd > (uint64_t)Reloc.uVirtualAddress + Reloc.cbLoaded())
            return refuse(pstrWhy, "has a section behind its resources that cannot be moved ('%s')",
                          pImage->Sections[iRsrc + 1].szName);
        pImage->iReloc = iRsrc + 1;
    }
    for (unsigned iDir = 0; iDir < pImage->cDataDirs; iDir++) {
        if (iDir == PE_DIR_RESOURCE || (iDir == PE_DIR_BASERELOC && pImage->iReloc != SIZE_MAX))
            continue;
        const uint32_t uVA = pImage->dirVA(iDir);
        const uint32_t cb = pImage->dirSize(iDir);
        if ((uVA != 0 || cb != 0) && (uint64_t)uVA + cb > Rsrc.uVirtualAddress)
            return refuse(pstrWhy, "has data directory %u pointing at or behind its resources", iDir);
    }
    return 0;
}

} // namespace

uint32_t PeImage::dirVA(unsigned iDir) const {
    return iDir < cDataDirs ? getU32(&Headers[offDataDirs + iDir * 8]) : 0;
}

uint32_t PeImage::dirSize(unsigned iDir) const {
    return iDir < cDataDirs ? getU32(&Headers[offDataDirs + iDir * 8 + 4]) : 0;
}

int PeReadImage(ByteSource &Src, PeImage *pImage, std::string *pstrWhy, PeReadPurpose enmPurpose) {
    const bool fRewrite = enmPurpose == PeReadPurpose::Rewrite;
    PeImage Img;
    Img.cbFile = Src.size();
    if (Img.cbFile < 0x40)
        return refuse(pstrWhy, "is too small to be a PE image");
    if (Img.cbFile > UINT32_MAX)
        return refuse(pstrWhy, "is larger than 4 GiB");
    std::vector<uint8_t> Start(std::min<uint64_t>(Img.cbFile, kMaxHeaders));
    int rc = Src.read(0, Start.data(), Start.size());
    if (RT_FAILURE(rc)) {
        *pstrWhy = strFormat("cannot be read: %Rrc", rc);
        return rc;
    }
    const uint32_t cbStart = (uint32_t)Start.size();
    if (Start[0] != 'M' || Start[1] != 'Z')
        return refuse(pstrWhy, "is not a PE image (no MZ signature)");
    const uint32_t offNt = getU32(&Start[0x3c]);
    if (offNt < 0x40 || offNt > cbStart - 4 - kCoffHeaderSize)
        return refuse(pstrWhy, "is not a PE image (bad PE header offset)");
    if (memcmp(&Start[offNt], "PE\0\0", 4) != 0)
        return refuse(pstrWhy, "is not a PE image (no PE signature)");

    const uint8_t *pbCoff = &Start[offNt + 4];
    const uint16_t uMachine = getU16(pbCoff);
    const uint32_t cSections = getU16(pbCoff + 2);
    const uint32_t offSymbols = getU32(pbCoff + 8);
    const uint32_t cSymbols = getU32(pbCoff + 12);
    const uint32_t cbOptHeader = getU16(pbCoff + 16);
    const uint16_t fCharacteristics = getU16(pbCoff + 18);
    if (uMachine != kMachineI386 && uMachine != kMachineAmd64 && uMachine != kMachineArm64)
        return refuse(pstrWhy, "is built for an unsupported machine (%#x)", uMachine);
    if (!(fCharacteristics & kFileExecutableImage) || (fCharacteristics & kFileDll))
        return refuse(pstrWhy, "is not an executable program");
    if (fRewrite && (offSymbols != 0 || cSymbols != 0))
        return refuse(pstrWhy, "carries a COFF symbol table behind its sections (link it stripped)");

    Img.offOptHeader = offNt + 4 + kCoffHeaderSize;
    if (cbOptHeader < 2 || (uint64_t)Img.offOptHeader + cbOptHeader > cbStart)
        return refuse(pstrWhy, "has a damaged optional header");
    const uint8_t *pbOpt = &Start[Img.offOptHeader];
    const uint16_t uMagic = getU16(pbOpt);
    uint32_t offDirCount;
    if (uMagic == kMagicPe32) {
        offDirCount = 92;
    } else if (uMagic == kMagicPe32Plus) {
        Img.fPe32Plus = true;
        offDirCount = 108;
    } else
        return refuse(pstrWhy, "has an unknown optional header (magic %#x)", uMagic);
    if (cbOptHeader < offDirCount + 4)
        return refuse(pstrWhy, "has a damaged optional header");
    Img.cDataDirs = getU32(pbOpt + offDirCount);
    Img.offDataDirs = Img.offOptHeader + offDirCount + 4;
    if (Img.cDataDirs <= PE_DIR_BASERELOC || Img.cDataDirs > kMaxDataDirs ||
        offDirCount + 4 + Img.cDataDirs * 8 > cbOptHeader)
        return refuse(pstrWhy, "has a damaged optional header (%u data directories)", Img.cDataDirs);

    Img.cbSectionAlignment = getU32(pbOpt + kOptSectionAlignment);
    Img.cbFileAlignment = getU32(pbOpt + kOptFileAlignment);
    Img.cbHeaders = getU32(pbOpt + kOptSizeOfHeaders);
    if (!isPowerOfTwo(Img.cbFileAlignment) || Img.cbFileAlignment < 512 || Img.cbFileAlignment > 65536 ||
        !isPowerOfTwo(Img.cbSectionAlignment) || Img.cbSectionAlignment < Img.cbFileAlignment)
        return refuse(pstrWhy, "has unusual alignments (file %#x, sections %#x)", Img.cbFileAlignment,
                      Img.cbSectionAlignment);
    Img.offSectionTable = Img.offOptHeader + cbOptHeader;
    if (cSections == 0 || cSections > kMaxSections ||
        (uint64_t)Img.offSectionTable + cSections * kSectionHeaderSize > Img.cbHeaders || Img.cbHeaders > cbStart)
        return refuse(pstrWhy, "has a damaged section table");
    Img.Headers.assign(Start.begin(), Start.begin() + Img.cbHeaders);

    rc = readSections(&Start[Img.offSectionTable], cSections, &Img, pstrWhy);
    if (RT_FAILURE(rc))
        return rc;
    if (fRewrite && (Img.dirVA(PE_DIR_SECURITY) != 0 || Img.dirSize(PE_DIR_SECURITY) != 0))
        return refuse(pstrWhy, "is signed (pack the stub first, then sign the installer)");
    uint64_t offRawEnd = Img.cbHeaders;
    for (const PeSection &Sec : Img.Sections)
        if (Sec.cbRaw)
            offRawEnd = (uint64_t)Sec.offRaw + Sec.cbRaw;
    if (fRewrite && offRawEnd != Img.cbFile)
        return refuse(pstrWhy, "has data appended after its last section");
    rc = findResourceSection(&Img, pstrWhy, enmPurpose);
    if (RT_SUCCESS(rc) && fRewrite)
        rc = checkDebugDirectory(Src, Img, pstrWhy);
    if (RT_FAILURE(rc))
        return rc;
    *pImage = std::move(Img);
    return 0;
}

int PePlanRewrite(const PeImage &Image, uint64_t cbRsrc, PeRewritePlan *pPlan, std::string *pstrWhy) {
    const PeSection &Rsrc = Image.rsrc();
    // A section whose bytes start on a page boundary of the file can be mapped straight
    // from it; anywhere else a loader has to copy it into private memory first, which for
    // the packages means reading all of them before the program even starts. Only
    // sections that start on a page in memory can be mapped at all.
    const uint64_t offRsrcRaw =
        Image.cbSectionAlignment >= kPageSize ? alignUp(Rsrc.offRaw, kPageSize) : (uint64_t)Rsrc.offRaw;
    const uint64_t cbRsrcRaw = alignUp(cbRsrc, Image.cbFileAlignment);
    uint64_t uVirtualEnd = Rsrc.uVirtualAddress + cbRsrc;
    uint64_t cbFile = offRsrcRaw + cbRsrcRaw;
    uint64_t uRelocVA = 0;
    if (Image.iReloc != SIZE_MAX) {
        const PeSection &Reloc = Image.Sections[Image.iReloc];
        uRelocVA = alignUp(uVirtualEnd, Image.cbSectionAlignment);
        uVirtualEnd = uRelocVA + Reloc.cbLoaded();
        cbFile += Reloc.cbRaw;
    }
    const uint64_t cbImage = alignUp(uVirtualEnd, Image.cbSectionAlignment);
    if (cbImage > PE_IMAGE_SIZE_LIMIT) {
        *pstrWhy = strFormat("the installer image would take %RU64 MiB; Windows cannot load more than %RU64 MiB",
                             (cbImage + (1 << 20) - 1) >> 20, PE_IMAGE_SIZE_LIMIT >> 20);
        return ERR_OUT_OF_RANGE;
    }
    pPlan->offRsrcRaw = (uint32_t)offRsrcRaw;
    pPlan->cbRsrcRaw = (uint32_t)cbRsrcRaw;
    pPlan->uRelocVA = (uint32_t)uRelocVA;
    pPlan->offRelocRaw = (uint32_t)(offRsrcRaw + cbRsrcRaw);
    pPlan->cbImage = (uint32_t)cbImage;
    pPlan->cbFile = cbFile;
    pPlan->fLarge = !Image.fPe32Plus && cbImage > PE32_IMAGE_SIZE_WARNING;
    return 0;
}

namespace {

/** Writes through to the sink and sums the checksum on the way. */
class ImageWriter {
public:
    ImageWriter(Sink &Out, std::string *pstrWhy) : m_Out(Out), m_pstrWhy(pstrWhy), m_Buf(kCopyChunk) {}

    int write(const void *pv, size_t cb) {
        m_Sum.add(pv, cb);
        int rc = m_Out.write(pv, cb);
        if (RT_FAILURE(rc))
            *m_pstrWhy = strFormat("writing the output failed: %Rrc", rc);
        return rc;
    }
    int zeros(uint64_t cb) {
        std::fill(m_Buf.begin(), m_Buf.begin() + std::min<uint64_t>(cb, m_Buf.size()), 0);
        while (cb) {
            const size_t cbChunk = (size_t)std::min<uint64_t>(cb, m_Buf.size());
            int rc = write(m_Buf.data(), cbChunk);
            if (RT_FAILURE(rc))
                return rc;
            cb -= cbChunk;
        }
        return 0;
    }
    /** Streams cb bytes of a source through the buffer. */
    int copy(ByteSource &Src, uint64_t off, uint64_t cb, const std::string &strWhat) {
        while (cb) {
            const size_t cbChunk = (size_t)std::min<uint64_t>(cb, m_Buf.size());
            int rc = Src.read(off, m_Buf.data(), cbChunk);
            if (RT_FAILURE(rc)) {
                *m_pstrWhy = rc == ERR_EOF ? strFormat("%s changed while it was packed", strWhat.c_str())
                                           : strFormat("reading %s failed: %Rrc", strWhat.c_str(), rc);
                return rc;
            }
            rc = write(m_Buf.data(), cbChunk);
            if (RT_FAILURE(rc))
                return rc;
            off += cbChunk;
            cb -= cbChunk;
        }
        int rc = Src.finish();
        if (RT_FAILURE(rc))
            *m_pstrWhy = strFormat("%s changed while it was packed", strWhat.c_str());
        return rc;
    }
    int patchChecksum(uint32_t offField) {
        uint8_t ab[4];
        putU32(ab, m_Sum.finish());
        int rc = m_Out.patch(offField, ab, sizeof(ab));
        if (RT_FAILURE(rc))
            *m_pstrWhy = strFormat("writing the output failed: %Rrc", rc);
        return rc;
    }

private:
    Sink &m_Out;
    std::string *m_pstrWhy;
    std::vector<uint8_t> m_Buf;
    PeChecksum m_Sum;
};

} // namespace

int PeWriteImage(ByteSource &Stub, const PeImage &Image, const std::vector<SectionPiece> &Pieces, uint32_t cbRsrc,
                 Sink &Out, std::string *pstrWhy) {
    PeRewritePlan Plan;
    int rc = PePlanRewrite(Image, cbRsrc, &Plan, pstrWhy);
    if (RT_FAILURE(rc))
        return rc;
    const PeSection &Rsrc = Image.rsrc();

    std::vector<uint8_t> Headers = Image.Headers;
    uint8_t *pbOpt = &Headers[Image.offOptHeader];
    uint8_t *pbRsrcHdr = &Headers[Image.offSectionTable + Image.iRsrc * kSectionHeaderSize];
    putU32(pbRsrcHdr + kSecVirtualSize, cbRsrc);
    putU32(pbRsrcHdr + kSecSizeOfRawData, Plan.cbRsrcRaw);
    putU32(pbRsrcHdr + kSecPointerToRawData, Plan.offRsrcRaw);
    putU32(&Headers[Image.offDataDirs + PE_DIR_RESOURCE * 8 + 4], cbRsrc);
    if (Image.iReloc != SIZE_MAX) {
        const PeSection &Reloc = Image.Sections[Image.iReloc];
        uint8_t *pbRelocHdr = &Headers[Image.offSectionTable + Image.iReloc * kSectionHeaderSize];
        putU32(pbRelocHdr + kSecVirtualAddress, Plan.uRelocVA);
        putU32(pbRelocHdr + kSecPointerToRawData, Plan.offRelocRaw);
        // The directory keeps its place inside the section and its size.
        putU32(&Headers[Image.offDataDirs + PE_DIR_BASERELOC * 8],
               Image.dirVA(PE_DIR_BASERELOC) - Reloc.uVirtualAddress + Plan.uRelocVA);
    }
    putU32(pbOpt + kOptSizeOfImage, Plan.cbImage);
    putU32(pbOpt + kOptSizeOfInitializedData, getU32(pbOpt + kOptSizeOfInitializedData) + Plan.cbRsrcRaw - Rsrc.cbRaw);
    putU32(pbOpt + PE_OPT_CHECKSUM_OFFSET, 0);

    ImageWriter Writer(Out, pstrWhy);
    rc = Writer.write(Headers.data(), Headers.size());
    if (RT_SUCCESS(rc))
        rc = Writer.copy(Stub, Image.cbHeaders, Rsrc.offRaw - Image.cbHeaders, "the stub");
    if (RT_SUCCESS(rc))
        rc = Writer.zeros(Plan.offRsrcRaw - Rsrc.offRaw);
    uint64_t offSection = 0;
    for (size_t i = 0; i < Pieces.size() && RT_SUCCESS(rc); i++) {
        const SectionPiece &Piece = Pieces[i];
        if (Piece.offSection < offSection || (uint64_t)Piece.offSection + Piece.cb > cbRsrc) {
            *pstrWhy = "the resource section's layout is inconsistent";
            return ERR_INTERNAL_ERROR;
        }
        rc = Writer.zeros(Piece.offSection - offSection);
        if (RT_SUCCESS(rc))
            rc = Writer.copy(*Piece.pSrc, Piece.offSrc, Piece.cb, Piece.strWhat);
        offSection = (uint64_t)Piece.offSection + Piece.cb;
    }
    if (RT_SUCCESS(rc))
        rc = Writer.zeros(Plan.cbRsrcRaw - offSection);
    if (RT_SUCCESS(rc) && Image.iReloc != SIZE_MAX) {
        const PeSection &Reloc = Image.Sections[Image.iReloc];
        rc = Writer.copy(Stub, Reloc.offRaw, Reloc.cbRaw, "the stub");
    }
    if (RT_SUCCESS(rc))
        rc = Writer.patchChecksum(Image.offOptHeader + PE_OPT_CHECKSUM_OFFSET);
    return rc;
}

void PeChecksum::add(const void *pv, size_t cb) {
    const uint8_t *pb = (const uint8_t *)pv;
    // A byte at an odd file offset is the high half of its word.
    if ((m_cb & 1) && cb) {
        m_uSum += (uint64_t)*pb++ << 8;
        m_cb++;
        cb--;
    }
    m_cb += cb;
    // Words are summed in 32-bit pairs: 2^16 is 1 modulo 0xffff, so folding the wide sum
    // at the end gives the same value as folding after every 16-bit word.
    while (cb >= 4) {
        uint32_t u;
        memcpy(&u, pb, 4);
        m_uSum += u;
        pb += 4;
        cb -= 4;
    }
    if (cb >= 2) {
        m_uSum += getU16(pb);
        pb += 2;
        cb -= 2;
    }
    if (cb)
        m_uSum += *pb;
    // Keep far from overflowing, whatever the file size.
    if (m_uSum >> 48)
        m_uSum = (m_uSum & 0xffffffff) + (m_uSum >> 32);
}

uint32_t PeChecksum::finish() const {
    uint64_t uSum = m_uSum;
    while (uSum >> 16)
        uSum = (uSum & 0xffff) + (uSum >> 16);
    return (uint32_t)(uSum + m_cb);
}
