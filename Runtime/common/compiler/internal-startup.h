// Process start-up and shutdown: exit handlers, static-initialiser tables and the raw
// error writers that work before anything else is initialised.
#pragma once

#include <olma/cdefs.h>

extern "C" {
typedef void FNRTEXITHANDLER(void);
typedef FNRTEXITHANDLER *PFNRTEXITHANDLER;
typedef int FNRTFIRSTSTAGEINIT(void);
typedef FNRTFIRSTSTAGEINIT *PFNRTFIRSTSTAGEINIT;
typedef void FNRTSTAGEFN(void);
typedef FNRTSTAGEFN *PFNRTSTAGEFN;
}

/** Capacity of the exit-handler table: 32 pages of 256 entries. */
constexpr uint32_t RTEXIT_HANDLERS_PER_PAGE = 256;
constexpr uint32_t RTEXIT_HANDLER_PAGES = 32;
constexpr uint32_t RTEXIT_HANDLERS_MAX = RTEXIT_HANDLERS_PER_PAGE * RTEXIT_HANDLER_PAGES;

/** Registers an exit handler; 0 on success, -1 when the table is full or a page
 *  cannot be allocated. Safe from any thread. */
int rtExitHandlerRegister(PFNRTEXITHANDLER pfnHandler);
/** Runs every registered handler, newest first, each once; leaves the table empty. */
void rtExitHandlersRun();
/** Number of slots handed out so far (for tests). */
uint32_t rtExitHandlerCount();

/** Runs the pre-terminators and terminators of the static tables. */
void rtRunTerminators();
/** Runs the first-stage initialisers; returns 0 or the first non-zero result. */
int rtRunFirstStageInitializers();
/** Runs the second-stage initialisers. */
void rtRunSecondStageInitializers();

/** Ends the process: with fRunHandlers, the exit handlers run (newest first), then the
 *  pre-terminators and terminators. Never returns. */
RT_NORETURN void rtProcessExit(int rcExit, bool fRunHandlers);

/* Raw error writers: straight to the standard-error handle, no buffering, no allocation. */
void rtRawWriteBytes(const char *pch, size_t cch);
void rtRawWriteString(const char *psz);
/** Message, the status in signed decimal, and a line end. */
void rtRawWriteStatus(const char *pszMsg, int rc);
/** Unsigned decimal followed by " (0x<hex>)". */
void rtRawWriteNumberDecHex(uint64_t u);
void rtRawWriteHex(uint64_t u);
void rtRawWritePointer(const void *pv);

/** Backend: the standard-error write itself (the result is ignored). */
void rtRawWriteNative(const char *pch, size_t cch);

/** Entry in one of the static tables, in the order they are used: first-stage
 *  initialisers (return non-zero to fail start-up), second-stage initialisers,
 *  pre-terminators and terminators. The linker sorts and keeps these sections. */
#if defined(RT_OS_WINDOWS)
#define RT_STARTUP_SECTION_XI ".CRT$XIU"
#define RT_STARTUP_SECTION_XC ".CRT$XCU"
#define RT_STARTUP_SECTION_XP ".CRT$XPU"
#define RT_STARTUP_SECTION_XT ".CRT$XTU"
#else
#define RT_STARTUP_SECTION_XI "olma_xi"
#define RT_STARTUP_SECTION_XC "olma_xc"
#define RT_STARTUP_SECTION_XP "olma_xp"
#define RT_STARTUP_SECTION_XT "olma_xt"
#endif
#define RT_FIRST_STAGE_INITIALIZER(fn)                                                                                 \
    __attribute__((section(RT_STARTUP_SECTION_XI), used)) static PFNRTFIRSTSTAGEINIT g_pfnXi_##fn = fn
#define RT_SECOND_STAGE_INITIALIZER(fn)                                                                                \
    __attribute__((section(RT_STARTUP_SECTION_XC), used)) static PFNRTSTAGEFN g_pfnXc_##fn = fn
#define RT_PRE_TERMINATOR(fn)                                                                                          \
    __attribute__((section(RT_STARTUP_SECTION_XP), used)) static PFNRTSTAGEFN g_pfnXp_##fn = fn
#define RT_TERMINATOR(fn) __attribute__((section(RT_STARTUP_SECTION_XT), used)) static PFNRTSTAGEFN g_pfnXt_##fn = fn

/** The program's main function, called by the start-up code with a UTF-8 vector and a
 *  null environment pointer; its result is the exit code. */
extern "C" int InstallerMain(int argc, char **argv, char **envp);

#if defined(RT_OS_POSIX)
/** POSIX start-up: calls InstallerMain with main's arguments and exits with its result
 *  after the exit handlers and terminators ran. */
RT_NORETURN int rtPosixStartupMain(int argc, char **argv);
#endif
