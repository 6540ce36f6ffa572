// %R hex dumps (%Rhxd, %RhxD, %Rhxs and the %RhX forms with a shown address) and byte
// counts with units (%Rhc, %Rhu).
#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/string.h>
#include "strformat-helpers.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint8_t g_abAlpha[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G',  'H',  'I',  'J',  'K',  'L',  'M',  'N',
                                 'O', 'P', 'Q', 'R', 'S', 'T', 0x00, 0x1f, 0x20, 0x7e, 0x7f, 0x80, 0xff, '%'};

TEST(StrFormatRtHex, DumpLines) {
    struct Case {
        const char *pszFormat;
        uint64_t uAddr;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%RhXd", 0x10080000, "10080000/0000: 41 42 43 44 45 46 47 48-49 4a 4b 4c 4d 4e 4f 50 ABCDEFGHIJKLMNOP"},
        // Two lines; the second holds 4 bytes and 12 fillers of three blanks.
        {"%.20RhXd", 0x10080000,
         "10080000/0000: 41 42 43 44 45 46 47 48-49 4a 4b 4c 4d 4e 4f 50 ABCDEFGHIJKLMNOP\n"
         "10080010/0010: 51 52 53 54                                     QRST"},
        {"%.12RhXd", 0x10, "00000010/0000: 41 42 43 44 45 46 47 48-49 4a 4b 4c             ABCDEFGHIJKL"},
        {"%8.20RhXd", 0,
         "00000000/0000: 41 42 43 44 45 46 47 48 ABCDEFGH\n"
         "00000008/0008: 49 4a 4b 4c 4d 4e 4f 50 IJKLMNOP\n"
         "00000010/0010: 51 52 53 54             QRST"},
        // Wider lines mark every eighth column.
        {"%20.20RhXd", 0,
         "00000000/0000: 41 42 43 44 45 46 47 48-49 4a 4b 4c 4d 4e 4f 50-51 52 53 54 ABCDEFGHIJKLMNOPQRST"},
        {"%.8RhXd", 0x1234, "00001234/0000: 41 42 43 44 45 46 47 48                         ABCDEFGH"},
        {"%.0RhXd", 0x1234, ""},
        // 16 address digits once the shown address or the end of the dump passes 32 bits.
        {"%.4RhXd", 0xfffffffc, "fffffffc/0000: 41 42 43 44                                     ABCD"},
        {"%.4RhXd", 0xfffffffd, "00000000fffffffd/0000: 41 42 43 44                                     ABCD"},
        {"%.4RhXd", UINT64_C(0x100000000),
         "0000000100000000/0000: 41 42 43 44                                     ABCD"},
        {"%.4RhXs", UINT64_C(0x123456789a), "000000123456789a: 41 42 43 44"},
        // The string form: blank, ':' with "'", nothing with "#".
        {"%.4RhXs", 0x1000, "00001000: 41 42 43 44"},
        {"%'.4RhXs", 0x1000, "00001000: 41:42:43:44"},
        {"%#.4RhXs", 0x1000, "00001000: 41424344"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, g_abAlpha, c.uAddr), c.pszExpect);
    }

    // The remaining bytes of the test data: control characters, DEL, bytes above 0x7f.
    EXPECT_EQ(FmtAll("%.8RhXd", &g_abAlpha[20], UINT64_C(0)),
              "00000000/0000: 00 1f 20 7e 7f 80 ff 25                         .. ~...%");
}

TEST(StrFormatRtHex, DumpAtTheDataAddress) {
    // Without a shown address the data's own address is printed, with the width of a pointer.
    char szAddr[32];
    snprintf(szAddr, sizeof(szAddr), "%0*llx", (int)sizeof(void *) * 2, (unsigned long long)(uintptr_t)g_abAlpha);
    EXPECT_EQ(FmtAll("%.4Rhxd", g_abAlpha),
              std::string(szAddr) + "/0000: 41 42 43 44" + std::string(36, ' ') + " ABCD");
    EXPECT_EQ(FmtAll("%.4Rhxs", g_abAlpha), "41 42 43 44");
    EXPECT_EQ(FmtAll("%Rhxs", g_abAlpha), "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50");
}

TEST(StrFormatRtHex, NullDataAndArguments) {
    // A null pointer prints "<null>" and nothing else, and every argument of the
    // directive is still taken.
    EXPECT_EQ(FmtAll("%Rhxd|%d", (const void *)nullptr, 7), "<null>|7");
    EXPECT_EQ(FmtAll("%.32RhxD|%d", (const void *)nullptr, 7), "<null>|7");
    EXPECT_EQ(FmtAll("%RhXs|%d", (const void *)nullptr, UINT64_C(0x1234), 7), "<null>|7");
    EXPECT_EQ(FmtAll("%.2RhXs|%d", g_abAlpha, UINT64_C(0xffffffffffff), 7), "0000ffffffffffff: 41 42|7");
    // Pointers into the first page are not read either.
    EXPECT_EQ(FmtAll("%Rhxs|%d", (const void *)0x20, 7), "<null>|7");
}

TEST(StrFormatRtHex, DittoLines) {
    // Lines: A A A A B B C(short). Repeats of the line before collapse into one
    // marker line; the first and the last line always show.
    std::vector<uint8_t> vecData;
    for (char ch : std::string("AAAABBC"))
        vecData.insert(vecData.end(), ch == 'C' ? 5 : 16, (uint8_t)ch);
    const std::string strA = " 41 41 41 41 41 41 41 41-41 41 41 41 41 41 41 41 AAAAAAAAAAAAAAAA";
    const std::string strB = " 42 42 42 42 42 42 42 42-42 42 42 42 42 42 42 42 BBBBBBBBBBBBBBBB";
    const std::string strC = " 43 43 43 43 43" + std::string(33, ' ') + " CCCCC";
    EXPECT_EQ(FmtAll("%.*RhXD", (int)vecData.size(), vecData.data(), UINT64_C(0x2000)),
              "00002000/0000:" + strA + "\n******** ****  <ditto x 3>" + "\n00002040/0040:" + strB +
                  "\n******** ****  <ditto x 1>" + "\n00002060/0060:" + strC);

    // A run that reaches the last line: the last line is shown after the marker.
    const std::vector<uint8_t> vecSame(64, 'A');
    EXPECT_EQ(FmtAll("%.64RhXD", vecSame.data(), UINT64_C(0)),
              "00000000/0000:" + strA + "\n******** ****  <ditto x 2>" + "\n00000030/0030:" + strA);
    // Two equal lines: nothing to leave out.
    EXPECT_EQ(FmtAll("%.32RhXD", vecSame.data(), UINT64_C(0)), "00000000/0000:" + strA + "\n00000010/0010:" + strA);
    // The marker is as wide as the address.
    EXPECT_EQ(FmtAll("%.48RhXD", vecSame.data(), UINT64_C(0x100000000)), "0000000100000000/0000:" + strA +
                                                                             "\n**************** ****  <ditto x 1>" +
                                                                             "\n0000000100000020/0020:" + strA);
    // The plain dump shows every line.
    EXPECT_EQ(FmtAll("%.48RhXd", vecSame.data(), UINT64_C(0)),
              "00000000/0000:" + strA + "\n00000010/0010:" + strA + "\n00000020/0020:" + strA);
}

TEST(StrFormatRtHex, LongDumpIntoNewMemory) {
    // Far more than the 2 KiB the allocating formatter starts with.
    std::vector<uint8_t> vecData(1024);
    for (size_t i = 0; i < vecData.size(); i++)
        vecData[i] = (uint8_t)i;
    char *psz = nullptr;
    const int cch = RTStrAPrintf(&psz, "%.1024RhXd", vecData.data(), UINT64_C(0x40000000));
    ASSERT_NE(psz, nullptr);
    const std::string str(psz);
    RTStrFree(psz);
    EXPECT_EQ((size_t)cch, str.size());
    EXPECT_EQ(str.size(), 64 * 80 - 1); // 64 lines of 79 characters and 63 line feeds
    EXPECT_EQ(str.substr(0, 62), "40000000/0000: 00 01 02 03 04 05 06 07-08 09 0a 0b 0c 0d 0e 0f");
    EXPECT_EQ(str.substr(str.size() - 79),
              "400003f0/03f0: f0 f1 f2 f3 f4 f5 f6 f7-f8 f9 fa fb fc fd fe ff ................");

    std::vector<char> vecBuf(8192);
    EXPECT_EQ(RTStrPrintf(vecBuf.data(), vecBuf.size(), "%.1024RhXd", vecData.data(), UINT64_C(0x40000000)),
              str.size());
    EXPECT_EQ(std::string(vecBuf.data()), str);
}

TEST(StrFormatRtHex, SizesWithUnits) {
    struct Case {
        const char *pszFormat;
        uint64_t cb;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%Rhcb", 1536, "1.5KiB"},
        {"%.2Rhcb", 1536, "1.50KiB"},
        {"%Rhcb", 10485760, "10.0MiB"},
        {"%Rhcb", 999, "999B"},
        {"%Rhcb", 1023, "1023B"},
        {"%Rhcb", 1024, "1.0KiB"},
        {"%RhcB", 1536, "1.5KB"},
        {"%Rhub", 1536, "1.5Ki"},
        {"%RhuB", 1536, "1.5K"},
        {"%Rhub", 999, "999"},
        {"% Rhcb", 1536, "1.5 KiB"},
        {"% Rhcb", 999, "999 B"},
        {"% Rhub", 999, "999"},
        // Binary units cut the fraction off.
        {"%Rhcb", 2047, "1.9KiB"},
        {"%.3Rhcb", 1025, "1.000KiB"},
        {"%.9Rhcb", 1536, "1.500KiB"},
        {"%Rhcb", UINT64_C(1) << 60, "1.0EiB"},
        {"%Rhcb", UINT64_MAX, "15.9EiB"},
        {"%.3Rhcb", UINT64_MAX, "15.999EiB"},
        {"%Rhcb", (UINT64_C(1) << 50) * 3 / 2, "1.5PiB"},
        // Decimal units round half up and carry into the integer part.
        {"%Rhci", 1950, "2.0kB"},
        {"%Rhci", 1949, "1.9kB"},
        {"%Rhci", 999, "999B"},
        {"%Rhci", 1000, "1.0kB"},
        {"%.2Rhci", 1995, "2.00kB"},
        {"%.2Rhci", 1994, "1.99kB"},
        {"%Rhci", 999950, "1000.0kB"},
        {"%Rhci", 2500000, "2.5MB"},
        {"%Rhui", 7250000000, "7.3G"},
        {"%.3Rhci", UINT64_MAX, "18.447EB"},
        {"%Rhci", UINT64_MAX, "18.4EB"},
        // Precision 0: no fraction.
        {"%.0Rhcb", 1536, "1KiB"},
        {"%.0Rhci", 1500, "2kB"},
        {"%.0Rhci", 1499, "1kB"},
        {"%Rhcb", 0, "0B"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat + std::string(" ") + std::to_string(c.cb));
        EXPECT_EQ(FmtAll(c.pszFormat, c.cb), c.pszExpect);
    }
}

} // namespace
