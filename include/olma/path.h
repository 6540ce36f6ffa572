// Path text.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/* --- Root specifications ("/", "\\server\share\", "C:\") --- */
/** Length of the path's root specification, 0 when it has none. */
size_t RTPathRootSpecLen(const char *pszPath);
/** True when the path begins with a root specification. */
bool RTPathStartsWithRoot(const char *pszPath);
