// Open flags: validation with defaults, and the mapping to the platform's open parameters.
#include <gtest/gtest.h>

#include "r3/internal-file.h"

TEST(FileFlags, Validation) {
    static const struct {
        uint64_t fOpen;
        int rc;
        uint64_t fExpected; // after the defaults are filled in
    } s_aCases[] = {
        {0x0, ERR_INVALID_PARAMETER, 0},                          // no access at all
        {0x4, ERR_INVALID_PARAMETER, 0},                          // append alone is no access
        {0x1000, ERR_INVALID_PARAMETER, 0},                       // truncate alone is no access
        {0x1, 0, 0x781},                                          // deny none, open existing
        {0x10000, 0, 0x10780},                                    // attribute read only
        {0x20000, 0, 0x20780},                                    // attribute write only
        {0x9, ERR_INVALID_PARAMETER, 0},                          // bit 0x8 is not defined
        {0x4001, ERR_INVALID_PARAMETER, 0},                       // reserved
        {0x80000001, ERR_INVALID_PARAMETER, 0},                   // reserved
        {0x1001, ERR_INVALID_PARAMETER, 0},                       // truncate needs write access
        {0x1011, ERR_INVALID_PARAMETER, 0},                       //   also with a deny mode
        {0x11001, ERR_INVALID_PARAMETER, 0},                      //   attribute access is not write access
        {0x1002, 0, 0x1782},                                      //
        {0x1003, 0, 0x1783},                                      //
        {0x91, ERR_INVALID_PARAMETER, 0},                         // deny values above 0x80
        {0xa1, ERR_INVALID_PARAMETER, 0},                         //
        {0xf1, ERR_INVALID_PARAMETER, 0},                         //
        {0x11, 0, 0x711},                                         //
        {0x71, 0, 0x771},                                         //
        {0x401, ERR_INVALID_PARAMETER, 0},                        // dispositions 4 to 6
        {0x501, ERR_INVALID_PARAMETER, 0},                        //
        {0x601, ERR_INVALID_PARAMETER, 0},                        //
        {0x182, 0, 0x182},                                        // open or create keeps its deny mode
        {0x802, ERR_INVALID_PARAMETER, 0},                        // not content indexed with the default open
        {0xf02, ERR_INVALID_PARAMETER, 0},                        //   and with an explicit one
        {0x902, 0, 0x982},                                        //   fine with open or create
        {0xb02, 0, 0xb82},                                        //   and create new
        {0x1c000322, 0, 0x1c000322},                              // permission bits pass through
        {UINT64_C(0xffffffff00000001), 0, 0x781},                 // the high half is cleared
        {UINT64_C(0x0000000100000000), ERR_INVALID_PARAMETER, 0}, // and cannot supply access
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "flags 0x" << c.fOpen);
        uint64_t fOpen = c.fOpen;
        EXPECT_EQ(c.rc, rtFileRecalcAndValidateFlags(&fOpen));
        if (c.rc == 0)
            EXPECT_EQ(c.fExpected, fOpen);
        else
            EXPECT_EQ(c.fOpen, fOpen); // untouched on failure
    }
}

TEST(FileFlags, PlatformOpenParameters) {
    static const struct {
        uint64_t fOpen;
        uint32_t fAccess, fShare, uDisposition, fFlagsAndAttributes;
        bool fInherit;
    } s_aCases[] = {
        {0x1c000322, 0x120116, 0x1, RTFILE_WIN_CREATE_ALWAYS, 0x80, false},
        {0x1c000781, 0x120089, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x1, 0x120089, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x3, 0x12019f, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x7, 0x12019d, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false}, // read-write append
        {0x6, 0x120114, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false}, // write append
        {0xc8006, 0x120110, 0x3, RTFILE_WIN_OPEN_EXISTING, 0xe0000080, false},
        {0x80003, 0x12019b, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x20000080, false}, // unbuffered drops append-data
        {0x10000, 0x100080, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x20000, 0x100100, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x30000, 0x100180, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false},
        {0x20001, 0x120189, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, false}, // read data, write attributes
        {0x1702, 0x40120116, 0x3, RTFILE_WIN_TRUNCATE_EXISTING, 0x80, false},
        {0x1102, 0x120116, 0x3, RTFILE_WIN_OPEN_ALWAYS, 0x80, false}, // truncated later, not by disposition
        {0x1302, 0x120116, 0x3, RTFILE_WIN_CREATE_ALWAYS, 0x80, false},
        {0x40000201, 0x120089, 0x3, RTFILE_WIN_CREATE_NEW, 0x100, false},
        {0x2001, 0x120089, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80, true},
        {0x8002, 0x120116, 0x3, RTFILE_WIN_OPEN_EXISTING, 0x80000080, false},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "flags 0x" << c.fOpen);
        uint64_t fOpen = c.fOpen;
        ASSERT_EQ(0, rtFileRecalcAndValidateFlags(&fOpen));
        RTFILEWINOPENPARAMS params;
        rtFileWinOpenParams(fOpen, &params);
        EXPECT_EQ(c.fAccess, params.fAccess);
        EXPECT_EQ(c.fShare, params.fShare);
        EXPECT_EQ(c.uDisposition, params.uDisposition);
        EXPECT_EQ(c.fFlagsAndAttributes, params.fFlagsAndAttributes);
        EXPECT_EQ(c.fInherit, params.fInherit);
    }
}

TEST(FileFlags, DenyModeToShareMode) {
    // read 1, write 2, delete 4
    static const struct {
        uint64_t fDeny;
        uint32_t fShare;
    } s_aCases[] = {
        {0x00, 0x3}, {0x10, 0x2}, {0x20, 0x1}, {0x30, 0x0}, {0x40, 0x7},
        {0x50, 0x6}, {0x60, 0x5}, {0x70, 0x4}, {0x80, 0x3},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "deny 0x" << c.fDeny);
        uint64_t fOpen = RTFILE_O_READ | c.fDeny;
        ASSERT_EQ(0, rtFileRecalcAndValidateFlags(&fOpen));
        EXPECT_EQ(c.fShare, rtFileShareFromFlags(fOpen));
    }
}

TEST(FileFlags, ActionFromDisposition) {
    static const struct {
        uint32_t uDisposition;
        bool fExisted;
        RTFILEACTION enmAction;
    } s_aCases[] = {
        {RTFILE_WIN_CREATE_NEW, false, RTFILEACTION_CREATED},
        {RTFILE_WIN_CREATE_ALWAYS, false, RTFILEACTION_CREATED},
        {RTFILE_WIN_CREATE_ALWAYS, true, RTFILEACTION_REPLACED},
        {RTFILE_WIN_OPEN_EXISTING, true, RTFILEACTION_OPENED},
        {RTFILE_WIN_OPEN_ALWAYS, false, RTFILEACTION_CREATED},
        {RTFILE_WIN_OPEN_ALWAYS, true, RTFILEACTION_OPENED},
        {RTFILE_WIN_TRUNCATE_EXISTING, true, RTFILEACTION_TRUNCATED},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << "disposition " << c.uDisposition << " existed " << c.fExisted);
        EXPECT_EQ(c.enmAction, rtFileWinOpenAction(c.uDisposition, c.fExisted));
    }
}
