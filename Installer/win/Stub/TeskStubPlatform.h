// The installer's platform seam: every call the bootstrapper makes outside the runtime
// (its own resources, the single-instance mutex, the console, message boxes, the
// installer engine, the certificate store, the shell's directory copy), gathered in one
// table of function pointers. The Windows backend fills it with the real calls, the
// POSIX backend with replacements; tests swap single entries to record calls, inject
// failures or wrap the real call.
#pragma once

#include <olma/cdefs.h>

/** Message-box flags as the platform takes them. */
constexpr uint32_t STUB_MB_ICONERROR = 0x10;
constexpr uint32_t STUB_MB_ICONINFORMATION = 0x40;

/** A handle from the platform, 0 when there is none. */
typedef uintptr_t StubHandle;

struct StubPlatform {
    /* --- Library redirection (asked before the runtime is initialised) --- */
    /** True when the platform would load this program's libraries from
     *  "<executable>.local" (a file or a directory of that name beside the executable),
     *  with that path (UTF-8) in the buffer; also true when the path is there but cannot
     *  be looked at. Uses nothing that loads a library or needs the runtime. */
    bool (*pfnFindLibraryRedirection)(char *pszMarker, size_t cbMarker);

    /* --- The executable's own resources (RCDATA, language neutral) --- */
    /** Finds the named resource: ERR_IO_GEN_FAILURE when it is missing or cannot be
     *  loaded, ERR_NO_DATA when it is empty (*pcbData is already set then). */
    int (*pfnFindResource)(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData);
    /** True when the host runs 64-bit Windows. */
    bool (*pfnHostIs64Bit)();

    /* --- Single instance --- */
    /** Takes the named mutex for this process: its handle, or 0 when it is not taken.
     *  *pfHeldElsewhere is true when another installer has it (it existed already, held
     *  or not); false with 0 means the mutex could not be made at all. One whose holder
     *  died is taken over. */
    StubHandle (*pfnAcquireMutex)(const RTUTF16 *pwszName, bool *pfHeldElsewhere);
    /** Lets go of a mutex taken by pfnAcquireMutex and closes its handle. */
    void (*pfnReleaseMutex)(StubHandle hMutex);

    /* --- Console for verbose runs --- */
    /** Attaches a new console; false with *puLastError on failure. */
    bool (*pfnAllocConsole)(uint32_t *puLastError);
    void (*pfnFreeConsole)();
    /** The console output device a stream can open ("CONOUT$"). */
    const char *pszConsoleDevice;

    /* --- Message boxes (owner: the desktop window; the result is ignored) --- */
    void (*pfnMessageBoxW)(const RTUTF16 *pwszText, const RTUTF16 *pwszCaption, uint32_t fFlags);
    void (*pfnMessageBoxA)(const char *pszText, const char *pszCaption, uint32_t fFlags);

    /* --- Installer engine --- */
    /** Sets the engine's user-interface level; returns the previous one, 0 on failure. */
    uint32_t (*pfnMsiSetInternalUI)(uint32_t uLevel);
    /** Enables the engine's log; 0 on success, else a platform error number. */
    uint32_t (*pfnMsiEnableLog)(uint32_t fLogMode, const RTUTF16 *pwszLogFile, uint32_t fAttributes);
    /** Registers the common-control classes (record {8, fClasses}). */
    void (*pfnInitCommonControls)(uint32_t fClasses);
    /** Installs a package with a parameter string; the engine's result code. */
    uint32_t (*pfnMsiInstallProduct)(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParameters);
    /** Loads a message library from the system directory as data; 0 when it cannot. */
    StubHandle (*pfnLoadMessageModule)(const RTUTF16 *pwszName);
    void (*pfnFreeMessageModule)(StubHandle hModule);
    /** Formats a message text into a new buffer (*ppwszText); returns its length in
     *  units, 0 when there is no text. */
    uint32_t (*pfnFormatMessage)(uint32_t fFlags, StubHandle hModule, uint32_t uMessageId, uint32_t uLanguage,
                                 RTUTF16 **ppwszText);
    void (*pfnFreeMessage)(RTUTF16 *pwszText);

    /* --- Certificate store --- */
    void *(*pfnCertCreateCertificateContext)(uint32_t fEncoding, const void *pvData, uint32_t cbData);
    void *(*pfnCertOpenStore)(uint32_t uProvider, uint32_t fEncoding, uintptr_t hCryptProv, uint32_t fFlags,
                              const RTUTF16 *pwszStoreName);
    bool (*pfnCertAddCertificateContextToStore)(void *hStore, void *pCertContext, uint32_t uDisposition);
    bool (*pfnCertCloseStore)(void *hStore, uint32_t fFlags);
    bool (*pfnCertFreeCertificateContext)(void *pCertContext);
    /** The calling thread's last platform error number. */
    uint32_t (*pfnGetLastError)();

    /* --- Shell file operation (the customisation directory copy) --- */
    /** Runs one file operation on double-NUL-terminated path lists; 0 on success, else
     *  a platform error value. */
    int (*pfnFileOperation)(uint32_t uOperation, const RTUTF16 *pwszFrom, const RTUTF16 *pwszTo, uint16_t fFlags);
};

/** The table in use; the backend's constant initialiser fills it. */
extern StubPlatform g_StubPlatform;
/** The backend's own table, for tests that put an entry back or wrap it. */
extern const StubPlatform g_StubPlatformDefault;

#if defined(RT_OS_POSIX)
/** POSIX: the executable's resources come from this table (none by default). */
struct StubResource {
    const char *pszName;
    const void *pvData;
    uint32_t cbData;
};
extern const StubResource *g_paStubResources;
extern size_t g_cStubResources;
/** POSIX: what the host-bitness test answers (true by default). */
extern bool g_fStubHost64Bit;
#endif
