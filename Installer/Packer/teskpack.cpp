// teskpack's entry: the runtime is initialised with the arguments as UTF-8 (on Windows
// from the UTF-16 command line, so file names in any script survive), then the command
// line runs.
#include <olma/initterm.h>
#include <olma/message.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "Packer.h"

namespace {
int run(int argc, char **argv) {
    int rc = RTR3Init(argc, &argv, 0);
    if (RT_FAILURE(rc)) {
        RTMsgError("cannot initialise the runtime: %Rrc", rc);
        return 1;
    }
    return TeskPackMain(argc, argv);
}
} // namespace

#if defined(RT_OS_WINDOWS)
int wmain(int argc, wchar_t **wargv) {
    std::vector<std::string> Args;
    for (int i = 0; i < argc; i++) {
        char *psz = nullptr;
        if (RT_FAILURE(RTUtf16ToUtf8Ex((const RTUTF16 *)wargv[i], RTSTR_MAX, &psz, 0, nullptr, RTSTR_TAG))) {
            RTMsgError("argument %d is not valid UTF-16", i);
            return 2;
        }
        Args.push_back(psz);
        RTStrFree(psz);
    }
    std::vector<char *> Argv;
    for (std::string &str : Args)
        Argv.push_back(str.data());
    Argv.push_back(nullptr);
    return run(argc, Argv.data());
}
#else
int main(int argc, char **argv) {
    return run(argc, argv);
}
#endif
