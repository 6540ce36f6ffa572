// The option parser's printer for results a program did not handle itself.
#include <olma/getopt.h>
#include <olma/message.h>

int RTGetOptPrintError(int rc, const RTOPTVALUE *pValue) {
    if (rc == INF_GETOPT_NOT_OPTION)
        RTMsgError("Invalid parameter: %s", pValue->psz);
    else if (rc > 0) {
        if (rc >= 33 && rc <= 126)
            RTMsgError("Unhandled option: -%c", rc);
        else
            RTMsgError("Unhandled option: %i (%#x)", rc, rc);
    } else if (rc == ERR_GETOPT_UNKNOWN_OPTION)
        RTMsgError("Unknown option: '%s'", pValue->psz);
    else if (RT_VALID_PTR(pValue->pDef)) {
        if (rc == ERR_GETOPT_INVALID_ARGUMENT_FORMAT)
            RTMsgError("The value given '%s' has an invalid format.", pValue->pDef->longName);
        else
            RTMsgError("%s: %Rrs\n", pValue->pDef->longName, rc);
    } else
        RTMsgError("%Rrs\n", rc);
    return 2;
}
