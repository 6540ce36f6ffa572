// POSIX backend: the runtime heap is the C library's malloc.
#include <cstdlib>
#include "internal-mem.h"

void *rtMemNativeAlloc(size_t cb, bool fZero) {
    return fZero ? calloc(1, cb) : malloc(cb);
}
void *rtMemNativeRealloc(void *pv, size_t cb) {
    return realloc(pv, cb);
}
void rtMemNativeFree(void *pv) {
    free(pv);
}
