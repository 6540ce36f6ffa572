// teskpack's command line: options, help, and the exit codes (0 success, 1 failure,
// 2 syntax error). Every problem is reported before anything is written.
#include "Packer.h"
#include <olma/getopt.h>
#include <olma/message.h>
#include <olma/stream.h>

#ifndef TESKSTUB_VERSION_MAJOR
#error "TESKSTUB_VERSION_MAJOR, _MINOR, _BUILD and TESKSTUB_REVISION are set by the build"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitSyntax = 2;

enum : int {
    kOptStub = 's',
    kOptOutput = 'o',
    kOptPackage = 'p',
    kOptCertificate = 'c',
    kOptIcon = 'i',
    kOptList = 'l',
};

constexpr RTOPTDEF g_aOptions[] = {
    {"--stub", kOptStub, RTOPT_TYPE_STRING},       {"--output", kOptOutput, RTOPT_TYPE_STRING},
    {"--package", kOptPackage, RTOPT_TYPE_STRING}, {"--certificate", kOptCertificate, RTOPT_TYPE_STRING},
    {"--icon", kOptIcon, RTOPT_TYPE_STRING},       {"--list", kOptList, RTOPT_TYPE_STRING},
};

const char g_szHelp[] =
    "Usage: teskpack --stub STUB --output OUT [--package ARCH:PATH[=NAME]]... [--certificate PATH]... [--icon PATH]\n"
    "       teskpack --list INSTALLER\n"
    "\n"
    "Writes installer packages and certificates into the resources of an installer stub\n"
    "(TeskStub.exe), giving one executable that can then be signed.\n"
    "\n"
    "  -s, --stub STUB            the stub to start from (it is not changed)\n"
    "  -o, --output OUT           the installer to write (replaced when it exists)\n"
    "  -p, --package ARCH:PATH[=NAME]\n"
    "                             a package (.msi or .cab) for hosts of one architecture:\n"
    "                             all, x86 or amd64; NAME is the file name it is extracted\n"
    "                             under (default: the file's own name). In the order given,\n"
    "                             at most 255.\n"
    "  -c, --certificate PATH     an X.509 certificate (DER or PEM) that silent installs add\n"
    "                             to the trusted publishers, at most 16\n"
    "  -i, --icon PATH            an icon file (.ico) to show instead of the stub's icon\n"
    "  -l, --list INSTALLER       lists the packages and certificates of an installer\n"
    "  -h, --help                 shows this text\n"
    "  -V, --version              shows the version\n";

int syntaxError(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    RTMsgError("%s", strFormatV(pszFormat, args).c_str());
    va_end(args);
    return kExitSyntax;
}

void warning(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    RTMsgPrint(g_pStdErr, "warning: ", pszFormat, args);
    va_end(args);
}

/** Takes a single-valued option's value; a second one is a mistake worth naming. */
bool setOnce(std::string *pstr, const char *pszValue, const char *pszOption, int *prcExit) {
    if (!pstr->empty()) {
        *prcExit = syntaxError("%s is given more than once", pszOption);
        return false;
    }
    if (!*pszValue) {
        *prcExit = syntaxError("%s needs a non-empty value", pszOption);
        return false;
    }
    *pstr = pszValue;
    return true;
}

} // namespace

int TeskPackMain(int argc, char **argv) {
    RTOPTSTATE State;
    int rc = RTGetOptInit(&State, argc, argv, g_aOptions, RT_ELEMENTS(g_aOptions), 1, 0);
    if (RT_FAILURE(rc))
        return syntaxError("Cannot read the command line: %Rrc", rc);
    PackRequest Request;
    std::string strList;
    int rcExit = 0;
    RTOPTVALUE Value;
    while ((rc = RTGetOpt(&State, &Value)) != 0) {
        switch (rc) {
        case kOptStub:
            if (!setOnce(&Request.strStub, Value.psz, "--stub", &rcExit))
                return rcExit;
            break;
        case kOptOutput:
            if (!setOnce(&Request.strOutput, Value.psz, "--output", &rcExit))
                return rcExit;
            break;
        case kOptIcon:
            if (!setOnce(&Request.strIcon, Value.psz, "--icon", &rcExit))
                return rcExit;
            break;
        case kOptList:
            if (!setOnce(&strList, Value.psz, "--list", &rcExit))
                return rcExit;
            break;
        case kOptPackage: {
            PackageInput Input;
            std::string strWhy;
            if (!ParsePackageArgument(Value.psz, &Input, &strWhy))
                return syntaxError("%s", strWhy.c_str());
            Request.Packages.push_back(std::move(Input));
            break;
        }
        case kOptCertificate:
            if (!*Value.psz)
                return syntaxError("--certificate needs a non-empty value");
            Request.Certificates.push_back(Value.psz);
            break;
        case 'h':
            RTPrintf("%s", g_szHelp);
            return 0;
        case 'V':
            RTPrintf("teskpack %u.%u.%ur%u\n", TESKSTUB_VERSION_MAJOR, TESKSTUB_VERSION_MINOR, TESKSTUB_VERSION_BUILD,
                     TESKSTUB_REVISION);
            return 0;
        default:
            return RTGetOptPrintError(rc, &Value);
        }
    }

    std::string strError;
    if (!strList.empty()) {
        if (!Request.strStub.empty() || !Request.strOutput.empty() || !Request.strIcon.empty() ||
            !Request.Packages.empty() || !Request.Certificates.empty())
            return syntaxError("--list takes no other options");
        std::string strListing;
        rc = ListInstaller(strList, &strListing, &strError);
        if (RT_FAILURE(rc)) {
            RTMsgError("%s", strError.c_str());
            return kExitFailure;
        }
        RTPrintf("%s", strListing.c_str());
        return 0;
    }
    if (Request.strStub.empty() || Request.strOutput.empty())
        return syntaxError("--stub and --output are required (or --list); see --help");

    std::vector<std::string> Warnings;
    rc = PackInstaller(Request, &Warnings, &strError);
    for (const std::string &strWarning : Warnings)
        warning("%s", strWarning.c_str());
    if (RT_FAILURE(rc)) {
        RTMsgError("%s", strError.c_str());
        return kExitFailure;
    }
    return 0;
}
