// Directories by path: create, remove, test, and open a handle (optionally with a
// name filter) that stays open until closed.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <olma/fs.h>

struct DirHandle;
typedef DirHandle *RTDIR;
constexpr RTDIR NIL_RTDIR = nullptr;

/** Name filter kinds for RTDirOpenFiltered. */
enum RTDIRFILTER : uint32_t {
    RTDIRFILTER_INVALID = 0,
    /** No filter. */
    RTDIRFILTER_NONE = 1,
    /** Windows NT wildcards (*, ?, <, > and the double quote), taken from the path's final component. */
    RTDIRFILTER_WINNT = 2,
    /** Unix shell patterns; not implemented. */
    RTDIRFILTER_UNIX = 3,
    RTDIRFILTER_UNIX_UPCASED = 4,
};

/** Open flags. 0x1 and 0x2 are accepted and have no effect. */
constexpr uint32_t RTDIR_F_NO_SYMLINKS = 0x4;
/** Use the path as given instead of making it absolute. */
constexpr uint32_t RTDIR_F_NO_ABS_PATH = 0x8;
constexpr uint32_t RTDIR_F_VALID_MASK = 0xF;

/** Creation flags: leave the new directory to the content indexer... */
constexpr uint32_t RTDIRCREATE_FLAGS_NOT_CONTENT_INDEXED_DONT_SET = 0x2;
/** ...or do not fail when the not-content-indexed attribute cannot be set. */
constexpr uint32_t RTDIRCREATE_FLAGS_NOT_CONTENT_INDEXED_NOT_CRITICAL = 0x4;

[[nodiscard]] int RTDirCreate(const char *pszPath, uint32_t fMode, uint32_t fCreate);
[[nodiscard]] int RTDirRemove(const char *pszPath);
/** True only for an existing directory (symbolic links followed). */
bool RTDirExists(const char *pszPath);

[[nodiscard]] int RTDirOpen(RTDIR *phDir, const char *pszPath);
[[nodiscard]] int RTDirOpenFiltered(RTDIR *phDir, const char *pszPath, RTDIRFILTER enmFilter, uint32_t fFlags);
bool RTDirIsValid(RTDIR hDir);
/** ERR_INVALID_PARAMETER for null or a handle that is not open. */
int RTDirClose(RTDIR hDir);

/** One entry read from a directory handle. */
struct RTDIRENTRY {
    /** The entry's name, UTF-8; kept in the handle until the next read or the close. */
    const char *name;
    size_t nameLength;
    /** Mode word of the entry itself (a link is never followed): a symbolic link has the
     *  symbolic-link type, a junction or other reparse point keeps its directory or file
     *  type; both carry RTFS_DOS_NT_REPARSE_POINT. */
    uint32_t mode;
};

/** True for the mode of a link or other reparse point: an entry that must not be entered. */
constexpr bool RTDirEntryIsLink(uint32_t fMode) {
    return (fMode & RTFS_TYPE_MASK) == RTFS_TYPE_SYMLINK || (fMode & RTFS_DOS_NT_REPARSE_POINT) != 0;
}

/**
 * The next entry of the directory whose name passes the handle's filter; "." and ".."
 * are left out. ERR_NO_MORE_FILES after the last entry, ERR_INVALID_HANDLE for a handle
 * that is not open, ERR_NOT_SUPPORTED for an object-manager directory. An entry whose
 * name cannot be converted to UTF-8 is passed over with the conversion's status; the
 * next call goes on behind it.
 */
[[nodiscard]] int RTDirRead(RTDIR hDir, RTDIRENTRY *pEntry);

/**
 * Removes the directory and everything in it, never following a link: links and other
 * reparse points inside (and the path itself, when it is one) are removed as links, and
 * every directory below is entered relative to its parent's open handle, so that nothing
 * outside the tree is touched even if the tree changes meanwhile. The first failure ends
 * the removal with its status (what was removed stays removed); a missing path gives
 * ERR_FILE_NOT_FOUND or ERR_PATH_NOT_FOUND, a path to anything but a directory or a link
 * ERR_NOT_A_DIRECTORY, a tree deeper than RTDIR_REMOVE_MAX_DEPTH ERR_FILENAME_TOO_LONG.
 */
[[nodiscard]] int RTDirRemoveRecursive(const char *pszPath);
/** Deepest level of directories below the one RTDirRemoveRecursive removes. */
constexpr unsigned RTDIR_REMOVE_MAX_DEPTH = 256;

/**
 * Creates a new directory by replacing the template's run of 'X' characters with
 * random letters and digits until the name did not exist before (at most 10000
 * attempts). On failure the template holds an empty string.
 */
[[nodiscard]] int RTDirCreateTemp(char *pszTemplate, uint32_t fMode);
