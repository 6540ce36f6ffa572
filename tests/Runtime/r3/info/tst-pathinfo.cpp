// Describing objects by path: files, directories, links, missing objects, locked files,
// and the file system behind a handle.
#include <gtest/gtest.h>

#include <olma/file.h>
#include <olma/fs.h>

#include "Runtime/r3/test-tmpdir.h"

namespace {
class PathInfoTest : public TmpDirTest {};
} // namespace

TEST_F(PathInfoTest, BadArguments) {
    writeFile("f", "x");
    const std::string strPath = path("f");
    FsObjInfo info;
    EXPECT_EQ(ERR_INVALID_POINTER, RTPathQueryInfoEx(nullptr, &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
    EXPECT_EQ(ERR_INVALID_POINTER, RTPathQueryInfoEx(strPath.c_str(), nullptr, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
    EXPECT_EQ(ERR_INVALID_PARAMETER, RTPathQueryInfoEx("", &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));

    static const struct {
        uint32_t enmKind;
        uint32_t fFlags;
        int rc;
    } s_aCases[] = {
        {0, 1, ERR_INVALID_PARAMETER},
        {6, 1, ERR_INVALID_PARAMETER},
        {1, 0, ERR_INVALID_PARAMETER},
        {1, 3, ERR_INVALID_PARAMETER},
        {1, 4, ERR_INVALID_PARAMETER},
        {1, 7, ERR_INVALID_PARAMETER},
        {1, 8, ERR_INVALID_PARAMETER},
        {1, 9, ERR_INVALID_PARAMETER},
        {1, 1, 0},
        {1, 2, 0},
        {1, 5, 0},
        {1, 6, 0},
        {5, 2, 0},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.enmKind << " flags " << c.fFlags);
        EXPECT_EQ(c.rc, RTPathQueryInfoEx(strPath.c_str(), &info, c.enmKind, c.fFlags));
    }
    EXPECT_EQ(ERR_INVALID_UTF8_ENCODING,
              RTPathQueryInfoEx(rawPath("\xff").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
}

TEST_F(PathInfoTest, Objects) {
    writeFile("file.txt", "12345");
    std::filesystem::create_directories(fsPath("dir/sub"));
    static const struct {
        const char *pszName;
        int rc;
        uint32_t fType;
        int64_t cbSize; // -1: not checked
    } s_aCases[] = {
        {"file.txt", 0, RTFS_TYPE_FILE, 5},           {"dir", 0, RTFS_TYPE_DIRECTORY, -1},
        {"dir/", 0, RTFS_TYPE_DIRECTORY, -1},         {"dir/sub//", 0, RTFS_TYPE_DIRECTORY, -1},
        {"dir/../file.txt", 0, RTFS_TYPE_FILE, 5},    {"missing", ERR_FILE_NOT_FOUND, 0, -1},
        {"nodir/missing", ERR_PATH_NOT_FOUND, 0, -1},
    };
    for (uint32_t fFlags : {RTPATH_F_ON_LINK, RTPATH_F_FOLLOW_LINK}) {
        for (uint32_t enmKind : {FSOBJ_ADD_NOTHING, FSOBJ_ADD_UNIX}) {
            for (const auto &c : s_aCases) {
                SCOPED_TRACE(testing::Message() << c.pszName << " flags " << fFlags << " kind " << enmKind);
                FsObjInfo info;
                memset(&info, 0xcc, sizeof(info));
                ASSERT_EQ(c.rc, RTPathQueryInfoEx(path(c.pszName).c_str(), &info, enmKind, fFlags));
                if (c.rc != 0)
                    continue;
                EXPECT_EQ(c.fType, info.mode & RTFS_TYPE_MASK);
                EXPECT_EQ(c.fType == RTFS_TYPE_DIRECTORY, (info.mode & RTFS_DOS_DIRECTORY) != 0);
                EXPECT_TRUE(RTFsModeIsValid(info.mode));
                EXPECT_EQ(enmKind, info.additionalKind);
                if (c.cbSize >= 0)
                    EXPECT_EQ(c.cbSize, info.size);
                if (enmKind == FSOBJ_ADD_UNIX && c.fType == RTFS_TYPE_FILE) {
                    EXPECT_EQ(1u, info.additional.unixAttr.hardLinks);
                    EXPECT_NE(0u, info.additional.unixAttr.inode);
                }
            }
        }
    }
}

TEST_F(PathInfoTest, SameIdentityAsTheHandle) {
    writeFile("f", "abc");
    std::filesystem::create_hard_link(fsPath("f"), fsPath("g"));
    RTFILE hFile;
    ASSERT_EQ(0, RTFileOpen(&hFile, path("f").c_str(), RTFILE_O_READ));
    FsObjInfo byHandle, byPath, byLink;
    EXPECT_EQ(0, RTFileQueryInfo(hFile, &byHandle, FSOBJ_ADD_UNIX));
    EXPECT_EQ(0, RTFileClose(hFile));
    ASSERT_EQ(0, RTPathQueryInfoEx(path("f").c_str(), &byPath, FSOBJ_ADD_UNIX, RTPATH_F_FOLLOW_LINK));
    ASSERT_EQ(0, RTPathQueryInfoEx(path("g").c_str(), &byLink, FSOBJ_ADD_UNIX, RTPATH_F_ON_LINK));
    EXPECT_EQ(byHandle.additional.unixAttr.inode, byPath.additional.unixAttr.inode);
    EXPECT_EQ(byHandle.additional.unixAttr.inodeDevice, byPath.additional.unixAttr.inodeDevice);
    EXPECT_EQ(byPath.additional.unixAttr.inode, byLink.additional.unixAttr.inode);
    EXPECT_EQ(2u, byPath.additional.unixAttr.hardLinks);
    EXPECT_EQ(2u, byHandle.additional.unixAttr.hardLinks);
    EXPECT_EQ(byHandle.size, byPath.size);
    EXPECT_EQ(byHandle.modificationTime, byPath.modificationTime);
}

TEST_F(PathInfoTest, LockedFileIsStillDescribed) {
    writeFile("locked", "1234567");
    RTFILE hFile;
    ASSERT_EQ(0, RTFileOpen(&hFile, path("locked").c_str(), RTFILE_O_READWRITE | RTFILE_O_DENY_ALL));
    for (uint32_t enmKind : {FSOBJ_ADD_NOTHING, FSOBJ_ADD_UNIX}) {
        SCOPED_TRACE(testing::Message() << "kind " << enmKind);
        FsObjInfo info;
        ASSERT_EQ(0, RTPathQueryInfoEx(path("locked").c_str(), &info, enmKind, RTPATH_F_FOLLOW_LINK));
        EXPECT_EQ(7, info.size);
        EXPECT_EQ(RTFS_TYPE_FILE, info.mode & RTFS_TYPE_MASK);
    }
    EXPECT_EQ(0, RTFileClose(hFile));
}

TEST_F(PathInfoTest, SymbolicLinks) {
    writeFile("target", "123456789");
    std::error_code ec;
    std::filesystem::create_symlink(fsPath("target"), fsPath("link"), ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here: " << ec.message();
    std::filesystem::create_symlink(fsPath("gone"), fsPath("dangling"), ec);
    ASSERT_FALSE(ec);

    FsObjInfo info;
    ASSERT_EQ(0, RTPathQueryInfoEx(path("link").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
    EXPECT_EQ(RTFS_TYPE_SYMLINK, info.mode & RTFS_TYPE_MASK);
    EXPECT_TRUE(info.mode & RTFS_DOS_NT_REPARSE_POINT);
    ASSERT_EQ(0, RTPathQueryInfoEx(path("link").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_FOLLOW_LINK));
    EXPECT_EQ(RTFS_TYPE_FILE, info.mode & RTFS_TYPE_MASK);
    EXPECT_EQ(9, info.size);

    ASSERT_EQ(0, RTPathQueryInfoEx(path("dangling").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
    EXPECT_EQ(RTFS_TYPE_SYMLINK, info.mode & RTFS_TYPE_MASK);
    EXPECT_EQ(ERR_FILE_NOT_FOUND,
              RTPathQueryInfoEx(path("dangling").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_FOLLOW_LINK));
}

TEST_F(PathInfoTest, FileSystemType) {
    writeFile("f", "x");
    RTFILE hFile;
    ASSERT_EQ(0, RTFileOpen(&hFile, path("f").c_str(), RTFILE_O_READ));
    RTFSTYPE enmType = (RTFSTYPE)99;
    EXPECT_EQ(0, RTFsQueryType(hFile, &enmType));
#if defined(RT_OS_WINDOWS)
    EXPECT_EQ(FSTYPE_NTFS, enmType); // what Wine and Windows report for the system drive
#else
    EXPECT_NE((RTFSTYPE)99, enmType);
#endif
    EXPECT_EQ(0, RTFileClose(hFile));

    enmType = (RTFSTYPE)99;
    EXPECT_EQ(ERR_INVALID_HANDLE, RTFsQueryType(NIL_RTFILE, &enmType));
    EXPECT_EQ(FSTYPE_UNKNOWN, enmType);
}
