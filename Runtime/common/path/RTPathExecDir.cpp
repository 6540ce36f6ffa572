// The executable's path as recorded by runtime initialisation, and its directory.
#include "common/path/internal-path.h"
#include "common/string/internal-str.h"

namespace {

/** Filled once while the runtime initialises, before any other thread exists. */
constinit char g_szrtExecPath[RTPATH_EXEC_PATH_MAX] = {};
constinit size_t g_cchrtExecPath = 0;
constinit size_t g_cchrtExecDir = 0;
constinit size_t g_offrtExecName = 0;
constinit bool g_frtExecPathSet = false;

} // namespace

int rtPathSetExecPath(const char *pszPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    const size_t cch = rtStrNLen(pszPath, RTPATH_EXEC_PATH_MAX);
    if (cch >= RTPATH_EXEC_PATH_MAX)
        return ERR_BUFFER_OVERFLOW;
    rtMemCopy(g_szrtExecPath, pszPath, cch + 1);
    size_t cchDir;
    ssize_t offName;
    g_cchrtExecPath = RTPathSplitSimple(g_szrtExecPath, &cchDir, &offName, nullptr);
    g_cchrtExecDir = cchDir;
    g_offrtExecName = offName >= 0 ? (size_t)offName : cch;
    g_frtExecPathSet = true;
    return 0;
}

const char *rtPathGetExecPath(size_t *pcchDir, size_t *poffName) {
    if (!g_frtExecPathSet)
        return nullptr;
    if (pcchDir)
        *pcchDir = g_cchrtExecDir;
    if (poffName)
        *poffName = g_offrtExecName;
    return g_szrtExecPath;
}

int RTPathExecDir(char *pszPath, size_t cbPath) {
    if (!rtPathValidPtr(pszPath))
        return ERR_INVALID_POINTER;
    if (!g_frtExecPathSet)
        return ERR_WRONG_ORDER;
    if (g_cchrtExecDir >= cbPath)
        return ERR_BUFFER_OVERFLOW;
    rtMemCopy(pszPath, g_szrtExecPath, g_cchrtExecDir);
    pszPath[g_cchrtExecDir] = '\0';
    return 0;
}
