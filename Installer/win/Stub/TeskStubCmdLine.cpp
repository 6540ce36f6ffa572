// The installer's command line: the option table, what each option does, and the help
// and version texts.
#include <olma/getopt.h>
#include <olma/path.h>
#include <olma/string.h>
#include "TeskStub.h"

constinit bool silent = false;
constinit unsigned verbosity = 0;

namespace {

/** Identifier of the MSI log file option, which has no letter. */
constexpr int32_t TESKSTUB_OPT_MSI_LOG_FILE = 1000;

/** Long, single-dash and slash spellings, as older scripts use them all. */
constexpr RTOPTDEF g_aInstallerOptions[] = {
    {"--extract", 'x', RTOPT_TYPE_NONE},
    {"-extract", 'x', RTOPT_TYPE_NONE},
    {"/extract", 'x', RTOPT_TYPE_NONE},
    {"--silent", 's', RTOPT_TYPE_NONE},
    {"-silent", 's', RTOPT_TYPE_NONE},
    {"/silent", 's', RTOPT_TYPE_NONE},
    {"--no-silent-cert", 'c', RTOPT_TYPE_NONE},
    {"-no-silent-cert", 'c', RTOPT_TYPE_NONE},
    {"/no-silent-cert", 'c', RTOPT_TYPE_NONE},
    {"--no-install-timestamp-ca", 't', RTOPT_TYPE_NONE},
    {"--force-install-timestamp-ca", 'T', RTOPT_TYPE_NONE},
    {"--logging", 'l', RTOPT_TYPE_NONE},
    {"-logging", 'l', RTOPT_TYPE_NONE},
    {"--msi-log-file", TESKSTUB_OPT_MSI_LOG_FILE, RTOPT_TYPE_STRING},
    {"-msilogfile", TESKSTUB_OPT_MSI_LOG_FILE, RTOPT_TYPE_STRING},
    {"/logging", 'l', RTOPT_TYPE_NONE},
    {"--path", 'p', RTOPT_TYPE_STRING},
    {"-path", 'p', RTOPT_TYPE_STRING},
    {"/path", 'p', RTOPT_TYPE_STRING},
    {"--msiparams", 'm', RTOPT_TYPE_STRING},
    {"-msiparams", 'm', RTOPT_TYPE_STRING},
    {"--msi-prop", 'P', RTOPT_TYPE_STRING},
    {"--reinstall", 'f', RTOPT_TYPE_NONE},
    {"-reinstall", 'f', RTOPT_TYPE_NONE},
    {"/reinstall", 'f', RTOPT_TYPE_NONE},
    {"--ignore-reboot", 'r', RTOPT_TYPE_NONE},
    {"--verbose", 'v', RTOPT_TYPE_NONE},
    {"-verbose", 'v', RTOPT_TYPE_NONE},
    {"/verbose", 'v', RTOPT_TYPE_NONE},
    {"--version", 'V', RTOPT_TYPE_NONE},
    {"-version", 'V', RTOPT_TYPE_NONE},
    {"/version", 'V', RTOPT_TYPE_NONE},
    {"--help", 'h', RTOPT_TYPE_NONE},
    {"-help", 'h', RTOPT_TYPE_NONE},
    {"/help", 'h', RTOPT_TYPE_NONE},
    {"/?", 'h', RTOPT_TYPE_NONE},
};
static_assert(RT_ELEMENTS(g_aInstallerOptions) == 36, "the option table has 36 entries");

constexpr char g_szHelpFormat[] = "-- %s v%u.%u.%ur%u --\n\nCommand Line Parameters:\n\n"
                                  "--extract\n    Extract file contents to temporary directory\n"
                                  "--logging\n    Enables MSI installer logging (to extract path)\n"
                                  "--msi-log-file <path/to/file>\n    Sets MSI logging to <file>\n"
                                  "--msiparams <parameters>\n    Specifies extra parameters for the MSI installers\n"
                                  "    double quoted arguments must be doubled and put\n"
                                  "    in quotes: --msiparams \"PROP=\"\"a b c\"\"\"\n"
                                  "--msi-prop <prop> <value>\n    Adds <prop>=<value> to the MSI parameters,\n"
                                  "    quoting the property value if necessary\n"
                                  "--no-silent-cert\n    Do not install Brindlecap Certificate automatically\n"
                                  "    when --silent option is specified\n"
                                  "--path\n    Sets the path of the extraction directory\n"
                                  "--reinstall\n    Forces Brindlecap to get re-installed\n"
                                  "--ignore-reboot\n   Do not set exit code to 3010 if a reboot is required\n"
                                  "--silent\n   Enables silent mode installation\n"
                                  "--version\n   Displays version number and exit\n"
                                  "-?, -h, --help\n   Displays this help text and exit\n\n"
                                  "Examples:\n  %s --msiparams \"INSTALLDIR=\"\"C:\\Program Files\\Brindlecap\"\"\"\n"
                                  "  %s --extract -path C:\\Tesk";

constexpr char g_szOutOfSpace[] = "Out of space for MSI parameters and properties";

bool hasBlank(const char *psz) {
    for (; *psz; psz++)
        if (*psz == ' ' || *psz == '\t' || *psz == '\n' || *psz == '\r')
            return true;
    return false;
}

/** Appends text to the parameter string, one space after what is there already. */
bool appendParams(InstallerSettings *pSettings, const char *pszText) {
    if (pSettings->msiParams[0] && RT_FAILURE(RTStrCat(pSettings->msiParams, sizeof(pSettings->msiParams), " ")))
        return false;
    return RT_SUCCESS(RTStrCat(pSettings->msiParams, sizeof(pSettings->msiParams), pszText));
}

/** --path and --msi-log-file: empty restores the default, anything else is made absolute. */
bool setAbsPath(char *pszDst, size_t cbDst, const char *pszValue, const char *pszError, int *prcExit) {
    if (!*pszValue) {
        pszDst[0] = '\0';
        return true;
    }
    const int rc = RTPathAbs(pszValue, pszDst, cbDst);
    if (RT_FAILURE(rc)) {
        *prcExit = ShowSyntaxError(pszError, rc);
        return false;
    }
    return true;
}

/** --msi-prop <prop> <value>: adds prop=value, the value quoted when it has blanks. */
bool addProperty(RTOPTSTATE *pState, InstallerSettings *pSettings, const char *pszName, int *prcExit) {
    if (hasBlank(pszName)) {
        *prcExit = ShowSyntaxError("The first argument to --msi-prop must not contain spaces: %s", pszName);
        return false;
    }
    RTOPTVALUE Value;
    const int rc = RTGetOptFetchValue(pState, &Value, RTOPT_TYPE_STRING);
    if (RT_FAILURE(rc)) {
        if (rc == ERR_GETOPT_REQUIRED_ARGUMENT_MISSING)
            *prcExit = ShowSyntaxError("--msi-prop takes two arguments, the 2nd is missing");
        else
            *prcExit = ShowSyntaxError("Failed to get 2nd --msi-prop argument: %Rrc", rc);
        return false;
    }
    const size_t cchUsed = __builtin_strlen(pSettings->msiParams);
    const char *pszSep = cchUsed ? " " : "";
    const char *pszTemplate = hasBlank(Value.psz) ? "%s%s=\"%s\"" : "%s%s=%s";
    const ssize_t cch = RTStrPrintf2(&pSettings->msiParams[cchUsed], sizeof(pSettings->msiParams) - cchUsed,
                                     pszTemplate, pszSep, pszName, Value.psz);
    if (cch < 2) {
        // A cut-off property would reach the engine as a different one: drop it whole.
        pSettings->msiParams[cchUsed] = '\0';
        *prcExit = ShowSyntaxError(g_szOutOfSpace);
        return false;
    }
    return true;
}

} // namespace

bool ParseCommandLine(int argc, char **argv, InstallerSettings *pSettings, int *prcExit) {
    pSettings->extractOnly = false;
    pSettings->installCertificate = true;
    pSettings->enableLogging = false;
    pSettings->ignoreReboot = false;
    pSettings->extractPath[0] = '\0';
    pSettings->msiParams[0] = '\0';
    pSettings->msiLogFile[0] = '\0';
    *prcExit = 0;

    RTOPTSTATE State;
    int rc = RTGetOptInit(&State, argc, argv, g_aInstallerOptions, RT_ELEMENTS(g_aInstallerOptions), 1, 0);
    if (RT_FAILURE(rc)) {
        *prcExit = ShowError("RTGetOptInit failed: %Rrc", rc);
        return false;
    }

    RTOPTVALUE Value;
    int ch;
    while ((ch = RTGetOpt(&State, &Value)) != 0) {
        switch (ch) {
        case 'x':
            pSettings->extractOnly = true;
            break;
        case 's':
            silent = true;
            break;
        case 'c':
            pSettings->installCertificate = false;
            break;
        case 't':
        case 'T':
            break; // accepted for older scripts; nothing to do
        case 'l':
            pSettings->enableLogging = true;
            break;
        case 'v':
            verbosity++;
            break;
        case 'r':
            pSettings->ignoreReboot = true;
            break;
        case 'p':
            if (!setAbsPath(pSettings->extractPath, sizeof(pSettings->extractPath), Value.psz,
                            "Extraction path is too long (%Rrc)", prcExit))
                return false;
            break;
        case TESKSTUB_OPT_MSI_LOG_FILE:
            if (!setAbsPath(pSettings->msiLogFile, sizeof(pSettings->msiLogFile), Value.psz,
                            "MSI log file path is too long (%Rrc)", prcExit))
                return false;
            break;
        case 'm':
            if (!appendParams(pSettings, Value.psz)) {
                *prcExit = ShowSyntaxError(g_szOutOfSpace);
                return false;
            }
            break;
        case 'f':
            if (!appendParams(pSettings, "REINSTALLMODE=vomus REINSTALL=ALL")) {
                *prcExit = ShowSyntaxError(g_szOutOfSpace);
                return false;
            }
            break;
        case 'P':
            if (!addProperty(&State, pSettings, Value.psz, prcExit))
                return false;
            break;
        case 'V':
            ShowInfo("Version: %u.%u.%ur%u", TESKSTUB_VERSION_MAJOR, TESKSTUB_VERSION_MINOR, TESKSTUB_VERSION_BUILD,
                     TESKSTUB_REVISION);
            *prcExit = 0;
            return false;
        case 'h':
            ShowInfo(g_szHelpFormat, TESKSTUB_PRODUCT_TITLE, TESKSTUB_VERSION_MAJOR, TESKSTUB_VERSION_MINOR,
                     TESKSTUB_VERSION_BUILD, TESKSTUB_REVISION, argv[0], argv[0]);
            *prcExit = 0;
            return false;
        default:
            // A plain argument continues the parameters given before it.
            if (ch == INF_GETOPT_NOT_OPTION && pSettings->msiParams[0]) {
                if (!appendParams(pSettings, Value.psz)) {
                    *prcExit = ShowSyntaxError(g_szOutOfSpace);
                    return false;
                }
                break;
            }
            if (silent)
                *prcExit = RTGetOptPrintError(ch, &Value);
            else if (ch == ERR_GETOPT_UNKNOWN_OPTION)
                *prcExit = ShowSyntaxError("Unknown option \"%s\"\nPlease refer to the command line help by "
                                           "specifying \"-?\"\nto get more information.",
                                           Value.psz);
            else
                *prcExit = ShowSyntaxError("Parameter parsing error: %Rrc\nPlease refer to the command line help by "
                                           "specifying \"-?\"\nto get more information.",
                                           ch);
            return false;
        }
    }
    return true;
}
