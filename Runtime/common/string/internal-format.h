// Internal interface between the format engine and the %R type handlers.
#pragma once

#include <olma/string.h>

/** Handles a "%R..." directive. The cursor points at the 'R'; the handler moves it
 *  past the directive, takes its arguments and returns the bytes written through
 *  the output callback (0 and nothing written for an unknown name). */
size_t rtstrFormatRt(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs, int cchWidth,
                     int cchPrecision, unsigned fFlags, char chArgSize);
