// Test hook of the file and directory entry points: the N-th call from now fails with
// a chosen status, so that every failure path of a caller can be walked in turn.
#include "r3/internal-file.h"

namespace {
constinit uint32_t g_cFsFailCountdown = 0;
constinit int g_rcFsFail = 0;
} // namespace

uint32_t RTFsTestFailNth(uint32_t n, int rcFail) {
    __atomic_store_n(&g_rcFsFail, rcFail, __ATOMIC_RELAXED);
    return __atomic_exchange_n(&g_cFsFailCountdown, n, __ATOMIC_RELAXED);
}

int rtFsTestFault() {
    uint32_t c = __atomic_load_n(&g_cFsFailCountdown, __ATOMIC_RELAXED);
    while (c != 0) {
        if (__atomic_compare_exchange_n(&g_cFsFailCountdown, &c, c - 1, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED))
            return c == 1 ? __atomic_load_n(&g_rcFsFail, __ATOMIC_RELAXED) : 0;
    }
    return 0;
}
