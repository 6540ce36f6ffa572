// Windows backend: the loader's internals and the lazy-import machinery. Each lazily
// imported function has a slot that first points at a resolver with the function's own
// signature and calling convention; the resolver loads the library from the system
// directory, stores the real address in the slot and calls it with the caller's
// arguments, so every later call goes straight through the slot.
#pragma once

#include "r3/win/internal-win.h"
#include <olma/ldr.h>

/** Magic of a valid module record; incremented by one when the record is closed. */
constexpr uint32_t RTLDRMOD_MAGIC = 0x19531118;
constexpr uint32_t RTLDRMOD_STATE_LOADED = 3;

struct RTLDROPS {
    const char *pszName;
    int (*pfnClose)(RTLDRMODINTERNAL *pMod);
    int (*pfnGetSymbol)(RTLDRMODINTERNAL *pMod, const char *pszSymbol, void **ppvValue);
    int (*pfnDone)(RTLDRMODINTERNAL *pMod);
    int (*pfnEnumSymbols)(RTLDRMODINTERNAL *pMod, uint32_t fFlags, void *pvCallback, void *pvUser);
    /* Slots of image loaders (relocation, debug info, segments, ...) that the native
     * loader leaves empty. */
    void *apvUnused[12];
};

struct RTLDRMODINTERNAL {
    uint32_t u32Magic;
    uint32_t eState;
    const RTLDROPS *pOps;
    /* Descriptive fields of image loaders; nothing reads them for native modules. */
    void *pvReader;
    uint32_t enmFormat;
    uint32_t enmType;
    uint32_t enmArch;
    RTLDRNATIVEHANDLE hNative;
    uint32_t fFlags;
    uint32_t uReserved;
};
#if !defined(_WIN64)
static_assert(sizeof(RTLDRMODINTERNAL) == 40, "module record is 40 bytes");
#endif

/** Loads a library by absolute path into *phHandle. */
[[nodiscard]] int rtldrNativeLoad(const char *pszFilename, RTLDRNATIVEHANDLE *phHandle, uint32_t fFlags,
                                  RTERRINFO *pErrInfo);
/** Loads a system library by bare name; pszSuffix (or null) is appended. */
[[nodiscard]] int rtldrNativeLoadSystem(const char *pszName, const char *pszSuffix, uint32_t fFlags,
                                        RTLDRMOD *phLdrMod);
/** Compares a redirected full name with the system directory; returns the number of
 *  separator positions (after the first character) the two share from the start. */
size_t rtldrNativeCountSysDirSeparators(const RTUTF16 *pwszFull, size_t cwcFull, const RTUTF16 *pwszSysDir);
/** The search-flags tri-state: 0 not yet known, 1 supported, -1 not supported. */
extern int32_t g_frtldrNativeSearchFlags;

/* --- Lazy imports --- */

/** One lazily imported library: its name and its module-record slot. */
struct RTLDRLAZYLIB {
    const char *pszName;
    RTLDRMOD hMod;
};

/** Loads the library when needed and stores the function's address in *ppvSlot. On
 *  failure writes the lazy loader's message and stops the process; never returns then. */
void rtLdrLazyResolve(RTLDRLAZYLIB *pLib, const char *pszSymbol, void **ppvSlot);

/** Bytes of arguments a stdcall function pops (each argument takes a multiple of 4). */
template <typename... A> constexpr unsigned rtLdrLazyArgBytes() {
    return (0u + ... + (unsigned)((sizeof(A) + 3) & ~(size_t)3));
}

template <typename TFn> struct RTLdrLazyEntry;
template <typename R, typename... A> struct RTLdrLazyEntry<R WINAPI(A...)> {
    typedef R(WINAPI *PFN)(A...);
    static constexpr unsigned cbArgs = rtLdrLazyArgBytes<A...>();
    /** The resolver the slot holds until the first call. */
    template <RTLDRLAZYLIB *pLib, const char *pszSymbol, PFN *ppSlot> static R WINAPI resolve(A... args) {
        rtLdrLazyResolve(pLib, pszSymbol, (void **)ppSlot);
        PFN pfn = __atomic_load_n(ppSlot, __ATOMIC_SEQ_CST);
        return pfn(args...);
    }
};

/** Assembler name of the import slot the compiler calls through for a dllimport
 *  function; on x86 it carries the stdcall decoration. */
#if defined(_WIN64)
#define RT_LDRLAZY_IMP_NAME(fn, cb) "__imp_" #fn
#else
#define RT_LDRLAZY_IMP_NAME(fn, cb) "__imp__" #fn "@" #cb
#endif

/** Defines the library record of a lazy-import table. */
#define RT_LDRLAZY_LIBRARY(lib, name) constinit RTLDRLAZYLIB g_rtLdrLazyLib_##lib = {name, nullptr};

/** Defines one lazy import: the function's name, its slot under the given assembler
 *  name, initially pointing at the function's resolver. */
#define RT_LDRLAZY_FUNCTION_AS(lib, fn, slotname, asmname)                                                             \
    static constexpr char g_szrtLdrLazyName_##slotname[] = #fn;                                                        \
    extern "C" RTLdrLazyEntry<decltype(fn)>::PFN slotname __asm__(asmname);                                            \
    constinit RTLdrLazyEntry<decltype(fn)>::PFN slotname =                                                             \
        &RTLdrLazyEntry<decltype(fn)>::resolve<&g_rtLdrLazyLib_##lib, g_szrtLdrLazyName_##slotname, &slotname>;

/** Call entry of a lazy import under the function's own name: a jump through the
 *  slot, which leaves the caller's arguments and calling convention untouched. For
 *  callers whose declarations are not dllimport (the Windows Installer header's). */
#if defined(_WIN64)
#define RT_LDRLAZY_CALL_ENTRY(fn, cb)                                                                                  \
    __asm__(".text\n\t.globl " #fn "\n\t.p2align 4\n" #fn ":\n\tjmp *" RT_LDRLAZY_IMP_NAME(fn, cb) "(%rip)\n");
#else
#define RT_LDRLAZY_CALL_ENTRY(fn, cb)                                                                                  \
    __asm__(".text\n\t.globl _" #fn "@" #cb "\n\t.p2align 4\n_" #fn "@" #cb                                            \
            ":\n\tjmp *" RT_LDRLAZY_IMP_NAME(fn, cb) "\n");
#endif

/** A lazy import in the import slot of the function itself, so that every ordinary call
 *  of it goes through the lazy loader and the import library is never needed; plus its
 *  call entry. On x86 the argument byte count is checked against the function's type. */
#if defined(_WIN64)
#define RT_LDRLAZY_IMPORT(lib, fn, cb)                                                                                 \
    RT_LDRLAZY_FUNCTION_AS(lib, fn, g_pfnrtLdrLazy_##fn, RT_LDRLAZY_IMP_NAME(fn, cb))                                  \
    RT_LDRLAZY_CALL_ENTRY(fn, cb)
#else
#define RT_LDRLAZY_IMPORT(lib, fn, cb)                                                                                 \
    static_assert(RTLdrLazyEntry<decltype(fn)>::cbArgs == cb, "argument bytes of " #fn);                               \
    RT_LDRLAZY_FUNCTION_AS(lib, fn, g_pfnrtLdrLazy_##fn, RT_LDRLAZY_IMP_NAME(fn, cb))                                  \
    RT_LDRLAZY_CALL_ENTRY(fn, cb)
#endif
