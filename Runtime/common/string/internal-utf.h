// The half that every measure-then-convert function of the UTF code shares: where the
// output goes, how much is allocated, and that a failed conversion leaves nothing
// allocated with the caller.
#pragma once

#include <olma/err.h>
#include <olma/mem.h>

/**
 * Measures with pfnMeasure(&cResult) (elements, terminator excluded) and converts with
 * pfnRecode(pOut, cMax), cMax being the room before the terminator.
 *
 * A caller's buffer is used only when both a pointer and a size are given; it must
 * hold the result and its terminator, or nothing is written. Otherwise the pointer is
 * null until a block of max(cBuf, cResult + 1) elements is converted successfully.
 * The measured count reaches *pcResult (when given) before the conversion starts.
 */
template <typename T, typename FnMeasure, typename FnRecode>
int rtUtfConvert(T **ppOut, size_t cBuf, size_t *pcResult, int rcNoMemory, FnMeasure pfnMeasure, FnRecode pfnRecode) {
    const bool fUserBuffer = cBuf != 0 && *ppOut != nullptr;
    if (!fUserBuffer)
        *ppOut = nullptr;

    size_t cResult;
    int rc = pfnMeasure(&cResult);
    if (rc != 0)
        return rc;
    if (pcResult)
        *pcResult = cResult;

    if (fUserBuffer) {
        if (cResult >= cBuf)
            return ERR_BUFFER_OVERFLOW;
        return pfnRecode(*ppOut, cBuf - 1);
    }

    const size_t cAlloc = cBuf > cResult + 1 ? cBuf : cResult + 1;
    if (cAlloc > ~(size_t)0 / sizeof(T))
        return rcNoMemory;
    T *pOut = (T *)RTMemTmpAlloc(cAlloc * sizeof(T));
    if (!pOut)
        return rcNoMemory;
    rc = pfnRecode(pOut, cAlloc - 1);
    if (rc != 0) {
        RTMemFree(pOut);
        return rc;
    }
    *ppOut = pOut;
    return 0;
}
