// Path text: parsing, reassembly, absolute paths, appending, names and suffixes,
// the current directory and the executable's directory.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/* --- Path manipulation: styles, parser record, absolute paths, names --- */

/** Style and parser flags. */
constexpr uint32_t PATH_STYLE_HOST = 0x0;
constexpr uint32_t PATH_STYLE_DOS = 0x1;
constexpr uint32_t PATH_STYLE_UNIX = 0x2;
constexpr uint32_t PATH_STYLE_MASK = 0x3;
/** What PATH_STYLE_HOST stands for on this platform. */
#if defined(RT_OS_WINDOWS)
constexpr uint32_t PATH_STYLE = PATH_STYLE_DOS;
#else
constexpr uint32_t PATH_STYLE = PATH_STYLE_UNIX;
#endif
/** The string is a fragment: leading separators do not form a root. */
constexpr uint32_t PATH_PARSE_NO_START = 0x10;
/** The string is a fragment: a trailing separator does not mark a directory, no suffix. */
constexpr uint32_t PATH_PARSE_NO_END = 0x20;

/** Property bits of a parsed path. */
constexpr uint16_t PATH_PROP_FILENAME = 0x0001;
constexpr uint16_t PATH_PROP_DIR_SLASH = 0x0002;
constexpr uint16_t PATH_PROP_SUFFIX = 0x0004;
constexpr uint16_t PATH_PROP_UNC = 0x0010;
constexpr uint16_t PATH_PROP_ROOT_SLASH = 0x0020;
constexpr uint16_t PATH_PROP_VOLUME = 0x0040;
constexpr uint16_t PATH_PROP_ABSOLUTE = 0x0100;
constexpr uint16_t PATH_PROP_RELATIVE = 0x0200;
constexpr uint16_t PATH_PROP_EXTRA_SLASHES = 0x0400;
constexpr uint16_t PATH_PROP_DOT_REFS = 0x0800;
constexpr uint16_t PATH_PROP_DOTDOT_REFS = 0x1000;
constexpr uint16_t PATH_PROP_SPECIAL_UNC = 0x2000;

/** Flags of RTPathAbsEx besides the style in bits 0-1. */
constexpr uint32_t PATHABS_WITHIN_BASE = 0x10000;
constexpr uint32_t PATHABS_WITHIN_CWD = 0x20000;
constexpr uint32_t PATHABS_TRAILING_SLASH = 0x40000;

/** One component: byte offset and length in the parsed string. */
struct ParsedPathComp {
    uint16_t offset;
    uint16_t length;
};

/** A parsed path. The caller provides it with a byte size; the array holds
 *  (cb - 12) / 4 entries (at most 65520). */
struct ParsedPath {
    uint16_t componentCount;
    uint16_t properties;
    uint16_t pathLength;
    uint16_t reserved;
    uint16_t suffixOffset;
    uint16_t suffixLength;
    ParsedPathComp components[]; // as many as the caller provided room for
};
/** Size in bytes of a record with room for cComps components. */
constexpr size_t PARSEDPATH_SIZE(size_t cComps) {
    return 12 + cComps * sizeof(ParsedPathComp);
}

[[nodiscard]] int RTPathParse(const char *pszPath, ParsedPath *pParsed, size_t cbParsed, uint32_t fFlags);
[[nodiscard]] int RTPathParsedReassemble(const char *pszSrcPath, ParsedPath *pParsed, uint32_t fFlags, char *pszDstPath,
                                         size_t cbDstPath);

/** Absolute, normalised form of pszPath against pszBase (null: the current directory).
 *  On entry *pcbAbsPath is the buffer size; on success the result's length, on
 *  ERR_BUFFER_OVERFLOW the size needed including the terminator. */
[[nodiscard]] int RTPathAbsEx(const char *pszBase, const char *pszPath, uint32_t fFlags, char *pszAbsPath,
                              size_t *pcbAbsPath);
[[nodiscard]] int RTPathAbs(const char *pszPath, char *pszAbsPath, size_t cbAbsPath);
/** New string (free with RTStrFree), null on any failure. */
char *RTPathAbsExDup(const char *pszBase, const char *pszPath, uint32_t fFlags);

[[nodiscard]] int RTPathAppend(char *pszPath, size_t cbPathDst, const char *pszAppend);
[[nodiscard]] int RTPathAppendEx(char *pszPath, size_t cbPathDst, const char *pszAppend, size_t cchAppendMax,
                                 uint32_t fFlags);
[[nodiscard]] int RTPathJoin(char *pszPathDst, size_t cbPathDst, const char *pszPathSrc, const char *pszAppend);
/** New string (free with RTStrFree), null on failure. */
char *RTPathJoinA(const char *pszPathSrc, const char *pszAppend);

/** The last component, or null when the path ends in a separator (or a drive colon). */
char *RTPathFilename(const char *pszPath);
/** The suffix including its dot, or null. */
char *RTPathSuffix(const char *pszPath);
char *RTPathChangeToDosSlashes(char *pszPath, bool fForce);
/** Returns the new length, 0 when the buffer is too small. */
size_t RTPathEnsureTrailingSeparator(char *pszPath, size_t cbPath);
/** One pass over a DOS path. Returns its length; the name and suffix offsets are -1
 *  when there is none. Each output pointer may be null. */
size_t RTPathSplitSimple(const char *pszPath, size_t *pcchDir, ssize_t *poffName, ssize_t *poffSuffix);

[[nodiscard]] int RTPathGetCurrent(char *pszPath, size_t cbPath);
[[nodiscard]] int RTPathGetCurrentOnDrive(char chDrive, char *pszPath, size_t cbPath);
[[nodiscard]] int RTPathSetCurrent(const char *pszPath);
/** The drive (C:) or UNC share (\\server\share) of the current directory. */
[[nodiscard]] int RTPathGetCurrentDrive(char *pszPath, size_t cbPath);
/** The executable's directory, without trailing separator. */
[[nodiscard]] int RTPathExecDir(char *pszPath, size_t cbPath);

/** Move flag of RTPathRename: replace an existing target (the platform's
 *  MOVEFILE_REPLACE_EXISTING; further platform move flags pass through on Windows). */
constexpr uint32_t RTPATHRENAME_FLAGS_REPLACE = 0x1;
/** Rename; fExpectedType is a file-mode type (0x4000 directory, 0x8000 regular file) or 0 for any. */
[[nodiscard]] int RTPathRename(const char *pszSrc, const char *pszDst, unsigned fMoveFlags, uint32_t fExpectedType);

/* --- Native path form for platform calls --- */

/** What the platform's file calls take: UTF-16 on Windows, bytes elsewhere. */
#if defined(RT_OS_WINDOWS)
typedef RTUTF16 RTPATHNATIVECHAR;
#else
typedef char RTPATHNATIVECHAR;
#endif
/** Path for the platform's file calls, in new memory (null on failure). On Windows
 *  the short Win32 form where it fits, else the long form; elsewhere the absolute path. */
[[nodiscard]] int RTPathToNative(RTPATHNATIVECHAR **ppszNative, const char *pszPath);
void RTPathNativeFree(RTPATHNATIVECHAR *pszNative);

/* --- Path roots ("/", "\\server\share\", "C:\") --- */
/** Length of the path's root (drive, UNC or slash part), 0 when it has none. */
size_t RTPathRootSpecLen(const char *pszPath);
/** True when the path begins with a root (drive, UNC or slash part). */
bool RTPathStartsWithRoot(const char *pszPath);

/* --- The temporary directory --- */
/** The first of OLMA_TMPDIR, TMP, TEMP and USERPROFILE that is set (its value as it
 *  is, or the status of reading it, e.g. ERR_BUFFER_OVERFLOW), else "/tmp". */
[[nodiscard]] int RTPathTemp(char *pszPath, size_t cbPath);
