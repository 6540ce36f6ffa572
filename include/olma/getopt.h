// Command-line handling: argument vectors from a command string.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/* --- Argument vectors from a command string --- */
/** Splitting style: the quoting rules of Windows programs. */
constexpr uint32_t RTGETOPTARGV_STYLE_WINDOWS = 0;
/** Splitting style: shell-like single quotes, double quotes and backslashes. */
constexpr uint32_t RTGETOPTARGV_STYLE_SHELL = 1;
/** The bits that select the style. */
constexpr uint32_t RTGETOPTARGV_STYLE_MASK = 3;
/** Write the argument texts over the command string instead of a new buffer. */
constexpr uint32_t RTGETOPTARGV_IN_PLACE = 4;

/**
 * Splits a UTF-8 command string into a vector of arguments ending with a null entry.
 * All texts share one buffer: the command string itself with RTGETOPTARGV_IN_PLACE
 * (which is then modified, also when the call fails), otherwise a new buffer that is
 * the vector's first entry. Separators: any code point of pszSeparators, or space,
 * tab, line feed and carriage return when it is null. Release with ArgvFree.
 */
[[nodiscard]] int ArgvFromString(char ***ppapszArgv, int *pcArgs, const char *pszCmdLine, uint32_t fFlags,
                                 const char *pszSeparators);
/** Frees a vector from ArgvFromString; fInPlace must match the flag it was built with. */
void ArgvFree(char **papszArgv, bool fInPlace);
