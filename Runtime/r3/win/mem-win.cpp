// Windows backend: the runtime heap is the process heap.
#include "r3/win/internal-win.h"
#include "internal-mem.h"

void *rtMemNativeAlloc(size_t cb, bool fZero) {
    return HeapAlloc(GetProcessHeap(), fZero ? HEAP_ZERO_MEMORY : 0, cb);
}
void *rtMemNativeRealloc(void *pv, size_t cb) {
    return HeapReAlloc(GetProcessHeap(), 0, pv, cb);
}
void rtMemNativeFree(void *pv) {
    HeapFree(GetProcessHeap(), 0, pv);
}
