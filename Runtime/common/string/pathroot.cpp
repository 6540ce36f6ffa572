// Roots of paths: "/", "\\server\share" (UNC) and drive letters.
#include <olma/path.h>

namespace {

inline bool rtPathIsSlash(char ch) {
    return ch == '/' || ch == '\\';
}

} // namespace

size_t RTPathRootSpecLen(const char *pszPath) {
    if (!RT_VALID_PTR(pszPath))
        return 0;
    size_t off = 0;
    if (rtPathIsSlash(pszPath[0])) {
        if (rtPathIsSlash(pszPath[1]) && pszPath[2] != '\0' && !rtPathIsSlash(pszPath[2])) {
            /* UNC: the server name, the slashes after it and the share name. */
            off = 2;
            while (pszPath[off] && !rtPathIsSlash(pszPath[off]))
                off++;
            while (rtPathIsSlash(pszPath[off]))
                off++;
            while (pszPath[off] && !rtPathIsSlash(pszPath[off]))
                off++;
        } else
            off = 1;
    } else if (((pszPath[0] >= 'A' && pszPath[0] <= 'Z') || (pszPath[0] >= 'a' && pszPath[0] <= 'z')) &&
               pszPath[1] == ':')
        off = 2;
    else
        return 0;
    while (rtPathIsSlash(pszPath[off]))
        off++;
    return off;
}

bool RTPathStartsWithRoot(const char *pszPath) {
    return RTPathRootSpecLen(pszPath) != 0;
}
