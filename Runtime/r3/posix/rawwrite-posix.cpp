// POSIX backend: raw writes go to file descriptor 2.
#include <cerrno>
#include <unistd.h>
#include "common/compiler/internal-startup.h"

void rtRawWriteNative(const char *pch, size_t cch) {
    while (cch > 0) {
        const ssize_t cb = write(STDERR_FILENO, pch, cch);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
            return;
        pch += cb;
        cch -= (size_t)cb;
    }
}
