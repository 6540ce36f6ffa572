// The transfer loops behind RTFileRead and RTFileWrite, driven by a scripted platform:
// short transfers, the transient low-memory failure and its chunking, disk full.
#include <gtest/gtest.h>

#include "r3/internal-file.h"

#include <vector>

namespace {

constexpr size_t kAll = ~(size_t)0;

struct Step {
    int rc;
    bool fLowMemory;
    size_t cbDone; // kAll: everything asked for
};

struct Script {
    std::vector<Step> steps;
    std::vector<size_t> calls; // sizes asked for
    size_t iNext = 0;
    uint64_t offTell = 0;
    RTFSTYPE enmType = FSTYPE_UNKNOWN;
    int cFsTypeCalls = 0;
};
Script *g_pScript;

int fakeXfer(RTFILE, void *, size_t cb, size_t *pcbDone, bool *pfLowMemory) {
    g_pScript->calls.push_back(cb);
    if (g_pScript->iNext >= g_pScript->steps.size()) {
        ADD_FAILURE() << "more calls than scripted";
        return ERR_INTERNAL_ERROR;
    }
    const Step &s = g_pScript->steps[g_pScript->iNext++];
    *pfLowMemory = s.fLowMemory;
    if (RT_SUCCESS(s.rc))
        *pcbDone = s.cbDone == kAll ? cb : s.cbDone;
    return s.rc;
}
uint64_t fakeTell(RTFILE) {
    return g_pScript->offTell;
}
int fakeFsType(RTFILE, RTFSTYPE *penmType) {
    g_pScript->cFsTypeCalls++;
    *penmType = g_pScript->enmType;
    return 0;
}

constexpr RTFILEXFEROPS kOps = {fakeXfer, fakeTell, fakeFsType, 0x10000000};
const Step kLowMem = {ERR_NO_MEMORY, true, 0};

} // namespace

TEST(FileXferLoop, ReadAndWrite) {
    static const struct {
        const char *pszName;
        bool fWrite;
        size_t cb;
        bool fWantCount;
        std::vector<Step> steps;
        int rc;
        size_t cbReported; // with fWantCount
        std::vector<size_t> calls;
    } s_aCases[] = {
        {"read all at once", false, 1000, false, {{0, false, kAll}}, 0, 0, {1000}},
        {"read short, count wanted", false, 10, true, {{0, false, 5}}, 0, 5, {10}},
        {"read short, all wanted", false, 10, false, {{0, false, 5}, {0, false, 0}}, ERR_EOF, 0, {10, 5}},
        {"read in pieces", false, 10, false, {{0, false, 4}, {0, false, 4}, {0, false, 2}}, 0, 0, {10, 6, 2}},
        {"read error", false, 10, false, {{ERR_READ_ERROR, false, 0}}, ERR_READ_ERROR, 0, {10}},
        {"read error, count wanted", false, 10, true, {{ERR_READ_ERROR, false, 0}}, ERR_READ_ERROR, 0, {10}},
        // Low memory: half the request rounded up to 256, at most 16 KiB, halved per failure.
        {"read chunks",
         false,
         100000,
         false,
         {kLowMem,
          {0, false, kAll},
          {0, false, kAll},
          {0, false, kAll},
          {0, false, kAll},
          {0, false, kAll},
          {0, false, kAll},
          {0, false, kAll}},
         0,
         0,
         {100000, 16384, 16384, 16384, 16384, 16384, 16384, 1696}},
        {"read chunk size", false, 1000, false, {kLowMem, {0, false, kAll}, {0, false, kAll}}, 0, 0, {1000, 512, 488}},
        {"read chunk halving",
         false,
         1000,
         false,
         {kLowMem, kLowMem, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}},
         0,
         0,
         {1000, 512, 256, 256, 256, 232}},
        {"read chunk gives up at 8",
         false,
         100,
         false,
         {kLowMem, kLowMem, kLowMem, kLowMem, kLowMem, kLowMem},
         ERR_NO_MEMORY,
         0,
         {100, 100, 100, 64, 32, 16}},
        {"read chunk other error",
         false,
         1000,
         false,
         {kLowMem, {ERR_READ_ERROR, false, 0}},
         ERR_READ_ERROR,
         0,
         {1000, 512}},
        {"read chunk, count wanted", false, 1000, true, {kLowMem, {0, false, kAll}}, 0, 512, {1000, 512}},
        {"read chunk eof", false, 1000, false, {kLowMem, {0, false, 300}, {0, false, 0}}, ERR_EOF, 0, {1000, 512, 512}},
        {"read of one byte gives up", false, 1, false, {kLowMem}, ERR_NO_MEMORY, 0, {1}},
        {"write all", true, 64, false, {{0, false, kAll}}, 0, 0, {64}},
        {"write short, all wanted", true, 64, false, {{0, false, 60}, {0, false, 0}}, ERR_WRITE_INCOMPLETE, 0, {64, 4}},
        {"write short, count wanted", true, 64, true, {{0, false, 60}}, 0, 60, {64}},
        {"write reports more than asked", true, 64, true, {{0, false, 100}}, 0, 64, {64}},
        {"write chunks of 32 KiB",
         true,
         100000,
         false,
         {kLowMem, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}},
         0,
         0,
         {100000, 32768, 32768, 32768, 1696}},
        {"write chunk halving",
         true,
         70000,
         false,
         {kLowMem, kLowMem, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}, {0, false, kAll}},
         0,
         0,
         {70000, 32768, 16384, 16384, 16384, 16384, 4464}},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszName);
        Script script;
        script.steps = c.steps;
        g_pScript = &script;
        static uint8_t s_abBuf[100000];
        size_t cbDone = 12345;
        int rc = c.fWrite ? rtFileWriteWorker(&kOps, 3, s_abBuf, c.cb, c.fWantCount ? &cbDone : nullptr)
                          : rtFileReadWorker(&kOps, 3, s_abBuf, c.cb, c.fWantCount ? &cbDone : nullptr);
        EXPECT_EQ(c.rc, rc);
        if (c.fWantCount && RT_SUCCESS(c.rc))
            EXPECT_EQ(c.cbReported, cbDone);
        EXPECT_EQ(c.calls, script.calls);
        EXPECT_EQ(script.steps.size(), script.iNext);
    }
}

TEST(FileXferLoop, ZeroCountMakesNoCall) {
    Script script;
    g_pScript = &script;
    size_t cb = 99;
    EXPECT_EQ(0, rtFileReadWorker(&kOps, 3, nullptr, 0, &cb));
    EXPECT_EQ(0u, cb);
    cb = 99;
    EXPECT_EQ(0, rtFileWriteWorker(&kOps, 3, nullptr, 0, &cb));
    EXPECT_EQ(0u, cb);
    EXPECT_TRUE(script.calls.empty());
}

TEST(FileXferLoop, DiskFullOrTooBig) {
    static const struct {
        uint64_t offTell;
        size_t cbWrite;
        RTFSTYPE enmType;
        int rc;
        bool fAsksType;
    } s_aCases[] = {
        {0, 100, FSTYPE_FAT, ERR_DISK_FULL, false},
        {0x7ffffffe - 100, 100, FSTYPE_HPFS, ERR_DISK_FULL, false}, // end just below 2 GiB - 1
        {0x7fffffff - 100, 100, FSTYPE_HPFS, ERR_DISK_FULL, true},  // below the HPFS limit of 2 GiB
        {0x80000000 - 100, 100, FSTYPE_HPFS, ERR_FILE_TOO_BIG, true},
        {0xffffffff - 100, 100, FSTYPE_FAT, ERR_DISK_FULL, true},
        {0x100000000 - 100, 100, FSTYPE_FAT, ERR_FILE_TOO_BIG, true},
        {0x100000000, 100, FSTYPE_NTFS, ERR_DISK_FULL, true},
        {0x100000000, 100, FSTYPE_UNKNOWN, ERR_DISK_FULL, true},
        {0x100000000, 100, FSTYPE_CDFS, ERR_DISK_FULL, true},
        {(UINT64_C(1) << 43) - 1, 1, FSTYPE_CDFS, ERR_FILE_TOO_BIG, true},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "at 0x" << c.offTell << " + 0x" << c.cbWrite << " type "
                                        << std::dec << c.enmType);
        Script script;
        script.steps = {{ERR_DISK_FULL, false, 0}};
        script.offTell = c.offTell;
        script.enmType = c.enmType;
        g_pScript = &script;
        static uint8_t s_abBuf[256];
        EXPECT_EQ(c.rc, rtFileWriteWorker(&kOps, 3, s_abBuf, c.cbWrite, nullptr));
        EXPECT_EQ(c.fAsksType ? 1 : 0, script.cFsTypeCalls);
    }
}
