// Handing one extracted package to the installer engine and turning the engine's
// result code into the run's result, with the system's text for codes it has no
// message of its own for.
#include <olma/message.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"

namespace {

/* The engine's user-interface levels: none at all, or its complete dialogs. */
constexpr uint32_t kUiLevelNone = 2;
constexpr uint32_t kUiLevelFull = 5;
/* Verbose log, written out line by line so that it survives a crash of the engine. */
constexpr uint32_t kLogModeVerbose = 0x1000;
constexpr uint32_t kLogAttrFlushEachLine = 2;
/* Every common-control class the engine's dialogs may use. */
constexpr uint32_t kCommonControlClasses = 0xD2FF;

/* The engine's result codes that get their own treatment. */
constexpr uint32_t kResultSuccess = 0;
constexpr uint32_t kResultRebootRequired = 3010;
constexpr uint32_t kResultUserExit = 1602;
constexpr uint32_t kResultBadPackageVersion = 1613;
constexpr uint32_t kResultPlatformUnsupported = 1633;

/* Network-related codes whose texts live in the network message table. */
constexpr uint32_t kNetMessageFirst = 2100;
constexpr uint32_t kNetMessageLast = 2999;
/* A new buffer for the text, inserts left as they are, the system's table; and also
 * the table of the module given. */
constexpr uint32_t kFormatFromSystem = 0x1300;
constexpr uint32_t kFormatFromSystemAndModule = 0x1B00;
constexpr uint32_t kLanguageDefault = 0x400;

/** Shows why the engine failed, in the system's words when it has any. */
void showEngineFailure(uint32_t uResult) {
    StubHandle hNetMsg = 0;
    if (uResult >= kNetMessageFirst && uResult <= kNetMessageLast)
        hNetMsg = g_StubPlatform.pfnLoadMessageModule(u"netmsg.dll");
    RTUTF16 *pwszText = nullptr;
    if (g_StubPlatform.pfnFormatMessage(hNetMsg ? kFormatFromSystemAndModule : kFormatFromSystem, hNetMsg, uResult,
                                        kLanguageDefault, &pwszText) != 0 &&
        pwszText) {
        ShowError("Installation failed! Error: %ls", pwszText);
        g_StubPlatform.pfnFreeMessage(pwszText);
    } else
        ShowError("Installation failed! Error: %u", uResult);
    if (hNetMsg)
        g_StubPlatform.pfnFreeMessageModule(hNetMsg);
}

} // namespace

int InstallPackage(const char *pszPackage, const char *pszParameters, const char *pszLogFile) {
    if (g_StubPlatform.pfnMsiSetInternalUI(silent ? kUiLevelNone : kUiLevelFull) == 0)
        return ShowError("Internal error: MsiSetInternalUI failed.");

    if (pszLogFile) {
        RTUTF16 *pwszLogFile = nullptr;
        int rc = RTStrToUtf16(pszLogFile, &pwszLogFile, RTSTR_TAG);
        if (RT_FAILURE(rc))
            return ShowError("RTStrToUtf16 failed on '%s': %Rrc", pszLogFile, rc);
        const uint32_t uErr = g_StubPlatform.pfnMsiEnableLog(kLogModeVerbose, pwszLogFile, kLogAttrFlushEachLine);
        RTUtf16Free(pwszLogFile);
        if (uErr != 0)
            return ShowError("MsiEnableLogW failed");
    }

    g_StubPlatform.pfnInitCommonControls(kCommonControlClasses);

    RTUTF16 *pwszPackage = nullptr;
    int rc = RTStrToUtf16(pszPackage, &pwszPackage, RTSTR_TAG);
    if (RT_FAILURE(rc))
        return ShowError("RTStrToUtf16 failed on '%s': %Rrc", pszPackage, rc);
    RTUTF16 *pwszParameters = nullptr;
    rc = RTStrToUtf16(pszParameters, &pwszParameters, RTSTR_TAG);
    if (RT_FAILURE(rc)) {
        RTUtf16Free(pwszPackage);
        return ShowError("RTStrToUtf16 failed on '%s': %Rrc", pszParameters, rc);
    }
    const uint32_t uResult = g_StubPlatform.pfnMsiInstallProduct(pwszPackage, pwszParameters);
    RTUtf16Free(pwszParameters);
    RTUtf16Free(pwszPackage);

    switch (uResult) {
    case kResultSuccess:
        return 0;
    case kResultRebootRequired:
        if (silent)
            RTMsgInfo("Reboot required (by %s)\n", pszPackage);
        return 3010;
    case kResultUserExit:
        // The user cancelled in the engine's own dialogs and knows it.
        return 1;
    case kResultBadPackageVersion:
        return ShowError("This installation package cannot be installed by the Windows Installer service.\n"
                         "You must install a Windows service pack that contains a newer version of the Windows "
                         "Installer service.");
    case kResultPlatformUnsupported:
        return ShowError("This installation package is not supported on this platform.");
    default:
        showEngineFailure(uResult);
        return 1;
    }
}
