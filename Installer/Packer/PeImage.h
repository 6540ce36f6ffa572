// A linked PE image as the packer sees it: the headers and sections of an untrusted
// file, checked so that its resource section can be rewritten in place (the section
// keeps its address; only the relocations may lie behind it and move up), and the
// writer that produces the new image with its sizes and checksum updated.
#pragma once

#include "PackIo.h"
#include <cstdint>
#include <string>
#include <vector>

/** An image whose size (SizeOfImage) exceeds this is refused: the whole image is
 *  reserved in the address space, and loads fail somewhat below 2 GiB. */
constexpr uint64_t PE_IMAGE_SIZE_LIMIT = UINT64_C(1536) << 20;
/** A 32-bit image above this is packed with a warning (its address space is small). */
constexpr uint64_t PE32_IMAGE_SIZE_WARNING = UINT64_C(512) << 20;

/** Data directory indexes the packer cares about. */
constexpr unsigned PE_DIR_RESOURCE = 2;
constexpr unsigned PE_DIR_SECURITY = 4;
constexpr unsigned PE_DIR_BASERELOC = 5;
constexpr unsigned PE_DIR_DEBUG = 6;

struct PeSection {
    char szName[9];
    uint32_t uVirtualAddress;
    /** As stored; 0 means the raw size. */
    uint32_t cbVirtual;
    uint32_t offRaw;
    uint32_t cbRaw;
    uint32_t fCharacteristics;
    /** The size the loader maps. */
    uint32_t cbLoaded() const { return cbVirtual ? cbVirtual : cbRaw; }
};

struct PeImage {
    bool fPe32Plus = false;
    uint64_t cbFile = 0;
    uint32_t offOptHeader = 0;
    uint32_t offDataDirs = 0;
    uint32_t cDataDirs = 0;
    uint32_t offSectionTable = 0;
    uint32_t cbFileAlignment = 0;
    uint32_t cbSectionAlignment = 0;
    uint32_t cbHeaders = 0;
    std::vector<PeSection> Sections;
    /** The resource section. */
    size_t iRsrc = 0;
    /** The relocation section behind it, or SIZE_MAX when nothing follows it. */
    size_t iReloc = SIZE_MAX;
    /** The file's first cbHeaders bytes. */
    std::vector<uint8_t> Headers;

    uint32_t dirVA(unsigned iDir) const;
    uint32_t dirSize(unsigned iDir) const;
    const PeSection &rsrc() const { return Sections[iRsrc]; }
};

/** What an image is read for. */
enum class PeReadPurpose {
    /** Its resource section is to be rewritten: everything that would stop that is refused. */
    Rewrite,
    /** Its resources are only read (a signed installer, for example). */
    Inspect,
};

/**
 * Reads and checks the headers of the image in Src. Refuses (ERR_BAD_EXE_FORMAT, with
 * the reason in *pstrWhy as the end of a sentence about the file) anything that is not
 * a PE executable with a resource section; for a rewrite also anything whose resource
 * section cannot be rewritten safely: signed, data after the last section, a symbol
 * table or debug data, another section than the relocations behind the resources, a
 * data directory pointing at or behind them. A failed read gives its own status.
 */
int PeReadImage(ByteSource &Src, PeImage *pImage, std::string *pstrWhy, PeReadPurpose enmPurpose);

/** A piece of the new resource section: cb bytes from a source, at offSection. */
struct SectionPiece {
    ByteSource *pSrc;
    uint64_t offSrc;
    uint32_t cb;
    uint32_t offSection;
    /** What the bytes are, for messages ("package 'a.msi'"). */
    std::string strWhat;
};

/** Where everything lands when the resource section becomes cbRsrc bytes long. */
struct PeRewritePlan {
    /** Where the resource section's bytes start in the file: on a page boundary, so that a
     *  loader that maps the file (rather than reading it) can serve the packages in place. */
    uint32_t offRsrcRaw;
    uint32_t cbRsrcRaw;
    uint32_t uRelocVA;
    uint32_t offRelocRaw;
    uint32_t cbImage;
    uint64_t cbFile;
    /** A 32-bit image above PE32_IMAGE_SIZE_WARNING. */
    bool fLarge;
};
/** Plans the rewrite; ERR_OUT_OF_RANGE with the reason when the image would exceed
 *  PE_IMAGE_SIZE_LIMIT. */
int PePlanRewrite(const PeImage &Image, uint64_t cbRsrc, PeRewritePlan *pPlan, std::string *pstrWhy);

/**
 * Writes the image from Stub with a new resource section of cbRsrc bytes made of the
 * pieces (ascending, not overlapping; gaps are zero). Headers, sizes, the relocation
 * section's place and directory, and the checksum are updated; everything else is
 * copied as it is. A failure's reason names the piece or the output.
 */
int PeWriteImage(ByteSource &Stub, const PeImage &Image, const std::vector<SectionPiece> &Pieces, uint32_t cbRsrc,
                 Sink &Out, std::string *pstrWhy);

/** The image checksum: 16-bit little-endian words summed with the carry folded back in,
 *  plus the file length. Bytes may come in pieces of any size. */
class PeChecksum {
public:
    void add(const void *pv, size_t cb);
    uint32_t finish() const;

private:
    uint64_t m_uSum = 0;
    uint64_t m_cb = 0;
};
/** Offset of the CheckSum field in the optional header. */
constexpr uint32_t PE_OPT_CHECKSUM_OFFSET = 64;
