// The installer bootstrapper's main function.
#include <olma/initterm.h>
#include <olma/stream.h>
#include <olma/string.h>
#include "common/compiler/internal-startup.h"
#include "common/path/internal-path.h"
#include "TeskStub.h"

namespace {

/** Exit code when the runtime or the command line cannot be initialised. */
constexpr int RTEXITCODE_INIT = 3;

/** Initialises the runtime; on failure reports it on standard error, naming the program
 *  when its path is known, and returns false. */
bool InitRuntime(int *pArgc, char ***pArgv) {
    const int rc = RTR3Init(*pArgc, pArgv, RTR3INIT_FLAGS_SYSTEM_DLL_PATH);
    if (RT_SUCCESS(rc))
        return true;
    size_t offName = 0;
    const char *pszExecPath = rtPathGetExecPath(nullptr, &offName);
    if (pszExecPath && offName < 4100)
        RTStrmPrintf(g_pStdErr, "%s: fatal error: RTR3Init: %Rrc\n", pszExecPath + offName, rc);
    else
        RTStrmPrintf(g_pStdErr, "fatal error: RTR3Init: %Rrc\n", rc);
    return false;
}

} // namespace

extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    if (!InitRuntime(&argc, &argv))
        return RTEXITCODE_INIT;
    (void)envp;

    InstallerSettings Settings;
    int rcExit = 0;
    if (!ParseCommandLine(argc, argv, &Settings, &rcExit))
        return rcExit;

    // The run sequence (extraction, verification, installation, clean-up) is not built
    // yet; a command line that parses ends here as a success, without saying anything.
    return 0;
}
