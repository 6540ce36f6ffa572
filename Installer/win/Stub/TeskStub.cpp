// The installer bootstrapper's main function.
#include "common/compiler/internal-startup.h"

// The run sequence (options, extraction, verification, installation, clean-up) is not
// built yet; until it is, the program accepts any command line, says nothing and
// reports success.
extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    (void)argc;
    (void)argv;
    (void)envp;
    return 0;
}
