// Test seam of the Windows environment backend.
#pragma once

#include <olma/cdefs.h>

/** Same contract as GetEnvironmentVariableW. */
typedef unsigned long(__stdcall *PFNRTENVWINGETVAR)(const wchar_t *pwszName, wchar_t *pwszBuf, unsigned long cwcBuf);

/** Test hook: routes the backend's variable reads through pfn (null restores the
 *  platform call) and returns the previous hook. Not used by the product. */
PFNRTENVWINGETVAR rtEnvWinTestSetGetter(PFNRTENVWINGETVAR pfn);
