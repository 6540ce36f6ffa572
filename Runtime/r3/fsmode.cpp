// Mode words: deriving them from platform attributes and completing a caller's mode.
#include <olma/fs.h>

namespace {

constexpr bool rtFsIsSep(char ch) {
#if defined(RT_OS_WINDOWS)
    return ch == '/' || ch == '\\';
#else
    return ch == '/';
#endif
}

size_t rtFsNameLength(const char *pszName, size_t cchName) {
    if (cchName != 0 && cchName != RTSTR_MAX)
        return cchName;
    size_t cch = 0;
    while (pszName[cch] != '\0')
        cch++;
    return cch;
}

constexpr char rtFsLower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? (char)(ch + ('a' - 'A')) : ch;
}

/** Names ending in one of the platform's executable suffixes get execute permission,
 *  since attributes alone cannot say whether a file may be run. */
bool rtFsHasExecSuffix(const char *pszName, size_t cchName) {
    if (cchName < 4 || pszName[cchName - 4] != '.')
        return false;
    const char ach[3] = {rtFsLower(pszName[cchName - 3]), rtFsLower(pszName[cchName - 2]),
                         rtFsLower(pszName[cchName - 1])};
    static constexpr char s_aSuffixes[][3] = {
        {'e', 'x', 'e'}, {'b', 'a', 't'}, {'c', 'o', 'm'}, {'c', 'm', 'd'}, {'b', 't', 'm'}};
    for (const auto &suffix : s_aSuffixes)
        if (suffix[0] == ach[0] && suffix[1] == ach[1] && suffix[2] == ach[2])
            return true;
    return false;
}

} // namespace

uint32_t RTFsModeFromAttributes(uint32_t fMode, const char *pszName, size_t cchName, uint32_t uReparseTag,
                                uint32_t fTypeHint) {
    fMode &= RTFS_DOS_MASK_NT;
    if ((fTypeHint & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY)
        fMode |= RTFS_DOS_DIRECTORY;

    if (fMode & RTFS_DOS_DIRECTORY)
        fMode |= RTFS_TYPE_DIRECTORY | RTFS_UNIX_ALL_READ | RTFS_UNIX_ALL_EXEC;
    else {
        fMode |= RTFS_TYPE_FILE | RTFS_UNIX_ALL_READ;
        if (pszName && rtFsHasExecSuffix(pszName, rtFsNameLength(pszName, cchName)))
            fMode |= RTFS_UNIX_ALL_EXEC;
    }

    if ((fMode & RTFS_DOS_NT_REPARSE_POINT) && uReparseTag == RTFS_REPARSE_TAG_SYMLINK)
        fMode = (fMode & ~RTFS_TYPE_MASK) | RTFS_TYPE_SYMLINK;

    if (!(fMode & RTFS_DOS_READONLY) || (fMode & RTFS_DOS_DIRECTORY))
        fMode |= RTFS_UNIX_ALL_WRITE;
    return fMode;
}

uint32_t RTFsModeNormalize(uint32_t fMode, const char *pszName, size_t cchName, uint32_t fTypeHint) {
    if (!(fMode & RTFS_UNIX_MASK_LOW))
        return RTFsModeFromAttributes(fMode, pszName, cchName,
                                      (fMode & RTFS_DOS_NT_REPARSE_POINT) ? RTFS_REPARSE_TAG_SYMLINK : 0, fTypeHint);

    if (fMode & ~RTFS_UNIX_MASK_LOW) {
        if (fMode & RTFS_TYPE_MASK) {
            if ((fMode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY)
                fMode |= RTFS_DOS_DIRECTORY;
        } else
            fMode |= (fMode & RTFS_DOS_DIRECTORY) ? RTFS_TYPE_DIRECTORY : RTFS_TYPE_FILE;
        return fMode;
    }

    if (!(fMode & RTFS_TYPE_MASK))
        fMode |= fTypeHint & RTFS_TYPE_MASK;
    if (!(fMode & RTFS_UNIX_ALL_WRITE))
        fMode |= RTFS_DOS_READONLY;
    if ((fMode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY)
        fMode |= RTFS_DOS_DIRECTORY;
    if (!(fMode & RTFS_DOS_MASK_NT))
        fMode |= RTFS_DOS_NT_NORMAL;
    if (!(fMode & RTFS_DOS_HIDDEN) && pszName) {
        // Dot files are hidden by convention where attributes have to be made up.
        size_t cch = rtFsNameLength(pszName, cchName);
        size_t off = cch;
        while (off > 0 && !rtFsIsSep(pszName[off - 1]))
            off--;
        const char *pszComp = &pszName[off];
        size_t cchComp = cch - off;
        if (cchComp > 0 && pszComp[0] == '.' && !(cchComp == 1 || (cchComp == 2 && pszComp[1] == '.')))
            fMode |= RTFS_DOS_HIDDEN;
    }
    return fMode;
}

bool RTFsModeIsValid(uint32_t fMode) {
    return ((fMode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY) == ((fMode & RTFS_DOS_DIRECTORY) != 0);
}
