// Runtime initialisation: state shared between the portable body and its backends.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

#include <olma/initterm.h>

/** Product types of the extended version record. */
constexpr uint8_t RTWIN_PRODUCT_WORKSTATION = 1;
constexpr uint8_t RTWIN_PRODUCT_DOMAIN_CONTROLLER = 2;
constexpr uint8_t RTWIN_PRODUCT_SERVER = 3;

/** Platform ids of the version record. */
constexpr uint32_t RTWIN_PLATFORM_9X = 1;
constexpr uint32_t RTWIN_PLATFORM_NT = 2;

/** Classifies a Windows version (0: not classified). Pure, so it is shared by every
 *  build and can be checked anywhere. */
uint32_t rtR3WinClassifyVersion(uint32_t uPlatform, uint32_t uMajor, uint32_t uMinor, uint32_t uBuild,
                                uint8_t bProductType);

/* Backend hooks of the initialisation body. */
/** Windows: module handles, version, library hardening, optional entry points and the
 *  socket library. Elsewhere: nothing to do. */
[[nodiscard]] int rtR3InitNativeFirst(uint32_t fFlags);
/** Redoes the library hardening on a later call (Windows only; 0 elsewhere). */
[[nodiscard]] int rtR3InitNativeHardening(uint32_t fFlags);
/** The process id. */
uint32_t rtR3InitNativeProcessId();
/** Records the executable path: the image's own path, or pszPath when given. */
[[nodiscard]] int rtProcInitExePath(const char *pszPath);

/** True while RTR3Init runs its body. */
bool rtR3InitIsInitializing();
/** True once a RTR3Init call succeeded. */
bool rtR3InitIsInitialized();
/** Start time stamp (nanoseconds of the monotonic clock) recorded by RTR3Init. */
uint64_t rtR3InitStartTime();
/** The process id recorded by the first call. */
uint32_t rtR3InitProcessId();
/** Flags accumulated over every call. */
uint32_t rtR3InitFlags();
