// POSIX backend: the standard streams are descriptors 0, 1 and 2; a terminal is the console.
#include <fcntl.h>
#include <unistd.h>
#include "r3/internal-stream.h"

int rtStrmNativeStdHandle(int iStd, RTFILE *phFile, bool *pfConsole) {
    if (fcntl(iStd, F_GETFD) == -1)
        return ERR_INVALID_HANDLE;
    const int rc = RTFileFromNative(phFile, iStd);
    if (RT_FAILURE(rc))
        return rc;
    *pfConsole = isatty(iStd) != 0;
    return 0;
}
