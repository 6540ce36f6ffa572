// Parser and reassembler of both path styles.
#include <gtest/gtest.h>
#include <olma/path.h>
#include <string>
#include <vector>

namespace {

constexpr uint16_t ABS = PATH_PROP_ABSOLUTE, REL = PATH_PROP_RELATIVE, VOL = PATH_PROP_VOLUME,
                   RSL = PATH_PROP_ROOT_SLASH, UNC = PATH_PROP_UNC, SUNC = PATH_PROP_SPECIAL_UNC,
                   FN = PATH_PROP_FILENAME, DSL = PATH_PROP_DIR_SLASH, SUF = PATH_PROP_SUFFIX,
                   XSL = PATH_PROP_EXTRA_SLASHES, DOT = PATH_PROP_DOT_REFS, DOTDOT = PATH_PROP_DOTDOT_REFS;

union Record {
    ParsedPath Parsed;
    uint8_t ab[PARSEDPATH_SIZE(64)];
};

std::vector<std::string> components(const char *pszPath, const ParsedPath &Parsed) {
    std::vector<std::string> v;
    for (unsigned i = 0; i < Parsed.componentCount; i++)
        v.emplace_back(pszPath + Parsed.components[i].offset, Parsed.components[i].length);
    return v;
}

TEST(PathParse, Table) {
    struct Case {
        const char *pszPath;
        uint32_t fFlags;
        uint16_t fProps;
        uint16_t cchPath;
        uint16_t offSuffix; // ignored unless SUF is set
        uint16_t cchSuffix;
        std::vector<std::string> Comps;
    };
    const Case aCases[] = {
        {"C:\\a\\b.txt", PATH_STYLE_DOS, ABS | VOL | RSL | FN | SUF, 10, 6, 4, {"C:\\", "a", "b.txt"}},
        {"a//b/", PATH_STYLE_DOS, REL | XSL | DSL, 4, 0, 0, {"a", "b"}},
        {"a//b/", PATH_STYLE_DOS | PATH_PARSE_NO_END, REL | XSL, 3, 0, 0, {"a", "b"}},
        {"a/b//", PATH_STYLE_DOS | PATH_PARSE_NO_END, REL | XSL, 3, 0, 0, {"a", "b"}},
        {"a/b.c", PATH_STYLE_DOS | PATH_PARSE_NO_END, REL | FN, 5, 0, 0, {"a", "b.c"}},
        {"\\\\srv\\share\\x", PATH_STYLE_DOS, ABS | UNC | RSL | FN, 13, 0, 0, {"\\\\srv\\", "share", "x"}},
        {"//srv", PATH_STYLE_DOS, ABS | UNC, 5, 0, 0, {"//srv"}},
        {"\\\\.\\pipe\\x", PATH_STYLE_DOS, ABS | UNC | SUNC | RSL | FN, 10, 0, 0, {"\\\\.\\", "pipe", "x"}},
        {"\\\\?\\C:\\x", PATH_STYLE_DOS, ABS | UNC | SUNC | RSL | FN, 8, 0, 0, {"\\\\?\\", "C:", "x"}},
        {"\\\\..\\x", PATH_STYLE_DOS, ABS | UNC | RSL | FN, 6, 0, 0, {"\\\\..\\", "x"}},
        {"C:file.c", PATH_STYLE_DOS, REL | VOL | FN | SUF, 8, 6, 2, {"C:", "file.c"}},
        {"\\dir\\..\\x", PATH_STYLE_DOS, REL | RSL | DOTDOT | FN, 9, 0, 0, {"\\", "dir", "..", "x"}},
        {"C:\\a\\..", PATH_STYLE_DOS, REL | VOL | RSL | DOTDOT | FN, 7, 0, 0, {"C:\\", "a", ".."}},
        {"C:\\\\a", PATH_STYLE_DOS, ABS | VOL | RSL | XSL | FN, 4, 0, 0, {"C:\\", "a"}},
        {"C:\\", PATH_STYLE_DOS, ABS | VOL | RSL, 3, 0, 0, {"C:\\"}},
        {".\\x/", PATH_STYLE_DOS, REL | DOT | DSL, 4, 0, 0, {".", "x"}},
        {"//x", PATH_STYLE_DOS | PATH_PARSE_NO_START, REL | XSL | FN, 1, 0, 0, {"x"}},
        {".profile", PATH_STYLE_DOS, REL | FN, 8, 0, 0, {".profile"}},
        {"a.b.", PATH_STYLE_DOS, REL | FN, 4, 0, 0, {"a.b."}},
        {"x.tar.gz", PATH_STYLE_DOS, REL | FN | SUF, 8, 5, 3, {"x.tar.gz"}},
        {"1:x", PATH_STYLE_DOS, REL | FN, 3, 0, 0, {"1:x"}},
        // UNIX style: only '/', no drives, no UNC.
        {"/a/b", PATH_STYLE_UNIX, ABS | RSL | FN, 4, 0, 0, {"/", "a", "b"}},
        {"//a", PATH_STYLE_UNIX, ABS | RSL | XSL | FN, 2, 0, 0, {"/", "a"}},
        {"/", PATH_STYLE_UNIX, ABS | RSL, 1, 0, 0, {"/"}},
        {"/a/../b", PATH_STYLE_UNIX, REL | RSL | DOTDOT | FN, 7, 0, 0, {"/", "a", "..", "b"}},
        {"C:\\x.y", PATH_STYLE_UNIX, REL | FN | SUF, 6, 4, 2, {"C:\\x.y"}},
        {"a\\b/", PATH_STYLE_UNIX, REL | DSL, 4, 0, 0, {"a\\b"}},
        {"//a", PATH_STYLE_UNIX | PATH_PARSE_NO_START, REL | XSL | FN, 1, 0, 0, {"a"}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "path '" << c.pszPath << "' flags " << c.fFlags);
        Record Rec;
        memset(&Rec, 0xcc, sizeof(Rec));
        ASSERT_EQ(RTPathParse(c.pszPath, &Rec.Parsed, sizeof(Rec), c.fFlags), 0);
        EXPECT_EQ(Rec.Parsed.properties, c.fProps);
        EXPECT_EQ(Rec.Parsed.pathLength, c.cchPath);
        EXPECT_EQ(components(c.pszPath, Rec.Parsed), c.Comps);
        if (c.fProps & SUF) {
            EXPECT_EQ(Rec.Parsed.suffixOffset, c.offSuffix);
            EXPECT_EQ(Rec.Parsed.suffixLength, c.cchSuffix);
        } else {
            EXPECT_EQ(Rec.Parsed.suffixOffset, strlen(c.pszPath));
            EXPECT_EQ(Rec.Parsed.suffixLength, 0);
        }
    }
}

TEST(PathParse, HostStyle) {
    Record Rec;
    ASSERT_EQ(RTPathParse("C:\\x", &Rec.Parsed, sizeof(Rec), PATH_STYLE_HOST), 0);
#if defined(_WIN32)
    EXPECT_EQ(Rec.Parsed.componentCount, 2);
    EXPECT_EQ(Rec.Parsed.properties, ABS | VOL | RSL | FN);
#else
    EXPECT_EQ(Rec.Parsed.componentCount, 1);
    EXPECT_EQ(Rec.Parsed.properties, REL | FN);
#endif
}

TEST(PathParse, BadInput) {
    Record Rec;
    struct Case {
        const char *pszPath;
        ParsedPath *pParsed;
        size_t cb;
        uint32_t fFlags;
        int rc;
    };
    const Case aCases[] = {
        {"a", &Rec.Parsed, 11, 0, ERR_INVALID_PARAMETER},
        {nullptr, &Rec.Parsed, 11, 0x1000, ERR_INVALID_PARAMETER}, // size is checked first
        {nullptr, &Rec.Parsed, sizeof(Rec), 0, ERR_INVALID_POINTER},
        {(const char *)0xfff, &Rec.Parsed, sizeof(Rec), 0, ERR_INVALID_POINTER},
        {(const char *)(uintptr_t)-16, &Rec.Parsed, sizeof(Rec), 0, ERR_INVALID_POINTER},
        {"a", (ParsedPath *)0x10, sizeof(Rec), 0, ERR_INVALID_POINTER},
        {"", &Rec.Parsed, sizeof(Rec), 0x1000, ERR_PATH_ZERO_LENGTH}, // before the flags
        {"a", &Rec.Parsed, sizeof(Rec), 3, ERR_INVALID_FLAGS},
        {"a", &Rec.Parsed, sizeof(Rec), 0x40, ERR_INVALID_FLAGS},
        {"a", &Rec.Parsed, sizeof(Rec), 0x10000, ERR_INVALID_FLAGS},
        {"\\\\", &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS | PATH_PARSE_NO_START, ERR_PATH_ZERO_LENGTH},
        {"///", &Rec.Parsed, sizeof(Rec), PATH_STYLE_UNIX | PATH_PARSE_NO_START, ERR_PATH_ZERO_LENGTH},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        EXPECT_EQ(RTPathParse(c.pszPath, c.pParsed, c.cb, c.fFlags), c.rc);
    }
}

TEST(PathParse, LengthLimit) {
    Record Rec;
    // One component of 65535 bytes still fits the 16-bit fields; one byte more does not.
    std::string str(65535, 'a');
    ASSERT_EQ(RTPathParse(str.c_str(), &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS), 0);
    EXPECT_EQ(Rec.Parsed.pathLength, 65535);
    EXPECT_EQ(Rec.Parsed.components[0].length, 65535);
    str += 'a';
    EXPECT_EQ(RTPathParse(str.c_str(), &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS), ERR_FILENAME_TOO_LONG);
    std::string strDeep = "C:";
    while (strDeep.size() <= 65535)
        strDeep += "\\a";
    EXPECT_EQ(RTPathParse(strDeep.c_str(), &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS), ERR_FILENAME_TOO_LONG);
}

TEST(PathParse, ArrayTooSmall) {
    // The header is complete so that the caller can size a second record.
    union {
        ParsedPath Parsed;
        uint8_t ab[PARSEDPATH_SIZE(2) + 3];
    } Small;
    memset(&Small, 0xcc, sizeof(Small));
    const char *pszPath = "C:\\a\\b\\c.d";
    ASSERT_EQ(RTPathParse(pszPath, &Small.Parsed, PARSEDPATH_SIZE(2) + 3, PATH_STYLE_DOS), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(Small.Parsed.componentCount, 4);
    EXPECT_EQ(Small.Parsed.pathLength, 10);
    EXPECT_EQ(Small.Parsed.properties, ABS | VOL | RSL | FN | SUF);
    EXPECT_EQ(Small.Parsed.suffixOffset, 8);
    EXPECT_EQ(Small.Parsed.components[1].offset, 3);
    // Nothing was written past the two entries the record holds.
    EXPECT_EQ(Small.ab[PARSEDPATH_SIZE(2)], 0xcc);

    // A record with only the header counts as well.
    ParsedPath Hdr;
    EXPECT_EQ(RTPathParse(pszPath, &Hdr, 12, PATH_STYLE_DOS), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(Hdr.componentCount, 4);
}

TEST(PathReassemble, Table) {
    struct Case {
        const char *pszPath;
        uint32_t fParse;
        uint32_t fStyle;
        const char *pszDrop; // components to zero, as indexes
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"c:/a//b/", PATH_STYLE_DOS, PATH_STYLE_DOS, "", "c:\\a\\b\\"},
        {"c:/a//b/", PATH_STYLE_DOS, PATH_STYLE_UNIX, "", "c:/a/b/"},
        {"//srv/share", PATH_STYLE_DOS, PATH_STYLE_DOS, "", "\\\\srv\\share"},
        {"a\\b\\c", PATH_STYLE_DOS, PATH_STYLE_DOS, "1", "a\\c"},
        {"a\\b\\c\\", PATH_STYLE_DOS, PATH_STYLE_DOS, "2", "a\\b\\"},
        {"a\\b\\", PATH_STYLE_DOS, PATH_STYLE_DOS, "01", ""},
        {"C:\\a\\", PATH_STYLE_DOS, PATH_STYLE_DOS, "1", "C:\\"},
        {"C:x", PATH_STYLE_DOS, PATH_STYLE_DOS, "", "C:x"},
        {"/a//b", PATH_STYLE_UNIX, PATH_STYLE_UNIX, "", "/a/b"},
        {"/a/b", PATH_STYLE_UNIX, PATH_STYLE_DOS, "", "\\a\\b"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "path '" << c.pszPath << "' style " << c.fStyle << " drop " << c.pszDrop);
        Record Rec;
        ASSERT_EQ(RTPathParse(c.pszPath, &Rec.Parsed, sizeof(Rec), c.fParse), 0);
        for (const char *p = c.pszDrop; *p; p++)
            Rec.Parsed.components[*p - '0'].length = 0;
        const size_t cchExpect = strlen(c.pszExpect);
        char szBuf[64];
        ASSERT_EQ(RTPathParsedReassemble(c.pszPath, &Rec.Parsed, c.fStyle, szBuf, sizeof(szBuf)), 0);
        EXPECT_STREQ(szBuf, c.pszExpect);
        EXPECT_EQ(Rec.Parsed.pathLength, cchExpect);
        // Exactly the result and its terminator fit; one byte less is an overflow that
        // leaves an empty string.
        memset(szBuf, 'x', sizeof(szBuf));
        ASSERT_EQ(RTPathParsedReassemble(c.pszPath, &Rec.Parsed, c.fStyle, szBuf, cchExpect + 1), 0);
        EXPECT_STREQ(szBuf, c.pszExpect);
        if (cchExpect) {
            memset(szBuf, 'x', sizeof(szBuf));
            EXPECT_EQ(RTPathParsedReassemble(c.pszPath, &Rec.Parsed, c.fStyle, szBuf, cchExpect), ERR_BUFFER_OVERFLOW);
            EXPECT_EQ(szBuf[0], '\0');
            EXPECT_EQ(szBuf[1], 'x');
        }
    }
}

TEST(PathReassemble, InPlace) {
    char szBuf[] = "C://a/./b//c";
    Record Rec;
    ASSERT_EQ(RTPathParse(szBuf, &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS), 0);
    Rec.Parsed.components[2].length = 0;
    ASSERT_EQ(RTPathParsedReassemble(szBuf, &Rec.Parsed, PATH_STYLE_DOS, szBuf, sizeof(szBuf)), 0);
    EXPECT_STREQ(szBuf, "C:\\a\\b\\c");
}

TEST(PathReassemble, BadInput) {
    Record Rec;
    ASSERT_EQ(RTPathParse("a\\b", &Rec.Parsed, sizeof(Rec), PATH_STYLE_DOS), 0);
    char szBuf[16];
    EXPECT_EQ(RTPathParsedReassemble(nullptr, &Rec.Parsed, 0, szBuf, sizeof(szBuf)), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathParsedReassemble("a\\b", nullptr, 0, szBuf, sizeof(szBuf)), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathParsedReassemble("a\\b", &Rec.Parsed, PATH_PARSE_NO_END, szBuf, sizeof(szBuf)), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathParsedReassemble("a\\b", &Rec.Parsed, 3, szBuf, sizeof(szBuf)), ERR_INVALID_FLAGS);
    // Flags are checked before the buffer pointer.
    EXPECT_EQ(RTPathParsedReassemble("a\\b", &Rec.Parsed, 3, nullptr, sizeof(szBuf)), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathParsedReassemble("a\\b", &Rec.Parsed, 0, (char *)0x800, sizeof(szBuf)), ERR_INVALID_POINTER);
    Rec.Parsed.componentCount = 0;
    EXPECT_EQ(RTPathParsedReassemble("a\\b", &Rec.Parsed, 3, szBuf, sizeof(szBuf)), ERR_INVALID_PARAMETER);
}

} // namespace
