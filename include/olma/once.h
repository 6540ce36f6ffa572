// One-time initialisation: the first caller runs the initialiser, every other caller
// waits for it and gets the same status.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <olma/semaphore.h>

/** Links of a doubly linked list (the once facility's cleanup list). */
struct RTLISTNODE {
    RTLISTNODE *pNext;
    RTLISTNODE *pPrev;
};

typedef int FNRTONCE(void *pvUser);
typedef FNRTONCE *PFNRTONCE;
/** Cleanup run at termination; fLazyCleanUpOk tells that the process is ending. */
typedef void FNRTONCECLEANUP(void *pvUser, bool fLazyCleanUpOk);
typedef FNRTONCECLEANUP *PFNRTONCECLEANUP;

/** States of a once record. */
enum : int32_t {
    RTONCESTATE_UNINITIALIZED = 1,
    RTONCESTATE_BUSY_NO_SEM = 2,
    RTONCESTATE_BUSY_CREATING_SEM = 3,
    RTONCESTATE_BUSY_HAVE_SEM = 4,
    RTONCESTATE_BUSY_SPIN = 5,
    RTONCESTATE_DONE_CREATING_SEM = 6,
    RTONCESTATE_DONE_HAVE_SEM = 7,
    RTONCESTATE_DONE = 16,
};

/** Once record: static and owned by the caller; initialise with RTONCE_INITIALIZER. */
struct RTONCE {
    /** Created only when a second thread has to wait. */
    RTSEMEVENTMULTI event;
    /** Users of the event. */
    int32_t eventRefs;
    int32_t state;
    /** The initialiser's status. */
    int32_t rc;
    PFNRTONCECLEANUP cleanup;
    void *cleanupUser;
    RTLISTNODE listNode;
};
#define RTONCE_INITIALIZER                                                                                             \
    {                                                                                                                  \
        nullptr, 0, RTONCESTATE_UNINITIALIZED, ERR_INTERNAL_ERROR, nullptr, nullptr, {                                 \
            nullptr, nullptr                                                                                           \
        }                                                                                                              \
    }

/** Runs the initialiser once; returns its status to every caller. */
int RTOnce(RTONCE *pOnce, PFNRTONCE pfnOnce, void *pvUser);
/** As RTOnce; on success the cleanup is recorded for termination. */
int RTOnceEx(RTONCE *pOnce, PFNRTONCE pfnOnce, PFNRTONCECLEANUP pfnCleanup, void *pvUser);
/** Makes the record uninitialised again (no thread may be inside RTOnce for it). */
void RTOnceReset(RTONCE *pOnce);
