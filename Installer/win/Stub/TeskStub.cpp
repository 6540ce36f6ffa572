// The installer bootstrapper's main function.
#include "common/compiler/internal-startup.h"
#include "common/path/internal-path.h"
#include "TeskStub.h"

const char *rtNoCrtExecPath(size_t *poffName, size_t *pcchDir);

extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    (void)envp;
    // Messages name the program after the executable path that runtime initialisation
    // records; until that initialisation runs here, the start-up module's record serves.
    (void)rtPathSetExecPath(rtNoCrtExecPath(nullptr, nullptr));

    InstallerSettings Settings;
    int rcExit = 0;
    if (!ParseCommandLine(argc, argv, &Settings, &rcExit))
        return rcExit;

    // The run sequence (extraction, verification, installation, clean-up) is not built
    // yet; a command line that parses ends here as a success, without saying anything.
    return 0;
}
