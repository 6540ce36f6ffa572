// Small byte helpers shared by the string code. They are written out here rather than
// taken from the C library so that the same code builds into the image without one.
#pragma once

#include <olma/cdefs.h>

inline size_t rtStrNLen(const char *psz, size_t cchMax) {
    size_t cch = 0;
    while (cch < cchMax && psz[cch] != '\0')
        cch++;
    return cch;
}

inline void rtMemCopy(void *pvDst, const void *pvSrc, size_t cb) {
    __builtin_memcpy(pvDst, pvSrc, cb);
}
