// Raw error writers: used before the runtime (and its formatter and streams) exist,
// so they render numbers themselves into a stack buffer.
#include "common/compiler/internal-startup.h"

namespace {
/** Writes u in the given base (lower-case digits, at least cMinDigits of them),
 *  with a minus sign in front when fNegative. */
void rtRawWriteNumber(uint64_t u, unsigned uBase, unsigned cMinDigits, bool fNegative = false) {
    char achBuf[128];
    size_t off = sizeof(achBuf);
    unsigned cDigits = 0;
    do {
        achBuf[--off] = "0123456789abcdef"[u % uBase];
        u /= uBase;
        cDigits++;
    } while (u != 0 || cDigits < cMinDigits);
    if (fNegative)
        achBuf[--off] = '-';
    rtRawWriteBytes(&achBuf[off], sizeof(achBuf) - off);
}
} // namespace

void rtRawWriteBytes(const char *pch, size_t cch) {
    rtRawWriteNative(pch, cch);
}

void rtRawWriteString(const char *psz) {
    if (!RT_VALID_PTR(psz)) {
        rtRawWriteBytes("<pszString=", 11);
        rtRawWritePointer(psz);
        rtRawWriteBytes(">", 1);
        return;
    }
    size_t cch = 0;
    while (psz[cch])
        cch++;
    rtRawWriteBytes(psz, cch);
}

void rtRawWriteStatus(const char *pszMsg, int rc) {
    rtRawWriteString(pszMsg);
    rtRawWriteNumber(rc < 0 ? 0 - (uint64_t)(int64_t)rc : (uint64_t)rc, 10, 1, rc < 0);
    rtRawWriteBytes("\r\n", 2);
}

void rtRawWriteNumberDecHex(uint64_t u) {
    rtRawWriteNumber(u, 10, 1);
    rtRawWriteBytes(" (0x", 4);
    rtRawWriteNumber(u, 16, 1);
    rtRawWriteBytes(")", 1);
}

void rtRawWriteHex(uint64_t u) {
    rtRawWriteNumber(u, 16, 1);
}

void rtRawWritePointer(const void *pv) {
    // Pointer width: 8 digits on 32-bit hosts, 16 on 64-bit ones.
    rtRawWriteNumber((uintptr_t)pv, 16, sizeof(void *) * 2);
}
