// Number parsers: statuses, values and stop positions, bounds and the narrowing layer.
#include <gtest/gtest.h>
#include <olma/string.h>

#include <cstring>
#include <memory>

namespace {

struct NumCase {
    const char *psz;
    unsigned uBaseAndMaxLen;
    int rc;
    uint64_t uValue; // the value's bits, also for the signed parser
    size_t offEnd;
};

TEST(StrToNum, SignedParser) {
    const NumCase aCases[] = {
        {"0", 0, 0, 0, 1},
        {"12", 0, 0, 12, 2},
        {"12 ", 0, WRN_TRAILING_SPACES, 12, 2},
        {"12 \t ", 0, WRN_TRAILING_SPACES, 12, 2},
        {"12x", 0, WRN_TRAILING_CHARS, 12, 2},
        {"12 x", 0, WRN_TRAILING_CHARS, 12, 2},
        {"", 0, ERR_NO_DIGITS, 0, 0},
        {"abc", 0, ERR_NO_DIGITS, 0, 0},
        {" 12", 0, ERR_NO_DIGITS, 0, 0},
        {"-", 0, ERR_NO_DIGITS, 0, 1},
        {"+-x", 0, ERR_NO_DIGITS, 0, 2},
        // Signs: '+' makes the sign positive, '-' flips it.
        {"-5", 0, 0, (uint64_t)-5, 2},
        {"--5", 0, 0, 5, 3},
        {"+-5", 0, 0, (uint64_t)-5, 3},
        {"-+-+5", 0, 0, 5, 5},
        {"-+5", 0, 0, 5, 3},
        {"+-+5", 0, 0, 5, 4},
        {"-+-5", 0, 0, (uint64_t)-5, 4},
        {"---+--5", 0, 0, 5, 7},
        {"-+--+-5", 0, 0, (uint64_t)-5, 7},
        {"-+0x10", 0, 0, 16, 6},
        // Base detection.
        {"0x", 0, WRN_TRAILING_CHARS, 0, 1},
        {"0xg", 0, WRN_TRAILING_CHARS, 0, 1},
        {"0x1F", 0, 0, 0x1f, 4},
        {"0X1f", 0, 0, 0x1f, 4},
        {"-0x10", 0, 0, (uint64_t)-16, 5},
        {"017", 0, 0, 15, 3},
        {"018", 0, WRN_TRAILING_CHARS, 1, 2},
        {"09", 0, 0, 9, 2},
        {"00", 0, 0, 0, 2},
        // Given bases; 36 and above mean "detect".
        {"0x1F", 16, 0, 0x1f, 4},
        {"1F", 16, 0, 0x1f, 2},
        {"0x", 16, WRN_TRAILING_CHARS, 0, 1},
        {"017", 10, 0, 17, 3},
        {"0x10", 10, WRN_TRAILING_CHARS, 0, 1},
        {"0x10", 8, WRN_TRAILING_CHARS, 0, 1},
        {"102", 2, WRN_TRAILING_CHARS, 2, 2},
        {"zz", 35, ERR_NO_DIGITS, 0, 0},
        {"yy", 35, 0, 34 * 35 + 34, 2},
        {"0x10", 36, 0, 16, 4},
        {"017", 200, 0, 15, 3},
        // Limits.
        {"9223372036854775807", 0, 0, UINT64_C(0x7fffffffffffffff), 19},
        {"9223372036854775808", 0, WRN_NUMBER_TOO_BIG, UINT64_C(0x8000000000000000), 19},
        {"-9223372036854775808", 0, 0, UINT64_C(0x8000000000000000), 20},
        {"-9223372036854775809", 0, WRN_NUMBER_TOO_BIG, UINT64_C(0x7fffffffffffffff), 20},
        {"18446744073709551615", 0, WRN_NUMBER_TOO_BIG, UINT64_MAX, 20},
        {"18446744073709551616", 0, WRN_NUMBER_TOO_BIG, 0, 20},
        {"23058430092136939510", 0, WRN_NUMBER_TOO_BIG, UINT64_C(4611686018427387894), 20},
        // Overflow suppresses the trailing-text remark.
        {"99999999999999999999 ", 0, WRN_NUMBER_TOO_BIG, UINT64_C(7766279631452241919), 20},
        // Bounds.
        {"12345", 0x300, 0, 123, 3},
        {"12 x", 0x300, WRN_TRAILING_SPACES, 12, 2},
        {"12 x", 0x400, WRN_TRAILING_CHARS, 12, 2},
        {"12", 0x500, 0, 12, 2},
        {"--5", 0x200, ERR_NO_DIGITS, 0, 2},
        {"0x1F", 0x200, WRN_TRAILING_CHARS, 0, 1},
        {"0x1F", 0x210, WRN_TRAILING_CHARS, 0, 1},
        {"0x1F", 0x300, 0, 1, 3},
        {"017", 0x100, 0, 0, 1},
        {"017", 0x10a, 0, 0, 1},
    };
    for (const NumCase &c : aCases) {
        SCOPED_TRACE(testing::Message() << '"' << c.psz << "\" base/bound " << std::hex << c.uBaseAndMaxLen);
        int64_t i64 = 42;
        char *pszNext = nullptr;
        EXPECT_EQ(RTStrToInt64Ex(c.psz, &pszNext, c.uBaseAndMaxLen, &i64), c.rc);
        EXPECT_EQ((uint64_t)i64, c.uValue);
        EXPECT_EQ((size_t)(pszNext - c.psz), c.offEnd);
    }
}

TEST(StrToNum, UnsignedParser) {
    const NumCase aCases[] = {
        {"18446744073709551615", 0, 0, UINT64_MAX, 20},
        {"0xffffffffffffffff", 0, 0, UINT64_MAX, 18},
        {"01777777777777777777777", 0, 0, UINT64_MAX, 23},
        {"9223372036854775808", 0, 0, UINT64_C(0x8000000000000000), 19},
        {"18446744073709551616", 0, WRN_NUMBER_TOO_BIG, 0, 20},
        {"23058430092136939510", 0, WRN_NUMBER_TOO_BIG, UINT64_C(4611686018427387894), 20},
        {"0x10000000000000000", 0, WRN_NUMBER_TOO_BIG, 0, 19},
        // A minus sign negates and skips the trailing check.
        {"-5", 0, WRN_NEGATIVE_UNSIGNED, UINT64_C(18446744073709551611), 2},
        {"-5x", 0, WRN_NEGATIVE_UNSIGNED, UINT64_C(18446744073709551611), 2},
        {"--5x", 0, WRN_TRAILING_CHARS, 5, 3},
        {"-18446744073709551616", 0, WRN_NUMBER_TOO_BIG, 0, 21},
        {"12 ", 0, WRN_TRAILING_SPACES, 12, 2},
        {"12x", 0, WRN_TRAILING_CHARS, 12, 2},
        {"", 0, ERR_NO_DIGITS, 0, 0},
        {"-", 0, ERR_NO_DIGITS, 0, 1},
        {"12345", 0x300, 0, 123, 3},
    };
    for (const NumCase &c : aCases) {
        SCOPED_TRACE(testing::Message() << '"' << c.psz << "\" base/bound " << std::hex << c.uBaseAndMaxLen);
        uint64_t u64 = 42;
        char *pszNext = nullptr;
        EXPECT_EQ(RTStrToUInt64Ex(c.psz, &pszNext, c.uBaseAndMaxLen, &u64), c.rc);
        EXPECT_EQ(u64, c.uValue);
        EXPECT_EQ((size_t)(pszNext - c.psz), c.offEnd);
    }
}

struct FullCase {
    const char *psz;
    unsigned uBaseAndMaxLen;
    int rcSigned;
    int rcUnsigned;
    uint64_t uSigned;
    uint64_t uUnsigned;
};

TEST(StrToNum, WholeStringLayer) {
    const uint64_t uMinus5 = (uint64_t)-5;
    const FullCase aCases[] = {
        {"12", 0, 0, 0, 12, 12},
        {"12 ", 0, ERR_TRAILING_SPACES, ERR_TRAILING_SPACES, 12, 12},
        {"12x", 0, ERR_TRAILING_CHARS, ERR_TRAILING_CHARS, 12, 12},
        {"12 x", 0, ERR_TRAILING_CHARS, ERR_TRAILING_CHARS, 12, 12},
        {"", 0, ERR_NO_DIGITS, ERR_NO_DIGITS, 0, 0},
        {" 1", 0, ERR_NO_DIGITS, ERR_NO_DIGITS, 0, 0},
        {"-5", 0, 0, WRN_NEGATIVE_UNSIGNED, uMinus5, uMinus5},
        {"-5 ", 0, ERR_TRAILING_SPACES, ERR_TRAILING_SPACES, uMinus5, uMinus5},
        {"-5x", 0, ERR_TRAILING_CHARS, ERR_TRAILING_CHARS, uMinus5, uMinus5},
        {"99999999999999999999", 0, WRN_NUMBER_TOO_BIG, WRN_NUMBER_TOO_BIG, UINT64_C(7766279631452241919),
         UINT64_C(7766279631452241919)},
        {"99999999999999999999 \t", 0, ERR_TRAILING_SPACES, ERR_TRAILING_SPACES, UINT64_C(7766279631452241919),
         UINT64_C(7766279631452241919)},
        {"99999999999999999999 z", 0, ERR_TRAILING_CHARS, ERR_TRAILING_CHARS, UINT64_C(7766279631452241919),
         UINT64_C(7766279631452241919)},
        // The bound ends the number: what lies beyond it does not count.
        {"12345", 0x300, 0, 0, 123, 123},
        {"12 x", 0x300, ERR_TRAILING_SPACES, ERR_TRAILING_SPACES, 12, 12},
        {"-5x", 0x200, 0, WRN_NEGATIVE_UNSIGNED, uMinus5, uMinus5},
        {"-5 x", 0x300, ERR_TRAILING_SPACES, ERR_TRAILING_SPACES, uMinus5, uMinus5},
        {"9223372036854775808", 0, WRN_NUMBER_TOO_BIG, 0, UINT64_C(0x8000000000000000), UINT64_C(0x8000000000000000)},
    };
    for (const FullCase &c : aCases) {
        SCOPED_TRACE(testing::Message() << '"' << c.psz << "\" base/bound " << std::hex << c.uBaseAndMaxLen);
        int64_t i64 = 42;
        EXPECT_EQ(RTStrToInt64Full(c.psz, c.uBaseAndMaxLen, &i64), c.rcSigned);
        EXPECT_EQ((uint64_t)i64, c.uSigned);
        uint64_t u64 = 42;
        EXPECT_EQ(RTStrToUInt64Full(c.psz, c.uBaseAndMaxLen, &u64), c.rcUnsigned);
        EXPECT_EQ(u64, c.uUnsigned);
    }
}

// The narrowing wrappers: each width's edges, and the range check replacing remarks.
TEST(StrToNum, NarrowingWrappers) {
    struct Case {
        const char *psz;
        int rc8, rc16, rc32;    // signed whole-string forms
        int rcU8, rcU16, rcU32; // unsigned whole-string forms
        int rcU8Ex, rcU32Ex;    // unsigned parsers with range check
        uint64_t uValue;        // low bits stored by every form
    };
    const int B = WRN_NUMBER_TOO_BIG, N = WRN_NEGATIVE_UNSIGNED, S = ERR_TRAILING_SPACES, C = ERR_TRAILING_CHARS;
    const Case aCases[] = {
        {"127", 0, 0, 0, 0, 0, 0, 0, 0, 127},
        {"128", B, 0, 0, 0, 0, 0, 0, 0, 128},
        {"-128", 0, 0, 0, B, B, B, B, B, (uint64_t)-128},
        {"-129", B, 0, 0, B, B, B, B, B, (uint64_t)-129},
        {"255", B, 0, 0, 0, 0, 0, 0, 0, 255},
        {"256", B, 0, 0, B, 0, 0, B, 0, 256},
        {"32767", B, 0, 0, B, 0, 0, B, 0, 32767},
        {"32768", B, B, 0, B, 0, 0, B, 0, 32768},
        {"-32768", B, 0, 0, B, B, B, B, B, (uint64_t)-32768},
        {"65535", B, B, 0, B, 0, 0, B, 0, 65535},
        {"65536", B, B, 0, B, B, 0, B, 0, 65536},
        {"2147483647", B, B, 0, B, B, 0, B, 0, 2147483647},
        {"2147483648", B, B, B, B, B, 0, B, 0, 2147483648u},
        {"-2147483648", B, B, 0, B, B, B, B, B, (uint64_t)INT64_C(-2147483648)},
        {"4294967295", B, B, B, B, B, 0, B, 0, 4294967295u},
        {"4294967296", B, B, B, B, B, B, B, B, UINT64_C(4294967296)},
        // Out of range replaces the trailing-text results of the whole-string forms
        // only when they are not errors; the parsers' remarks are replaced too.
        {"300 ", S, S, S, S, S, S, B, WRN_TRAILING_SPACES, 300},
        {"300x", C, C, C, C, C, C, B, WRN_TRAILING_CHARS, 300},
        {"12 ", S, S, S, S, S, S, WRN_TRAILING_SPACES, WRN_TRAILING_SPACES, 12},
        {"-0", 0, 0, 0, N, N, N, N, N, 0},
        {"-5", 0, 0, 0, B, B, B, B, B, (uint64_t)-5},
        {"x", ERR_NO_DIGITS, ERR_NO_DIGITS, ERR_NO_DIGITS, ERR_NO_DIGITS, ERR_NO_DIGITS, ERR_NO_DIGITS, ERR_NO_DIGITS,
         ERR_NO_DIGITS, 0},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.psz);
        int8_t i8 = 1;
        int16_t i16 = 1;
        int32_t i32 = 1;
        uint8_t u8 = 1, u8Ex = 1;
        uint16_t u16 = 1;
        uint32_t u32 = 1, u32Ex = 1;
        EXPECT_EQ(RTStrToInt8Full(c.psz, 0, &i8), c.rc8);
        EXPECT_EQ(RTStrToInt16Full(c.psz, 0, &i16), c.rc16);
        EXPECT_EQ(RTStrToInt32Full(c.psz, 0, &i32), c.rc32);
        EXPECT_EQ(RTStrToUInt8Full(c.psz, 0, &u8), c.rcU8);
        EXPECT_EQ(RTStrToUInt16Full(c.psz, 0, &u16), c.rcU16);
        EXPECT_EQ(RTStrToUInt32Full(c.psz, 0, &u32), c.rcU32);
        char *pszNext = nullptr;
        EXPECT_EQ(RTStrToUInt8Ex(c.psz, &pszNext, 0, &u8Ex), c.rcU8Ex);
        EXPECT_EQ(RTStrToUInt32Ex(c.psz, nullptr, 0, &u32Ex), c.rcU32Ex);
        EXPECT_EQ((uint8_t)i8, (uint8_t)c.uValue);
        EXPECT_EQ((uint16_t)i16, (uint16_t)c.uValue);
        EXPECT_EQ((uint32_t)i32, (uint32_t)c.uValue);
        EXPECT_EQ(u8, (uint8_t)c.uValue);
        EXPECT_EQ(u16, (uint16_t)c.uValue);
        EXPECT_EQ(u32, (uint32_t)c.uValue);
        EXPECT_EQ(u8Ex, (uint8_t)c.uValue);
        EXPECT_EQ(u32Ex, (uint32_t)c.uValue);
    }
}

TEST(StrToNum, Int32ReturnsValueOrZero) {
    EXPECT_EQ(RTStrToInt32("-42"), -42);
    EXPECT_EQ(RTStrToInt32("0x7fffffff"), INT32_MAX);
    EXPECT_EQ(RTStrToInt32("12 junk"), 12);
    EXPECT_EQ(RTStrToInt32("4294967297"), 1); // low 32 bits of an out-of-range value
    EXPECT_EQ(RTStrToInt32("junk"), 0);
}

TEST(StrToNum, OutPointersMayBeNull) {
    EXPECT_EQ(RTStrToInt64Ex("12x", nullptr, 0, nullptr), WRN_TRAILING_CHARS);
    EXPECT_EQ(RTStrToUInt64Ex("-1", nullptr, 0, nullptr), WRN_NEGATIVE_UNSIGNED);
    EXPECT_EQ(RTStrToUInt8Ex("", nullptr, 0, nullptr), ERR_NO_DIGITS);
    EXPECT_EQ(RTStrToUInt16Full("70000", 0, nullptr), WRN_NUMBER_TOO_BIG);
}

// Command-line text is not always terminated where the caller's bound ends: the
// parsers must look at nothing beyond it. The text sits at the very end of a heap
// block without a terminator, so an over-read trips the address sanitizer and,
// without one, would at least change the result through the poison bytes after it.
TEST(StrToNum, NeverReadsPastTheBound) {
    struct Case {
        const char *pach;
        int rc;
        uint64_t uValue;
        size_t offEnd;
    };
    const Case aCases[] = {
        {"123", 0, 123, 3},
        {"-12", 0, (uint64_t)-12, 3},
        {"+-", ERR_NO_DIGITS, 0, 2},
        {"0", 0, 0, 1},
        {"0x", WRN_TRAILING_CHARS, 0, 1},
        {"0x1", 0, 1, 3},
        {"07", 0, 7, 2},
        {"12  ", WRN_TRAILING_SPACES, 12, 2},
        {"12 \t", WRN_TRAILING_SPACES, 12, 2},
        {"1 x", WRN_TRAILING_CHARS, 1, 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pach);
        const size_t cch = strlen(c.pach);
        std::unique_ptr<char[]> pBuf(new char[cch]);
        memcpy(pBuf.get(), c.pach, cch);
        const unsigned uBaseAndMaxLen = (unsigned)cch << 8;
        char *pszNext = nullptr;
        int64_t i64 = 42;
        EXPECT_EQ(RTStrToInt64Ex(pBuf.get(), &pszNext, uBaseAndMaxLen, &i64), c.rc);
        EXPECT_EQ((uint64_t)i64, c.uValue);
        EXPECT_EQ((size_t)(pszNext - pBuf.get()), c.offEnd);
        uint64_t u64 = 42;
        int rcFull = RTStrToUInt64Full(pBuf.get(), uBaseAndMaxLen, &u64);
        if (c.rc == WRN_TRAILING_SPACES)
            EXPECT_EQ(rcFull, ERR_TRAILING_SPACES);
        else if (c.rc == WRN_TRAILING_CHARS)
            EXPECT_EQ(rcFull, ERR_TRAILING_CHARS);
        else if (c.pach[0] == '-')
            EXPECT_EQ(rcFull, WRN_NEGATIVE_UNSIGNED);
        else
            EXPECT_EQ(rcFull, c.rc);
        EXPECT_EQ(u64, c.uValue);
    }
}

} // namespace
