// Windows backend: raw writes go to the standard-error handle with WriteFile.
#include "r3/win/internal-win.h"
#include "common/compiler/internal-startup.h"

void rtRawWriteNative(const char *pch, size_t cch) {
    HANDLE hStdErr = GetStdHandle(STD_ERROR_HANDLE);
    if (hStdErr == nullptr || hStdErr == INVALID_HANDLE_VALUE)
        return;
    while (cch > 0) {
        DWORD cbWritten = 0;
        const DWORD cbChunk = cch > 0x10000000 ? 0x10000000 : (DWORD)cch;
        if (!WriteFile(hStdErr, pch, cbChunk, &cbWritten, nullptr) || cbWritten == 0)
            return;
        pch += cbWritten;
        cch -= cbWritten;
    }
}
