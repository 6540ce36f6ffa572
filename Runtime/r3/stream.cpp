// Buffered output streams: the standard streams, streams opened by name, formatted
// printing with CR LF translation and code-page conversion, and the shutdown that
// writes out whatever is still pending.
#include <olma/mem.h>
#include <olma/string.h>
#include "common/compiler/internal-startup.h"
#include "r3/internal-stream.h"

#include <cstddef>

namespace {

constexpr RTSTREAM rtStrmStdInit(int32_t iStd, int32_t enmBuf) {
    return RTSTREAM{RTSTREAM_MAGIC,   0,     iStd,    NIL_RTFILE,        nullptr, 0, 0, 0, RTSTRM_DIR_NONE, enmBuf,
                    true /*convert*/, false, nullptr, {nullptr, nullptr}};
}

constinit RTSTREAM g_StdIn = rtStrmStdInit(0, RTSTRM_BUF_NONE);
constinit RTSTREAM g_StdOut = rtStrmStdInit(1, RTSTRM_BUF_LINE);
constinit RTSTREAM g_StdErr = rtStrmStdInit(2, RTSTRM_BUF_NONE);

/** Opened streams: a circular list with its lock, both set up by the first open. */
constinit RTONCE g_StrmListOnce = RTONCE_INITIALIZER;
constinit RTLISTNODE g_StrmList = {nullptr, nullptr};
constinit RTCRITSECT g_StrmListLock = {};

constexpr uint32_t RTSTRM_BUF_SIZE_FULL = 64 * 1024;
constexpr uint32_t RTSTRM_BUF_SIZE_OTHER = 16 * 1024;
constexpr uint32_t RTSTRM_BUF_SIZE_MIN = 256;

bool rtStrmIsValid(const RTSTREAM *pStream) {
    return RT_VALID_PTR(pStream) && pStream->magic == RTSTREAM_MAGIC;
}

RTSTREAM *rtStrmFromNode(RTLISTNODE *pNode) {
    return (RTSTREAM *)((char *)pNode - offsetof(RTSTREAM, listNode));
}

int rtStrmListInit(void *) {
    const int rc = RTCritSectInit(&g_StrmListLock);
    // The shutdown takes a linked head as the sign that there is a lock to destroy.
    if (RT_SUCCESS(rc))
        g_StrmList.pNext = g_StrmList.pPrev = &g_StrmList;
    return rc;
}

/** The stream's lock, created on first use; null when it cannot be created. */
RTCRITSECT *rtStrmLock(RTSTREAM *pStream) {
    RTCRITSECT *pLock = __atomic_load_n(&pStream->lock, __ATOMIC_ACQUIRE);
    if (pLock)
        return pLock;
    pLock = (RTCRITSECT *)RTMemAllocZ(sizeof(*pLock), __FILE__);
    if (!pLock)
        return nullptr;
    if (RT_FAILURE(RTCritSectInitEx(pLock, RTCRITSECT_FLAGS_NO_NESTING, nullptr, 0, "RTStrm"))) {
        RTMemFree(pLock);
        return nullptr;
    }
    RTCRITSECT *pExpected = nullptr;
    if (__atomic_compare_exchange_n(&pStream->lock, &pExpected, pLock, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        return pLock;
    // Another thread installed its lock first; use that one.
    RTCritSectDelete(pLock);
    RTMemFree(pLock);
    return pExpected;
}

void rtStrmSetStatus(RTSTREAM *pStream, int rc) {
    __atomic_exchange_n(&pStream->status, rc, __ATOMIC_ACQ_REL);
}

/** Writes buffer[pendingStart, offEnd) and moves what is left to the buffer's start. */
int rtStrmWriteOut(RTSTREAM *pStream, uint32_t offEnd) {
    if (pStream->file == NIL_RTFILE && pStream->stdIndex >= 0) {
        RTFILE hFile = NIL_RTFILE;
        bool fConsole = false;
        const int rc = rtStrmNativeStdHandle(pStream->stdIndex, &hFile, &fConsole);
        if (RT_FAILURE(rc))
            return rc;
        pStream->file = hFile;
        // Output to a file or pipe is read by a program, not a person: fewer, larger writes.
        if (!fConsole)
            pStream->bufferingMode = RTSTRM_BUF_FULL;
    }
    if (pStream->file == NIL_RTFILE)
        return ERR_INVALID_HANDLE;
    if (offEnd > pStream->pendingStart) {
        const int rc = RTFileWrite(pStream->file, pStream->buffer + pStream->pendingStart,
                                   offEnd - pStream->pendingStart, nullptr);
        if (RT_FAILURE(rc))
            return rc;
    }
    const uint32_t cbLeft = pStream->pendingEnd - offEnd;
    if (cbLeft)
        __builtin_memmove(pStream->buffer, pStream->buffer + offEnd, cbLeft);
    pStream->pendingStart = 0;
    pStream->pendingEnd = cbLeft;
    return 0;
}

/** Puts bytes into the buffer, writing it out whenever it is full. */
int rtStrmCopyIn(RTSTREAM *pStream, const char *pch, size_t cb) {
    while (cb) {
        uint32_t cbFree = pStream->bufferSize - pStream->pendingEnd;
        if (!cbFree) {
            const int rc = rtStrmWriteOut(pStream, pStream->pendingEnd);
            if (RT_FAILURE(rc))
                return rc;
            continue;
        }
        const uint32_t cbCopy = cb < cbFree ? (uint32_t)cb : cbFree;
        __builtin_memcpy(pStream->buffer + pStream->pendingEnd, pch, cbCopy);
        pStream->pendingEnd += cbCopy;
        pch += cbCopy;
        cb -= cbCopy;
    }
    return 0;
}

/** Buffered write with newline translation, then the write-out the mode asks for. */
int rtStrmBufferedWrite(RTSTREAM *pStream, const char *pch, size_t cb, size_t *pcbWritten) {
    size_t cbWritten = 0;
    while (cb) {
        size_t cbRun = cb;
        bool fNewline = false;
        if (!pStream->rawMode)
            for (size_t off = 0; off < cb; off++)
                if (pch[off] == '\n') {
                    cbRun = off;
                    fNewline = true;
                    break;
                }
        int rc = rtStrmCopyIn(pStream, pch, cbRun);
        if (RT_FAILURE(rc)) {
            *pcbWritten = cbWritten;
            return rc;
        }
        cbWritten += cbRun;
        pch += cbRun;
        cb -= cbRun;
        if (fNewline) {
            if (pStream->bufferSize - pStream->pendingEnd < 2) {
                rc = rtStrmWriteOut(pStream, pStream->pendingEnd);
                if (RT_FAILURE(rc)) {
                    *pcbWritten = cbWritten;
                    return rc;
                }
            }
            pStream->buffer[pStream->pendingEnd++] = '\r';
            pStream->buffer[pStream->pendingEnd++] = '\n';
            cbWritten++;
            pch++;
            cb--;
        }
    }
    *pcbWritten = cbWritten;

    if (pStream->bufferingMode == RTSTRM_BUF_NONE)
        return rtStrmWriteOut(pStream, pStream->pendingEnd);
    if (pStream->bufferingMode == RTSTRM_BUF_LINE) {
        for (uint32_t off = pStream->pendingEnd; off > pStream->pendingStart; off--)
            if (pStream->buffer[off - 1] == '\n')
                return rtStrmWriteOut(pStream, off);
    }
    return 0;
}

int rtStrmWriteWorker(RTSTREAM *pStream, const char *pch, size_t cb, size_t *pcbWritten, bool fText) {
    *pcbWritten = 0;
    int rc = __atomic_load_n(&pStream->status, __ATOMIC_ACQUIRE);
    if (RT_FAILURE(rc))
        return rc;

    if (pStream->direction != RTSTRM_DIR_WRITE) {
        pStream->direction = RTSTRM_DIR_WRITE;
        pStream->pendingStart = pStream->pendingEnd = 0;
        if (!pStream->buffer) {
            uint32_t cbBuf = pStream->bufferingMode == RTSTRM_BUF_FULL ? RTSTRM_BUF_SIZE_FULL : RTSTRM_BUF_SIZE_OTHER;
            for (;;) {
                pStream->buffer = (char *)RTMemTmpAlloc(cbBuf);
                if (pStream->buffer || cbBuf <= RTSTRM_BUF_SIZE_MIN)
                    break;
                cbBuf /= 2;
            }
            if (!pStream->buffer) {
                pStream->direction = RTSTRM_DIR_NONE;
                rtStrmSetStatus(pStream, ERR_NO_MEMORY);
                return ERR_NO_MEMORY;
            }
            pStream->bufferSize = cbBuf;
        }
    }

    if (pStream->convertCodePage && !pStream->rawMode && fText) {
        char *pszCopy = nullptr;
        const char *psz = pch;
        if (cb == 0 || pch[cb - 1] != '\0') {
            pszCopy = RTStrDupN(pch, cb, RTSTR_TAG);
            if (!pszCopy)
                rc = ERR_NO_STR_MEMORY;
            psz = pszCopy;
        }
        if (RT_SUCCESS(rc)) {
            char *pszConverted = nullptr;
            rc = RTStrUtf8ToCurrentCP(&pszConverted, psz, RTSTR_TAG);
            if (RT_SUCCESS(rc)) {
                size_t cbConverted = 0;
                while (pszConverted[cbConverted])
                    cbConverted++;
                size_t cbDone = 0;
                rc = rtStrmBufferedWrite(pStream, pszConverted, cbConverted, &cbDone);
                // The caller counts its own bytes, which have no relation to the converted ones.
                if (RT_SUCCESS(rc) && cbDone == cbConverted)
                    *pcbWritten = cb;
                RTStrFree(pszConverted);
            }
        }
        RTStrFree(pszCopy);
    } else
        rc = rtStrmBufferedWrite(pStream, pch, cb, pcbWritten);

    // A failed chunk counts nothing. Text that is not valid UTF-8 only spoils the one
    // call; everything else is the channel failing, and later writes would fail the same way.
    if (RT_FAILURE(rc)) {
        *pcbWritten = 0;
        if (rc != ERR_INVALID_UTF8_ENCODING)
            rtStrmSetStatus(pStream, rc);
    }
    return rc;
}

size_t rtStrmOutput(void *pvArg, const char *pachChars, size_t cbChars) {
    if (!cbChars)
        return 0;
    size_t cbWritten = 0;
    (void)rtStrmWriteWorker((RTSTREAM *)pvArg, pachChars, cbChars, &cbWritten, true /*fText*/);
    return cbWritten;
}

/** Writes out what is pending (unless the stream already failed) and frees the buffer
 *  and the lock. */
void rtStrmFlushAndRelease(RTSTREAM *pStream) {
    if (pStream->direction == RTSTRM_DIR_WRITE && pStream->pendingEnd > pStream->pendingStart &&
        RT_SUCCESS(__atomic_load_n(&pStream->status, __ATOMIC_ACQUIRE))) {
        const int rc = rtStrmWriteOut(pStream, pStream->pendingEnd);
        if (RT_FAILURE(rc))
            rtStrmSetStatus(pStream, rc);
    }
    RTMemFree(pStream->buffer);
    pStream->buffer = nullptr;
    pStream->bufferSize = 0;
    pStream->pendingStart = pStream->pendingEnd = 0;
    pStream->direction = RTSTRM_DIR_NONE;
    RTCRITSECT *pLock = __atomic_exchange_n(&pStream->lock, nullptr, __ATOMIC_ACQ_REL);
    if (pLock) {
        RTCritSectDelete(pLock);
        RTMemFree(pLock);
    }
}

/** Translates a mode string into open flags and raw mode. */
int rtStrmParseMode(const char *pszMode, uint64_t *pfOpen, bool *pfRaw) {
    if (!RT_VALID_PTR(pszMode) || !*pszMode)
        return ERR_INVALID_FLAGS;
    char chAccess = 0;
    bool fPlus = false;
    bool fExclusive = false;
    bool fRaw = false;
    bool fInherit = true;
    for (const char *pch = pszMode; *pch; pch++)
        switch (*pch) {
        case 'r':
        case 'w':
        case 'a':
            chAccess = *pch;
            break;
        case '+':
            fPlus = true;
            break;
        case 'x':
            fExclusive = true;
            break;
        case 'b':
            fRaw = true;
            break;
        case 't':
            fRaw = false;
            break;
        case 'e':
        case 'N':
            fInherit = false;
            break;
        case 'E':
            fInherit = true;
            break;
        default:
            return ERR_INVALID_FLAGS;
        }
    if (!chAccess || (fExclusive && chAccess != 'w'))
        return ERR_INVALID_FLAGS;

    uint64_t fOpen;
    if (chAccess == 'r')
        fOpen = RTFILE_O_READ | RTFILE_O_OPEN;
    else if (chAccess == 'a')
        fOpen = RTFILE_O_WRITE | RTFILE_O_APPEND | RTFILE_O_OPEN_CREATE;
    else if (fExclusive)
        fOpen = RTFILE_O_READWRITE | RTFILE_O_CREATE;
    else
        fOpen = RTFILE_O_WRITE | RTFILE_O_CREATE_REPLACE;
    if (fPlus)
        fOpen |= RTFILE_O_READWRITE;
    fOpen |= RTFILE_O_DENY_NONE | ((uint64_t)0666 << RTFILE_O_CREATE_MODE_SHIFT);
    if (fInherit)
        fOpen |= RTFILE_O_INHERIT;
    *pfOpen = fOpen;
    *pfRaw = fRaw;
    return 0;
}

void rtStrmTermHook() {
    rtStrmTerm();
}
RT_TERMINATOR(rtStrmTermHook);

} // namespace

PRTSTREAM g_pStdErr = &g_StdErr;
PRTSTREAM g_pStdOut = &g_StdOut;

int RTStrmOpen(const char *pszFilename, const char *pszMode, PRTSTREAM *ppStream) {
    if (!RT_VALID_PTR(ppStream))
        return ERR_INVALID_POINTER;
    *ppStream = nullptr;
    if (!RT_VALID_PTR(pszFilename))
        return ERR_INVALID_PARAMETER;
    uint64_t fOpen = 0;
    bool fRaw = false;
    int rc = rtStrmParseMode(pszMode, &fOpen, &fRaw);
    if (RT_FAILURE(rc))
        return rc;

    rc = RTOnce(&g_StrmListOnce, rtStrmListInit, nullptr);
    if (RT_FAILURE(rc))
        return rc;

    RTSTREAM *pStream = (RTSTREAM *)RTMemAllocZ(sizeof(*pStream), __FILE__);
    if (!pStream)
        return ERR_NO_MEMORY;
    pStream->magic = RTSTREAM_MAGIC;
    pStream->status = 0;
    pStream->stdIndex = -1;
    pStream->file = NIL_RTFILE;
    pStream->direction = RTSTRM_DIR_NONE;
    pStream->bufferingMode = RTSTRM_BUF_FULL;
    pStream->convertCodePage = false;
    pStream->rawMode = fRaw;
    rc = RTFileOpen(&pStream->file, pszFilename, fOpen);
    if (RT_FAILURE(rc)) {
        RTMemFree(pStream);
        return rc;
    }

    // The list lock cannot be nested, so its failure modes are only a destroyed lock
    // (after shutdown began); the stream is then simply not listed.
    if (RT_SUCCESS(RTCritSectEnter(&g_StrmListLock))) {
        pStream->listNode.pNext = &g_StrmList;
        pStream->listNode.pPrev = g_StrmList.pPrev;
        g_StrmList.pPrev->pNext = &pStream->listNode;
        g_StrmList.pPrev = &pStream->listNode;
        RTCritSectLeave(&g_StrmListLock);
    }
    *ppStream = pStream;
    return 0;
}

int RTStrmPrintfV(PRTSTREAM pStream, const char *pszFormat, va_list args) {
    if (!rtStrmIsValid(pStream))
        return ERR_INVALID_PARAMETER;
    if (RT_FAILURE(__atomic_load_n(&pStream->status, __ATOMIC_ACQUIRE)))
        return -1;
    RTCRITSECT *pLock = rtStrmLock(pStream);
    if (!pLock)
        return ERR_NO_MEMORY;
    int rc = RTCritSectEnter(pLock);
    if (RT_FAILURE(rc))
        return rc;
    const size_t cch = RTStrFormatV(rtStrmOutput, pStream, nullptr, nullptr, pszFormat, args);
    RTCritSectLeave(pLock);
    return (int)cch;
}

int RTStrmPrintf(PRTSTREAM pStream, const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int rc = RTStrmPrintfV(pStream, pszFormat, args);
    va_end(args);
    return rc;
}

int RTPrintf(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int rc = RTStrmPrintfV(g_pStdOut, pszFormat, args);
    va_end(args);
    return rc;
}

int RTStrmSetBufferingMode(PRTSTREAM pStream, int enmMode) {
    if (!rtStrmIsValid(pStream))
        return ERR_INVALID_HANDLE;
    if (enmMode < RTSTRMBUFMODE_FULL_BUFFERED || enmMode > RTSTRMBUFMODE_UNBUFFERED)
        return ERR_INVALID_PARAMETER;
    RTCRITSECT *pLock = rtStrmLock(pStream);
    if (!pLock)
        return ERR_NO_MEMORY;
    const int rc = RTCritSectEnter(pLock);
    if (RT_FAILURE(rc))
        return rc;
    pStream->bufferingMode = 3 - enmMode;
    RTCritSectLeave(pLock);
    return 0;
}

void rtStrmTerm() {
    RTSTREAM *const apStd[] = {&g_StdIn, &g_StdOut, &g_StdErr};
    for (RTSTREAM *pStream : apStd) {
        rtStrmFlushAndRelease(pStream);
        // The handle belongs to the process, not to us: forget it, do not close it. A
        // later print starts over as at process start (console test included).
        pStream->file = NIL_RTFILE;
        pStream->bufferingMode = pStream->stdIndex == 1 ? RTSTRM_BUF_LINE : RTSTRM_BUF_NONE;
    }

    if (g_StrmList.pNext) {
        RTCritSectDelete(&g_StrmListLock);
        while (g_StrmList.pNext != &g_StrmList) {
            RTLISTNODE *pNode = g_StrmList.pNext;
            pNode->pPrev->pNext = pNode->pNext;
            pNode->pNext->pPrev = pNode->pPrev;
            RTSTREAM *pStream = rtStrmFromNode(pNode);
            pStream->magic = RTSTREAM_MAGIC_DEAD;
            rtStrmFlushAndRelease(pStream);
            RTFileClose(pStream->file);
            RTMemFree(pStream);
        }
        g_StrmList.pNext = g_StrmList.pPrev = nullptr;
    }
    RTOnceReset(&g_StrmListOnce);
}
