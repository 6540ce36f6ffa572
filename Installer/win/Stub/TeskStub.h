// The installer bootstrapper's shared declarations: settings from the command line, the
// process-wide silent and verbosity switches, and the message functions.
#pragma once

#include <olma/cdefs.h>
#include <cstdarg>

/** Product title: message-box caption and the head of the help text. */
#define TESKSTUB_PRODUCT_TITLE "Brindlecap Installer"

/* Version numbers come from the build. */
#ifndef TESKSTUB_VERSION_MAJOR
#error "TESKSTUB_VERSION_MAJOR, _MINOR, _BUILD and TESKSTUB_REVISION are set by the build"
#endif

/** What the command line asks of the run. */
struct InstallerSettings {
    bool extractOnly;
    bool installCertificate;
    bool enableLogging;
    bool ignoreReboot;
    /** Absolute extraction directory; empty: the default. */
    char extractPath[4100];
    /** Parameters and properties handed to the installer engine as they are. */
    char msiParams[4096];
    char msiLogFile[4100];
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

/* Messages: boxes when interactive, the standard streams when silent. */
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
