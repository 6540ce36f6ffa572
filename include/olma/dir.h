// Directories by path: create, remove, test, and open a handle (optionally with a
// name filter) that stays open until closed.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

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

/**
 * Creates a new directory by replacing the template's run of 'X' characters with
 * random letters and digits until the name did not exist before (at most 10000
 * attempts). On failure the template holds an empty string.
 */
[[nodiscard]] int RTDirCreateTemp(char *pszTemplate, uint32_t fMode);
