// Windows specifics: what the open flags do to the handle and the file's attributes,
// console handles, executable suffixes, object-manager names.
#include <gtest/gtest.h>

#include <olma/file.h>
#include <olma/fs.h>

#include "Runtime/r3/test-tmpdir.h"
#include "r3/nt/internal-fs-nt.h"

#include <windows.h>

namespace {
class FileWinTest : public TmpDirTest {
protected:
    DWORD attributes(const std::string &name) const { return GetFileAttributesW(fsPath(name).c_str()); }
};
} // namespace

TEST_F(FileWinTest, Inheritance) {
    for (bool fInherit : {false, true}) {
        SCOPED_TRACE(fInherit);
        RTFILE h;
        ASSERT_EQ(0, RTFileOpen(&h, path("i").c_str(),
                                RTFILE_O_WRITE | RTFILE_O_OPEN_CREATE | (fInherit ? RTFILE_O_INHERIT : 0)));
        DWORD fFlags = 0;
        EXPECT_TRUE(GetHandleInformation((HANDLE)h, &fFlags));
        EXPECT_EQ(fInherit, (fFlags & HANDLE_FLAG_INHERIT) != 0);
        EXPECT_EQ(0, RTFileClose(h));
    }
}

TEST_F(FileWinTest, ExecutableSuffixGivesExecutePermission) {
    static const struct {
        const char *pszName;
        uint32_t fPerms;
    } s_aCases[] = {{"setup.exe", 0777}, {"RUN.CMD", 0777}, {"data.msi", 0666}, {"readme", 0666}};
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszName);
        writeFile(c.pszName, "x");
        FsObjInfo info;
        ASSERT_EQ(0, RTPathQueryInfoEx(path(c.pszName).c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_FOLLOW_LINK));
        EXPECT_EQ(c.fPerms, info.mode & RTFS_UNIX_MASK);
    }
}

TEST_F(FileWinTest, ConsoleHandle) {
    HANDLE hCon = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (hCon == INVALID_HANDLE_VALUE) {
        AllocConsole();
        hCon = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    if (hCon == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no console";
    for (uint32_t enmKind = FSOBJ_ADD_FIRST; enmKind <= FSOBJ_ADD_LAST; enmKind++) {
        SCOPED_TRACE(testing::Message() << "kind " << enmKind);
        FsObjInfo info;
        memset(&info, 0xcc, sizeof(info));
        ASSERT_EQ(0, RTFileQueryInfo((RTFILE)hCon, &info, enmKind));
        EXPECT_EQ(RTFS_TYPE_FILE | 0666 | RTFS_DOS_NT_DEVICE, info.mode);
        EXPECT_EQ(0, info.size);
        EXPECT_EQ(0, info.modificationTime);
        EXPECT_EQ(enmKind, info.additionalKind);
        if (enmKind == FSOBJ_ADD_UNIX_OWNER) {
            EXPECT_EQ(NIL_RTUID, info.additional.unixOwner.uid);
            EXPECT_STREQ("", info.additional.unixOwner.ownerName);
        }
    }
    CloseHandle(hCon);
}

TEST(FileWinObjects, ObjectManagerNames) {
    static const struct {
        const char *pszPath;
        int rc;
        uint32_t fMode;
    } s_aCases[] = {
        {"\\\\:vuvevu:\\", 0, RTFS_TYPE_DIRECTORY | 0777 | RTFS_DOS_DIRECTORY},
        {"\\\\:vuvevu:\\Device", 0, RTFS_TYPE_DIRECTORY | 0777 | RTFS_DOS_DIRECTORY},
        {"\\\\:vuvevu:\\NoSuchObjectHere", ERR_FILE_NOT_FOUND, 0},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.pszPath);
        FsObjInfo info;
        ASSERT_EQ(c.rc, RTPathQueryInfoEx(c.pszPath, &info, FSOBJ_ADD_UNIX, RTPATH_F_ON_LINK));
        if (c.rc == 0) {
            EXPECT_EQ(c.fMode, info.mode);
            EXPECT_EQ(0u, info.additional.unixAttr.inode);
        }
    }
}

TEST_F(FileWinTest, ParentListing) {
    writeFile("f.txt", "abc");
    std::filesystem::create_directory(fsPath("d"));
    RTFILE h;
    ASSERT_EQ(0, RTFileOpen(&h, path("f.txt").c_str(), RTFILE_O_READ));
    FsObjInfo byHandle;
    ASSERT_EQ(0, RTFileQueryInfo(h, &byHandle, FSOBJ_ADD_UNIX));
    EXPECT_EQ(0, RTFileClose(h));

    static const struct {
        std::string strPath;
        int rc;
        uint32_t fType;
    } s_aCases[] = {
        {path("f.txt"), 0, RTFS_TYPE_FILE},           {path("d"), 0, RTFS_TYPE_DIRECTORY},
        {path("d") + "\\\\", 0, RTFS_TYPE_DIRECTORY}, // trailing separators are not part of the name
        {"C:\\windows", 0, RTFS_TYPE_DIRECTORY},      // listed by the drive's root, not the volume
        {path("missing"), ERR_FILE_NOT_FOUND, 0},
    };
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(c.strPath);
        FsObjInfo info;
        memset(&info, 0xcc, sizeof(info));
        ASSERT_EQ(c.rc, rtPathNtQueryByParentListing(c.strPath.c_str(), &info, FSOBJ_ADD_UNIX));
        if (c.rc != 0)
            continue;
        EXPECT_EQ(c.fType, info.mode & RTFS_TYPE_MASK);
        EXPECT_TRUE(RTFsModeIsValid(info.mode));
        EXPECT_EQ(FSOBJ_ADD_UNIX, info.additionalKind);
        EXPECT_EQ(1u, info.additional.unixAttr.hardLinks);
        EXPECT_EQ(NIL_RTUID, info.additional.unixAttr.uid);
        if (c.fType == RTFS_TYPE_FILE) {
            EXPECT_EQ(3, info.size);
            EXPECT_EQ(byHandle.additional.unixAttr.inode, info.additional.unixAttr.inode);
            EXPECT_EQ(byHandle.additional.unixAttr.inodeDevice, info.additional.unixAttr.inodeDevice);
            EXPECT_EQ(byHandle.modificationTime, info.modificationTime);
        }
    }
}

TEST_F(FileWinTest, SymbolicLinks) {
    writeFile("target", "123456789");
    // Some implementations report success without making the link.
    if (!CreateSymbolicLinkW(fsPath("link").c_str(), fsPath("target").c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        GetFileAttributesW(fsPath("link").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic links here";
    FsObjInfo info;
    ASSERT_EQ(0, RTPathQueryInfoEx(path("link").c_str(), &info, FSOBJ_ADD_UNIX, RTPATH_F_ON_LINK));
    EXPECT_EQ(RTFS_TYPE_SYMLINK, info.mode & RTFS_TYPE_MASK);
    ASSERT_EQ(0, RTPathQueryInfoEx(path("link").c_str(), &info, FSOBJ_ADD_NOTHING, RTPATH_F_ON_LINK));
    EXPECT_EQ(RTFS_TYPE_SYMLINK, info.mode & RTFS_TYPE_MASK);
    ASSERT_EQ(0, RTPathQueryInfoEx(path("link").c_str(), &info, FSOBJ_ADD_UNIX, RTPATH_F_FOLLOW_LINK));
    EXPECT_EQ(RTFS_TYPE_FILE, info.mode & RTFS_TYPE_MASK);
    EXPECT_EQ(9, info.size);
    EXPECT_EQ(ERR_IS_A_SYMLINK, RTFileDelete(path("link").c_str()));
    EXPECT_TRUE(exists("link"));
}

TEST(FileWinHandles, NonFileHandles) {
    // An event is no file and no console.
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, hEvent);
    FsObjInfo info;
    EXPECT_EQ(ERR_INVALID_HANDLE, RTFileQueryInfo((RTFILE)hEvent, &info, FSOBJ_ADD_NOTHING));
    RTFSTYPE enmType = (RTFSTYPE)99;
    EXPECT_NE(0, RTFsQueryType((RTFILE)hEvent, &enmType));
    EXPECT_EQ(FSTYPE_UNKNOWN, enmType);
    CloseHandle(hEvent);
}

TEST(FileWinHandles, DeviceThatAnswersNoFileQueries) {
    RTFILE h;
    ASSERT_EQ(0, RTFileOpen(&h, "NUL", RTFILE_O_READWRITE));
    for (uint32_t enmKind = FSOBJ_ADD_FIRST; enmKind <= FSOBJ_ADD_LAST; enmKind++) {
        SCOPED_TRACE(testing::Message() << "kind " << enmKind);
        FsObjInfo info;
        memset(&info, 0xcc, sizeof(info));
        ASSERT_EQ(0, RTFileQueryInfo(h, &info, enmKind));
        EXPECT_EQ(RTFS_TYPE_FILE | 0666 | RTFS_DOS_NT_DEVICE, info.mode);
        EXPECT_EQ(0, info.size);
        EXPECT_EQ(0, info.birthTime);
        EXPECT_EQ(enmKind, info.additionalKind);
        if (enmKind == FSOBJ_ADD_UNIX_GROUP) {
            EXPECT_EQ(NIL_RTGID, info.additional.unixGroup.gid);
            EXPECT_STREQ("", info.additional.unixGroup.groupName);
        } else if (enmKind == FSOBJ_ADD_UNIX)
            EXPECT_EQ(0u, info.additional.unixAttr.inode);
    }
    EXPECT_EQ(0, RTFileWrite(h, "x", 1, nullptr));
    EXPECT_EQ(0, RTFileClose(h));
}

TEST_F(FileWinTest, DirectoryIsNotOpenedAsFile) {
    std::filesystem::create_directory(fsPath("d"));
    RTFILE h = 42;
    EXPECT_EQ(ERR_ACCESS_DENIED, RTFileOpen(&h, path("d").c_str(), RTFILE_O_READ));
    EXPECT_EQ(NIL_RTFILE, h);
}
