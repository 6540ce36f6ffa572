// Windows backend: native (object-manager) paths and handles opened by them.
#pragma once

#include "r3/win/internal-win.h"
#include <olma/cdefs.h>

/** UTF-8 path to a native path in a counted string (new memory); the root directory
 *  is always set to none. Free with RTNtPathFree. */
[[nodiscard]] int RTNtPathFromUtf8(UNICODE_STRING *pNtName, HANDLE *phRootDir, const char *pszPath);
void RTNtPathFree(UNICODE_STRING *pNtName, HANDLE *phRootDir);

/** Convert and open an existing object; the object-directory fallback is offered
 *  only for paths in the pass-through form. pfObjDir may be null. */
[[nodiscard]] int RTNtPathOpen(const char *pszPath, ACCESS_MASK fDesiredAccess, ULONG fShareAccess,
                               ULONG fCreateOptions, ULONG fObjAttribs, HANDLE *phHandle, bool *pfObjDir);
/** Open a native path, relative to hRootDir when that is not null. With pfObjDir the
 *  name is also tried as an object-manager directory. */
[[nodiscard]] int RTNtPathOpenRelative(HANDLE hRootDir, UNICODE_STRING *pNtName, ACCESS_MASK fDesiredAccess,
                                       ULONG fShareAccess, ULONG fCreateOptions, ULONG fObjAttribs, HANDLE *phHandle,
                                       bool *pfObjDir);
int RTNtPathClose(HANDLE hHandle);

/** RTNtPathFromUtf8 for a given platform major version (prefix generation). */
[[nodiscard]] int rtNtPathFromUtf8Ex(UNICODE_STRING *pNtName, HANDLE *phRootDir, const char *pszPath,
                                     ULONG uMajorVersion);
/** The platform's major version from the process environment block. */
ULONG rtNtPathOsMajorVersion();
/** Object-directory access for the access a caller asked of a file open. */
ACCESS_MASK rtNtPathObjDirAccess(ACCESS_MASK fDesiredAccess);

/** Test hook: when set, called instead of NtCreateFile by RTNtPathOpenRelative, so that
 *  platform answers the host never gives can be checked. Not set by the product. */
typedef NTSTATUS(NTAPI *PFNRTNTPATHCREATEFILE)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                               PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
extern PFNRTNTPATHCREATEFILE g_pfnrtNtPathCreateFileHook;
