// The stream record, the platform hook behind the standard streams and the shutdown.
#pragma once

#include <olma/file.h>
#include <olma/once.h>
#include <olma/semaphore.h>
#include <olma/stream.h>

constexpr uint32_t RTSTREAM_MAGIC = 0xe44e44ee;
/** Set when the shutdown closed an opened stream. */
constexpr uint32_t RTSTREAM_MAGIC_DEAD = 0x1bb1bb11;

/** Stored buffering modes (the interface values are 3 minus these). */
constexpr int32_t RTSTRM_BUF_NONE = 0;
constexpr int32_t RTSTRM_BUF_LINE = 1;
constexpr int32_t RTSTRM_BUF_FULL = 2;

/** Buffer directions. */
constexpr int32_t RTSTRM_DIR_NONE = 0;
constexpr int32_t RTSTRM_DIR_WRITE = 2;

struct RTSTREAM {
    uint32_t magic;
    /** Sticky error: 0 or the first failure of a write; changed by atomic exchange only. */
    int32_t status;
    /** 0, 1, 2 for standard input, output and error; -1 for an opened stream. */
    int32_t stdIndex;
    /** Standard streams learn their handle on the first write-out. */
    RTFILE file;
    char *buffer;
    uint32_t bufferSize;
    uint32_t pendingStart;
    uint32_t pendingEnd;
    int32_t direction;
    int32_t bufferingMode;
    bool convertCodePage;
    bool rawMode;
    /** Created on first use. */
    RTCRITSECT *lock;
    RTLISTNODE listNode;
};

/**
 * Backend: the native handle of standard stream iStd (0, 1, 2) wrapped as a file
 * handle, and whether it is an interactive console. ERR_INVALID_HANDLE when the
 * process has no usable handle there.
 */
int rtStrmNativeStdHandle(int iStd, RTFILE *phFile, bool *pfConsole);

/** Flushes and releases every stream; what the process shutdown runs. The standard
 *  streams stay usable and look for their handles again on the next write-out. */
void rtStrmTerm();
