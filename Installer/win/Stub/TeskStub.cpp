// The installer bootstrapper's run sequence: runtime and command line, single instance,
// extraction directory, console, logging, extraction and verification, customisation,
// certificate, the installer engine for each package, clean-up and the exit code.
#include <olma/initterm.h>
#include <olma/path.h>
#include <olma/stream.h>
#include <olma/string.h>
#include "common/compiler/internal-startup.h"
#include "common/path/internal-path.h"
#include "TeskStub.h"
#include "TeskStubCertUtil.h"
#include "TeskStubPlatform.h"

namespace {

/** Exit code when the runtime or the command line cannot be initialised. */
constexpr int RTEXITCODE_INIT = 3;
/** The engine's "installed, reboot required". */
constexpr int TESKSTUB_EXIT_REBOOT = 3010;

/** Initialises the runtime; on failure reports it on standard error, naming the program
 *  when its path is known, and returns false. */
bool InitRuntime(int *pArgc, char ***pArgv) {
    const int rc = RTR3Init(*pArgc, pArgv, RTR3INIT_FLAGS_SYSTEM_DLL_PATH);
    if (RT_SUCCESS(rc))
        return true;
    size_t offName = 0;
    const char *pszExecPath = rtPathGetExecPath(nullptr, &offName);
    if (pszExecPath && offName < TESKSTUB_PATH_MAX)
        RTStrmPrintf(g_pStdErr, "%s: fatal error: RTR3Init: %Rrc\n", pszExecPath + offName, rc);
    else
        RTStrmPrintf(g_pStdErr, "fatal error: RTR3Init: %Rrc\n", rc);
    return false;
}

/** Refuses to run when the platform would load this program's libraries from
 *  "<executable>.local" beside it: there it takes every library by its name, whatever
 *  path it was asked for, so nothing else the program does would keep a planted one
 *  out. It is asked before the runtime's initialisation, which loads libraries of its
 *  own, and the refusal goes straight to the standard error handle: a message box would
 *  load its library the same way. True when the run must end here. */
bool refuseLibraryRedirection() {
    char szMarker[TESKSTUB_PATH_MAX];
    if (!g_StubPlatform.pfnFindLibraryRedirection(szMarker, sizeof(szMarker)))
        return false;
    // The program's name, as other messages begin with it: the marker's name less ".local".
    const char *pszName = rtPathFilenameEx(szMarker, PATH_STYLE_DOS);
    if (!pszName)
        pszName = "";
    const size_t cchName = __builtin_strlen(pszName) > 6 ? __builtin_strlen(pszName) - 6 : 0;
    char szText[TESKSTUB_PATH_MAX + 256];
    RTStrPrintf(szText, sizeof(szText),
                "%.*s: error: Refusing to run while '%s' exists: the system would load this program's libraries "
                "from there. Remove it and start the installer again.%s",
                (int)cchName, pszName, szMarker, PATH_STYLE == PATH_STYLE_DOS ? "\r\n" : "\n");
    rtRawWriteString(szText);
    return true;
}

/** Paths handed to the platform use its own separator. */
void toHostSlashes(char *pszPath) {
    if constexpr (PATH_STYLE == PATH_STYLE_DOS)
        RTPathChangeToDosSlashes(pszPath, false);
}

/** The single-instance mutex, held for the whole run. */
class InstanceMutex {
public:
    /** False when another installer holds it; a mutex that cannot be had at all does
     *  not stop the run. */
    bool acquire() {
        bool fHeldElsewhere = false;
        m_hMutex = g_StubPlatform.pfnAcquireMutex(u"TeskStubInstaller", &fHeldElsewhere);
        return !fHeldElsewhere;
    }
    void release() {
        if (m_hMutex)
            g_StubPlatform.pfnReleaseMutex(m_hMutex);
        m_hMutex = 0;
    }

private:
    StubHandle m_hMutex = 0;
};

/** The verbose console: a new console whose output device becomes both standard
 *  streams. Returns the exit code of a failure, or 0. */
int attachConsole() {
    uint32_t uLastError = 0;
    if (!g_StubPlatform.pfnAllocConsole(&uLastError))
        return ShowError("Unable to allocate console: LastError=%u\n", uLastError);
    PRTSTREAM pConsole = nullptr;
    if (RT_SUCCESS(RTStrmOpen(g_StubPlatform.pszConsoleDevice, "a", &pConsole))) {
        (void)RTStrmSetBufferingMode(pConsole, RTSTRMBUFMODE_UNBUFFERED);
        g_pStdOut = pConsole;
        g_pStdErr = pConsole;
    }
    return 0;
}

const char *orNone(const char *psz) {
    return *psz ? psz : "<None>";
}

/** Adds every embedded certificate to the machine's trusted publishers. */
int installCertificates() {
    const unsigned cCerts = LoadEmbeddedCertificates();
    for (unsigned i = 0; i < cCerts; i++)
        if (!AddCertificateToStore(TESKSTUB_CERT_STORE_LOCAL_MACHINE, "TrustedPublisher",
                                   EmbeddedCertificates[i].pvData, EmbeddedCertificates[i].cbData))
            return ShowError("Failed to add our certificate(s) to trusted publisher store.");
    return 0;
}

/** Runs the packages that apply to this host in order, while each result is 0 or 3010.
 *  A 3010 is kept through later successes. */
int installPackages(const PackageManifest *pManifest, const InstallerSettings &Settings, int rc) {
    const char *pszLogFile = Settings.msiLogFile[0] ? Settings.msiLogFile : nullptr;
    for (unsigned i = 0; i < pManifest->packageCount && (rc == 0 || rc == TESKSTUB_EXIT_REBOOT); i++) {
        const PackageHeader *pHeader = FindPackageHeader(i);
        if (!pHeader) {
            rc = 1; // shown by the lookup
            continue;
        }
        if (!PackageRunsOnHost(pHeader))
            continue;
        CleanupRecord *pRec = FindPackageCleanupRecord(i);
        if (!pRec) {
            rc = PrintErrorFailure("Package #%u not found in cleanup records", i);
            continue;
        }
        toHostSlashes(pRec->path);
        const char *pszSuffix = RTPathSuffix(pRec->path);
        if (pszSuffix && RTStrICmpAscii(pszSuffix, ".msi") == 0) {
            const int rcInstall = InstallPackage(pRec->path, Settings.msiParams, pszLogFile);
            if (rcInstall != 0)
                rc = rcInstall;
        } else if (pszSuffix && RTStrICmpAscii(pszSuffix, ".cab") == 0) {
            // A cabinet is only there for a package that refers to it.
        } else
            rc = ShowError("Internal error: Do not know how to handle file '%s' (%s).", pHeader->fileName, pRec->path);
    }
    return rc;
}

/** Everything after the command line; the exit code. */
int runInstaller(InstallerSettings &Settings) {
    InstanceMutex Mutex;
    if (!Mutex.acquire())
        return ShowError("Another installer is already running");

    InitCleanupRecords();
    CleanupRecord *pDirRecord = nullptr;

    // The extraction directory: a new private one under the temporary directory, or the
    // temporary directory itself when only extracting, or the --path directory as given.
    if (!Settings.extractPath[0]) {
        // A relative value would be taken from wherever the current directory is when
        // the path is used, and the extraction changes it: it is made absolute once,
        // against the directory the run started in, as the platform does.
        char szTemp[TESKSTUB_PATH_MAX];
        int rc = RTPathTemp(szTemp, sizeof(szTemp));
        if (RT_SUCCESS(rc))
            rc = RTPathAbs(szTemp, Settings.extractPath, sizeof(Settings.extractPath));
        if (RT_FAILURE(rc)) {
            Mutex.release();
            return ShowError("Failed to find temporary directory: %Rrc", rc);
        }
        if (!Settings.extractOnly) {
            rc = RTPathAppend(Settings.extractPath, sizeof(Settings.extractPath), "XXXXXXXXXXXXXXXXXXXXXXXX");
            if (RT_SUCCESS(rc))
                rc = RTDirCreateTemp(Settings.extractPath, 0700);
            if (RT_FAILURE(rc)) {
                Mutex.release();
                return ShowError("Failed to create extraction path: %Rrc", rc);
            }
            pDirRecord = AddCleanupRecord(Settings.extractPath, false /*isFile*/);
        }
    }
    toHostSlashes(Settings.extractPath);

    if (verbosity) {
        const int rcConsole = attachConsole();
        if (rcConsole) {
            Mutex.release();
            return rcConsole;
        }
    }

    // A named log file implies logging; logging without a name logs into the extraction
    // directory.
    if (Settings.msiLogFile[0])
        Settings.enableLogging = true;
    else if (Settings.enableLogging) {
        int rc = RTStrCopy(Settings.msiLogFile, sizeof(Settings.msiLogFile), Settings.extractPath);
        if (RT_SUCCESS(rc))
            rc = RTPathAppend(Settings.msiLogFile, sizeof(Settings.msiLogFile), "TeskInstallLog.txt");
        if (RT_FAILURE(rc)) {
            Mutex.release();
            return ShowError("Error creating MSI log file name, rc=%Rrc", rc);
        }
    }

    if (verbosity) {
        RTPrintf("Extraction path          : %s\n", Settings.extractPath);
        RTPrintf("Silent installation      : %RTbool\n", silent);
        RTPrintf("Certificate installation : %RTbool\n", Settings.installCertificate);
        RTPrintf("Additional MSI parameters: %s\n", orNone(Settings.msiParams));
        RTPrintf("Logging to file          : %s\n", orNone(Settings.msiLogFile));
    }

    int rc = 0;
    const PackageManifest *pManifest = nullptr;
    if (!Settings.extractOnly && !silent && !HostIs64Bit())
        rc = ShowError("32-bit Windows hosts are not supported by this Brindlecap release.");
    else if (int rcManifest = FindPackageManifest(&pManifest); RT_FAILURE(rcManifest)) {
        if (rcManifest == ERR_BAD_EXE_FORMAT)
            rc = ShowError("Internal package error: Manifest is damaged (%Rrc)", rcManifest);
        else
            rc = ShowError("Internal package error: Manifest not found (%Rrc)", rcManifest);
    } else {
        rc = ExtractPackages(pManifest->packageCount, Settings.extractPath, Settings.extractOnly, &pDirRecord);
        if (rc == 0 && Settings.extractOnly)
            ShowInfo("Files were extracted to: %s", Settings.extractPath);
        else if (!Settings.extractOnly) {
            if (rc == 0) {
                rc = CopyCustomDirectory(Settings.extractPath);
                if (rc == 0 && Settings.installCertificate && silent)
                    rc = installCertificates();
                rc = installPackages(pManifest, Settings, rc);
            }
            // The extraction step made the directory current; leave it so it can go.
            (void)RTPathSetCurrent("..");
            const bool fRemoveDir = !Settings.enableLogging && pDirRecord && !pDirRecord->dontDelete;
            ProcessCleanupRecords(fRemoveDir ? Settings.extractPath : nullptr);
        }
        // Whatever is left (kept packages, failed removals) is forgotten; handles end
        // with the process.
        ReleaseCleanupRecords();
    }

    if (verbosity)
        g_StubPlatform.pfnFreeConsole();
    Mutex.release();
    if (rc == TESKSTUB_EXIT_REBOOT && Settings.ignoreReboot)
        rc = 0;
    return rc;
}

} // namespace

int RunInstaller(int argc, char **argv) {
    InstallerSettings Settings;
    int rcExit = 0;
    if (!ParseCommandLine(argc, argv, &Settings, &rcExit))
        return rcExit;
    return runInstaller(Settings);
}

extern "C" int InstallerMain(int argc, char **argv, char **envp) {
    if (refuseLibraryRedirection())
        return 1;
    if (!InitRuntime(&argc, &argv))
        return RTEXITCODE_INIT;
    (void)envp;
    return RunInstaller(argc, argv);
}
