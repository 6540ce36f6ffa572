// POSIX backend: the kernel's random source for the process-wide generator.
#include "common/rand/internal-rand.h"

#include <cerrno>
#include <sys/random.h>

int rtRandNativeGetBytes(void *pv, size_t cb) {
    uint8_t *pb = (uint8_t *)pv;
    while (cb > 0) {
        ssize_t cbGot = getrandom(pb, cb, 0);
        if (cbGot < 0) {
            if (errno == EINTR)
                continue;
            // ENOSYS on old kernels, EPERM under some sandboxes: either way there is
            // no source to use, and the caller falls back.
            return ERR_NOT_SUPPORTED;
        }
        pb += cbGot;
        cb -= (size_t)cbGot;
    }
    return 0;
}
