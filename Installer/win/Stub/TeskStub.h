// The installer bootstrapper's shared declarations: settings from the command line, the
// process-wide silent and verbosity switches, the message functions, the package
// container reader, clean-up records, extraction, the installer engine, the
// customisation directory and the run sequence.
#pragma once

#include <olma/cdefs.h>
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/time.h>
#include <cstdarg>
#include "TeskStubContainer.h"

/** Product title: message-box caption and the head of the help text. */
#define TESKSTUB_PRODUCT_TITLE "Brindlecap Installer"

/* Version numbers come from the build. */
#ifndef TESKSTUB_VERSION_MAJOR
#error "TESKSTUB_VERSION_MAJOR, _MINOR, _BUILD and TESKSTUB_REVISION are set by the build"
#endif

/** Size of the installer's path buffers. */
constexpr size_t TESKSTUB_PATH_MAX = 4100;

/** What the command line asks of the run. */
struct InstallerSettings {
    bool extractOnly;
    bool installCertificate;
    bool enableLogging;
    bool ignoreReboot;
    /** Absolute extraction directory; empty: the default. */
    char extractPath[TESKSTUB_PATH_MAX];
    /** Parameters and properties handed to the installer engine as they are. */
    char msiParams[4096];
    char msiLogFile[TESKSTUB_PATH_MAX];
};

/** Set by --silent: no dialogs, messages on the standard streams. */
extern bool silent;
/** Number of --verbose options; only zero or not zero matters. */
extern unsigned verbosity;

/**
 * Parses the command line into the settings (defaults first). Returns true when the
 * run goes on; false when it ends here (help, version, a syntax error) with the exit
 * code in *prcExit, after the message has been shown.
 */
bool ParseCommandLine(int argc, char **argv, InstallerSettings *pSettings, int *prcExit);

/* --- Messages: boxes when interactive, the standard streams when silent --- */
/** Error box or, when silent, an error line on standard error. Returns 1. */
int ShowError(const char *pszFormat, ...);
/** Information box or, when silent, the text and a line end on standard output. */
void ShowInfo(const char *pszFormat, ...);
/** As ShowError; returns 2, the syntax-error exit code. */
int ShowSyntaxError(const char *pszFormat, ...);
/** "error: <text>" on the standard error stream; returns the stream's result. */
int PrintError(const char *pszFormat, ...);
/** As PrintError; returns 1. */
int PrintErrorFailure(const char *pszFormat, ...);
/** As PrintError; returns rc. */
int PrintErrorStatus(int rc, const char *pszFormat, ...);

/* --- The package container in the executable's resources --- */
/**
 * Finds an RCDATA resource of the executable by name. The data stays in the loaded
 * image for the life of the process. ERR_INVALID_PARAMETER for a null name,
 * ERR_IO_GEN_FAILURE when it is missing, ERR_NO_DATA when it is empty. pcbData may
 * be null.
 */
[[nodiscard]] int FindResourceData(const char *pszName, const void **ppvData, uint32_t *pcbData);
/** The manifest; a resource shorter than the record gives ERR_BAD_EXE_FORMAT. */
[[nodiscard]] int FindPackageManifest(const PackageManifest **ppManifest);
/** Header "HDR_nn" of a package, or null after the failure has been shown (also for a
 *  short header or one whose name fields are not terminated). */
const PackageHeader *FindPackageHeader(unsigned iPackage);
/** True when the host runs 64-bit Windows. */
bool HostIs64Bit();
/** True when the package is for all architectures or for this host's. */
bool PackageRunsOnHost(const PackageHeader *pHeader);

/** One certificate carried by the executable: DER bytes in the loaded image. */
struct EmbeddedCertificate {
    const void *pvData;
    uint32_t cbData;
};
/** The certificates "CERT_00", "CERT_01", ... up to the first missing one; filled by
 *  LoadEmbeddedCertificates, which returns how many there are. */
extern EmbeddedCertificate EmbeddedCertificates[PACKAGE_MAX_CERTIFICATES];
unsigned LoadEmbeddedCertificates();

/* --- Clean-up records: everything the run puts on disk --- */
/** The links of the process-wide list; the list head is one of these on its own. */
struct CleanupLink {
    CleanupLink *next;
    CleanupLink *prev;
};
/** One object the run put on disk; one heap block, the path right behind the fields. */
struct CleanupRecord : CleanupLink {
    /** Package number of an extracted file; -1 otherwise. */
    int32_t packageIndex;
    bool isFile;
    /** Close the handle but leave the object (a --path directory that existed before). */
    bool dontDelete;
    /** A directory tree the run made as a whole (the copied customisation directory):
     *  removed with everything in it, links as links. */
    bool removeTree;
    /** Held open until clean-up: NIL_RTFILE / NIL_RTDIR when none. */
    union {
        RTFILE hFile;
        RTDIR hDir;
    } handle;
    /** The object's path, in the same block. */
    char path[1];
};
/** The process-wide list, newest first; circular through the head, empty when the head
 *  points to itself. */
typedef CleanupLink CleanupList;
extern CleanupList g_CleanupList;
/** Empties the list head (the run's start). */
void InitCleanupRecords();
/** A new record at the front of the list, or null after "Out of memory!" was shown. */
CleanupRecord *AddCleanupRecord(const char *pszPath, bool isFile);
/** The record of the file extracted for the package, or null. */
CleanupRecord *FindPackageCleanupRecord(unsigned iPackage);
/** Closes, deletes and removes what the list holds, in up to five attempts with pauses
 *  of 100, 3000, 3000 and 3000 ms between them; the given directory (or null) is
 *  removed last. */
void ProcessCleanupRecords(const char *pszDirectory);
/** Unlinks and frees every record left, without closing or deleting anything. */
void ReleaseCleanupRecords();
/** The pause between clean-up attempts: RTThreadSleep; tests put a recorder here. */
typedef int FNCLEANUPSLEEP(RTMSINTERVAL cMillies);
extern FNCLEANUPSLEEP *g_pfnCleanupSleep;
/** Test hook, null in the product: called for each record ReleaseCleanupRecords lets go
 *  of, so that a test can take back what the end of the process would. */
typedef void FNCLEANUPRELEASE(CleanupRecord *pRec);
extern FNCLEANUPRELEASE *g_pfnCleanupReleaseHook;

/* --- Extraction and verification --- */
/** Writes every applicable package into the directory and verifies it; 0, or 1 after
 *  a failure that has been shown. *ppDirRecord is the directory's record (may be set). */
int ExtractPackages(unsigned cPackages, const char *pszDirectory, bool fExtractOnly, CleanupRecord **ppDirRecord);
/** Writes one package resource to a file and verifies it; a status, failures printed.
 *  The file is opened here when hFile is NIL_RTFILE; a handle passed in belongs to
 *  this call from then on (it ends up in the file's clean-up record). */
int ExtractPackageFile(const char *pszResourceName, const char *pszFilePath, RTFILE hFile, unsigned iPackage);
/** Test hook, null in the product: called with the write handle right after the
 *  package was written, before anything is verified. */
typedef void FNEXTRACTAFTERWRITE(RTFILE hFile, const char *pszFilePath);
extern FNEXTRACTAFTERWRITE *g_pfnExtractAfterWriteHook;

/* --- The customisation directory beside the executable --- */
/** Copies "<exec dir>/.custom" into the extraction directory; 0 or 1 (shown). */
int CopyCustomDirectory(const char *pszExtractionDir);

/* --- The installer engine --- */
/** Installs one package: 0, 3010 (reboot required) or 1 (failed, shown). */
int InstallPackage(const char *pszPackage, const char *pszParameters, const char *pszLogFile);

/* --- The run sequence --- */
/** The process: runtime initialisation, then RunInstaller; the exit code. */
extern "C" int InstallerMain(int argc, char **argv, char **envp);
/** Everything after runtime initialisation: the command line and the run; the exit code. */
int RunInstaller(int argc, char **argv);
