// The directory handle and the pieces shared by the portable directory code and
// the platform backends.
#pragma once

#include <olma/dir.h>

constexpr uint32_t RTDIR_MAGIC = 0x19291112;
constexpr uint32_t RTDIR_MAGIC_DEAD = 0xE6D6EEED;
/** Native handle value of a handle that is not open. */
constexpr uintptr_t RTDIR_NATIVE_INVALID = ~(uintptr_t)0;

/** Name filter test; true when the UTF-8 name passes. */
typedef bool FNRTDIRFILTER(DirHandle *pDir, const char *pszName);
typedef FNRTDIRFILTER *PFNRTDIRFILTER;

/** A counted UTF-16 string in the layout the platform's own matching takes. */
struct RTDIRNATIVESTR {
    uint16_t Length;        /**< bytes, without terminator */
    uint16_t MaximumLength; /**< bytes of the buffer */
    RTUTF16 *Buffer;
};

/** One open directory. The variable data (filter code points, filter text, path)
 *  follows the fixed part in the same block. */
struct DirHandle {
    uint32_t magic;
    RTDIRFILTER filterKind;
    /** Null when every name passes. */
    PFNRTDIRFILTER filterMatch;
    /** Folded to upper case, runs of '*' merged, 0-terminated; null without filter. */
    RTUNICP *filterCodePoints;
    size_t filterCodePointCount;
    char *filterText;
    size_t filterLength;
    /** Absolute (unless opened with RTDIR_F_NO_ABS_PATH), always ending with a separator. */
    char *path;
    size_t pathLength;
    /** Current entry, for enumeration. */
    char *entryName;
    size_t entryNameLength;
    size_t nativeSize;
    uint32_t openFlags;
    /** The caller's path ended with a separator, or a filter was split off it. */
    bool endsWithSlash;
    bool dataUnread;
    /** Object-manager directory rather than a file-system directory. */
    bool objectDirectory;
    uintptr_t hNative;
    RTDIRNATIVESTR nativeFilter;
    /** Enumeration state of the backend: the platform's batch of entries (Windows; the
     *  next one at enumOffset while dataUnread), or the directory stream (POSIX, which
     *  closes it with the handle). Null until the first read. */
    void *enumBuffer;
    size_t enumOffset;
};

/** Room for an entry name: 255 UTF-16 units take at most 765 bytes of UTF-8. */
constexpr size_t RTDIR_ENTRY_NAME_MAX = 768;

/** Folds a code point to upper case (simple mappings, selected ranges only). */
RTUNICP rtDirUpperCp(RTUNICP uc);

/** One run of the folding table: count code points from first on, one or two apart,
 *  that fold to themselves plus delta. Runs are sorted and never overlap; every code
 *  point outside them folds to itself. */
struct RTDIRUPPERRUN {
    uint32_t first : 21;
    uint32_t count : 10;
    /** The run takes every other code point (lower and upper case alternating). */
    uint32_t fEveryOther : 1;
    int32_t delta;
};
extern const RTDIRUPPERRUN g_aRtDirUpperRuns[];
extern const size_t g_cRtDirUpperRuns;

/** Deepest recursion of the wildcard matcher; a filter that needs more never matches. */
constexpr unsigned RTDIR_FILTER_MAX_DEPTH = 256;

/** The two matchers a handle may use. */
bool rtDirFilterMatchExact(DirHandle *pDir, const char *pszName);
bool rtDirFilterMatchWild(DirHandle *pDir, const char *pszName);

/**
 * Allocates a handle for the directory path (already in its final form, ending with
 * a separator) with the optional filter (the NUL-terminated tail of the caller's
 * path, cchFilter bytes), decodes and compiles the filter. Nothing
 * is opened. ERR_NO_MEMORY, or the decoder's status for a filter that is not valid
 * UTF-8.
 */
[[nodiscard]] int rtDirAllocHandle(DirHandle **ppDir, const char *pszPath, size_t cchPath, const char *pszFilter,
                                   size_t cchFilter, RTDIRFILTER enmFilter, uint32_t fFlags, bool fEndsWithSlash);
/** Frees a handle from rtDirAllocHandle that was never opened, or whose native side is closed. */
void rtDirFreeHandle(DirHandle *pDir);

/** Backend: creates the directory; fMode is normalised and consistent. */
[[nodiscard]] int rtDirNativeCreate(const char *pszPath, uint32_t fMode, uint32_t fCreate);

/** Backend: opens the native handle for pDir->path (and sets hNative, objectDirectory). */
[[nodiscard]] int rtDirNativeOpen(DirHandle *pDir);
/** Backend: closes hNative and releases what rtDirNativeOpen added (native filter buffer,
 *  a directory stream). */
void rtDirNativeClose(DirHandle *pDir);

/** Backend: the next entry of the platform's listing, "." and ".." included, the
 *  filter not yet applied: its name into entryName (RTDIR_ENTRY_NAME_MAX bytes, already
 *  allocated) and entryNameLength, its mode (links not followed) into *pfMode.
 *  ERR_NO_MORE_FILES at the end. */
[[nodiscard]] int rtDirNativeReadOne(DirHandle *pDir, uint32_t *pfMode);

/** Backend: opens pDir's native handle on a directory without following a link:
 *  pszName relative to pParent's open handle, or pszName as a path when pParent is null.
 *  Any link or reparse point is refused with ERR_IS_A_SYMLINK, a non-directory with
 *  ERR_NOT_A_DIRECTORY. The handle may enumerate. */
[[nodiscard]] int rtDirNativeOpenNoFollow(DirHandle *pDir, DirHandle *pParent, const char *pszName);
/** Backend: removes the object pszName names (relative to pParent's handle, or a path
 *  when pParent is null), whatever it is: a file, an empty directory, or a link or
 *  reparse point of either kind, which is removed itself and never followed. */
[[nodiscard]] int rtDirNativeUnlink(DirHandle *pParent, const char *pszName);
