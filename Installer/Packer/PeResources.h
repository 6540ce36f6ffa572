// The resource tree of a PE image as a flat list: read from an image's resource
// section (untrusted: every offset is checked), and laid out again as a new section
// whose data is streamed from wherever each resource's bytes are.
#pragma once

#include "PeImage.h"
#include <string>
#include <vector>

/** Resource types the packer uses. */
constexpr uint16_t RES_TYPE_ICON = 3;
constexpr uint16_t RES_TYPE_RCDATA = 10;
constexpr uint16_t RES_TYPE_GROUP_ICON = 14;

/** A type, name or language key: a UTF-16 string or a 16-bit number. */
struct ResourceKey {
    bool fNamed = false;
    uint16_t uId = 0;
    std::u16string strName;

    static ResourceKey id(uint16_t uId);
    /** An ASCII name as it is stored: the platform upper-cases names before looking them up. */
    static ResourceKey name(const char *pszAscii);
    /** Named keys first, names by UTF-16 code unit (a shorter prefix first), then numbers:
     *  the order the platform's lookup binary-searches in. */
    bool operator<(const ResourceKey &Other) const;
    bool operator==(const ResourceKey &Other) const;
    /** UTF-8 for messages and listings, "#123" for a number. */
    std::string display() const;
};

struct Resource {
    ResourceKey Type;
    ResourceKey Name;
    uint16_t uLanguage = 0;
    uint32_t uCodePage = 0;
    /** Where the bytes are: not owned. */
    ByteSource *pSrc = nullptr;
    uint64_t offSrc = 0;
    uint32_t cb = 0;
    /** What the bytes are, for messages. */
    std::string strWhat;
};

/** Reads every resource of the image's resource section. The data stays in Src (the
 *  resources point into it). ERR_BAD_EXE_FORMAT with the reason for a damaged tree. */
int PeReadResources(ByteSource &Src, const PeImage &Image, std::vector<Resource> *pResources, std::string *pstrWhy);

/** A laid-out resource section: the tree's bytes and the resources' data as pieces. */
struct ResourceSection {
    std::unique_ptr<MemorySource> pTree;
    std::vector<SectionPiece> Pieces;
    /** The exact size: the end of the last piece. */
    uint32_t cb = 0;
};
/**
 * Lays out a section at uSectionVA holding the resources: all directory tables, then
 * the name strings, then the data entries, then each resource's data 8-aligned, all in
 * key order. The output depends on nothing but the resources. Refuses duplicates and
 * sizes beyond what the tree's 31-bit offsets and 32-bit sizes hold.
 */
int BuildResourceSection(std::vector<Resource> Resources, uint32_t uSectionVA, ResourceSection *pSection,
                         std::string *pstrWhy);
