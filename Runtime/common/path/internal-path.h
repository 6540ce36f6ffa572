// Internals shared by the path code: separator tests, the parser and reassembler
// cores, dot dropping and the executable path record.
#pragma once

#include <olma/path.h>

/** Style bits with PATH_STYLE_HOST resolved. Style 3 is returned unchanged. */
inline uint32_t rtPathStyle(uint32_t fFlags) {
    uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    return fStyle == PATH_STYLE_HOST ? PATH_STYLE : fStyle;
}

/** Pointers within 4 KiB of zero, on either side, never point at anything. */
inline bool rtPathValidPtr(const void *pv) {
    const uintptr_t u = (uintptr_t)pv;
    return u >= 0x1000 && u <= (uintptr_t)0 - 0x1000;
}

inline bool rtPathIsSep(char ch, bool fDos) {
    return ch == '/' || (fDos && ch == '\\');
}
inline bool rtPathIsLetter(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}
inline char rtPathUpper(char ch) {
    return ch >= 'a' && ch <= 'z' ? (char)(ch - 'a' + 'A') : ch;
}

/** Entries of a record of cb bytes. */
inline uint32_t rtPathParsedCapacity(size_t cb) {
    if (cb >= PARSEDPATH_SIZE(65520))
        return 65520;
    return (uint32_t)((cb - 12) / sizeof(ParsedPathComp));
}

/** The parser proper, after argument checks. fFlags holds a resolved style. */
int rtPathParse(const char *pszPath, ParsedPath *pParsed, uint32_t cMaxComps, uint32_t fFlags);

inline bool rtPathParsedHasRoot(const ParsedPath *pParsed) {
    return (pParsed->properties & (PATH_PROP_UNC | PATH_PROP_ROOT_SLASH | PATH_PROP_VOLUME)) != 0;
}

/** The first component that dot dropping may remove: after the root and, for a UNC
 *  root that names a server (not \\. or \\?) and has more components, after the share. */
uint32_t rtPathParsedFirstRemovable(const ParsedPath *pParsed);

/** Zero the length of every "." and of every ".." together with the nearest kept
 *  component before it (never the root or the protected share). */
void rtPathParsedDropDots(const char *pszPath, ParsedPath *pParsed);

/** Length the reassembler would write, without terminator. */
size_t rtPathParsedCalcLength(const ParsedPath *pParsed);

/** Reassembly after argument checks (memmove semantics). Returns ERR_BUFFER_OVERFLOW
 *  when the result does not fit; *pcch gets the length without terminator either way. */
int rtPathParsedReassemble(const char *pszSrc, const ParsedPath *pParsed, uint32_t fStyle, char *pszDst, size_t cbDst,
                           size_t *pcch);

/** RTPathFilename / RTPathSuffix / RTPathEnsureTrailingSeparator for an explicit style. */
char *rtPathFilenameEx(const char *pszPath, uint32_t fStyle);
char *rtPathSuffixEx(const char *pszPath, uint32_t fStyle);
size_t rtPathEnsureTrailingSeparatorEx(char *pszPath, size_t cbPath, uint32_t fStyle);

/** RTPathAbsExDup with the status kept (the string is null on failure). */
int rtPathAbsExDup(const char *pszBase, const char *pszPath, uint32_t fFlags, char **ppszAbs);

/** Cut a current-directory string to its drive (X:) or UNC share in place.
 *  ERR_INTERNAL_ERROR_4 when it has neither. */
int rtPathCurrentToDrive(char *pszPath);

/** Size of the executable path record's buffer. */
constexpr size_t RTPATH_EXEC_PATH_MAX = 4068;
/** Record the executable's full path (runtime initialisation does this); splits off
 *  the directory. ERR_BUFFER_OVERFLOW when it is 4068 bytes or longer. */
[[nodiscard]] int rtPathSetExecPath(const char *pszPath);
/** The recorded executable path, or null before it was recorded. */
const char *rtPathGetExecPath(size_t *pcchDir, size_t *poffName);
