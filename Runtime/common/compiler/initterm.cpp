// Walks the static-initialiser tables that the linker lays down between the backend's
// start and end markers. Null entries are skipped.
#include "common/compiler/internal-startup.h"
#include "common/compiler/internal-inittables.h"

int rtRunFirstStageInitializers() {
    for (PFNRTFIRSTSTAGEINIT *pp = rtInitTableXiBegin(); pp < rtInitTableXiEnd(); pp++)
        if (*pp) {
            const int rc = (*pp)();
            if (rc != 0)
                return rc;
        }
    return 0;
}

void rtRunSecondStageInitializers() {
    for (PFNRTSTAGEFN *pp = rtInitTableXcBegin(); pp < rtInitTableXcEnd(); pp++)
        if (*pp)
            (*pp)();
}

void rtRunTerminators() {
    for (PFNRTSTAGEFN *pp = rtInitTableXpBegin(); pp < rtInitTableXpEnd(); pp++)
        if (*pp)
            (*pp)();
    for (PFNRTSTAGEFN *pp = rtInitTableXtBegin(); pp < rtInitTableXtEnd(); pp++)
        if (*pp)
            (*pp)();
}
