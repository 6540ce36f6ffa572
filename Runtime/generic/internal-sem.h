// Records of the event and multi-event semaphores, shared by their implementation
// and the tests that look inside them.
#pragma once

#include <olma/semaphore.h>
#include "generic/internal-kevent.h"

constexpr uint32_t RTSEMEVENT_MAGIC = 0x19601110;
constexpr uint32_t RTSEMEVENTMULTI_MAGIC = 0x19200102;

/** Both kinds share the layout; the magic tells them apart. */
struct RTSEMEVENTINTERNAL {
    uint32_t magic;
    /** One for the owner plus one per operation in progress. */
    int32_t refs;
    RTKEVENT event;
};

struct RTSEMEVENTMULTIINTERNAL {
    uint32_t magic;
    int32_t refs;
    RTKEVENT event;
};
