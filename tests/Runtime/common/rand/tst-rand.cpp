#include <gtest/gtest.h>
#include <olma/mem.h>
#include <olma/rand.h>

#include "common/rand/internal-rand.h"

#include <cstring>
#include <string>

namespace {

/** A Park-Miller generator that is destroyed with the test. */
struct PmGen {
    RTRAND h = NIL_RTRAND;
    PmGen() { EXPECT_EQ(RTRandCreateParkMiller(&h), 0); }
    explicit PmGen(uint64_t uSeed) : PmGen() { EXPECT_EQ(RTRandSeed(h, uSeed), 0); }
    ~PmGen() { EXPECT_EQ(RTRandDestroy(h), 0); }
    std::string save() {
        char sz[32];
        size_t cb = sizeof(sz);
        EXPECT_EQ(h->saveState(h, sz, &cb), 0);
        return sz;
    }
};

} // namespace

TEST(RandParkMiller, NewGeneratorFirstFullDraw) {
    PmGen g;
    EXPECT_EQ(g.save(), "PM:20080806,00000000,00;");
    EXPECT_EQ(RTRandGetU32Ex(g.h, 0, UINT32_MAX), 0x37A3692Bu);
    EXPECT_EQ(g.h->state, 0x129B86D4u);
    EXPECT_EQ(g.h->bits, 0x04A6E1B5u);
    EXPECT_EQ(g.h->bitCount, 28u);
    // The bit count is written in small letters, the words in capitals.
    EXPECT_EQ(g.save(), "PM:129B86D4,04A6E1B5,1c;");
}

TEST(RandParkMiller, FixedSequencesFromSeed) {
    struct Case {
        const char *pszWhat;
        uint32_t uMin, uMax;
        uint32_t au[2];
    };
    // Each range shape takes its own path through the generator.
    const Case aCases[] = {
        {"small range (temporary names)", 0, 35, {15, 12}},
        {"full 32 bits", 0, UINT32_MAX, {0x400020d3, 0x305bd66c}},
        {"31-bit step range", 10, 10u + 0x7FFFFFFE, {16817, 282475259}},
        {"wide range with reservoir", 0, 0x7FFFFFFF, {1073750227, 1885066860}},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        PmGen g(1);
        for (size_t i = 0; i < RT_ELEMENTS(c.au); i++)
            EXPECT_EQ(RTRandGetU32Ex(g.h, c.uMin, c.uMax), c.au[i]) << i;
    }

    PmGen g(1);
    uint32_t au[5];
    for (uint32_t &u : au)
        u = RTRandGetU32Ex(g.h, 0, 35);
    EXPECT_EQ(std::vector<uint32_t>(au, au + 5), (std::vector<uint32_t>{15, 12, 20, 1, 29}));
}

TEST(RandParkMiller, ZeroSeedRestartsFromFixedValue) {
    PmGen gZero(0), gRef(20080806);
    EXPECT_EQ(gZero.h->state, 0u);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(RTRandGetU32Ex(gZero.h, 0, UINT32_MAX), RTRandGetU32Ex(gRef.h, 0, UINT32_MAX)) << i;
    // Only the low 32 bits of a seed reach the state.
    PmGen gHigh(0x1234567800000001ull), gOne(1);
    EXPECT_EQ(RTRandGetU32Ex(gHigh.h, 0, 35), RTRandGetU32Ex(gOne.h, 0, 35));
}

TEST(RandParkMiller, RangesAreKept) {
    PmGen g(42);
    EXPECT_EQ(RTRandGetU32Ex(g.h, 5, 5), 5u);
    for (int i = 0; i < 2000; i++) {
        uint32_t u = RTRandGetU32Ex(g.h, 0, 35);
        ASSERT_LE(u, 35u);
        u = RTRandGetU32Ex(g.h, 1000, 0x90000000);
        ASSERT_GE(u, 1000u);
        ASSERT_LE(u, 0x90000000u);
        // Ranges wider than 32 bits whose low half is not all ones.
        uint64_t u64 = g.h->getU64(g.h, 0, UINT64_C(0x100000000));
        ASSERT_LE(u64, UINT64_C(0x100000000));
        u64 = g.h->getU64(g.h, UINT64_C(0xFFFFFFFF00000000), UINT64_MAX - 5);
        ASSERT_GE(u64, UINT64_C(0xFFFFFFFF00000000));
        ASSERT_LE(u64, UINT64_MAX - 5);
    }
    // A 64-bit range that fits in 32 bits is the 32-bit draw plus min.
    PmGen gA(7), gB(7);
    EXPECT_EQ(gA.h->getU64(gA.h, UINT64_C(1) << 40, (UINT64_C(1) << 40) + 35),
              (UINT64_C(1) << 40) + RTRandGetU32Ex(gB.h, 0, 35));
}

TEST(RandParkMiller, GetBytesIsLeastSignificantFirst) {
    PmGen gBytes(1), gWords(1);
    uint8_t ab[7];
    memset(ab, 0xcc, sizeof(ab));
    gBytes.h->getBytes(gBytes.h, ab, 6);
    uint32_t u1 = RTRandGetU32Ex(gWords.h, 0, UINT32_MAX);
    uint32_t u2 = RTRandGetU32Ex(gWords.h, 0, UINT32_MAX);
    const uint8_t abExpect[7] = {
        (uint8_t)u1, (uint8_t)(u1 >> 8), (uint8_t)(u1 >> 16), (uint8_t)(u1 >> 24), (uint8_t)u2, (uint8_t)(u2 >> 8),
        0xcc};
    EXPECT_EQ(0, memcmp(ab, abExpect, sizeof(ab)));
    // Exactly four bytes take one draw.
    gBytes.h->getBytes(gBytes.h, ab, 4);
    uint32_t u3 = RTRandGetU32Ex(gWords.h, 0, UINT32_MAX);
    EXPECT_EQ(0, memcmp(ab, &u3, 4));
    EXPECT_EQ(gBytes.save(), gWords.save());
}

TEST(RandParkMiller, SaveAndRestore) {
    PmGen g(1234);
    (void)RTRandGetU32Ex(g.h, 0, UINT32_MAX);

    char sz[32];
    size_t cb = 24;
    EXPECT_EQ(g.h->saveState(g.h, sz, &cb), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(cb, 25u);
    cb = 25;
    ASSERT_EQ(g.h->saveState(g.h, sz, &cb), 0);
    EXPECT_EQ(strlen(sz), 24u);

    uint32_t au[6];
    for (uint32_t &u : au)
        u = RTRandGetU32Ex(g.h, 0, UINT32_MAX);
    PmGen g2;
    ASSERT_EQ(g2.h->restoreState(g2.h, sz), 0);
    for (uint32_t u : au)
        EXPECT_EQ(RTRandGetU32Ex(g2.h, 0, UINT32_MAX), u);
}

TEST(RandParkMiller, RestoreRejectsMalformedText) {
    const char *apsz[] = {
        "PM:1,2,3;",
        "",
        "PM:",
        "pm:129B86D4,04A6E1B5,1c;",
        "PM:129B86D4,04A6E1B5,1c",
        "PM:129B86D4,04A6E1B5,1c;x",
        "PM:129B86D4;04A6E1B5,1c;",
        "PM:129B86D4,04A6E1B5;1c;",
        "PM:129B86D4,04A6E1B5,1c,",
        "PM:129B86D,404A6E1B5,1c;",
        "PM:129B86D4,04A6E1B5,1;;",
        "PM:129B86G4,04A6E1B5,1c;",
        "PM:129B86D4,04A6E1B5,  ;",
    };
    PmGen g(99);
    std::string const strBefore = g.save();
    for (const char *psz : apsz) {
        SCOPED_TRACE(psz);
        EXPECT_EQ(g.h->restoreState(g.h, psz), ERR_PARSE_ERROR);
        EXPECT_EQ(g.save(), strBefore);
    }
    EXPECT_EQ(g.h->restoreState(g.h, "PM:0000002A,00000003,1e;"), 0);
    EXPECT_EQ(g.h->state, 42u);
    EXPECT_EQ(g.h->bits, 3u);
    EXPECT_EQ(g.h->bitCount, 30u);
}

TEST(Rand, HandleChecks) {
    EXPECT_EQ(RTRandDestroy(NIL_RTRAND), 0);
    RandGenerator Fake{};
    Fake.magic = RTRAND_MAGIC_DEAD;
    EXPECT_EQ(RTRandDestroy(&Fake), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTRandSeed(&Fake, 1), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTRandGetU32Ex(&Fake, 0, 35), UINT32_MAX);
    EXPECT_EQ(RTRandGetU32Ex(NIL_RTRAND, 0, 35), UINT32_MAX);
    EXPECT_EQ(RTRandDestroy((RTRAND)(uintptr_t)0x20), ERR_INVALID_HANDLE);
}

TEST(Rand, CreateFailsWithoutMemory) {
    size_t const cBefore = RTMemTestOutstanding();
    RTRAND h = NIL_RTRAND;
    RTMemTestFailNth(1);
    EXPECT_EQ(RTRandCreateParkMiller(&h), ERR_NO_MEMORY);
    RTMemTestFailNth(0);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(Rand, SystemGenerator) {
    RTRAND h = NIL_RTRAND;
    int rc = rtRandCreateSystem(&h);
    if (rc == ERR_NOT_SUPPORTED)
        GTEST_SKIP() << "no platform random source";
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(RTRandSeed(h, 1), ERR_NOT_SUPPORTED);
    char sz[32];
    size_t cb = sizeof(sz);
    EXPECT_EQ(h->saveState(h, sz, &cb), ERR_NOT_SUPPORTED);
    EXPECT_EQ(h->restoreState(h, "PM:0000002A,00000003,1e;"), ERR_NOT_SUPPORTED);
    bool afSeen[36] = {};
    for (int i = 0; i < 5000; i++) {
        uint32_t u = RTRandGetU32Ex(h, 0, 35);
        ASSERT_LE(u, 35u);
        afSeen[u] = true;
        uint64_t u64 = h->getU64(h, 3, UINT64_C(0x300000000));
        ASSERT_GE(u64, 3u);
        ASSERT_LE(u64, UINT64_C(0x300000000));
    }
    for (int i = 0; i < 36; i++)
        EXPECT_TRUE(afSeen[i]) << i;
    EXPECT_EQ(RTRandGetU32Ex(h, 7, 7), 7u);
    // Two draws of 16 bytes from a real source are never equal.
    uint8_t ab1[16], ab2[16];
    h->getBytes(h, ab1, sizeof(ab1));
    h->getBytes(h, ab2, sizeof(ab2));
    EXPECT_NE(0, memcmp(ab1, ab2, sizeof(ab1)));
    EXPECT_EQ(RTRandDestroy(h), 0);
}

TEST(Rand, ProcessWideGenerator) {
    for (int i = 0; i < 200; i++)
        ASSERT_LE(RTRandU32Ex(0, 35), 35u);

    // A seeded generator put in its place gives its fixed sequence.
    PmGen g(1);
    RTRAND hOld = rtRandTestSwapProcessGenerator(g.h);
    ASSERT_NE(hOld, NIL_RTRAND);
    uint32_t au[5];
    for (uint32_t &u : au)
        u = RTRandU32Ex(0, 35);
    EXPECT_EQ(std::vector<uint32_t>(au, au + 5), (std::vector<uint32_t>{15, 12, 20, 1, 29}));

    // Without a live generator the draw reports failure.
    EXPECT_EQ(rtRandTestSwapProcessGenerator(NIL_RTRAND), g.h);
    EXPECT_EQ(RTRandU32Ex(0, 35), UINT32_MAX);
    uint32_t u = 0;
    EXPECT_EQ(rtRandProcessGetU32(0, 35, &u), ERR_INVALID_HANDLE);
    EXPECT_EQ(rtRandTestSwapProcessGenerator(hOld), NIL_RTRAND);
}
