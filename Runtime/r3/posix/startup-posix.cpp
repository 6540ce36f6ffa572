// POSIX backend: the start-up for a program whose main function is InstallerMain, kept
// apart so that the terminator tables can be linked into any program.
#include "common/compiler/internal-startup.h"

/** main hands its (already UTF-8) arguments straight through. */
int rtPosixStartupMain(int argc, char **argv) {
    const int rc = InstallerMain(argc, argv, nullptr);
    rtProcessExit(rc, true);
}
