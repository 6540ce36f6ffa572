// Files on disk: dispositions and actions, deny modes, reading, writing, seeking,
// information, delete and rename, and bad input that must leave nothing behind.
#include <gtest/gtest.h>

#include <olma/file.h>
#include <olma/mem.h>

#include "Runtime/r3/test-tmpdir.h"

#include <chrono>
#include <cstring>

namespace {

class FileTest : public TmpDirTest {};

/** Expected status "some failure": what the platform says is not the runtime's to decide. */
constexpr int kAnyFailure = INT32_MIN;
#if defined(RT_OS_WINDOWS)
constexpr int kRcLongComponent = kAnyFailure;
#else
constexpr int kRcLongComponent = ERR_FILENAME_TOO_LONG;
#endif

/** Closes a handle at scope exit. */
struct AutoFile {
    RTFILE h = NIL_RTFILE;
    ~AutoFile() { close(); }
    int close() {
        int rc = RTFileClose(h);
        h = NIL_RTFILE;
        return rc;
    }
};

} // namespace

TEST_F(FileTest, DispositionsAndActions) {
    static const struct {
        uint64_t fOpen;
        bool fExists;
        int rc;
        RTFILEACTION enmAction;
        const char *pszAfter; // content after close; null: no file
    } s_aCases[] = {
        {0x1, true, 0, RTFILEACTION_OPENED, "old"},
        {0x1, false, ERR_FILE_NOT_FOUND, RTFILEACTION_INVALID, nullptr},
        {0x1c000781, true, 0, RTFILEACTION_OPENED, "old"},
        {0x1c000322, true, 0, RTFILEACTION_REPLACED, ""},
        {0x1c000322, false, 0, RTFILEACTION_CREATED, ""},
        {0x1c000222, true, ERR_ALREADY_EXISTS, RTFILEACTION_ALREADY_EXISTS, "old"},
        {0x1c000222, false, 0, RTFILEACTION_CREATED, ""},
        {0x102, true, 0, RTFILEACTION_OPENED, "old"},
        {0x102, false, 0, RTFILEACTION_CREATED, ""},
        {0x1102, true, 0, RTFILEACTION_TRUNCATED, ""},
        {0x1102, false, 0, RTFILEACTION_CREATED, ""},
        {0x1702, true, 0, RTFILEACTION_TRUNCATED, ""},
        {0x1702, false, ERR_FILE_NOT_FOUND, RTFILEACTION_INVALID, nullptr},
        {0x1302, true, 0, RTFILEACTION_REPLACED, ""},
        {0x982, false, 0, RTFILEACTION_CREATED, ""}, // not content indexed
        {0xa82, true, ERR_ALREADY_EXISTS, RTFILEACTION_ALREADY_EXISTS, "old"},
        {0x40000302, false, 0, RTFILEACTION_CREATED, ""}, // temporary attribute
        {0x10000, true, 0, RTFILEACTION_OPENED, "old"},   // attributes only
        {0x10100, false, 0, RTFILEACTION_CREATED, ""},    // attributes only, created
    };
    int i = 0;
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "flags 0x" << c.fOpen << (c.fExists ? " existing" : " new"));
        std::string name = "f" + std::to_string(i++);
        if (c.fExists)
            writeFile(name, "old");
        RTFILE hFile = 42;
        RTFILEACTION enmAction = (RTFILEACTION)77;
        int rc = RTFileOpenEx(path(name).c_str(), c.fOpen, &hFile, &enmAction);
        EXPECT_EQ(c.rc, rc);
        EXPECT_EQ(c.enmAction, enmAction);
        if (RT_SUCCESS(rc)) {
            EXPECT_TRUE(RTFileIsValid(hFile));
            EXPECT_EQ(0, RTFileClose(hFile));
        } else
            EXPECT_EQ(NIL_RTFILE, hFile);
        EXPECT_EQ(c.pszAfter != nullptr, exists(name));
        if (c.pszAfter)
            EXPECT_EQ(c.pszAfter, readFile(name));
    }
}

TEST_F(FileTest, InvalidFlagsCreateNothing) {
    static const uint64_t s_afBad[] = {
        0x300,  0x1301,     0x392, 0x3a2,  0x3f2, 0x402,       0x502,   0x602,
        0x4302, 0x80000302, 0x30a, 0x1201, 0xf02, 0x800 | 0x2, 0x11200,
    };
    for (uint64_t fOpen : s_afBad) {
        SCOPED_TRACE(testing::Message() << std::hex << "flags 0x" << fOpen);
        RTFILE hFile = 42;
        RTFILEACTION enmAction = (RTFILEACTION)77;
        EXPECT_EQ(ERR_INVALID_PARAMETER, RTFileOpenEx(path("new").c_str(), fOpen, &hFile, &enmAction));
        EXPECT_EQ(NIL_RTFILE, hFile);
        EXPECT_EQ(RTFILEACTION_INVALID, enmAction);
    }
    EXPECT_EQ(0u, entryCount());
}

TEST_F(FileTest, BadArgumentsAndPaths) {
    RTFILE hFile = 42;
    EXPECT_EQ(ERR_INVALID_PARAMETER, RTFileOpenEx(nullptr, 0x1, &hFile, nullptr));
    EXPECT_EQ(ERR_INVALID_PARAMETER, RTFileOpenEx(path("x").c_str(), 0x1, nullptr, nullptr));
    EXPECT_EQ(ERR_INVALID_POINTER, RTFileOpenEx((const char *)(uintptr_t)0x10, 0x1, &hFile, nullptr));

    static const struct {
        const char *pszName;
        std::string strPath;
        int rc;
    } s_aCases[] = {
        {"empty", "", ERR_PATH_ZERO_LENGTH},
        {"bad UTF-8", rawPath("bad\xc3\x28name"), ERR_INVALID_UTF8_ENCODING},
        {"lone continuation byte", rawPath("\x80"), ERR_INVALID_UTF8_ENCODING},
        {"overlong slash",
         rawPath("a\xc0\xaf"
                 "b"),
         ERR_INVALID_UTF8_ENCODING},
        {"missing directory", path("nodir/file"), ERR_PATH_NOT_FOUND},
        {"far too long", path(std::string(40000, 'a')), ERR_FILENAME_TOO_LONG},
        {"component too long", path(std::string(300, 'a')), kRcLongComponent},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszName);
        hFile = 42;
        int rcOpen = RTFileOpen(&hFile, c.strPath.c_str(), 0x1c000322);
        int rcDelete = RTFileDelete(c.strPath.c_str());
        if (c.rc == kAnyFailure) {
            EXPECT_TRUE(RT_FAILURE(rcOpen));
            EXPECT_TRUE(RT_FAILURE(rcDelete));
        } else {
            EXPECT_EQ(c.rc, rcOpen);
            EXPECT_EQ(c.rc, rcDelete);
        }
        EXPECT_EQ(NIL_RTFILE, hFile);
    }
    EXPECT_EQ(0u, entryCount());
}

TEST_F(FileTest, DenyModeConflicts) {
    static const struct {
        uint64_t fFirst;
        uint64_t fSecond;
        int rc;
    } s_aCases[] = {
        {0x22, 0x82, ERR_SHARING_VIOLATION}, // deny write stops a writer
        {0x22, 0x81, 0},                     //   but not a reader
        {0x22, 0x22, ERR_SHARING_VIOLATION}, //   nor lets a second writer in that denies writing too
        {0x21, 0x21, 0},                     // two readers that deny writing
        {0x82, 0x21, ERR_SHARING_VIOLATION}, // a writer is there: deny write cannot be had
        {0x81, 0x21, 0},
        {0x11, 0x81, ERR_SHARING_VIOLATION}, // deny read stops a reader
        {0x11, 0x82, 0},                     //   but not a writer
        {0x81, 0x11, ERR_SHARING_VIOLATION}, // a reader is there: deny read cannot be had
        {0x33, 0x81, ERR_SHARING_VIOLATION},
        {0x33, 0x82, ERR_SHARING_VIOLATION},
        {0x33, 0x10000, 0}, // attribute access takes no part in sharing
        {0x10030, 0x33, 0},
        {0x73, 0x83, ERR_SHARING_VIOLATION},
        {0x83, 0x83, 0},
        {0x82, 0x82, 0},                       // two writers that share writing
        {0x21, 0x1302, ERR_SHARING_VIOLATION}, // replacing is writing
        {0x21, 0x1702, ERR_SHARING_VIOLATION}, // so is truncating
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "first 0x" << c.fFirst << " second 0x" << c.fSecond);
        writeFile("shared", "old");
        AutoFile first, second;
        ASSERT_EQ(0, RTFileOpen(&first.h, path("shared").c_str(), c.fFirst));
        EXPECT_EQ(c.rc, RTFileOpen(&second.h, path("shared").c_str(), c.fSecond));
        EXPECT_EQ(c.rc == 0, second.h != NIL_RTFILE);
        second.close();
        first.close();
        // A refused open must not have truncated anything.
        if (c.rc != 0)
            EXPECT_EQ("old", readFile("shared"));
    }
}

TEST_F(FileTest, DeleteAndRenameHonourDenyDelete) {
    static const struct {
        uint64_t fOpen;
        int rc;
    } s_aCases[] = {
        {0x81, ERR_SHARING_VIOLATION},
        {0x22, ERR_SHARING_VIOLATION},
        {0x41, 0},
        {0x71, 0},
        {0x10030, 0}, // attribute access only
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "held with 0x" << c.fOpen);
        writeFile("held", "data");
        AutoFile held;
        ASSERT_EQ(0, RTFileOpen(&held.h, path("held").c_str(), c.fOpen));
        EXPECT_EQ(c.rc, RTFileRename(path("held").c_str(), path("moved").c_str(), 0));
        std::string name = c.rc == 0 ? "moved" : "held";
        EXPECT_EQ(c.rc, RTFileDelete(path(name).c_str()));
        held.close();
        EXPECT_EQ(c.rc != 0, exists(name));
        std::filesystem::remove(fsPath(name));
    }
}

TEST_F(FileTest, ReadWriteSeek) {
    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("rw").c_str(), RTFILE_O_READWRITE | RTFILE_O_CREATE | RTFILE_O_DENY_NONE));
    size_t cb = 0;
    EXPECT_EQ(0, RTFileWrite(f.h, "hello", 5, nullptr));
    EXPECT_EQ(5u, RTFileTell(f.h));
    uint64_t cbSize = 0;
    EXPECT_EQ(0, RTFileQuerySize(f.h, &cbSize));
    EXPECT_EQ(5u, cbSize);

    char ach[16] = {};
    uint64_t off = 99;
    EXPECT_EQ(0, RTFileSeek(f.h, 0, RTFILE_SEEK_BEGIN, &off));
    EXPECT_EQ(0u, off);
    EXPECT_EQ(ERR_EOF, RTFileRead(f.h, ach, 10, nullptr)); // all ten wanted, five there
    EXPECT_EQ(0, RTFileSeek(f.h, 0, RTFILE_SEEK_BEGIN, nullptr));
    EXPECT_EQ(0, RTFileRead(f.h, ach, 10, &cb));
    EXPECT_EQ(5u, cb);
    EXPECT_EQ(0, memcmp(ach, "hello", 5));
    EXPECT_EQ(0, RTFileRead(f.h, ach, 10, &cb)); // at the end: success with nothing
    EXPECT_EQ(0u, cb);

    EXPECT_EQ(0, RTFileSeek(f.h, -2, RTFILE_SEEK_END, &off));
    EXPECT_EQ(3u, off);
    EXPECT_EQ(0, RTFileRead(f.h, ach, 2, nullptr));
    EXPECT_EQ(0, memcmp(ach, "lo", 2));
    EXPECT_EQ(0, RTFileSeek(f.h, -4, RTFILE_SEEK_CURRENT, &off));
    EXPECT_EQ(1u, off);

    // A low half of all ones is a valid offset, not the failure marker.
    EXPECT_EQ(0, RTFileSeek(f.h, 0xffffffff, RTFILE_SEEK_BEGIN, &off));
    EXPECT_EQ(0xffffffffu, off);
    EXPECT_EQ(0xffffffffu, RTFileTell(f.h));
    EXPECT_EQ(0, RTFileSeek(f.h, INT64_C(0x1ffffffff), RTFILE_SEEK_BEGIN, &off));
    EXPECT_EQ(UINT64_C(0x1ffffffff), off);
    EXPECT_EQ(0, RTFileQuerySize(f.h, &cbSize));
    EXPECT_EQ(5u, cbSize); // seeking does not grow the file

    off = 77;
    EXPECT_EQ(ERR_INVALID_PARAMETER, RTFileSeek(f.h, 0, 3, &off));
    EXPECT_EQ(ERR_NEGATIVE_SEEK, RTFileSeek(f.h, -1, RTFILE_SEEK_BEGIN, &off));
    EXPECT_EQ(77u, off);

    EXPECT_EQ(0, RTFileWrite(f.h, "x", 0, &cb));
    EXPECT_EQ(0, RTFileFlush(f.h));
    EXPECT_EQ(0, f.close());
    EXPECT_EQ("hello", readFile("rw"));
}

TEST_F(FileTest, LargeTransfersRoundTrip) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 131 + (i >> 12));
    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("big").c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE_REPLACE | RTFILE_O_DENY_WRITE));
    EXPECT_EQ(0, RTFileWrite(f.h, data.data(), data.size(), nullptr));
    f.close();
    EXPECT_EQ(data, readFile("big"));

    ASSERT_EQ(0, RTFileOpen(&f.h, path("big").c_str(), RTFILE_O_READ | RTFILE_O_OPEN | RTFILE_O_DENY_WRITE));
    std::string back(data.size(), '\0');
    EXPECT_EQ(0, RTFileRead(f.h, back.data(), back.size(), nullptr));
    EXPECT_EQ(data, back);
}

TEST_F(FileTest, AppendWritesAtTheEnd) {
    writeFile("log", "old");
    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("log").c_str(), RTFILE_O_WRITE | RTFILE_O_APPEND | RTFILE_O_OPEN_CREATE));
    EXPECT_EQ(0, RTFileWrite(f.h, "new", 3, nullptr));
    f.close();
    EXPECT_EQ("oldnew", readFile("log"));
}

TEST_F(FileTest, Handles) {
    EXPECT_EQ(0, RTFileClose(NIL_RTFILE));
    EXPECT_FALSE(RTFileIsValid(NIL_RTFILE));
    RTFILE h = 42;
    EXPECT_EQ(ERR_INVALID_HANDLE, RTFileFromNative(&h, -1));
    EXPECT_EQ(NIL_RTFILE, h);
    EXPECT_EQ(UINT64_MAX, RTFileTell(NIL_RTFILE));

    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("h").c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE));
    EXPECT_TRUE(RTFileIsValid(f.h));
    EXPECT_EQ(0, RTFileFromNative(&h, f.h));
    EXPECT_EQ(f.h, h);
}

TEST_F(FileTest, QueryInfo) {
    FsObjInfo info;
    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("info.txt").c_str(), RTFILE_O_READWRITE | RTFILE_O_CREATE));
    EXPECT_EQ(0, RTFileWrite(f.h, "12345", 5, nullptr));

    static const struct {
        bool fNil;
        bool fNullRecord;
        uint32_t enmKind;
    } s_aBad[] = {
        {true, false, FSOBJ_ADD_NOTHING}, {false, true, FSOBJ_ADD_NOTHING}, {false, false, 0}, {false, false, 6}};
    for (const auto &c : s_aBad) {
        SCOPED_TRACE(testing::Message() << "nil " << c.fNil << " null " << c.fNullRecord << " kind " << c.enmKind);
        EXPECT_EQ(ERR_INVALID_PARAMETER,
                  RTFileQueryInfo(c.fNil ? NIL_RTFILE : f.h, c.fNullRecord ? nullptr : &info, c.enmKind));
    }

    const int64_t nsNow =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    for (uint32_t enmKind = FSOBJ_ADD_FIRST; enmKind <= FSOBJ_ADD_LAST; enmKind++) {
        SCOPED_TRACE(testing::Message() << "kind " << enmKind);
        memset(&info, 0xcc, sizeof(info));
        ASSERT_EQ(0, RTFileQueryInfo(f.h, &info, enmKind));
        EXPECT_EQ(5, info.size);
        EXPECT_EQ(enmKind, info.additionalKind);
        EXPECT_EQ(RTFS_TYPE_FILE, info.mode & RTFS_TYPE_MASK);
        EXPECT_EQ(0u, info.mode & RTFS_DOS_DIRECTORY);
        EXPECT_TRUE(info.mode & RTFS_UNIX_IWUSR);
        // The clocks of file systems and of the process agree to within a day.
        EXPECT_LT(std::llabs(info.modificationTime - nsNow), INT64_C(86400000000000));
        EXPECT_LE(info.birthTime, info.modificationTime);
        if (enmKind == FSOBJ_ADD_UNIX) {
            EXPECT_EQ(1u, info.additional.unixAttr.hardLinks);
            EXPECT_NE(0u, info.additional.unixAttr.inode);
        } else if (enmKind == FSOBJ_ADD_UNIX_OWNER)
            EXPECT_LT(strlen(info.additional.unixOwner.ownerName), sizeof(info.additional.unixOwner.ownerName));
        else if (enmKind == FSOBJ_ADD_UNIX_GROUP)
            EXPECT_LT(strlen(info.additional.unixGroup.groupName), sizeof(info.additional.unixGroup.groupName));
        else if (enmKind == FSOBJ_ADD_EASIZE)
            EXPECT_EQ(0u, info.additional.easize.eaSize);
    }
}

TEST_F(FileTest, IdentityIsStableAcrossHandles) {
    writeFile("a", "a");
    writeFile("b", "b");
    AutoFile a1, a2, b;
    ASSERT_EQ(0, RTFileOpen(&a1.h, path("a").c_str(), RTFILE_O_READ));
    ASSERT_EQ(0, RTFileOpen(&a2.h, path("a").c_str(), RTFILE_O_WRITE));
    ASSERT_EQ(0, RTFileOpen(&b.h, path("b").c_str(), RTFILE_O_READ));
    FsObjInfo i1, i2, i3;
    ASSERT_EQ(0, RTFileQueryInfo(a1.h, &i1, FSOBJ_ADD_UNIX));
    ASSERT_EQ(0, RTFileQueryInfo(a2.h, &i2, FSOBJ_ADD_UNIX));
    ASSERT_EQ(0, RTFileQueryInfo(b.h, &i3, FSOBJ_ADD_UNIX));
    EXPECT_EQ(i1.additional.unixAttr.inode, i2.additional.unixAttr.inode);
    EXPECT_EQ(i1.additional.unixAttr.inodeDevice, i2.additional.unixAttr.inodeDevice);
    EXPECT_NE(i1.additional.unixAttr.inode, i3.additional.unixAttr.inode);
}

TEST_F(FileTest, ReadOnlyFileMode) {
    writeFile("ro", "x");
    std::filesystem::permissions(fsPath("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
    AutoFile f;
    ASSERT_EQ(0, RTFileOpen(&f.h, path("ro").c_str(), RTFILE_O_READ));
    FsObjInfo info;
    ASSERT_EQ(0, RTFileQueryInfo(f.h, &info, FSOBJ_ADD_NOTHING));
    EXPECT_TRUE(info.mode & RTFS_DOS_READONLY);
    EXPECT_EQ(0u, info.mode & RTFS_UNIX_ALL_WRITE);
    f.close();
    std::filesystem::permissions(fsPath("ro"), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

TEST_F(FileTest, Delete) {
    writeFile("victim", "x");
    std::filesystem::create_directory(fsPath("dir"));
    static const struct {
        const char *pszName;
        int rc;
        bool fGone;
    } s_aCases[] = {
        {"victim", 0, true},
        {"victim", ERR_FILE_NOT_FOUND, true},
        {"dir", ERR_IS_A_DIRECTORY, false},
        {"dir/", ERR_IS_A_DIRECTORY, false},
        {"nodir/x", ERR_PATH_NOT_FOUND, true},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(c.rc, RTFileDelete(path(c.pszName).c_str()));
        EXPECT_EQ(c.fGone, !exists(c.pszName));
    }
    EXPECT_EQ(ERR_INVALID_POINTER, RTFileDelete(nullptr));
}

TEST_F(FileTest, DeleteRefusesSymlink) {
    writeFile("target", "x");
    std::error_code ec;
    std::filesystem::create_symlink(fsPath("target"), fsPath("link"), ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here: " << ec.message();
    EXPECT_EQ(ERR_IS_A_SYMLINK, RTFileDelete(path("link").c_str()));
    EXPECT_TRUE(exists("link"));
    EXPECT_EQ("x", readFile("target"));
}

TEST_F(FileTest, Rename) {
    std::filesystem::create_directory(fsPath("dir"));
    static const struct {
        const char *pszName;
        const char *pszSrcContent; // null: no source
        const char *pszDstContent; // null: no target
        uint32_t fRename;
        int rc;
        const char *pszDstAfter;
        bool fSrcAfter;
    } s_aCases[] = {
        {"plain", "s", nullptr, 0, 0, "s", false},
        {"no replace", "s", "d", 0, ERR_ALREADY_EXISTS, "d", true},
        {"replace", "s", "d", RTFILEMOVE_FLAGS_REPLACE, 0, "s", false},
        {"replace, no target", "s", nullptr, RTFILEMOVE_FLAGS_REPLACE, 0, "s", false},
        {"bad flags", "s", nullptr, 2, ERR_INVALID_PARAMETER, nullptr, true},
        {"missing source", nullptr, nullptr, 0, ERR_FILE_NOT_FOUND, nullptr, false},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszName);
        std::filesystem::remove(fsPath("src"));
        std::filesystem::remove(fsPath("dst"));
        if (c.pszSrcContent)
            writeFile("src", c.pszSrcContent);
        if (c.pszDstContent)
            writeFile("dst", c.pszDstContent);
        EXPECT_EQ(c.rc, RTFileRename(path("src").c_str(), path("dst").c_str(), c.fRename));
        EXPECT_EQ(c.fSrcAfter, exists("src"));
        EXPECT_EQ(c.pszDstAfter != nullptr, exists("dst"));
        if (c.pszDstAfter)
            EXPECT_EQ(c.pszDstAfter, readFile("dst"));
    }
    writeFile("src", "s");
    for (uint32_t fRename : {0u, RTFILEMOVE_FLAGS_REPLACE}) {
        SCOPED_TRACE(fRename);
        EXPECT_EQ(ERR_PATH_NOT_FOUND, RTFileRename(path("src").c_str(), path("nodir/dst").c_str(), fRename));
        EXPECT_TRUE(exists("src"));
    }
    EXPECT_EQ(ERR_IS_A_DIRECTORY, RTFileRename(path("dir").c_str(), path("dir2").c_str(), 0));
    EXPECT_TRUE(exists("dir"));
    EXPECT_EQ(ERR_INVALID_POINTER, RTFileRename(nullptr, path("dst").c_str(), 0));
    EXPECT_EQ(ERR_INVALID_POINTER, RTFileRename(path("src").c_str(), nullptr, 0));
}

TEST_F(FileTest, AllocationFailuresLeakNothing) {
    // Each operation is run with its first, second, ... allocation failing until it
    // gets through; every failure must be a memory status and leave nothing behind.
    writeFile("src", "abc");
    const std::string strNew = path("new"), strSrc = path("src"), strDst = path("dst");
    static const struct {
        const char *pszName;
        int (*pfn)(const std::string &, const std::string &, const std::string &);
        const char *pszMustExist;    // after success
        const char *pszMustNotExist; // after every failure
    } s_aOps[] = {
        {"create",
         [](const std::string &n, const std::string &, const std::string &) {
             RTFILE h = NIL_RTFILE;
             int rc = RTFileOpen(&h, n.c_str(), RTFILE_O_WRITE | RTFILE_O_CREATE | RTFILE_O_DENY_WRITE);
             EXPECT_EQ(RT_SUCCESS(rc), h != NIL_RTFILE);
             RTFileClose(h);
             return rc;
         },
         "new", "new"},
        {"query",
         [](const std::string &, const std::string &s, const std::string &) {
             FsObjInfo info;
             return RTPathQueryInfoEx(s.c_str(), &info, FSOBJ_ADD_UNIX, RTPATH_F_FOLLOW_LINK);
         },
         "src", nullptr},
        {"rename",
         [](const std::string &, const std::string &s, const std::string &d) {
             return RTFileRename(s.c_str(), d.c_str(), 0);
         },
         "dst", "dst"},
        {"delete",
         [](const std::string &, const std::string &, const std::string &d) { return RTFileDelete(d.c_str()); },
         nullptr, nullptr},
    };
    for (const auto &op : s_aOps) {
        SCOPED_TRACE(op.pszName);
        const size_t cBefore = RTMemTestOutstanding();
        int rc = ERR_NO_MEMORY;
        unsigned cFailures = 0;
        for (uint32_t n = 1; n < 64 && RT_FAILURE(rc); n++) {
            RTMemTestFailNth(n);
            rc = op.pfn(strNew, strSrc, strDst);
            RTMemTestFailNth(0);
            EXPECT_EQ(cBefore, RTMemTestOutstanding()) << "fail " << n;
            if (RT_FAILURE(rc)) {
                cFailures++;
                EXPECT_TRUE(rc == ERR_NO_MEMORY || rc == ERR_NO_TMP_MEMORY || rc == ERR_NO_STR_MEMORY ||
                            rc == ERR_NO_UTF16_MEMORY)
                    << "fail " << n << ": " << rc;
                if (op.pszMustNotExist)
                    EXPECT_FALSE(exists(op.pszMustNotExist)) << "fail " << n;
            }
        }
        EXPECT_EQ(0, rc);
#if defined(RT_OS_WINDOWS)
        EXPECT_GT(cFailures, 0u); // the path conversions allocate there
#endif
        if (op.pszMustExist)
            EXPECT_TRUE(exists(op.pszMustExist));
    }
    EXPECT_FALSE(exists("dst"));
}
