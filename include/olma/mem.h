// The runtime's heap: one process heap behind four calls.
#pragma once

#include <olma/cdefs.h>

/** Uninitialised work buffer or string memory. */
void *RTMemTmpAlloc(size_t cb);
/** Zero-filled record; the tag names the caller's source file. */
void *RTMemAllocZ(size_t cb, const char *pszTag);
/** Resize a block (null allocates); the tag is that of the caller. */
void *RTMemRealloc(void *pv, size_t cbNew, const char *pszTag);
/** Free a block; null is accepted. */
void RTMemFree(void *pv);

/** Test hooks: make the N-th allocation from now fail (0 disables), and count the
 *  blocks currently allocated through this heap. Not used by the product.
 *  RTMemTestFailNth returns what was left of the countdown it replaces: not 0 when
 *  the failure armed before has not happened (the operation made fewer allocations). */
uint32_t RTMemTestFailNth(uint32_t n);
size_t RTMemTestOutstanding();
