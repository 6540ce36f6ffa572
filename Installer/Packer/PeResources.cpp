// Reading a resource tree from an untrusted image, and laying out a new one.
#include "PeResources.h"
#include <olma/string.h>
#include <algorithm>
#include <set>

namespace {

constexpr uint32_t kDirHeaderSize = 16;
constexpr uint32_t kDirEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000;
/** Far more than any installer carries; a damaged tree could claim millions. */
constexpr size_t kMaxResources = 65536;

int tooLarge(std::string *pstrWhy, const char *pszWhat) {
    *pstrWhy = pszWhat;
    return ERR_OUT_OF_RANGE;
}

int damaged(std::string *pstrWhy, const char *pszWhat) {
    *pstrWhy = strFormat("has a damaged resource directory (%s)", pszWhat);
    return ERR_BAD_EXE_FORMAT;
}

/** Reads the tree's structures: every read stays inside the section's file data. */
class TreeReader {
public:
    TreeReader(ByteSource &Src, const PeImage &Image, std::string *pstrWhy)
        : m_Src(Src), m_Rsrc(Image.rsrc()), m_cbData(std::min(m_Rsrc.cbRaw, m_Rsrc.cbLoaded())), m_pstrWhy(pstrWhy) {}

    int readDirectory(uint32_t off, unsigned iLevel, Resource &Partial, std::vector<Resource> *pResources) {
        // A directory referenced twice would let a small file describe a huge tree.
        if (!m_Visited.insert(off).second)
            return damaged(m_pstrWhy, "a directory is used twice");
        uint8_t abHeader[kDirHeaderSize];
        int rc = read(off, abHeader, sizeof(abHeader));
        if (RT_FAILURE(rc))
            return rc;
        const uint32_t cEntries = (uint32_t)getU16(abHeader + 12) + getU16(abHeader + 14);
        std::vector<uint8_t> Entries((size_t)cEntries * kDirEntrySize);
        rc = read((uint64_t)off + kDirHeaderSize, Entries.data(), Entries.size());
        if (RT_FAILURE(rc))
            return rc;
        for (uint32_t i = 0; i < cEntries; i++) {
            const uint32_t uNameField = getU32(&Entries[i * kDirEntrySize]);
            const uint32_t uOffsetField = getU32(&Entries[i * kDirEntrySize + 4]);
            ResourceKey Key;
            if (uNameField & kHighBit) {
                if (iLevel == 2)
                    return damaged(m_pstrWhy, "a named language");
                rc = readName(uNameField & ~kHighBit, &Key);
                if (RT_FAILURE(rc))
                    return rc;
            } else {
                if (uNameField > 0xffff)
                    return damaged(m_pstrWhy, "an identifier above 65535");
                Key = ResourceKey::id((uint16_t)uNameField);
            }
            const bool fSubdir = (uOffsetField & kHighBit) != 0;
            if (fSubdir != (iLevel < 2))
                return damaged(m_pstrWhy, "the levels are mixed up");
            if (iLevel == 0)
                Partial.Type = Key;
            else if (iLevel == 1)
                Partial.Name = Key;
            else
                Partial.uLanguage = Key.uId;
            rc = fSubdir ? readDirectory(uOffsetField & ~kHighBit, iLevel + 1, Partial, pResources)
                         : readDataEntry(uOffsetField, Partial, pResources);
            if (RT_FAILURE(rc))
                return rc;
        }
        return 0;
    }

private:
    int read(uint64_t off, void *pv, size_t cb) {
        if (off > m_cbData || cb > m_cbData - off)
            return damaged(m_pstrWhy, "an offset outside the section");
        int rc = m_Src.read(m_Rsrc.offRaw + off, pv, cb);
        if (RT_FAILURE(rc))
            *m_pstrWhy = strFormat("cannot be read: %Rrc", rc);
        return rc;
    }
    int readName(uint32_t off, ResourceKey *pKey) {
        uint8_t abLength[2];
        int rc = read(off, abLength, sizeof(abLength));
        if (RT_FAILURE(rc))
            return rc;
        std::vector<uint8_t> Units(getU16(abLength) * 2u);
        rc = read((uint64_t)off + 2, Units.data(), Units.size());
        if (RT_FAILURE(rc))
            return rc;
        pKey->fNamed = true;
        for (size_t i = 0; i < Units.size(); i += 2)
            pKey->strName.push_back((char16_t)getU16(&Units[i]));
        return 0;
    }
    int readDataEntry(uint32_t off, Resource &Partial, std::vector<Resource> *pResources) {
        uint8_t abEntry[kDataEntrySize];
        int rc = read(off, abEntry, sizeof(abEntry));
        if (RT_FAILURE(rc))
            return rc;
        const uint32_t uDataVA = getU32(abEntry);
        const uint32_t cbData = getU32(abEntry + 4);
        if (uDataVA < m_Rsrc.uVirtualAddress || uDataVA - m_Rsrc.uVirtualAddress > m_cbData ||
            cbData > m_cbData - (uDataVA - m_Rsrc.uVirtualAddress))
            return damaged(m_pstrWhy, "data outside the section");
        if (pResources->size() >= kMaxResources)
            return damaged(m_pstrWhy, "too many resources");
        Resource Res = Partial;
        Res.uCodePage = getU32(abEntry + 8);
        Res.pSrc = &m_Src;
        Res.offSrc = m_Rsrc.offRaw + (uint64_t)(uDataVA - m_Rsrc.uVirtualAddress);
        Res.cb = cbData;
        Res.strWhat = "the stub";
        pResources->push_back(std::move(Res));
        return 0;
    }

    ByteSource &m_Src;
    const PeSection &m_Rsrc;
    const uint32_t m_cbData;
    std::string *m_pstrWhy;
    std::set<uint32_t> m_Visited;
};

bool keyLess(const Resource &A, const Resource &B) {
    if (!(A.Type == B.Type))
        return A.Type < B.Type;
    if (!(A.Name == B.Name))
        return A.Name < B.Name;
    return A.uLanguage < B.uLanguage;
}

bool sameKey(const Resource &A, const Resource &B) {
    return A.Type == B.Type && A.Name == B.Name && A.uLanguage == B.uLanguage;
}

/** Writes a directory's header: counts of named and numbered entries. */
void putDirectoryHeader(uint8_t *pb, size_t cNamed, size_t cEntries) {
    putU16(pb + 12, (uint16_t)cNamed);
    putU16(pb + 14, (uint16_t)(cEntries - cNamed));
}

void putDirectoryEntry(uint8_t *pb, const ResourceKey &Key, uint32_t offName, uint32_t uTarget) {
    putU32(pb, Key.fNamed ? kHighBit | offName : Key.uId);
    putU32(pb + 4, uTarget);
}

void putName(std::vector<uint8_t> &Tree, uint32_t off, const std::u16string &strName) {
    putU16(&Tree[off], (uint16_t)strName.size());
    for (size_t i = 0; i < strName.size(); i++)
        putU16(&Tree[off + 2 + i * 2], strName[i]);
}

} // namespace

ResourceKey ResourceKey::id(uint16_t uId) {
    ResourceKey Key;
    Key.uId = uId;
    return Key;
}

ResourceKey ResourceKey::name(const char *pszAscii) {
    ResourceKey Key;
    Key.fNamed = true;
    for (; *pszAscii; pszAscii++)
        Key.strName.push_back((char16_t)(uint8_t)*pszAscii);
    return Key;
}

bool ResourceKey::operator<(const ResourceKey &Other) const {
    if (fNamed != Other.fNamed)
        return fNamed;
    return fNamed ? strName < Other.strName : uId < Other.uId;
}

bool ResourceKey::operator==(const ResourceKey &Other) const {
    return fNamed == Other.fNamed && (fNamed ? strName == Other.strName : uId == Other.uId);
}

std::string ResourceKey::display() const {
    if (!fNamed)
        return "#" + std::to_string(uId);
    std::string str;
    for (size_t i = 0; i < strName.size(); i++) {
        uint32_t uCp = strName[i];
        if (uCp >= 0xd800 && uCp < 0xdc00 && i + 1 < strName.size() && strName[i + 1] >= 0xdc00 &&
            strName[i + 1] < 0xe000)
            uCp = 0x10000 + ((uCp - 0xd800) << 10) + (strName[++i] - 0xdc00);
        else if (uCp >= 0xd800 && uCp < 0xe000)
            uCp = 0xfffd;
        char ach[8];
        str.append(ach, RTStrPutCp(ach, uCp) - ach);
    }
    return str;
}

int PeReadResources(ByteSource &Src, const PeImage &Image, std::vector<Resource> *pResources, std::string *pstrWhy) {
    std::vector<Resource> Resources;
    TreeReader Reader(Src, Image, pstrWhy);
    Resource Partial;
    int rc = Reader.readDirectory(0, 0, Partial, &Resources);
    if (RT_FAILURE(rc))
        return rc;
    std::stable_sort(Resources.begin(), Resources.end(), keyLess);
    for (size_t i = 1; i < Resources.size(); i++)
        if (sameKey(Resources[i - 1], Resources[i]))
            return damaged(pstrWhy, "a resource appears twice");
    *pResources = std::move(Resources);
    return 0;
}

int BuildResourceSection(std::vector<Resource> Resources, uint32_t uSectionVA, ResourceSection *pSection,
                         std::string *pstrWhy) {
    std::stable_sort(Resources.begin(), Resources.end(), keyLess);
    for (size_t i = 1; i < Resources.size(); i++)
        if (sameKey(Resources[i - 1], Resources[i])) {
            *pstrWhy = strFormat("two resources are named %s (type %s)", Resources[i].Name.display().c_str(),
                                 Resources[i].Type.display().c_str());
            return ERR_ALREADY_EXISTS;
        }

    // Resources sharing a type and name form a name group; name groups sharing a type
    // form a type group.
    struct Group {
        size_t iFirst;
        size_t iEnd;
    };
    std::vector<Group> Types;
    std::vector<Group> Names;
    for (size_t i = 0; i < Resources.size(); i++) {
        const bool fNewType = i == 0 || !(Resources[i].Type == Resources[i - 1].Type);
        if (fNewType)
            Types.push_back({Names.size(), Names.size()});
        if (fNewType || !(Resources[i].Name == Resources[i - 1].Name))
            Names.push_back({i, i});
        Names.back().iEnd = i + 1;
        Types.back().iEnd = Names.size();
    }
    // Entry counts are 16 bits. Even a name group's languages, distinct 16-bit numbers,
    // can be one too many: all 65536 of them.
    if (Types.size() > 0xffff)
        return tooLarge(pstrWhy, "there are too many resource types");
    for (const Group &Type : Types)
        if (Type.iEnd - Type.iFirst > 0xffff)
            return tooLarge(pstrWhy, "there are too many resources of one type");
    for (const Group &Name : Names)
        if (Name.iEnd - Name.iFirst > 0xffff)
            return tooLarge(pstrWhy, "a resource has too many languages");

    // Layout: the directory tables (root, types, names), the name strings, the data
    // entries, then the data, each piece 8-aligned.
    uint64_t off = kDirHeaderSize + kDirEntrySize * Types.size();
    std::vector<uint32_t> TypeDirOffsets, NameDirOffsets, TypeNameOffsets(Types.size()), NameNameOffsets(Names.size());
    for (const Group &Type : Types) {
        TypeDirOffsets.push_back((uint32_t)off);
        off += kDirHeaderSize + kDirEntrySize * (Type.iEnd - Type.iFirst);
    }
    for (const Group &Name : Names) {
        NameDirOffsets.push_back((uint32_t)off);
        off += kDirHeaderSize + kDirEntrySize * (Name.iEnd - Name.iFirst);
    }
    auto placeName = [&](const ResourceKey &Key, uint32_t *poff) {
        if (!Key.fNamed)
            return true;
        *poff = (uint32_t)off;
        off += 2 + 2 * Key.strName.size();
        return Key.strName.size() <= 0xffff;
    };
    for (size_t t = 0; t < Types.size(); t++)
        if (!placeName(Resources[Names[Types[t].iFirst].iFirst].Type, &TypeNameOffsets[t]))
            return tooLarge(pstrWhy, "a resource type's name is too long");
    for (size_t n = 0; n < Names.size(); n++)
        if (!placeName(Resources[Names[n].iFirst].Name, &NameNameOffsets[n]))
            return tooLarge(pstrWhy, "a resource name is too long");
    const uint64_t offDataEntries = alignUp(off, 8);
    off = offDataEntries + kDataEntrySize * Resources.size();
    std::vector<uint64_t> DataOffsets;
    for (const Resource &Res : Resources) {
        off = alignUp(off, 8);
        DataOffsets.push_back(off);
        off += Res.cb;
    }
    // Tree offsets keep their top bit for the subdirectory flag; data is addressed by RVA.
    if (off >= kHighBit || uSectionVA + off > UINT32_MAX)
        return tooLarge(pstrWhy, "the resources are too large for one executable");

    std::vector<uint8_t> Tree(offDataEntries + kDataEntrySize * Resources.size());
    size_t cNamedTypes = 0;
    for (size_t t = 0; t < Types.size(); t++) {
        const ResourceKey &TypeKey = Resources[Names[Types[t].iFirst].iFirst].Type;
        cNamedTypes += TypeKey.fNamed;
        putDirectoryEntry(&Tree[kDirHeaderSize + kDirEntrySize * t], TypeKey, TypeNameOffsets[t],
                          kHighBit | TypeDirOffsets[t]);
        if (TypeKey.fNamed)
            putName(Tree, TypeNameOffsets[t], TypeKey.strName);
        size_t cNamedNames = 0;
        for (size_t n = Types[t].iFirst; n < Types[t].iEnd; n++) {
            const ResourceKey &NameKey = Resources[Names[n].iFirst].Name;
            cNamedNames += NameKey.fNamed;
            putDirectoryEntry(&Tree[TypeDirOffsets[t] + kDirHeaderSize + kDirEntrySize * (n - Types[t].iFirst)],
                              NameKey, NameNameOffsets[n], kHighBit | NameDirOffsets[n]);
            if (NameKey.fNamed)
                putName(Tree, NameNameOffsets[n], NameKey.strName);
            for (size_t i = Names[n].iFirst; i < Names[n].iEnd; i++)
                putDirectoryEntry(&Tree[NameDirOffsets[n] + kDirHeaderSize + kDirEntrySize * (i - Names[n].iFirst)],
                                  ResourceKey::id(Resources[i].uLanguage), 0,
                                  (uint32_t)(offDataEntries + kDataEntrySize * i));
            putDirectoryHeader(&Tree[NameDirOffsets[n]], 0, Names[n].iEnd - Names[n].iFirst);
        }
        putDirectoryHeader(&Tree[TypeDirOffsets[t]], cNamedNames, Types[t].iEnd - Types[t].iFirst);
    }
    putDirectoryHeader(&Tree[0], cNamedTypes, Types.size());

    ResourceSection Section;
    for (size_t i = 0; i < Resources.size(); i++) {
        uint8_t *pbEntry = &Tree[offDataEntries + kDataEntrySize * i];
        putU32(pbEntry, uSectionVA + (uint32_t)DataOffsets[i]);
        putU32(pbEntry + 4, Resources[i].cb);
        putU32(pbEntry + 8, Resources[i].uCodePage);
    }
    const uint32_t cbTree = (uint32_t)Tree.size();
    Section.pTree.reset(new MemorySource(std::move(Tree)));
    Section.Pieces.push_back({Section.pTree.get(), 0, cbTree, 0, "the resource directory"});
    for (size_t i = 0; i < Resources.size(); i++)
        Section.Pieces.push_back(
            {Resources[i].pSrc, Resources[i].offSrc, Resources[i].cb, (uint32_t)DataOffsets[i], Resources[i].strWhat});
    Section.cb = (uint32_t)std::max<uint64_t>(off, cbTree);
    *pSection = std::move(Section);
    return 0;
}
