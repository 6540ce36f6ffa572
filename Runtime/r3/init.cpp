// Runtime initialisation for an executable: the portable body around the backend's
// native steps. Called from the program's main thread before any other thread exists.
#include <olma/initterm.h>
#include <olma/log.h>
#include <olma/time.h>
#include "common/compiler/internal-startup.h"
#include "common/misc/internal-thread.h"
#include "r3/internal-init.h"

namespace {

constinit int32_t g_cUsers = 0;
constinit bool g_fInitializing = false;
constinit bool g_fInitialized = false;
constinit bool g_fTerminating = false;
constinit uint32_t g_fInitFlags = 0;
constinit uint32_t g_uProcessId = 0;
constinit int g_cArgs = 0;
constinit char **g_papszArgs = nullptr;
constinit bool g_fArgsRecorded = false;
constinit uint64_t g_u64StartTime = 0;
constinit bool g_fExitHandlerRegistered = false;
/** The library hardening was skipped (flag 8) and nobody asked for it since. */
constinit bool g_fHardeningSkipped = false;

void rtR3ExitHandler() {
    __atomic_store_n(&g_fTerminating, true, __ATOMIC_SEQ_CST);
    rtLogExitFlush(__atomic_load_n(&g_fInitialized, __ATOMIC_SEQ_CST));
}

int rtR3InitProgramPath(const char *pszProgramPath) {
    const int rc = rtProcInitExePath(pszProgramPath);
    if (RT_FAILURE(rc))
        RTLogRelPrintf("Failed to get executable directory path, rc=%Rrc!\n", rc);
    return rc;
}

int rtR3InitArgs(int cArgs, char ***ppapszArgs) {
    char **papszArgs = ppapszArgs ? *ppapszArgs : nullptr;
    if (!g_fArgsRecorded) {
        g_cArgs = cArgs;
        g_papszArgs = papszArgs;
        g_fArgsRecorded = true;
        return 0;
    }
    if (cArgs != g_cArgs || papszArgs != g_papszArgs) {
        RTLogRelPrintf("Failed to convert the arguments, rc=%Rrc!\n", ERR_WRONG_ORDER);
        return ERR_WRONG_ORDER;
    }
    return 0;
}

int rtR3InitBody(int cArgs, char ***ppapszArgs, uint32_t fFlags, const char *pszProgramPath) {
    int rc = rtR3InitNativeFirst(fFlags);
    if (RT_FAILURE(rc))
        return rc;

    g_uProcessId = rtR3InitNativeProcessId();
    __atomic_fetch_or(&g_fInitFlags, fFlags, __ATOMIC_SEQ_CST);
    g_fHardeningSkipped = (fFlags & RTR3INIT_FLAGS_SKIP_DLL_HARDENING) != 0;

    rc = rtThreadInit();
    if (RT_FAILURE(rc))
        return rc;

    rc = rtR3InitProgramPath(pszProgramPath);
    if (RT_FAILURE(rc))
        return rc;

    rc = rtR3InitArgs(cArgs, ppapszArgs);
    if (RT_FAILURE(rc))
        return rc;

    g_u64StartTime = RTTimeNanoTS();

    if (!g_fExitHandlerRegistered) {
        if (rtExitHandlerRegister(rtR3ExitHandler) != 0)
            return ERR_NO_MEMORY;
        g_fExitHandlerRegistered = true;
    }
    return 0;
}

int rtR3InitAgain(int cArgs, char ***ppapszArgs, uint32_t fFlags, const char *pszProgramPath) {
    const uint32_t fAll = __atomic_or_fetch(&g_fInitFlags, fFlags, __ATOMIC_SEQ_CST);
    if (g_fHardeningSkipped && !(fFlags & RTR3INIT_FLAGS_SKIP_DLL_HARDENING)) {
        // The hardening was skipped so far; it is done once any caller wants it.
        g_fHardeningSkipped = false;
        const int rc = rtR3InitNativeHardening(fAll & ~RTR3INIT_FLAGS_SKIP_DLL_HARDENING);
        if (RT_FAILURE(rc))
            return rc;
    }
    if (pszProgramPath) {
        const int rc = rtR3InitProgramPath(pszProgramPath);
        if (RT_FAILURE(rc))
            return rc;
    }
    return rtR3InitArgs(cArgs, ppapszArgs);
}

} // namespace

int RTR3Init(int cArgs, char ***ppapszArgs, uint32_t fFlags, const char *pszProgramPath) {
    const int32_t cUsers = __atomic_add_fetch(&g_cUsers, 1, __ATOMIC_SEQ_CST);
    int rc;
    if (cUsers > 1 && __atomic_load_n(&g_fInitialized, __ATOMIC_SEQ_CST)) {
        rc = rtR3InitAgain(cArgs, ppapszArgs, fFlags, pszProgramPath);
        if (RT_SUCCESS(rc))
            return 0;
    } else {
        (void)__atomic_exchange_n(&g_fInitializing, true, __ATOMIC_SEQ_CST);
        rc = rtR3InitBody(cArgs, ppapszArgs, fFlags, pszProgramPath);
        __atomic_store_n(&g_fInitializing, false, __ATOMIC_SEQ_CST);
        if (RT_SUCCESS(rc)) {
            __atomic_store_n(&g_fInitialized, true, __ATOMIC_SEQ_CST);
            return 0;
        }
        // The next call is a first call again and records its own arguments.
        g_fArgsRecorded = false;
    }
    __atomic_sub_fetch(&g_cUsers, 1, __ATOMIC_SEQ_CST);
    return rc;
}

bool RTR3InitIsInitialized() {
    return __atomic_load_n(&g_fInitialized, __ATOMIC_SEQ_CST);
}

bool rtR3InitIsInitializing() {
    return __atomic_load_n(&g_fInitializing, __ATOMIC_SEQ_CST);
}

bool rtR3InitIsInitialized() {
    return RTR3InitIsInitialized();
}

uint64_t rtR3InitStartTime() {
    return g_u64StartTime;
}

uint32_t rtR3InitFlags() {
    return __atomic_load_n(&g_fInitFlags, __ATOMIC_SEQ_CST);
}

uint32_t rtR3InitProcessId() {
    return g_uProcessId;
}
