// The resource tree: a new section laid out in the platform's lookup order and read back
// the same by the packer and by the independent walker; duplicates and damaged trees.
#include "packer-test.h"

using packertest::u32;

namespace {

struct Stub {
    std::unique_ptr<FileSource> pSource;
    PeImage Image;
    std::vector<Resource> Resources;

    explicit Stub(const char *pszFixture) {
        std::string strWhy;
        EXPECT_EQ(FileSource::open(fixturePath(pszFixture), &pSource), 0);
        EXPECT_EQ(PeReadImage(*pSource, &Image, &strWhy, PeReadPurpose::Rewrite), 0) << strWhy;
        EXPECT_EQ(PeReadResources(*pSource, Image, &Resources, &strWhy), 0) << strWhy;
    }
};

/** Resource data of its own, owned by the test. */
struct Data {
    std::vector<std::unique_ptr<MemorySource>> Sources;
    Resource make(ResourceKey Type, ResourceKey Name, uint16_t uLanguage, const std::string &strBytes) {
        Sources.emplace_back(new MemorySource(std::vector<uint8_t>(strBytes.begin(), strBytes.end())));
        Resource Res;
        Res.Type = std::move(Type);
        Res.Name = std::move(Name);
        Res.uLanguage = uLanguage;
        Res.pSrc = Sources.back().get();
        Res.cb = (uint32_t)strBytes.size();
        Res.strWhat = "test data";
        return Res;
    }
};

std::string write(Stub &S, std::vector<Resource> Resources, int rcExpected = 0, std::string *pstrWhy = nullptr) {
    MemorySink Out;
    std::string strWhy;
    EXPECT_EQ(PeWriteWithResources(*S.pSource, S.Image, std::move(Resources), Out, &strWhy), rcExpected) << strWhy;
    if (pstrWhy)
        *pstrWhy = strWhy;
    return std::string(Out.Bytes.begin(), Out.Bytes.end());
}

} // namespace

TEST(PeResources, LayoutInLookupOrder) {
    Stub S("reloc.exe");
    const uint32_t cbRelocDir = S.Image.dirSize(PE_DIR_BASERELOC);
    Data D;
    std::vector<Resource> Resources = S.Resources;
    const ResourceKey Rcdata = ResourceKey::id(RES_TYPE_RCDATA);
    Resources.push_back(D.make(ResourceKey::name("ZTYPE"), ResourceKey::id(1), 0, "named type"));
    for (const char *pszName : {"BIN_9", "B", "BIN_10", "AB", "A"})
        Resources.push_back(D.make(Rcdata, ResourceKey::name(pszName), 0, std::string("data of ") + pszName));
    Resources.push_back(D.make(Rcdata, ResourceKey::id(7), 0, "seven"));
    Resources.push_back(D.make(Rcdata, ResourceKey::id(2), 0x409, "two, English"));
    Resources.push_back(D.make(Rcdata, ResourceKey::id(2), 0, "two, neutral"));
    Resources.push_back(D.make(Rcdata, ResourceKey::name("EMPTY"), 0, ""));
    const std::string strImage = write(S, Resources);

    const std::vector<CheckedResource> Found = checkPackedImage(strImage, cbRelocDir);
    std::vector<std::string> Order;
    for (const CheckedResource &Res : Found)
        Order.push_back(Res.strType + "/" + Res.strName + "/" + std::to_string(Res.uLanguage));
    const std::vector<std::string> Expected = {
        "ZTYPE/#1/0",  "#3/#1/0",     "#3/#2/0",  "#3/#3/0",     "#10/A/0",  "#10/AB/0", "#10/B/0",  "#10/BIN_10/0",
        "#10/BIN_9/0", "#10/EMPTY/0", "#10/#2/0", "#10/#2/1033", "#10/#7/0", "#14/#1/0", "#16/#1/0", "#24/#1/0"};
    EXPECT_EQ(Order, Expected);
    EXPECT_EQ(resourceData(Found, "#10", "BIN_10"), "data of BIN_10");
    EXPECT_EQ(resourceData(Found, "#10", "EMPTY"), "");
    EXPECT_EQ(resourceData(Found, "ZTYPE", "#1"), "named type");
    // The stub's own resources keep their bytes.
    for (const Resource &Res : S.Resources) {
        std::string strBytes(Res.cb, '\0');
        ASSERT_EQ(Res.pSrc->read(Res.offSrc, strBytes.data(), Res.cb), 0);
        EXPECT_EQ(resourceData(Found, Res.Type.display(), Res.Name.display()), strBytes);
    }

    // The packer's reader sees the same, and writing what it read gives the same bytes.
    Stub Again("reloc.exe");
    MemorySource Written(std::vector<uint8_t>(strImage.begin(), strImage.end()));
    std::string strWhy;
    ASSERT_EQ(PeReadImage(Written, &Again.Image, &strWhy, PeReadPurpose::Rewrite), 0) << strWhy;
    std::vector<Resource> ReadBack;
    ASSERT_EQ(PeReadResources(Written, Again.Image, &ReadBack, &strWhy), 0) << strWhy;
    ASSERT_EQ(ReadBack.size(), Found.size());
    MemorySink Out;
    ASSERT_EQ(PeWriteWithResources(Written, Again.Image, ReadBack, Out, &strWhy), 0) << strWhy;
    EXPECT_TRUE(std::string(Out.Bytes.begin(), Out.Bytes.end()) == strImage);
}

TEST(PeResources, DuplicatesAreRefused) {
    Stub S("noreloc.exe");
    Data D;
    std::vector<Resource> Resources = S.Resources;
    Resources.push_back(D.make(ResourceKey::id(RES_TYPE_RCDATA), ResourceKey::name("BIN_00"), 0, "one"));
    Resources.push_back(D.make(ResourceKey::id(RES_TYPE_RCDATA), ResourceKey::name("BIN_00"), 0, "two"));
    std::string strWhy;
    write(S, Resources, ERR_ALREADY_EXISTS, &strWhy);
    EXPECT_EQ(strWhy, "two resources are named BIN_00 (type #10)");
}

TEST(PeResources, DamagedTreesAreRefused) {
    // One resource in a tree of known shape: root (0), type directory (24), name
    // directory (48), the name "A" (72), the data entry (80), the data (96).
    Stub S("noreloc.exe");
    Data D;
    const std::string strImage = write(S, {D.make(ResourceKey::id(RES_TYPE_RCDATA), ResourceKey::name("A"), 0, "x")});
    const uint32_t offTree = S.Image.rsrc().offRaw;
    ASSERT_EQ(u32(strImage, offTree + 20), 0x80000000u | 24);
    ASSERT_EQ(u32(strImage, offTree + 24 + 16), 0x80000000u | 72);
    ASSERT_EQ(u32(strImage, offTree + 48 + 20), 80u);
    struct Case {
        uint32_t off;
        uint32_t uValue;
        const char *pszWhy;
    };
    const Case aCases[] = {
        {20, 0x80000000, "a directory is used twice"},
        {20, 24, "the levels are mixed up"},
        {48 + 20, 0x80000000 | 48, "the levels are mixed up"},
        {48 + 16, 0x80000000 | 72, "a named language"},
        {24 + 16, 0x80000000 | 0x7ffffff0, "an offset outside the section"},
        {16, 0x10000, "an identifier above 65535"},
        {80, S.Image.rsrc().uVirtualAddress + 0x100000, "data outside the section"},
        {84, 0x7fffffff, "data outside the section"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhy);
        std::string strBytes = strImage;
        for (int i = 0; i < 4; i++)
            strBytes[offTree + c.off + i] = (char)(c.uValue >> (8 * i));
        MemorySource Src(std::vector<uint8_t>(strBytes.begin(), strBytes.end()));
        PeImage Image;
        std::vector<Resource> Resources;
        std::string strWhy;
        ASSERT_EQ(PeReadImage(Src, &Image, &strWhy, PeReadPurpose::Inspect), 0) << strWhy;
        EXPECT_EQ(PeReadResources(Src, Image, &Resources, &strWhy), ERR_BAD_EXE_FORMAT);
        EXPECT_EQ(strWhy, std::string("has a damaged resource directory (") + c.pszWhy + ")");
    }
}

TEST(PeResources, EntryCountsFitTheirFields) {
    // A directory counts its entries in 16 bits: one name can have 65535 languages, not
    // every one of the 65536 (a damaged stub's tree can list them under two entries of
    // the same name).
    Stub S("noreloc.exe");
    Data D;
    const Resource One = D.make(ResourceKey::id(RES_TYPE_RCDATA), ResourceKey::name("MANY"), 0, "x");
    std::vector<Resource> Resources(65535, One);
    for (size_t i = 0; i < Resources.size(); i++)
        Resources[i].uLanguage = (uint16_t)i;
    const std::string strImage = write(S, Resources);
    MemorySource Written(std::vector<uint8_t>(strImage.begin(), strImage.end()));
    PeImage Image;
    std::vector<Resource> ReadBack;
    std::string strWhy;
    ASSERT_EQ(PeReadImage(Written, &Image, &strWhy, PeReadPurpose::Rewrite), 0) << strWhy;
    ASSERT_EQ(PeReadResources(Written, Image, &ReadBack, &strWhy), 0) << strWhy;
    EXPECT_EQ(ReadBack.size(), 65535u);

    Resources.push_back(One);
    Resources.back().uLanguage = 65535;
    write(S, Resources, ERR_OUT_OF_RANGE, &strWhy);
    EXPECT_EQ(strWhy, "a resource has too many languages");
}
