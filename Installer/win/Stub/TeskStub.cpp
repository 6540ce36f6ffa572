// The installer bootstrapper's main function.
#include <olma/initterm.h>
#include <olma/string.h>
#include "common/compiler/internal-startup.h"
#include "common/path/internal-path.h"

namespace {

/** Exit code when the runtime or the command line cannot be initialised. */
constexpr int RTEXITCODE_INIT = 3;

/** Initialises the runtime; on failure reports it on standard error, naming the program
 *  when its path is known, and returns false. */
bool InitRuntime(int *pArgc, char ***pArgv) {
    const int rc = RTR3Init(*pArgc, pArgv, RTR3INIT_FLAGS_SYSTEM_DLL_PATH);
    if (RT_SUCCESS(rc))
        return true;
    char szMsg[4200];
    size_t offName = 0;
    const char *pszExecPath = rtPathGetExecPath(nullptr, &offName);
    size_t cch;
    if (pszExecPath && offName < 4100)
        cch = RTStrPrintf(szMsg, sizeof(szMsg), "%s: fatal error: RTR3Init: %Rrc\n", pszExecPath + offName, rc);
    else
        cch = RTStrPrintf(szMsg, sizeof(szMsg), "fatal error: RTR3Init: %Rrc\n", rc);
    rtRawWriteBytes(szMsg, cch);
    return false;
}

} // namespace

// The run sequence (options, extraction, verification, installation, clean-up) is not
// built yet; until it is, the program accepts any command line, says nothing and
// reports success.
extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    if (!InitRuntime(&argc, &argv))
        return RTEXITCODE_INIT;
    (void)envp;
    return 0;
}
