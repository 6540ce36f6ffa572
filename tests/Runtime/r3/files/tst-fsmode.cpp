// Mode words: derived from attributes, completed from a caller's half.
#include <gtest/gtest.h>

#include <olma/fs.h>

namespace {
constexpr uint32_t A(uint32_t fAttr) {
    return fAttr << 16;
}
} // namespace

TEST(FsMode, FromAttributes) {
    static const struct {
        uint32_t fAttr;
        const char *pszName;
        size_t cchName;
        uint32_t uTag;
        uint32_t fTypeHint;
        uint32_t fMode;
    } s_aCases[] = {
        {0, nullptr, 0, 0, 0, RTFS_TYPE_FILE | 0666},
        {A(0x80), nullptr, 0, 0, 0, RTFS_TYPE_FILE | 0666 | A(0x80)},
        {A(0x01), nullptr, 0, 0, 0, RTFS_TYPE_FILE | 0444 | A(0x01)},
        {A(0x10), nullptr, 0, 0, 0, RTFS_TYPE_DIRECTORY | 0777 | A(0x10)},
        {A(0x11), nullptr, 0, 0, 0, RTFS_TYPE_DIRECTORY | 0777 | A(0x11)}, // read-only does not apply to directories
        {0, nullptr, 0, 0, RTFS_TYPE_DIRECTORY, RTFS_TYPE_DIRECTORY | 0777 | A(0x10)},
        {0, nullptr, 0, 0, RTFS_TYPE_FILE, RTFS_TYPE_FILE | 0666},
        {A(0x40), "", 0, 0, 0, RTFS_TYPE_FILE | 0666 | A(0x40)}, // how consoles are described
        {A(0xffff) & ~A(0x10) & ~A(0x400), nullptr, 0, 0, 0, RTFS_TYPE_FILE | 0444 | A(0x7bef)}, // 0x8000 dropped
        {0x1ff | RTFS_TYPE_SYMLINK, nullptr, 0, 0, 0, RTFS_TYPE_FILE | 0666}, // the low half is not taken
        // Executable suffixes, any case, only after a dot.
        {0, "setup.exe", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, "C:\\dir\\SETUP.EXE", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, "run.Bat", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, "a.com", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, "a.cmd", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, "a.btm", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {0, ".exe", 0, 0, 0, RTFS_TYPE_FILE | 0777},
        {A(0x01), "a.exe", 0, 0, 0, RTFS_TYPE_FILE | 0555 | A(0x01)},
        {0, "exe", 0, 0, 0, RTFS_TYPE_FILE | 0666},
        {0, "a_exe", 0, 0, 0, RTFS_TYPE_FILE | 0666},
        {0, "a.exe2", 0, 0, 0, RTFS_TYPE_FILE | 0666},
        {0, "a.msi", 0, 0, 0, RTFS_TYPE_FILE | 0666},
        {0, "prog.exe.txt", 8, 0, 0, RTFS_TYPE_FILE | 0777}, // only the given length counts
        {0, "prog.txt", 0, 0, 0, RTFS_TYPE_FILE | 0666},
        // Reparse points: only the link tag makes a link.
        {A(0x400), nullptr, 0, RTFS_REPARSE_TAG_SYMLINK, 0, RTFS_TYPE_SYMLINK | 0666 | A(0x400)},
        {A(0x410), nullptr, 0, RTFS_REPARSE_TAG_SYMLINK, 0, RTFS_TYPE_SYMLINK | 0777 | A(0x410)},
        {A(0x410), nullptr, 0, 0xa0000003, 0, RTFS_TYPE_DIRECTORY | 0777 | A(0x410)}, // junction
        {0, nullptr, 0, RTFS_REPARSE_TAG_SYMLINK, 0, RTFS_TYPE_FILE | 0666},          // tag without the attribute
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "attr 0x" << c.fAttr << " name "
                                        << (c.pszName ? c.pszName : "(null)") << " tag 0x" << c.uTag);
        EXPECT_EQ(c.fMode, RTFsModeFromAttributes(c.fAttr, c.pszName, c.cchName, c.uTag, c.fTypeHint));
    }
}

TEST(FsMode, Normalize) {
    static const struct {
        uint32_t fMode;
        const char *pszName;
        uint32_t fTypeHint;
        uint32_t fExpected;
    } s_aCases[] = {
        // No low half: derived from the attributes, a reparse point taken for a link.
        {0, nullptr, 0, RTFS_TYPE_FILE | 0666},
        {A(0x10), nullptr, 0, RTFS_TYPE_DIRECTORY | 0777 | A(0x10)},
        {A(0x400), nullptr, 0, RTFS_TYPE_SYMLINK | 0666 | A(0x400)},
        {0, "x.exe", RTFS_TYPE_DIRECTORY, RTFS_TYPE_DIRECTORY | 0777 | A(0x10)},
        {A(0x01), "x.exe", 0, RTFS_TYPE_FILE | 0555 | A(0x01)},
        // Both halves.
        {RTFS_TYPE_DIRECTORY | 0755 | A(0x20), nullptr, 0, RTFS_TYPE_DIRECTORY | 0755 | A(0x30)},
        {RTFS_TYPE_FILE | 0644 | A(0x20), nullptr, 0, RTFS_TYPE_FILE | 0644 | A(0x20)},
        {0644 | A(0x10), nullptr, 0, RTFS_TYPE_DIRECTORY | 0644 | A(0x10)},
        {0644 | A(0x20), nullptr, 0, RTFS_TYPE_FILE | 0644 | A(0x20)},
        {RTFS_TYPE_FILE | 0644 | A(0x10), nullptr, 0, RTFS_TYPE_FILE | 0644 | A(0x10)}, // left inconsistent
        // Only the low half.
        {0644, nullptr, 0, 0644 | A(0x80)},
        {0644, nullptr, RTFS_TYPE_FILE, RTFS_TYPE_FILE | 0644 | A(0x80)},
        {RTFS_TYPE_FILE | 0644, nullptr, RTFS_TYPE_DIRECTORY, RTFS_TYPE_FILE | 0644 | A(0x80)}, // hint only fills in
        {0444, nullptr, RTFS_TYPE_FILE, RTFS_TYPE_FILE | 0444 | A(0x01)},
        {0700, nullptr, RTFS_TYPE_DIRECTORY, RTFS_TYPE_DIRECTORY | 0700 | A(0x10)},
        {RTFS_TYPE_DIRECTORY | 0555, nullptr, 0, RTFS_TYPE_DIRECTORY | 0555 | A(0x11)},
        {RTFS_TYPE_FILE | 0644, ".profile", 0, RTFS_TYPE_FILE | 0644 | A(0x82)},
        {RTFS_TYPE_FILE | 0644, "/home/u/.profile", 0, RTFS_TYPE_FILE | 0644 | A(0x82)},
        {RTFS_TYPE_DIRECTORY | 0755, "/a/.cache", 0, RTFS_TYPE_DIRECTORY | 0755 | A(0x12)},
        {RTFS_TYPE_DIRECTORY | 0755, ".", 0, RTFS_TYPE_DIRECTORY | 0755 | A(0x10)},
        {RTFS_TYPE_DIRECTORY | 0755, "/a/..", 0, RTFS_TYPE_DIRECTORY | 0755 | A(0x10)},
        {RTFS_TYPE_DIRECTORY | 0755, "/a/...", 0, RTFS_TYPE_DIRECTORY | 0755 | A(0x12)},
        {RTFS_TYPE_FILE | 0644, "/.a/b", 0, RTFS_TYPE_FILE | 0644 | A(0x80)}, // only the final component
        {RTFS_TYPE_FILE | 0644, "a.b", 0, RTFS_TYPE_FILE | 0644 | A(0x80)},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "mode 0x" << c.fMode << " name "
                                        << (c.pszName ? c.pszName : "(null)") << " hint 0x" << c.fTypeHint);
        EXPECT_EQ(c.fExpected, RTFsModeNormalize(c.fMode, c.pszName, 0, c.fTypeHint));
    }
}

TEST(FsMode, Consistency) {
    static const struct {
        uint32_t fMode;
        bool fValid;
    } s_aCases[] = {
        {RTFS_TYPE_DIRECTORY | 0755 | A(0x10), true}, {RTFS_TYPE_FILE | 0644 | A(0x80), true},
        {RTFS_TYPE_DIRECTORY | 0755, false},          {RTFS_TYPE_FILE | 0644 | A(0x10), false},
        {RTFS_TYPE_SYMLINK | A(0x10), false},         {0644, true},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "mode 0x" << c.fMode);
        EXPECT_EQ(c.fValid, RTFsModeIsValid(c.fMode));
    }
}
