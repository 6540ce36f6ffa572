// Loading of system libraries by full path or from the system directory only, and the
// module records that hold them.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

struct RTLDRMODINTERNAL;
typedef RTLDRMODINTERNAL *RTLDRMOD;
constexpr RTLDRMOD NIL_RTLDRMOD = nullptr;

/** Native module handle (HMODULE on Windows). */
typedef uintptr_t RTLDRNATIVEHANDLE;
constexpr RTLDRNATIVEHANDLE NIL_RTLDRNATIVEHANDLE = ~(RTLDRNATIVEHANDLE)0;

/* Load flags. */
/** Not supported on this platform (ERR_INVALID_FLAGS). */
constexpr uint32_t RTLDRLOAD_FLAGS_LOCAL = 1;
/** Closing the record keeps the library loaded. */
constexpr uint32_t RTLDRLOAD_FLAGS_NO_UNLOAD = 2;
/** Search the system, application and the library's own directory for its dependencies. */
constexpr uint32_t RTLDRLOAD_FLAGS_NT_SEARCH_DLL_LOAD_DIR = 4;
/** Do not append ".DLL" to a name without suffix. */
constexpr uint32_t RTLDRLOAD_FLAGS_NO_SUFFIX = 8;
constexpr uint32_t RTLDRLOAD_FLAGS_VALID_MASK = 15;

/** Loads a library by bare name from the system directory (".DLL" is appended when the
 *  name has no suffix). Names with "/", "\\" or ":" are refused. */
[[nodiscard]] int LoadSystemLibrary(const char *pszName, bool fNeverUnload, RTLDRMOD *phLdrMod);
/** Opens a library by absolute path. */
[[nodiscard]] int OpenNativeModule(const char *pszPath, RTLDRMOD *phLdrMod, uint32_t fFlags, RTERRINFO *pErrInfo);
/** Closes a module record; null is fine. */
int CloseModule(RTLDRMOD hLdrMod);
[[nodiscard]] int GetModuleSymbol(RTLDRMOD hLdrMod, const char *pszSymbol, void **ppvValue);
/** The native handle of a valid native module, else NIL_RTLDRNATIVEHANDLE. */
RTLDRNATIVEHANDLE GetModuleNativeHandle(RTLDRMOD hLdrMod);
/** Loads the system library (never unloaded) and returns the symbol's address, or null. */
void *GetSystemLibrarySymbol(const char *pszLibrary, const char *pszSymbol);
