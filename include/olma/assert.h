// Assertions: the two messages that report an impossible situation, their hooks and
// stored copies, and the panic that ends the process after them.
#pragma once

#include <olma/cdefs.h>
#include <cstdarg>

/** First message: where and what. Written to standard error and kept in memory. */
void RTAssertMsg1(const char *pszExpr, unsigned uLine, const char *pszFile, const char *pszFunction);
/** Second message, replacing the stored text. */
void RTAssertMsg2(const char *pszFormat, ...);
void RTAssertMsg2V(const char *pszFormat, va_list va);
/** Second message, appended to the stored text. */
void RTAssertMsg2Add(const char *pszFormat, ...);
void RTAssertMsg2AddV(const char *pszFormat, va_list va);

/** Executes a breakpoint trap. Without a debugger this ends the process through the
 *  unhandled-exception path. */
RT_NORETURN void RTAssertPanic();

/** Hooks that see every assertion message (null unless set). */
typedef void FNRTASSERTMSG1HOOK(const char *pszFormat, ...);
typedef FNRTASSERTMSG1HOOK *PFNRTASSERTMSG1HOOK;
typedef void FNRTASSERTMSG2HOOK(const char *pszFormat, va_list va);
typedef FNRTASSERTMSG2HOOK *PFNRTASSERTMSG2HOOK;
extern PFNRTASSERTMSG1HOOK g_pfnRTAssertMsg1Hook;
extern PFNRTASSERTMSG2HOOK g_pfnRTAssertMsg2Hook;

/* The texts of the last assertion, for post-mortem inspection. */
constexpr size_t RTASSERT_MSG1_SIZE = 1024;
constexpr size_t RTASSERT_MSG2_SIZE = 4096;
/** Appends stop once the stored second message is this long. */
constexpr size_t RTASSERT_MSG2_APPEND_LIMIT = 4092;

/** What the last first message was about. */
struct RTASSERTMSG1RECORD {
    const char *pszExpr;
    const char *pszFile;
    unsigned uLine;
    const char *pszFunction;
    char szMsg[RTASSERT_MSG1_SIZE];
};
extern RTASSERTMSG1RECORD g_RTAssertMsg1;
extern char g_szRTAssertMsg2[RTASSERT_MSG2_SIZE];
/** Length of the text in g_szRTAssertMsg2 (stored atomically). */
extern size_t g_cchRTAssertMsg2;

/** The sequence every fatal runtime condition uses: both messages, then the panic. */
#define RT_ASSERT_FATAL_MSG(expr, ...)                                                                                 \
    do {                                                                                                               \
        RTAssertMsg1(expr, __LINE__, __FILE__, __PRETTY_FUNCTION__);                                                   \
        RTAssertMsg2Add(__VA_ARGS__);                                                                                  \
        RTAssertPanic();                                                                                               \
    } while (0)
