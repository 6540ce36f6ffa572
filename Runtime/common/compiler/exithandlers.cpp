// The exit-handler table: 8192 slots in 32 lazily allocated pages, changed only with
// atomic operations so that registration is safe from any thread.
#include <olma/mem.h>
#include "common/compiler/internal-startup.h"

namespace {
constinit PFNRTEXITHANDLER *volatile g_apPages[RTEXIT_HANDLER_PAGES] = {};
constinit uint32_t g_cSlots = 0;
} // namespace

int rtExitHandlerRegister(PFNRTEXITHANDLER pfnHandler) {
    const uint32_t iSlot = __atomic_fetch_add(&g_cSlots, 1, __ATOMIC_SEQ_CST);
    if (iSlot >= RTEXIT_HANDLERS_MAX) {
        __atomic_fetch_sub(&g_cSlots, 1, __ATOMIC_SEQ_CST);
        return -1;
    }
    const uint32_t iPage = iSlot / RTEXIT_HANDLERS_PER_PAGE;
    PFNRTEXITHANDLER *pPage = __atomic_load_n(&g_apPages[iPage], __ATOMIC_SEQ_CST);
    if (!pPage) {
        PFNRTEXITHANDLER *pNew =
            (PFNRTEXITHANDLER *)RTMemAllocZ(RTEXIT_HANDLERS_PER_PAGE * sizeof(PFNRTEXITHANDLER), __FILE__);
        if (!pNew)
            return -1; // the slot stays used; its entry is simply never set
        PFNRTEXITHANDLER *pExpected = nullptr;
        if (__atomic_compare_exchange_n(&g_apPages[iPage], &pExpected, pNew, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            pPage = pNew;
        else {
            RTMemFree(pNew); // another thread installed the page first
            pPage = pExpected;
        }
    }
    __atomic_store_n(&pPage[iSlot % RTEXIT_HANDLERS_PER_PAGE], pfnHandler, __ATOMIC_SEQ_CST);
    return 0;
}

void rtExitHandlersRun() {
    uint32_t iSlot = __atomic_load_n(&g_cSlots, __ATOMIC_SEQ_CST);
    if (iSlot > RTEXIT_HANDLERS_MAX)
        iSlot = RTEXIT_HANDLERS_MAX;
    while (iSlot > 0) {
        const uint32_t iPage = (iSlot - 1) / RTEXIT_HANDLERS_PER_PAGE;
        PFNRTEXITHANDLER *pPage = __atomic_load_n(&g_apPages[iPage], __ATOMIC_SEQ_CST);
        if (!pPage) {
            iSlot = iPage * RTEXIT_HANDLERS_PER_PAGE; // nothing was ever stored on this page
            continue;
        }
        iSlot--;
        // A handler that registers another one appends above the current slot, which is
        // then never reached; keeping the counter at slot + 1 makes that visible.
        __atomic_store_n(&g_cSlots, iSlot + 1, __ATOMIC_SEQ_CST);
        PFNRTEXITHANDLER pfn = __atomic_exchange_n(&pPage[iSlot % RTEXIT_HANDLERS_PER_PAGE], nullptr, __ATOMIC_SEQ_CST);
        if (pfn)
            pfn();
    }
    __atomic_store_n(&g_cSlots, 0, __ATOMIC_SEQ_CST);
}

uint32_t rtExitHandlerCount() {
    return __atomic_load_n(&g_cSlots, __ATOMIC_SEQ_CST);
}
