// %R typed values from the type table, status codes, Windows error values and the
// handling of unknown or cut-short directives.
#include <gtest/gtest.h>
#include <olma/err.h>
#include <olma/string.h>
#include "common/string/internal-formatrt.h"
#include "strformat-helpers.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

/** An error-info record over a message that the formatter only reads. */
RTERRINFO errInfo(uint32_t fFlags, int32_t rc, size_t cbMsg, const char *pszMsg) {
    return {fFlags, rc, cbMsg, const_cast<char *>(pszMsg)};
}

constexpr bool g_f64 = sizeof(void *) == 8;

/** The width-dependent expectation of a pointer-sized value. */
const char *PtrExpect(const char *psz32, const char *psz64) {
    return g_f64 ? psz64 : psz32;
}

/** How a test passes the value of one type-table entry. */
enum ArgKind { kI32, kI64, kPtrVal, kFp32, kFp64, kData };

struct TypeCase {
    const char *pszName;
    ArgKind enmArg;
    const char *pszExpect32; // 32-bit build
    const char *pszExpect64; // 64-bit build (null: same)
};

/** Fills the data every pointer type of the table is given. */
struct TypeData {
    uint8_t abIPv6[16] = {0xab, 0xcd, 0x0e, 0xf0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34};
    uint8_t abMac[6] = {0x00, 0x1b, 0x21, 0x0a, 0xbc, 0xde};
    RTNETADDR NetAddr = {{192, 168, 0, 1}, RTNETADDRTYPE_IPV4, 8080};
    uint8_t abUuid[16] = {0x78, 0x56, 0x34, 0x12, 0xbc, 0x9a, 0xf0, 0xde,
                          0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    RTERRINFO ErrInfo = errInfo(RTERRINFO_FLAGS_MAGIC | RTERRINFO_FLAGS_SET, ERR_NO_MEMORY, 6, "detail and more");

    const void *For(const char *pszName) const {
        if (!strcmp(pszName, "Tnaipv6"))
            return abIPv6;
        if (!strcmp(pszName, "Tmac"))
            return abMac;
        if (!strcmp(pszName, "Tnaddr"))
            return &NetAddr;
        if (!strcmp(pszName, "Tuuid"))
            return abUuid;
        return &ErrInfo;
    }
};

/** Formats "%R<name>|%d" with the value 0x2a (or the table's data) and 99, so that the
 *  trailing number shows whether the entry took exactly its own arguments. */
std::string FormatType(const TypeCase &Case, const TypeData &Data) {
    const std::string strFormat = std::string("%R") + Case.pszName + "|%d";
    const char *pszFormat = strFormat.c_str();
    switch (Case.enmArg) {
    case kI32:
        return FmtAll(pszFormat, 0x2a, 99);
    case kI64:
        return FmtAll(pszFormat, (uint64_t)0x2a, 99);
    case kPtrVal:
        return FmtAll(pszFormat, (uintptr_t)0x2a, 99);
    case kFp32:
        return FmtAll(pszFormat, (uint32_t)0x2a, 0x1b, 99);
    case kFp64:
        return FmtAll(pszFormat, (uint64_t)0x2a, 0x1b, 99);
    case kData:
        return FmtAll(pszFormat, Data.For(Case.pszName), 99);
    }
    return {};
}

TEST(StrFormatRt, EveryTypeTableEntry) {
    static const TypeCase s_aCases[] = {
        // Signed decimal.
        {"Ci", kI32, "42", nullptr},
        {"Gi", kI64, "42", nullptr},
        {"Hi", kPtrVal, "42", nullptr},
        {"I8", kI32, "42", nullptr},
        {"I16", kI32, "42", nullptr},
        {"I32", kI32, "42", nullptr},
        {"I64", kI64, "42", nullptr},
        {"Tfoff", kI64, "42", nullptr},
        {"Tgid", kI32, "42", nullptr},
        {"Tint", kI32, "42", nullptr},
        {"Tuid", kI32, "42", nullptr},
        // Unsigned decimal.
        {"Cu", kI32, "42", nullptr},
        {"Gu", kI64, "42", nullptr},
        {"Hu", kPtrVal, "42", nullptr},
        {"Tfile", kI32, "42", nullptr},
        {"Tsock", kI32, "42", nullptr},
        {"Tuint", kI32, "42", nullptr},
        {"U8", kI32, "42", nullptr},
        {"U16", kI32, "42", nullptr},
        {"U32", kI32, "42", nullptr},
        {"U64", kI64, "42", nullptr},
        // Hexadecimal without padding.
        {"Cx", kI32, "2a", nullptr},
        {"Gx", kI64, "2a", nullptr},
        {"Hx", kPtrVal, "2a", nullptr},
        {"Txint", kI32, "2a", nullptr},
        {"X8", kI32, "2a", nullptr},
        {"X16", kI32, "2a", nullptr},
        {"X32", kI32, "2a", nullptr},
        {"X64", kI64, "2a", nullptr},
        {"Kv", kPtrVal, "XXXXXXXX", nullptr},
        // Fixed-width hexadecimal, two digits per byte of the value.
        {"Cp", kI64, "000000000000002a", nullptr},
        {"Cr", kI32, "0000002a", nullptr},
        {"Cv", kI32, "0000002a", nullptr},
        {"Gp", kI64, "000000000000002a", nullptr},
        {"Gr", kI64, "000000000000002a", nullptr},
        {"Gv", kI64, "000000000000002a", nullptr},
        {"Hp", kI64, "000000000000002a", nullptr},
        {"Hr", kPtrVal, "0000002a", "000000000000002a"},
        {"Hv", kPtrVal, "0000002a", "000000000000002a"},
        {"Rv", kPtrVal, "0000002a", "000000000000002a"},
        {"Tfmode", kI32, "0000002a", nullptr},
        {"Tino", kI64, "000000000000002a", nullptr},
        {"Tiop", kI32, "002a", nullptr},
        {"Tldrm", kPtrVal, "0000002a", "000000000000002a"},
        {"Tnthrd", kPtrVal, "0000002a", "000000000000002a"},
        {"Tproc", kI32, "0000002a", nullptr},
        {"Tptr", kI64, "000000000000002a", nullptr},
        {"Treg", kPtrVal, "0000002a", "000000000000002a"},
        {"Tsel", kI32, "002a", nullptr},
        {"Tsem", kPtrVal, "0000002a", "000000000000002a"},
        {"Tthrd", kPtrVal, "0000002a", "000000000000002a"},
        {"Tunicp", kI32, "0000002a", nullptr},
        {"Tutf16", kI32, "002a", nullptr},
        // The other kinds.
        {"Tbool", kI32, "!42!", nullptr},
        {"Tfp16", kI32, "0000:002a", nullptr},
        {"Tfp32", kFp32, "001b:0000002a", nullptr},
        {"Tfp64", kFp64, "001b:000000000000002a", nullptr},
        {"Tnaipv4", kI32, "42.0.0.0", nullptr},
        {"Tnaipv6", kData, "abcd:ef0::1234", nullptr},
        {"Tmac", kData, "00:1b:21:0a:bc:de", nullptr},
        {"Tnaddr", kData, "192.168.0.1:8080", nullptr},
        {"Tuuid", kData, "12345678-9abc-def0-0123-456789abcdef", nullptr},
        {"Teic", kData, "Allocation of an object or record failed: detail", nullptr},
        {"Teim", kData, ": detail", nullptr},
    };
    static_assert(RT_ELEMENTS(s_aCases) == 64, "one row per entry of the type table");

    const TypeData Data;
    for (const TypeCase &Case : s_aCases) {
        SCOPED_TRACE(Case.pszName);
        const char *pszExpect = g_f64 && Case.pszExpect64 ? Case.pszExpect64 : Case.pszExpect32;
        EXPECT_EQ(FormatType(Case, Data), std::string(pszExpect) + "|99");
    }
}

TEST(StrFormatRt, IntegerTypesWithFlags) {
    struct Case {
        const char *pszFormat;
        uint32_t uValue;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%RX32", 0x1234, "1234"},
        {"%#RX32", 0x1234, "0x1234"},
        {"%08RX32", 0x1234, "00001234"},
        {"%#010RX32", 0xbeef, "0x0000beef"},
        {"%RU32", 0xffffffff, "4294967295"},
        {"%'RU32", 1234567, "1 234 567"},
        {"%RI32", (uint32_t)-5, "-5"},
        {"%+RI32", 5, "+5"},
        {"% RI32", 5, " 5"},
        {"%5RU32|", 42, "   42|"},
        {"%-5RU32|", 42, "42   |"},
        {"%.4RU32", 7, "0007"},
        {"%RU32abc", 1, "1abc"},
        // Unsigned types of one or two bytes keep only their bits of the promoted int;
        // signed ones show the promoted value as it was passed.
        {"%RU8", 0x1ff, "255"},
        {"%RX8", 0xabc, "bc"},
        {"%RU16", 0x12345, "9029"},
        {"%RX16", 0x12345, "2345"},
        {"%RI8", 300, "300"},
        {"%RI8", (uint32_t)-1, "-1"},
        {"%RI16", 70000, "70000"},
        {"%RTint", (uint32_t)-7, "-7"},
        // Fixed-width types: the width follows the value's size, a given width wins.
        {"%RTnthrd", 0x1234, nullptr},
        {"%#RCv", 0x1234, "0x00001234"},
        {"%RCv", 0x123456, "00123456"},
        {"%4RCv", 0x12, "  12"},
        {"%-6RTiop|", 0x3f8, "3f8   |"},
        {"%RTutf16", 0x41, "0041"},
        {"%6RTunicp", 0x41, "000041"},
        {"%RTproc", 0x1234, "00001234"},
        // Booleans: 1, 0 and anything else; the width is not applied.
        {"%RTbool", 1, "true"},
        {"%#RTbool", 1, "true "},
        {"%RTbool", 0, "false"},
        {"%RTbool", 2, "!2!"},
        {"%RTbool", 0x101, "true"},
        {"%10RTbool", 0, "false"},
        // The hidden type never shows its value.
        {"%RKv", 0x12345678, "XXXXXXXX"},
        {"%#RKv", 0, "0xXXXXXXXX"},
        {"%20RKv", 1, "XXXXXXXX"},
        // Far pointers and IPv4 addresses.
        {"%RTfp16", 0x00201234, "0020:1234"},
        {"%RTnaipv4", 0x0100a8c0, "192.168.0.1"},
        {"%RTnaipv4", 0xffffffff, "255.255.255.255"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        const char *pszExpect = c.pszExpect ? c.pszExpect : PtrExpect("00001234", "0000000000001234");
        // Pointer-sized entries take a pointer-sized argument.
        if (strstr(c.pszFormat, "Tnthrd") || strstr(c.pszFormat, "Kv"))
            EXPECT_EQ(FmtAll(c.pszFormat, (uintptr_t)c.uValue), pszExpect);
        else
            EXPECT_EQ(FmtAll(c.pszFormat, c.uValue), pszExpect);
    }
}

TEST(StrFormatRt, WideIntegerTypes) {
    struct Case {
        const char *pszFormat;
        uint64_t uValue;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%RX64", UINT64_C(0x123456789abcdef0), "123456789abcdef0"},
        {"%#RX64", UINT64_C(0xffffffff00000000), "0xffffffff00000000"},
        {"%'RU64", 1234567, "1 234 567"},
        {"%'RU64", UINT64_C(18446744073709551615), "18 446 744 073 709 551 615"},
        {"%RI64", UINT64_C(0x8000000000000000), "-9223372036854775808"},
        {"%RTfoff", (uint64_t)-1, "-1"},
        {"%RGi", (uint64_t)-2, "-2"},
        {"%RCp", 0x1234, "0000000000001234"},
        {"%RGp", UINT64_C(0xfedcba9876543210), "fedcba9876543210"},
        {"%#RTino", 0x10, "0x0000000000000010"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, c.uValue), c.pszExpect);
    }
}

TEST(StrFormatRt, PointerSizedTypesUseTheWholePointer) {
    if (!g_f64)
        GTEST_SKIP() << "32-bit build: pointers have 32 bits";
    const uintptr_t uValue = (uintptr_t)UINT64_C(0x123456789a);
    EXPECT_EQ(FmtAll("%RHv", uValue), "000000123456789a");
    EXPECT_EQ(FmtAll("%RTthrd", uValue), "000000123456789a");
    EXPECT_EQ(FmtAll("%RHx", uValue), "123456789a");
    EXPECT_EQ(FmtAll("%RHi", (intptr_t)-0x123456789a), "-78187493530");
}

TEST(StrFormatRt, FarPointersTakeTheSelectorAfterTheOffset) {
    EXPECT_EQ(FmtAll("%RTfp32 %d", (uint32_t)0x12345678, 0x0008, 5), "0008:12345678 5");
    EXPECT_EQ(FmtAll("%RTfp64 %d", UINT64_C(0xfffff80000001000), 0x0010, 5), "0010:fffff80000001000 5");
}

TEST(StrFormatRt, IPv6Addresses) {
    struct Case {
        uint8_t ab[16];
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {{0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "1:0:0:1::1"},
        {{0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3, 0, 4}, "1::2:0:0:3:4"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "1::"},
        {{0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 0}, "1:2:3:4:5:6:7:0"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, "::1.2.3.4"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 1, 2, 3, 4}, "::ffff:1.2.3.4"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 1, 2, 3, 4}, "::ffff:0:1.2.3.4"},
        {{0xab, 0xcd, 0x0e, 0xf0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34}, "abcd:ef0::1234"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 168, 0, 1}, "::ffff:192.168.0.1"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "::"},
        // Not embedded: a non-zero word in the first half, or the compatible form of ::1.
        {{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0xff, 0xff, 1, 2, 3, 4}, "::1:0:ffff:102:304"},
        {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x1b, 0x21, 0xff, 0xfe, 0x0a, 0xbc, 0xde}, "fe80::21b:21ff:fe0a:bcde"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1}, "2001:db8:1:0:1:0:1:1"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszExpect);
        EXPECT_EQ(FmtAll("%RTnaipv6", c.ab), c.pszExpect);
    }
}

TEST(StrFormatRt, NetworkAddressRecords) {
    struct Case {
        RTNETADDR Addr;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {{{10, 0, 0, 1}, RTNETADDRTYPE_IPV4, 80}, "10.0.0.1:80"},
        {{{10, 0, 0, 1}, RTNETADDRTYPE_IPV4, RTNETADDR_PORT_NA}, "10.0.0.1"},
        {{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, RTNETADDRTYPE_IPV6, RTNETADDR_PORT_NA}, "::1"},
        {{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, RTNETADDRTYPE_IPV6, 443}, "[::1]:443"},
        {{{0, 0x1b, 0x21, 0x0a, 0xbc, 0xde}, RTNETADDRTYPE_MAC, 7}, "00:1b:21:0a:bc:de"},
        {{{1, 2, 3, 4}, 3, 80}, "unsupported-netaddr-type=3"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszExpect);
        EXPECT_EQ(FmtAll("%RTnaddr", &c.Addr), c.pszExpect);
    }
}

TEST(StrFormatRt, BadPointersOfPointerTypes) {
    struct Case {
        const char *pszFormat;
        uintptr_t uPtr;
        const char *pszExpect32;
        const char *pszExpect64;
    };
    static const Case s_aCases[] = {
        {"%RTnaipv6", 0, "<NULL>", "<NULL>"},
        {"%RTnaipv6", 0x10, "<00000010!BadIPv6>", "<0000000000000010!BadIPv6>"},
        {"%RTmac", 0xfff, "<00000fff!BadMac>", "<0000000000000fff!BadMac>"},
        {"%RTnaddr", 1, "<00000001!BadNetAddr>", "<0000000000000001!BadNetAddr>"},
        {"%RTuuid", (uintptr_t)-16, "<fffffff0!BadUuid>", "<fffffffffffffff0!BadUuid>"},
        {"%8RTuuid|", 0, "  <NULL>|", "  <NULL>|"},
        {"%-8RTmac|", 0, "<NULL>  |", "<NULL>  |"},
        // Error-info records: nothing at all for a pointer that cannot be read.
        {"%RTeic|", 0, "|", "|"},
        {"%RTeim|", 0x20, "|", "|"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, (const void *)c.uPtr), g_f64 ? c.pszExpect64 : c.pszExpect32);
    }
}

TEST(StrFormatRt, ErrorInfoRecords) {
    struct Case {
        const char *pszFormat;
        RTERRINFO Info;
        const char *pszExpect;
    };
    constexpr uint32_t fSet = RTERRINFO_FLAGS_MAGIC | RTERRINFO_FLAGS_SET;
    static const Case s_aCases[] = {
        {"%RTeic", errInfo(fSet, ERR_NO_MEMORY, 4, "file"), "Allocation of an object or record failed: file"},
        {"%#RTeic", errInfo(fSet, ERR_NO_MEMORY, 4, "file"), "Allocation of an object or record failed - file"},
        {"%RTeic", errInfo(fSet, ERR_NO_MEMORY, 0, "file"), "Allocation of an object or record failed"},
        {"%RTeic", errInfo(fSet, -12345, 3, "abc"), "Unknown Status -12345 (0xffffcfc7): abc"},
        {"%RTeim", errInfo(fSet, ERR_NO_MEMORY, 4, "file"), ": file"},
        {"%#RTeim", errInfo(fSet, ERR_NO_MEMORY, 2, "file"), " - fi"},
        // The length bounds the message, and so does its terminator.
        {"%RTeim", errInfo(fSet, 0, 100, "short"), ": short"},
        // Without the mark, or without the "set" bit, the record is not shown.
        {"%RTeic", errInfo(0xbabf0004, ERR_NO_MEMORY, 4, "file"), ""},
        {"%RTeic", errInfo(RTERRINFO_FLAGS_MAGIC, ERR_NO_MEMORY, 4, "file"), ""},
        // A message pointer that cannot be read is left out rather than read.
        {"%RTeic", errInfo(fSet, ERR_NO_MEMORY, 4, (const char *)0x10), "Allocation of an object or record failed"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat + std::string(" ") + c.pszExpect);
        EXPECT_EQ(FmtAll(c.pszFormat, &c.Info), c.pszExpect);
    }
}

TEST(StrFormatRt, StatusCodes) {
    struct Case {
        const char *pszFormat;
        int rc;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%Rrc", ERR_INVALID_POINTER, "ERR_INVALID_POINTER"},
        {"%Rrs", ERR_INVALID_POINTER, "A pointer argument lies within 4 KiB of address zero; OS access violation"},
        {"%Rrf", ERR_NO_MEMORY, "Allocation of an object or record failed"},
        {"%Rra", ERR_NO_MEMORY, "ERR_NO_MEMORY (-8) - Allocation of an object or record failed"},
        {"%Rrc", -12345, "-12345"},
        {"%Rrs", -12345, "Unknown Status -12345 (0xffffcfc7)"},
        {"%Rra", -12345, "Unknown Status -12345 (0xffffcfc7)"},
        {"[%Rrc]", ERR_NO_MEMORY, "[ERR_NO_MEMORY]"},
        // Windows error values and result values.
        {"%Rwc", 0, "ERROR_SUCCESS"},
        {"%Rwf", 5, "0x5"},
        {"%Rwa", 0, "ERROR_SUCCESS (0x0)"},
        {"%Rwa", 5, "Unknown Status 0x5"},
        {"%Rhrc", (int)0x80070000, "ERROR_SUCCESS/0x80070000"},
        {"%Rhrf", 5, "0x5"},
        {"%Rhra", 0, "ERROR_SUCCESS (0x0)"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, c.rc), c.pszExpect);
    }
}

TEST(StrFormatRt, UnknownAndCutShortDirectives) {
    // Every row is followed by "%d" and given 42 and 43: a directive that is not
    // recognised takes no argument, so the 42 shows up after the literal rest.
    struct Case {
        const char *pszFormat;
        const char *pszExpect;
    };
    static const Case s_aCases[] = {
        {"%RTzz%d", "zz42"},
        {"%RX%d", "42"},
        {"%RX3%d", "342"},
        {"%RU9%d", "942"},
        {"%Rq!%d", "!42"},
        {"%R %d", "42"},
        {"%Rrx.%d", ".42"},
        {"%Rwz-%d", "-42"},
        {"%Rhq+%d", "+42"},
        {"%Rhxq+%d", "+42"},
        {"%Rhcq+%d", "+42"},
        {"%Rhrz+%d", "+42"},
        {"%RMzz%d", "z42"},
        {"%RMaz%d", "z42"},
        {"%RMjx%d", "x42"},
        {"%RDtime%d", "time42"},
        {"%Rbq+%d", "+42"},
        {"%Rbs+%d", "+42"}, // big-endian UTF-16 wants the size prefix l
        {"%Rfx+%d", "+42"},
        {"%RAx%d", "x42"},
        {"%RAx86%d", "42"},
        {"%RAx86(cr0)%d", "(cr0)42"},
        {"%R[ab%d]", "42]"},
        {"%R[a[b]%d", "[b]42"},
        // A register name that is not known still takes its value.
        {"%RAx86[cr3]%d", "43"},
    };
    for (const Case &c : s_aCases) {
        SCOPED_TRACE(c.pszFormat);
        EXPECT_EQ(FmtAll(c.pszFormat, 42, 43), c.pszExpect);
    }

    // Formats that end inside the directive: the terminator is never stepped over.
    static const char *const s_apszCut[] = {"%R",   "%RX",  "%Rr",     "%Rw",        "%Rh",  "%Rhx",  "%RhX",
                                            "%Rhc", "%Rhr", "%RM",     "%RMa",       "%RMj", "%RD",   "%Rb",
                                            "%Rf",  "%RA",  "%RAx86[", "%RAx86[cr0", "%R[",  "%R[foo"};
    for (const char *pszCut : s_apszCut) {
        for (const std::string &strPrefix : {std::string(), std::string("ab")}) {
            const std::string strFormat = strPrefix + pszCut;
            SCOPED_TRACE(strFormat);
            // The format is copied to the heap so that ASan sees any read past its end.
            std::vector<char> vecFormat(strFormat.begin(), strFormat.end());
            vecFormat.push_back('\0');
            EXPECT_EQ(FmtAll(vecFormat.data(), 42), strPrefix);
        }
    }
}

/** Records every call of the output callback. */
struct CallLog {
    std::string strText;
    unsigned cEndCalls = 0;
    bool fTextAfterEnd = false;
};

size_t LogOutput(void *pvArg, const char *pach, size_t cch) {
    CallLog *pLog = (CallLog *)pvArg;
    if (!pach) {
        EXPECT_EQ(cch, 0u);
        pLog->cEndCalls++;
        return 0;
    }
    if (pLog->cEndCalls)
        pLog->fTextAfterEnd = true;
    pLog->strText.append(pach, cch);
    return cch;
}

TEST(StrFormatRt, HandlersWriteThroughTheCallerCallback) {
    // Status texts are written by the status lookups themselves, in between pieces of
    // the handler's own output; the order and the total must still come out right,
    // with only the engine's final end call.
    const RTERRINFO Info = errInfo(RTERRINFO_FLAGS_MAGIC | RTERRINFO_FLAGS_SET, ERR_NO_MEMORY, 4, "disk");
    static const uint8_t s_abData[40] = {'x'};
    CallLog Log;
    const size_t cch = RTStrFormat(LogOutput, &Log, nullptr, nullptr, "<%RTeic|%Rra|%.40RhXD|%RTnaipv6>", &Info,
                                   ERR_NO_MEMORY, s_abData, UINT64_C(0x1000), s_abData);
    const std::string strExpect = "<Allocation of an object or record failed: disk"
                                  "|ERR_NO_MEMORY (-8) - Allocation of an object or record failed"
                                  "|00001000/0000: 78 00 00 00 00 00 00 00-00 00 00 00 00 00 00 00 x..............."
                                  "\n00001010/0010: 00 00 00 00 00 00 00 00-00 00 00 00 00 00 00 00 ................"
                                  "\n00001020/0020: 00 00 00 00 00 00 00 00                         ........"
                                  "|7800::>";
    EXPECT_EQ(Log.strText, strExpect);
    EXPECT_EQ(cch, strExpect.size());
    EXPECT_EQ(Log.cEndCalls, 1u);
    EXPECT_FALSE(Log.fTextAfterEnd);
}

/** A callback that accepts only part of each piece: the handlers must add up what
 *  the callback reports, not what they offered. */
size_t HalfOutput(void *pvArg, const char *pach, size_t cch) {
    if (pach)
        ((std::string *)pvArg)->append(pach, cch);
    return cch / 2;
}

TEST(StrFormatRt, CountIsWhatTheCallbackAccepted) {
    std::string str;
    const size_t cch = RTStrFormat(HalfOutput, &str, nullptr, nullptr, "%RU32", 123456u);
    EXPECT_EQ(str, "123456");
    EXPECT_EQ(cch, 3u);
}

} // namespace
