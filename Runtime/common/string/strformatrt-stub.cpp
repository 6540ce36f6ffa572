// Placeholder for the %R type handlers until they are part of the runtime: every
// %R directive is treated as an unknown type name.
#include "common/string/internal-format.h"

size_t rtstrFormatRt(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs, int cchWidth,
                     int cchPrecision, unsigned fFlags, char chArgSize) {
    (void)pfnOutput, (void)pvArgOutput, (void)pArgs, (void)cchWidth, (void)cchPrecision, (void)fFlags, (void)chArgSize;
    (*ppszFormat)++; // past the 'R'
    return 0;
}
