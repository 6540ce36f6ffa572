// Backend allocator entry points behind the RTMem* functions.
#pragma once

#include <olma/cdefs.h>

void *rtMemNativeAlloc(size_t cb, bool fZero);
void *rtMemNativeRealloc(void *pv, size_t cb);
void rtMemNativeFree(void *pv);
