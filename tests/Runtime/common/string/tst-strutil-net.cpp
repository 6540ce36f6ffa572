// IPv4 addresses and prefixes, MAC addresses, hex bytes, UUIDs and path roots.
#include <gtest/gtest.h>
#include <olma/path.h>
#include <olma/string.h>

#include <cstring>

namespace {

TEST(StrUtilNet, IPv4AddrEx) {
    struct Case {
        const char *psz;
        int rc;
        uint8_t ab[4];
        size_t offEnd;
    };
    const Case aCases[] = {
        {"1.2.3.4", 0, {1, 2, 3, 4}, 7},
        {"255.255.255.255", 0, {255, 255, 255, 255}, 15},
        {"01.2.3.4", 0, {1, 2, 3, 4}, 8},
        {"1.2.3.4 ", WRN_TRAILING_SPACES, {1, 2, 3, 4}, 7},
        {"1.2.3.4x", WRN_TRAILING_CHARS, {1, 2, 3, 4}, 7},
        {"1.2.3.4/24", WRN_TRAILING_CHARS, {1, 2, 3, 4}, 7},
        {"0x1.2.3.4", ERR_INVALID_PARAMETER, {}, 0},
        {" 1.2.3.4", ERR_INVALID_PARAMETER, {}, 0},
        {"1.2.3", ERR_INVALID_PARAMETER, {}, 0},
        {"1.2.3.", ERR_INVALID_PARAMETER, {}, 0},
        {"1..3.4", ERR_INVALID_PARAMETER, {}, 0},
        {"256.1.1.1", ERR_INVALID_PARAMETER, {}, 0},
        {"1.2.3.256", ERR_INVALID_PARAMETER, {}, 0},
        {"1 .2.3.4", ERR_INVALID_PARAMETER, {}, 0},
        {"1.-2.3.4", ERR_INVALID_PARAMETER, {}, 0},
        {"", ERR_INVALID_PARAMETER, {}, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        RTNETADDRIPV4 Addr;
        memset(&Addr, 0xee, sizeof(Addr));
        char *pszNext = nullptr;
        EXPECT_EQ(RTNetStrToIPv4AddrEx(c.psz, &Addr, &pszNext), c.rc);
        if (RT_SUCCESS(c.rc)) {
            EXPECT_EQ(memcmp(Addr.au8, c.ab, 4), 0);
            EXPECT_EQ((size_t)(pszNext - c.psz), c.offEnd);
        }
    }
    RTNETADDRIPV4 Addr;
    EXPECT_EQ(RTNetStrToIPv4AddrEx(nullptr, &Addr, nullptr), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTNetStrToIPv4AddrEx("1.2.3.4", (RTNETADDRIPV4 *)(uintptr_t)16, nullptr), ERR_INVALID_PARAMETER);
}

TEST(StrUtilNet, IPv4Addr) {
    struct Case {
        const char *psz;
        int rc;
    };
    const Case aCases[] = {
        {"1.2.3.4", 0},
        {" 1.2.3.4 ", 0},
        {"\t\n1.2.3.4\t", 0},
        {"1.2.3.4x", ERR_INVALID_PARAMETER},
        {"1.2.3.4 x", ERR_INVALID_PARAMETER},
        {"1.2.3", ERR_INVALID_PARAMETER},
        {"256.1.1.1", ERR_INVALID_PARAMETER},
        {"1.2.3.4\n", ERR_INVALID_PARAMETER},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        RTNETADDRIPV4 Addr;
        Addr.u = 0;
        EXPECT_EQ(RTNetStrToIPv4Addr(c.psz, &Addr), c.rc);
        if (c.rc == 0) {
            const uint8_t abExpect[4] = {1, 2, 3, 4};
            EXPECT_EQ(memcmp(Addr.au8, abExpect, 4), 0);
        }
    }
}

TEST(StrUtilNet, IPv4Cidr) {
    struct Case {
        const char *psz;
        int rc;
        uint32_t uAddr, uMask;
    };
    const int E = ERR_INVALID_PARAMETER;
    const Case aCases[] = {
        {"10/8", 0, 0x0a000000, 0xff000000},
        {"10.1/16", 0, 0x0a010000, 0xffff0000},
        {"10.1.2/24", 0, 0x0a010200, 0xffffff00},
        {"1.2.3.4", 0, 0x01020304, 0xffffffff},
        {"1.2.3.4/32", 0, 0x01020304, 0xffffffff},
        {"192.168.1.0/24", 0, 0xc0a80100, 0xffffff00},
        {"192.168.1.128/25", 0, 0xc0a80180, 0xffffff80},
        {"128/1", 0, 0x80000000, 0x80000000},
        {"0.0.0.0/1", 0, 0, 0x80000000},
        {"0.0.0.0/31", 0, 0, 0xfffffffe},
        {"0/0", 0, 0, 0},
        {"0.0.0.0/0", 0, 0, 0},
        {"192.168.1.1/24", E, 0, 0}, // host bits set
        {"10/9", E, 0, 0},           // too few numbers for the prefix
        {"10.1/17", E, 0, 0},
        {"10.1.2/25", E, 0, 0},
        {"10", E, 0, 0},
        {"0.0.0.0", E, 0, 0},
        {"0.1.0.0/16", E, 0, 0}, // zero first number
        {"1.2.3.4/33", E, 0, 0},
        {"1.2.3.4/", E, 0, 0},
        {"1.2.3.4/24 ", E, 0, 0},
        {"1.2.3.4/x", E, 0, 0},
        {"1.2.3.0/24/8", E, 0, 0},
        {"1.2.3.4.5", E, 0, 0},
        {"1.2.3.4 /32", E, 0, 0},
        {"256/8", E, 0, 0},
        {"10./8", E, 0, 0},
        {"", E, 0, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        RTNETADDRIPV4 Addr, Mask;
        Addr.u = Mask.u = 0x12345678;
        EXPECT_EQ(RTNetStrToIPv4Cidr(c.psz, &Addr, &Mask), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(Addr.u, c.uAddr);
            EXPECT_EQ(Mask.u, c.uMask);
        }
    }
}

TEST(StrUtilNet, MacAddr) {
    struct Case {
        const char *psz;
        int rc;
        uint8_t ab[6];
    };
    const int E = ERR_INVALID_PARAMETER;
    const Case aCases[] = {
        {"0a1B2c3D4e5F", 0, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}},
        {"0a1b2c3d4e5f \t\r\n", 0, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}},
        {"0a:1b:2c:3d:4e:5f", 0, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}},
        {"  a:b:c:d:e:f  ", 0, {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}},
        {"0:1a::3c:4d:5e", 0, {0x00, 0x1a, 0x00, 0x3c, 0x4d, 0x5e}},
        {"0:1a:::4d:5e", 0, {0x00, 0x1a, 0x00, 0x00, 0x4d, 0x5e}},
        {":1a:2b:3c:4d:5e", E, {}},
        {"0:1a:2b:3c:4d:", E, {}},
        {"0a1b2c3d4e5f0", E, {}},
        {"0a1b2c3d4e5", E, {}},
        {"0a1b2c3d4e5fx", E, {}},
        {"0a:1b:2c:3d:4e", E, {}},
        {"0a:1b:2c:3d:4e:5f:6a", E, {}},
        {"100:1b:2c:3d:4e:5f", E, {}},
        {"0a:1b:2c:3d:4e:5f x", E, {}},
        {"0a :1b:2c:3d:4e:5f", E, {}},
        {"0a-1b-2c-3d-4e-5f", E, {}},
        {"", E, {}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        RTMAC Mac;
        memset(&Mac, 0xee, sizeof(Mac));
        EXPECT_EQ(RTNetStrToMacAddr(c.psz, &Mac), c.rc);
        if (c.rc == 0)
            EXPECT_EQ(memcmp(Mac.au8, c.ab, 6), 0);
    }
}

TEST(StrUtilNet, HexBytes) {
    struct Case {
        const char *psz;
        size_t cb;
        uint32_t fFlags;
        int rc;
        const char *pszBytes; // expected leading bytes (as many as the call wrote), null: not checked
        size_t cbBytes;
    };
    const Case aCases[] = {
        {"0a1b2c", 3, 0, 0, "\x0a\x1b\x2c", 3},
        {"0A1B2C", 3, 0, 0, "\x0a\x1b\x2c", 3},
        {"0a1b2c", 4, 0, ERR_BUFFER_UNDERFLOW, "\x0a\x1b\x2c", 3},
        {"0a1b2c", 2, 0, ERR_BUFFER_OVERFLOW, "\x0a\x1b", 2},
        {"0a1b2", 3, 0, ERR_UNEVEN_INPUT, "\x0a\x1b", 2},
        {"0a1b2x", 3, 0, ERR_UNEVEN_INPUT, nullptr, 0},
        {"", 0, 0, 0, nullptr, 0},
        {"", 1, 0, ERR_BUFFER_UNDERFLOW, nullptr, 0},
        {"0a1bzz", 3, 0, ERR_BUFFER_UNDERFLOW, nullptr, 0},
        // Output full, something follows: blanks only give 76, anything else 77.
        {"0a1b  \t", 2, 0, WRN_TRAILING_CHARS, "\x0a\x1b", 2},
        {"0a1b  x", 2, 0, WRN_TRAILING_SPACES, "\x0a\x1b", 2},
        {"0a1bzz", 2, 0, WRN_TRAILING_SPACES, "\x0a\x1b", 2},
        {"0a:1b", 2, 0, ERR_BUFFER_UNDERFLOW, "\x0a", 1},
        // Colon separators: one or two digits, empty inner fields are zero bytes.
        {"0a:1b:2c", 3, 1, 0, "\x0a\x1b\x2c", 3},
        {"a:b:c", 3, 1, 0, "\x0a\x0b\x0c", 3},
        {"a::c", 3, 1, 0, "\x0a\x00\x0c", 3},
        {"0a1b2c", 3, 1, 0, "\x0a\x1b\x2c", 3},
        {"a:b:c", 2, 1, ERR_BUFFER_OVERFLOW, "\x0a\x0b", 2},
        {"a:b", 3, 1, ERR_BUFFER_UNDERFLOW, "\x0a\x0b", 2},
        {"a:b:c ", 3, 1, WRN_TRAILING_CHARS, "\x0a\x0b\x0c", 3},
        {"0a1b", 2, 2, ERR_INVALID_FLAGS, nullptr, 0},
        {"0a1b", 2, 0x80000000, ERR_INVALID_FLAGS, nullptr, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << '"' << c.psz << "\" cb " << c.cb << " flags " << c.fFlags);
        uint8_t abBuf[8];
        memset(abBuf, 0xee, sizeof(abBuf));
        EXPECT_EQ(RTStrConvertHexBytes(c.psz, abBuf, c.cb, c.fFlags), c.rc);
        if (c.pszBytes)
            EXPECT_EQ(memcmp(abBuf, c.pszBytes, c.cbBytes), 0);
        for (size_t i = c.cb; i < sizeof(abBuf); i++)
            EXPECT_EQ(abBuf[i], 0xee) << "byte " << i << " written beyond the output";
    }
    uint8_t ab[2];
    EXPECT_EQ(RTStrConvertHexBytes(nullptr, ab, sizeof(ab), 0), ERR_INVALID_POINTER);
    EXPECT_EQ(RTStrConvertHexBytes((const char *)(uintptr_t)100, ab, sizeof(ab), 0), ERR_INVALID_POINTER);
}

TEST(StrUtilNet, UuidFromStr) {
    const uint8_t abExpect[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                  0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    struct Case {
        const char *psz;
        int rc;
    };
    const int E = ERR_INVALID_UUID_FORMAT;
    const Case aCases[] = {
        {"00112233-4455-6677-8899-aabbccddeeff", 0},
        {"00112233-4455-6677-8899-AABBCCDDEEFF", 0},
        {"{00112233-4455-6677-8899-aabbccddeeff}", 0},
        {"{00112233-4455-6677-8899-aabbccddeeff", E},
        {"00112233-4455-6677-8899-aabbccddeeff}", E},
        {"00112233-4455-6677-8899-aabbccddeeff ", E},
        {" 00112233-4455-6677-8899-aabbccddeeff", E},
        {"{00112233-4455-6677-8899-aabbccddeeff} ", E},
        {"00112233-4455-6677-8899-aabbccddeef", E},
        {"00112233-4455-6677-8899-aabbccddeeff0", E},
        {"0011223-34455-6677-8899-aabbccddeeff", E},
        {"00112233-4455-6677-8899_aabbccddeeff", E},
        {"00112233-4455-6677-8899-aabbccddeefg", E},
        {"0x112233-4455-6677-8899-aabbccddeeff", E},
        {"", E},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        RTUUID Uuid;
        memset(&Uuid, 0, sizeof(Uuid));
        EXPECT_EQ(RTUuidFromStr(&Uuid, c.psz), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(memcmp(Uuid.au8, abExpect, 16), 0);
            EXPECT_EQ(Uuid.Gen.u32TimeLow, 0x00112233u);
            EXPECT_EQ(Uuid.Gen.u16TimeMid, 0x4455u);
            EXPECT_EQ(Uuid.Gen.u16TimeHiAndVersion, 0x6677u);
        }
    }
    RTUUID Uuid;
    EXPECT_EQ(RTUuidFromStr(&Uuid, nullptr), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTUuidFromStr(nullptr, "00112233-4455-6677-8899-aabbccddeeff"), ERR_INVALID_PARAMETER);
}

TEST(StrUtilNet, PathRootSpecLen) {
    struct Case {
        const char *psz;
        size_t cch;
    };
    const Case aCases[] = {
        {"", 0},
        {"dir/file", 0},
        {"1:/x", 0},
        {":", 0},
        {"/", 1},
        {"\\", 1},
        {"/usr/bin", 1},
        {"///usr", 3},
        {"\\/\\x", 3},
        {"C:", 2},
        {"c:file", 2},
        {"C:\\", 3},
        {"C:\\/\\Windows", 5},
        {"\\\\server\\share\\dir", 15},
        {"\\\\server\\share", 14},
        {"//server//share//dir", 17},
        {"\\\\server", 8},
        {"\\\\server\\", 9},
        {"\\\\", 2},    // third character is the end: root is the first, then the slash after it
        {"\\\\\\x", 3}, // third is a slash
        {"\\\\?\\C:\\x", 7},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        EXPECT_EQ(RTPathRootSpecLen(c.psz), c.cch);
        EXPECT_EQ(RTPathStartsWithRoot(c.psz), c.cch != 0);
    }
}

} // namespace
