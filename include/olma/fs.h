// File-system objects: the mode word, the information record, path queries and
// file-system types.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/* --- Mode word, low half: type and permissions --- */
constexpr uint32_t RTFS_TYPE_MASK = 0x0000f000;
constexpr uint32_t RTFS_TYPE_FIFO = 0x00001000;
constexpr uint32_t RTFS_TYPE_DEV_CHAR = 0x00002000;
constexpr uint32_t RTFS_TYPE_DIRECTORY = 0x00004000;
constexpr uint32_t RTFS_TYPE_DEV_BLOCK = 0x00006000;
constexpr uint32_t RTFS_TYPE_FILE = 0x00008000;
constexpr uint32_t RTFS_TYPE_SYMLINK = 0x0000a000;
constexpr uint32_t RTFS_TYPE_SOCKET = 0x0000c000;

constexpr uint32_t RTFS_UNIX_MASK = 0000777;
constexpr uint32_t RTFS_UNIX_ALL_ACCESS_PERMS = 0000777;
constexpr uint32_t RTFS_UNIX_IRUSR = 0000400;
constexpr uint32_t RTFS_UNIX_IWUSR = 0000200;
constexpr uint32_t RTFS_UNIX_IXUSR = 0000100;
constexpr uint32_t RTFS_UNIX_ALL_READ = 0000444;
constexpr uint32_t RTFS_UNIX_ALL_WRITE = 0000222;
constexpr uint32_t RTFS_UNIX_ALL_EXEC = 0000111;
constexpr uint32_t RTFS_UNIX_MASK_LOW = 0x0000ffff;

/* --- Mode word, high half: the platform's attribute bits shifted left by 16 --- */
constexpr unsigned RTFS_DOS_SHIFT = 16;
constexpr uint32_t RTFS_DOS_READONLY = 0x0001u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_HIDDEN = 0x0002u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_SYSTEM = 0x0004u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_DIRECTORY = 0x0010u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_ARCHIVED = 0x0020u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_DEVICE = 0x0040u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_NORMAL = 0x0080u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_TEMPORARY = 0x0100u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_SPARSE_FILE = 0x0200u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_REPARSE_POINT = 0x0400u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_COMPRESSED = 0x0800u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_OFFLINE = 0x1000u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_NOT_CONTENT_INDEXED = 0x2000u << RTFS_DOS_SHIFT;
constexpr uint32_t RTFS_DOS_NT_ENCRYPTED = 0x4000u << RTFS_DOS_SHIFT;
/** The attribute bits carried over into a mode (those under 0x8000). */
constexpr uint32_t RTFS_DOS_MASK_NT = 0x7fffu << RTFS_DOS_SHIFT;

/** Reparse tag of a symbolic link. */
constexpr uint32_t RTFS_REPARSE_TAG_SYMLINK = 0xa000000c;

/** Derives a mode from platform attributes (already shifted left by 16). cchName 0
 *  means the length is computed; pszName may be null. fTypeHint RTFS_TYPE_DIRECTORY
 *  adds the directory attribute. */
uint32_t RTFsModeFromAttributes(uint32_t fMode, const char *pszName, size_t cchName, uint32_t uReparseTag,
                                uint32_t fTypeHint);
/** Completes a caller's mode so that both halves are filled in. */
uint32_t RTFsModeNormalize(uint32_t fMode, const char *pszName, size_t cchName, uint32_t fTypeHint);
/** Consistent: the type is directory exactly when the directory attribute is set. */
bool RTFsModeIsValid(uint32_t fMode);

/* --- File information record --- */
constexpr uint32_t FSOBJ_ADD_NOTHING = 1;
constexpr uint32_t FSOBJ_ADD_UNIX = 2;
constexpr uint32_t FSOBJ_ADD_UNIX_OWNER = 3;
constexpr uint32_t FSOBJ_ADD_UNIX_GROUP = 4;
constexpr uint32_t FSOBJ_ADD_EASIZE = 5;
constexpr uint32_t FSOBJ_ADD_FIRST = FSOBJ_ADD_NOTHING;
constexpr uint32_t FSOBJ_ADD_LAST = FSOBJ_ADD_EASIZE;

constexpr uint32_t NIL_RTUID = 0xffffffff;
constexpr uint32_t NIL_RTGID = 0xffffffff;

struct FsObjAddUnix {
    uint32_t uid;
    uint32_t gid;
    uint32_t hardLinks;
    uint32_t inodeDevice;
    uint64_t inode;
    uint32_t flags;
    uint32_t generation;
    uint32_t device;
};
struct FsObjAddUnixOwner {
    uint32_t uid;
    char ownerName[124];
};
struct FsObjAddUnixGroup {
    uint32_t gid;
    char groupName[124];
};
struct FsObjAddEaSize {
    uint64_t eaSize;
};

struct FsObjInfo {
    int64_t size;
    int64_t allocatedSize;
    /** Nanoseconds since 1970-01-01 UTC. */
    int64_t accessTime;
    int64_t modificationTime;
    int64_t changeTime;
    int64_t birthTime;
    uint32_t mode;
    uint32_t additionalKind;
    union {
        FsObjAddUnix unixAttr;
        FsObjAddUnixOwner unixOwner;
        FsObjAddUnixGroup unixGroup;
        FsObjAddEaSize easize;
    } additional;
};

/** Platform ticks (100 ns since 1601-01-01) to nanoseconds since 1970-01-01. */
constexpr int64_t rtFsTimeFromNtTicks(int64_t iTicks) {
    return (int64_t)((uint64_t)iTicks * 100u - UINT64_C(11644473600000000000));
}

/* --- Path queries --- */
/** Describe a final symbolic link itself. */
constexpr uint32_t RTPATH_F_ON_LINK = 0x1;
/** Follow a final symbolic link. */
constexpr uint32_t RTPATH_F_FOLLOW_LINK = 0x2;
/** Accepted, no further effect. */
constexpr uint32_t RTPATH_F_NO_SYMLINKS = 0x4;

/** Describes the object at a path. fFlags: 1, 2, 5 or 6. */
[[nodiscard]] int RTPathQueryInfoEx(const char *pszPath, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind,
                                    uint32_t fFlags);

/* --- File-system types --- */
enum RTFSTYPE : uint32_t {
    FSTYPE_UNKNOWN = 0,
    FSTYPE_UDF = 1,
    FSTYPE_CDFS = 2,
    FSTYPE_SHARED_FOLDER = 4,
    FSTYPE_NTFS = 17,
    FSTYPE_FAT = 18,
    FSTYPE_EXFAT = 19,
    FSTYPE_REFS = 20,
    FSTYPE_HPFS = 28,
};

/** The file system behind an open file handle (RTFILE). */
[[nodiscard]] int RTFsQueryType(intptr_t hFile, RTFSTYPE *penmType);

/* --- Test hook (not used by the product) --- */
/**
 * Makes the N-th call from now (0 disarms) of the file and directory entry points fail
 * with rcFail, so that a caller's failure paths can be walked one after the other (fail
 * call 1, 2, ... until the operation succeeds). Counted calls: RTFileOpenEx (also through
 * RTFileOpen and each attempt of RTFileCreateTemp), RTFileRead, RTFileWrite, RTFileClose
 * (not of the nil handle), RTFileQueryInfo, RTFileDelete, RTDirCreate, RTDirOpenFiltered
 * (also through RTDirOpen), RTDirRead, RTDirRemove and RTDirClose, each counted once per
 * call after its arguments were checked. A failing call does nothing, except that the two
 * closes still release the handle and then report the failure, as a real failed close
 * leaves no usable handle either. Streams write through RTFileWrite, so keep them
 * buffered while the hook is armed. Returns what was left of the countdown it
 * replaces: not 0 when the failure armed before has not happened.
 */
uint32_t RTFsTestFailNth(uint32_t n, int rcFail);
