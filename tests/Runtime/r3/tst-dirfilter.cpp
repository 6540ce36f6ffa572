#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/string.h>

#include "r3/internal-dir.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

/** A handle with a compiled filter and no native side. */
struct FilterHandle {
    DirHandle *pDir = nullptr;
    explicit FilterHandle(const std::string &strFilter) {
        EXPECT_EQ(rtDirAllocHandle(&pDir, "/d/", 3, strFilter.c_str(), strFilter.size(), RTDIRFILTER_WINNT, 0, true),
                  0);
    }
    ~FilterHandle() {
        if (pDir)
            rtDirFreeHandle(pDir);
    }
    bool match(const std::string &strName) const {
        return !pDir->filterMatch || pDir->filterMatch(pDir, strName.c_str());
    }
};

std::string utf8(RTUNICP uc) {
    char sz[8];
    *RTStrPutCp(sz, uc) = '\0';
    return sz;
}

} // namespace

TEST(DirFilter, Matching) {
    struct Case {
        const char *pszFilter;
        const char *pszName;
        bool fMatch;
    };
    const Case aCases[] = {
        // Plain text: exact matcher, case-insensitive through the folding.
        {"readme.txt", "README.TXT", true},
        {"readme.txt", "readme.txt", true},
        {"readme.txt", "readme.tx", false},
        {"readme.txt", "readme.txt2", false},
        {"readme.txt", "", false},
        {"stra\xc3\x9f"
         "e",
         "STRASSE", false},                     // no one-to-many folding
        {"\xc3\xa4rger", "\xc3\x84RGER", true}, // U+00E4 folds to U+00C4
        // Stars and question marks.
        {"a*b?", "AXYBZ", true},
        {"a*b?", "axybz", true},
        {"a*b?", "AB", false},
        {"a*b?", "ABZ", true},
        {"*", "anything at all", true},
        {"*", "", true},
        {"*.txt", "readme.txt", true},
        {"*.txt", "readme.txt.bak", false},
        {"*.txt", ".txt", true},
        {"*.txt", "a.txt.txt", true},
        {"***x", "abcx", true},
        {"*?", "", false},
        {"*?", "a", true},
        {"*??", "a", false},
        {"*?*?", "ab", true},
        {"*?*?", "a", false},
        {"?", "", false},
        {"?", "a", true},
        {"?", "ab", false},
        {"??", "\xe4\xb8\x80\xe4\xb8\x81", true}, // two three-byte characters are two characters
        {"a?c", "a.c", true},
        // Less-than: up to the last dot, else a star.
        {"a<", "ab.c.", true},
        {"a<", "ab.c", false},
        {"a<", "abc", true},
        {"<.txt", "a.b.txt", true},
        {"<.txt", "a.txt", true},
        {"<.txt", "atxt", false},
        {"<\".", "x.y", true}, // what "*.*" is turned into: everything
        {"<\".", "", true},
        {"<b", "a.b", true},
        {"<b", "ab.b", true},
        // Greater-than: one character, nothing at a dot or the end.
        {"a>>", "A", true},
        {"a>>", "AB", true},
        {"a>>", "ABC", true},
        {"a>>", "ABCD", false},
        {"a>>.c", "A.C", true},
        {"a>>.c", "AB.C", true},
        {"a>>.c", "ABC.C", true},
        {"a>>.c", "ABCD.C", false},
        {"a>\"c", "A.C", true},
        {"a>", "A.", false},
        {">", "", true},
        // Double quote: a dot, or nothing at the end.
        {"a\"b", "A.B", true},
        {"a\"b", "AB", false},
        {"a\"", "A", true},
        {"a\"", "A.", true},
        {"a\"", "AB", false},
        // At the end of the name only these may remain.
        {"a*<>\"", "a", true},
        {"a*?", "a", false},
        {"ab", "a", false},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "filter '" << c.pszFilter << "' name '" << c.pszName << "'");
        FilterHandle H(c.pszFilter);
        ASSERT_NE(H.pDir, nullptr);
        EXPECT_EQ(H.match(c.pszName), c.fMatch);
    }
}

TEST(DirFilter, Compilation) {
    struct Case {
        const char *pszFilter;
        PFNRTDIRFILTER pfn;
        std::vector<RTUNICP> vecCps;
    };
    const Case aCases[] = {
        {"*", nullptr, {'*'}},
        {"<\".", nullptr, {'<', '"', '.'}},
        {"*.txt", rtDirFilterMatchWild, {'*', '.', 'T', 'X', 'T'}},
        {"a***b**", rtDirFilterMatchWild, {'A', '*', 'B', '*'}},
        {"**", rtDirFilterMatchWild, {'*'}},
        {"name.ext", rtDirFilterMatchExact, {'N', 'A', 'M', 'E', '.', 'E', 'X', 'T'}},
        {"a?", rtDirFilterMatchWild, {'A', '?'}},
        {"a<", rtDirFilterMatchWild, {'A', '<'}},
        {"a>", rtDirFilterMatchWild, {'A', '>'}},
        {"a\"", rtDirFilterMatchWild, {'A', '"'}},
        {"\xc3\xbf", rtDirFilterMatchExact, {0x178}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszFilter);
        FilterHandle H(c.pszFilter);
        ASSERT_NE(H.pDir, nullptr);
        EXPECT_EQ(H.pDir->filterMatch, c.pfn);
        EXPECT_EQ(H.pDir->filterKind, RTDIRFILTER_WINNT);
        ASSERT_EQ(H.pDir->filterCodePointCount, c.vecCps.size());
        EXPECT_EQ(std::vector<RTUNICP>(H.pDir->filterCodePoints, H.pDir->filterCodePoints + c.vecCps.size()), c.vecCps);
        EXPECT_EQ(H.pDir->filterCodePoints[c.vecCps.size()], 0u);
        EXPECT_STREQ(H.pDir->filterText, c.pszFilter);
        EXPECT_EQ(H.pDir->filterLength, strlen(c.pszFilter));
    }
}

TEST(DirFilter, HandleLayout) {
    DirHandle *pDir = nullptr;
    ASSERT_EQ(rtDirAllocHandle(&pDir, "/some/dir/", 10, "*.TxT", 5, RTDIRFILTER_WINNT, 0x4, true), 0);
    EXPECT_EQ(pDir->magic, RTDIR_MAGIC);
    EXPECT_EQ(pDir->nativeSize, sizeof(DirHandle));
    EXPECT_EQ(pDir->openFlags, 0x4u);
    EXPECT_TRUE(pDir->endsWithSlash);
    EXPECT_FALSE(pDir->dataUnread);
    EXPECT_EQ(pDir->hNative, RTDIR_NATIVE_INVALID);
    EXPECT_EQ(pDir->entryName, nullptr);
    // The variable data follows the fixed part: code points, filter text, path.
    EXPECT_EQ((void *)pDir->filterCodePoints, (void *)(pDir + 1));
    EXPECT_EQ((void *)pDir->filterText, (void *)(pDir->filterCodePoints + 6));
    EXPECT_EQ(pDir->path, pDir->filterText + 6);
    EXPECT_STREQ(pDir->path, "/some/dir/");
    EXPECT_EQ(pDir->pathLength, 10u);
    rtDirFreeHandle(pDir);

    // Without a filter (or with kind "none") nothing of it is kept.
    ASSERT_EQ(rtDirAllocHandle(&pDir, "/d/", 3, "x*", 2, RTDIRFILTER_NONE, 0, false), 0);
    EXPECT_EQ(pDir->filterKind, RTDIRFILTER_NONE);
    EXPECT_EQ(pDir->filterMatch, nullptr);
    EXPECT_EQ(pDir->filterCodePoints, nullptr);
    EXPECT_EQ(pDir->filterText, nullptr);
    EXPECT_EQ(pDir->path, (char *)(pDir + 1));
    rtDirFreeHandle(pDir);
}

TEST(DirFilter, BadInput) {
    size_t const cBefore = RTMemTestOutstanding();
    DirHandle *pDir = (DirHandle *)(uintptr_t)1;
    // A filter that is not UTF-8 is refused before anything is allocated.
    EXPECT_EQ(rtDirAllocHandle(&pDir, "/d/", 3, "a\xff", 2, RTDIRFILTER_WINNT, 0, true), ERR_INVALID_UTF8_ENCODING);
    EXPECT_EQ(pDir, nullptr);
    RTMemTestFailNth(1);
    EXPECT_EQ(rtDirAllocHandle(&pDir, "/d/", 3, "a*", 2, RTDIRFILTER_WINNT, 0, true), ERR_NO_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);

    // Names that are not UTF-8 never match, even where a star would take anything.
    for (const char *pszFilter : {"a*", "a\xc3\xbf", "*"}) {
        SCOPED_TRACE(pszFilter);
        FilterHandle H(pszFilter);
        if (!H.pDir->filterMatch)
            continue; // "*" does not look at names at all
        EXPECT_FALSE(H.pDir->filterMatch(H.pDir, "a\xff"));
        EXPECT_FALSE(H.pDir->filterMatch(H.pDir, "a\xc3"));
    }
}

TEST(DirFilter, RecursionLimit) {
    // "*c1*c2...*cN" against "c1c2...cN" with distinct characters needs exactly N
    // nested levels; beyond the limit the filter does not match.
    for (unsigned cStars : {255u, 256u, 257u, 400u}) {
        SCOPED_TRACE(cStars);
        std::string strFilter, strName;
        for (unsigned i = 0; i < cStars; i++) {
            strFilter += "*" + utf8(0x4E00 + i);
            strName += utf8(0x4E00 + i);
        }
        FilterHandle H(strFilter);
        EXPECT_EQ(H.match(strName), cStars <= RTDIR_FILTER_MAX_DEPTH);
    }
    // Many stars before a character the name lacks finish quickly.
    FilterHandle H("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b");
    EXPECT_FALSE(H.match(std::string(200, 'a')));
}

namespace {

/** The matching rules written out plainly, trying every split (small inputs only). */
bool refMatch(const std::string &f, size_t i, const std::string &n, size_t j) {
    if (j == n.size()) {
        for (; i < f.size(); i++)
            if (f[i] != '"' && f[i] != '*' && f[i] != '<' && f[i] != '>')
                return false;
        return true;
    }
    if (i == f.size())
        return false;
    switch (f[i]) {
    case '?':
        return refMatch(f, i + 1, n, j + 1);
    case '*':
        for (size_t k = j; k <= n.size(); k++)
            if (refMatch(f, i + 1, n, k))
                return true;
        return false;
    case '<': {
        size_t const offDot = n.rfind('.');
        size_t const kMax = offDot == std::string::npos || offDot < j ? n.size() : offDot + 1;
        for (size_t k = j; k <= kMax; k++)
            if (refMatch(f, i + 1, n, k))
                return true;
        return false;
    }
    case '>':
        if (n[j] != '.')
            return refMatch(f, i + 1, n, j + 1);
        while (i < f.size() && (f[i] == '>' || f[i] == '<'))
            i++;
        if (i < f.size() && (f[i] == '"' || f[i] == '.'))
            return refMatch(f, i + 1, n, j + 1);
        return refMatch(f, i, n, j);
    case '"':
        return n[j] == '.' && refMatch(f, i + 1, n, j + 1);
    default:
        return f[i] == n[j] && refMatch(f, i + 1, n, j + 1);
    }
}

} // namespace

TEST(DirFilter, AgreesWithPlainRulesOnRandomInput) {
    // Small random filters and names over a tiny alphabet reach every interplay of
    // the special characters, including the cut-offs the matcher takes.
    static const char s_szFilterChars[] = "AB.*?<>\"";
    static const char s_szNameChars[] = "AB.";
    uint32_t uSeed = 12345;
    auto next = [&uSeed](uint32_t uMod) {
        uSeed = uSeed * 1103515245 + 12345;
        return (uSeed >> 16) % uMod;
    };
    for (int iCase = 0; iCase < 20000; iCase++) {
        std::string strFilter, strName;
        for (uint32_t i = 0, c = 1 + next(7); i < c; i++)
            strFilter += s_szFilterChars[next(sizeof(s_szFilterChars) - 1)];
        for (uint32_t i = 0, c = next(8); i < c; i++)
            strName += s_szNameChars[next(sizeof(s_szNameChars) - 1)];
        FilterHandle H(strFilter);
        ASSERT_NE(H.pDir, nullptr);
        // Runs of stars are merged in the handle; the reference sees the same text.
        std::string strMerged;
        for (char ch : strFilter)
            if (ch != '*' || strMerged.empty() || strMerged.back() != '*')
                strMerged += ch;
        bool const fExpect = !H.pDir->filterMatch || refMatch(strMerged, 0, strName, 0);
        ASSERT_EQ(H.match(strName), fExpect) << "filter '" << strFilter << "' name '" << strName << "'";
    }
}

TEST(DirFilter, UpperCaseFolding) {
    struct Case {
        RTUNICP uc, ucUpper;
    };
    const Case aCases[] = {
        {'a', 'A'},
        {'z', 'Z'},
        {'A', 'A'},
        {'.', '.'},
        {0xE4, 0xC4},
        {0xDF, 0xDF},
        {0xFF, 0x178},
        {0x131, 'I'},
        {0x17F, 'S'},
        {0x345, 0x399},
        {0x3C2, 0x3A3},
        {0x450, 0x400},
        {0x586, 0x556},
        {0x265, 0xA78D},
        {0x266, 0xA7AA},
        {0x1D79, 0xA77D},
        {0x1F80, 0x1F88},
        {0x24D0, 0x24B6},
        {0x2C30, 0x2C00},
        {0x2D27, 0x10C7},
        {0xA641, 0xA640},
        {0xA7A9, 0xA7A8},
        {0xFF41, 0xFF21},
        {0xFF5A, 0xFF3A},
        {0x10428, 0x10400},
        {0x1044F, 0x10427},
        // Outside the folded ranges, or mapped only by later Unicode versions.
        {0x3F3, 0x3F3},
        {0x10D0, 0x10D0},
        {0x13F8, 0x13F8},
        {0x1D8E, 0x1D8E},
        {0xA794, 0xA794},
        {0x2D2E, 0x2D2E},
        {0xFF5B, 0xFF5B},
        {0x10450, 0x10450},
        {0x118C0, 0x118C0},
        {0x29E, 0x29E},
        // Around the runs the table is kept in: just before and after one, the last member
        // of one that takes every other code point, and the code points between its members.
        {0x60, 0x60},
        {0x7B, 0x7B},
        {0x100, 0x100},
        {0x101, 0x100},
        {0x12E, 0x12E},
        {0x12F, 0x12E},
        {0x130, 0x130},
        {0x10FFFF, 0x10FFFF},
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.uc);
        EXPECT_EQ(rtDirUpperCp(c.uc), c.ucUpper);
    }
}
