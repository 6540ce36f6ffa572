// One-call messages in the style of command-line tools: every line starts with the
// program's name and a kind prefix.
#pragma once

#include <olma/cdefs.h>
#include <olma/stream.h>
#include <cstdarg>

/** "<program>: error: <text>" lines on g_pStdErr. Always 0. */
int RTMsgError(const char *pszFormat, ...);
/** "<program>: info: <text>" lines on g_pStdOut. Always 0. */
int RTMsgInfo(const char *pszFormat, ...);
/** The common worker: each line of the formatted text prefixed with the program's name
 *  and pszPrefix; empty lines stay empty. Always 0. */
int RTMsgPrint(PRTSTREAM pStream, const char *pszPrefix, const char *pszFormat, va_list args);
