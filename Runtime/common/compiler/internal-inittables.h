// Bounds of the four static tables, supplied by the backend (section markers).
#pragma once

#include "common/compiler/internal-startup.h"

PFNRTFIRSTSTAGEINIT *rtInitTableXiBegin();
PFNRTFIRSTSTAGEINIT *rtInitTableXiEnd();
PFNRTSTAGEFN *rtInitTableXcBegin();
PFNRTSTAGEFN *rtInitTableXcEnd();
PFNRTSTAGEFN *rtInitTableXpBegin();
PFNRTSTAGEFN *rtInitTableXpEnd();
PFNRTSTAGEFN *rtInitTableXtBegin();
PFNRTSTAGEFN *rtInitTableXtEnd();
