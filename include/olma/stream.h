// Buffered text output streams: the standard streams and streams opened by name.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <cstdarg>

struct RTSTREAM;
typedef RTSTREAM *PRTSTREAM;

/** Where standard error and standard output go; callers may point them elsewhere
 *  (every print reads them at the time of the call). */
extern PRTSTREAM g_pStdErr;
extern PRTSTREAM g_pStdOut;

/** Buffering modes as RTStrmSetBufferingMode takes them. */
constexpr int RTSTRMBUFMODE_FULL_BUFFERED = 1;
constexpr int RTSTRMBUFMODE_LINE_BUFFERED = 2;
constexpr int RTSTRMBUFMODE_UNBUFFERED = 3;

/**
 * Opens a stream on a file or device. The mode is a C-style mode string: one of
 * 'r', 'w', 'a' (the last one counts), optionally '+', 'x' (with 'w' only), 'b' (raw,
 * no CR LF translation), 't', 'e'/'N' (not inherited) and 'E' (inherited). The stream
 * is fully buffered and lives until the process ends.
 */
[[nodiscard]] int RTStrmOpen(const char *pszFilename, const char *pszMode, PRTSTREAM *ppStream);
/** Formats onto the stream. Returns the number of characters produced, -1 when the
 *  stream already failed before, or a negative status for a bad stream. */
int RTStrmPrintfV(PRTSTREAM pStream, const char *pszFormat, va_list args);
int RTStrmPrintf(PRTSTREAM pStream, const char *pszFormat, ...);
/** RTStrmPrintfV on g_pStdOut. */
int RTPrintf(const char *pszFormat, ...);
[[nodiscard]] int RTStrmSetBufferingMode(PRTSTREAM pStream, int enmMode);
