// POSIX specifics: deny modes between processes, permission bits of created files,
// devices.
#include <gtest/gtest.h>

#include <olma/file.h>

#include "Runtime/r3/test-tmpdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
class FilePosixTest : public TmpDirTest {};
} // namespace

TEST_F(FilePosixTest, DenyModesHoldBetweenProcesses) {
    writeFile("f", "data");
    const std::string strPath = path("f");
    int aToParent[2], aToChild[2];
    ASSERT_EQ(0, pipe(aToParent));
    ASSERT_EQ(0, pipe(aToChild));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        RTFILE h;
        char ch = RT_SUCCESS(RTFileOpen(&h, strPath.c_str(), RTFILE_O_WRITE | RTFILE_O_DENY_WRITE)) ? 'y' : 'n';
        (void)!write(aToParent[1], &ch, 1);
        (void)!read(aToChild[0], &ch, 1);
        _exit(0);
    }
    char ch = 0;
    ASSERT_EQ(1, read(aToParent[0], &ch, 1));
    ASSERT_EQ('y', ch);

    RTFILE h = NIL_RTFILE;
    EXPECT_EQ(ERR_SHARING_VIOLATION, RTFileOpen(&h, strPath.c_str(), RTFILE_O_WRITE));
    EXPECT_EQ(ERR_SHARING_VIOLATION, RTFileDelete(strPath.c_str()));
    EXPECT_EQ(0, RTFileOpen(&h, strPath.c_str(), RTFILE_O_READ));
    EXPECT_EQ(0, RTFileClose(h));

    // The locks go with the process.
    ASSERT_EQ(1, write(aToChild[1], "x", 1));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_EQ(0, RTFileOpen(&h, strPath.c_str(), RTFILE_O_WRITE));
    EXPECT_EQ(0, RTFileClose(h));
    for (int fd : {aToParent[0], aToParent[1], aToChild[0], aToChild[1]})
        close(fd);
}

TEST_F(FilePosixTest, CreatePermissionBits) {
    mode_t fOldMask = umask(022);
    static const struct {
        uint64_t fMode;
        mode_t fExpected;
    } s_aCases[] = {
        {0700, 0700},
        {0644, 0644},
        {0666, 0644}, // the process's mask still applies
        {0, 0644},    // none given: the usual default
    };
    int i = 0;
    for (const auto &c : s_aCases) {
        SCOPED_TRACE(testing::Message() << std::oct << "mode 0" << c.fMode);
        std::string name = "p" + std::to_string(i++);
        RTFILE h;
        ASSERT_EQ(0, RTFileOpen(&h, path(name).c_str(),
                                RTFILE_O_WRITE | RTFILE_O_CREATE | (c.fMode << RTFILE_O_CREATE_MODE_SHIFT)));
        EXPECT_EQ(0, RTFileClose(h));
        struct stat st;
        ASSERT_EQ(0, stat(path(name).c_str(), &st));
        EXPECT_EQ(c.fExpected, st.st_mode & 0777);
    }
    umask(fOldMask);
}

TEST_F(FilePosixTest, DirectoryIsNotOpenedAsFile) {
    std::filesystem::create_directory(fsPath("d"));
    RTFILE h = 42;
    EXPECT_EQ(ERR_IS_A_DIRECTORY, RTFileOpen(&h, path("d").c_str(), RTFILE_O_READ));
    EXPECT_EQ(NIL_RTFILE, h);
}

TEST_F(FilePosixTest, CharacterDevice) {
    RTFILE h;
    ASSERT_EQ(0, RTFileOpen(&h, "/dev/null", RTFILE_O_READWRITE));
    FsObjInfo info;
    ASSERT_EQ(0, RTFileQueryInfo(h, &info, FSOBJ_ADD_NOTHING));
    EXPECT_EQ(RTFS_TYPE_DEV_CHAR, info.mode & RTFS_TYPE_MASK);
    EXPECT_TRUE(info.mode & RTFS_DOS_NT_DEVICE);
    EXPECT_EQ(0, RTFileWrite(h, "x", 1, nullptr));
    EXPECT_EQ(0, RTFileFlush(h));
    EXPECT_EQ(0, RTFileClose(h));
}
