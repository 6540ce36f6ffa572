// Environment lookups: argument checks, environment blocks and the ring of strings
// handed out by RTEnvGet.
#include "common/env/internal-env.h"

#include <olma/string.h>

#include "common/string/internal-str.h"

#include <atomic>

namespace {

bool rtEnvHasEquals(const char *psz) {
    for (; *psz; psz++)
        if (*psz == '=')
            return true;
    return false;
}

int rtEnvGetExBlock(EnvBlock *pEnv, const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual) {
    if (!RT_VALID_PTR(pEnv) || pEnv->magic != RTENV_MAGIC)
        return ERR_INVALID_HANDLE;
    if (*pszVar == '\0' || rtEnvHasEquals(pEnv->allowEqualsInName ? pszVar + 1 : pszVar))
        return ERR_ENV_INVALID_VAR_NAME;
    if (pcchActual)
        *pcchActual = 0;

    size_t const cchVar = rtStrNLen(pszVar, RTSTR_MAX);
    for (size_t i = 0; i < pEnv->count; i++) {
        const char *pszEntry = pEnv->entries[i];
        if (pEnv->compare(pszEntry, pszVar, cchVar) != 0)
            continue;
        if (pszEntry[cchVar] == '\0')
            return ERR_ENV_VAR_UNSET;
        if (pszEntry[cchVar] != '=')
            continue; // A longer name that merely starts with this one.
        const char *pszSrc = pszEntry + cchVar + 1;
        size_t const cchValue = rtStrNLen(pszSrc, RTSTR_MAX);
        if (pcchActual)
            *pcchActual = cchValue;
        if (!pszValue)
            return 0;
        if (cchValue >= cbValue)
            return ERR_BUFFER_OVERFLOW;
        rtMemCopy(pszValue, pszSrc, cchValue + 1);
        return 0;
    }
    return ERR_ENV_VAR_NOT_FOUND;
}

/*
 * Strings handed out by RTEnvGet. Each result displaces the one stored 64 results
 * earlier, which is freed; the slots and the counter change only atomically so
 * that concurrent callers never free a string twice or lose one.
 */
constexpr uint32_t kEnvRingSlots = 64;
constinit std::atomic<char *> g_apszEnvRing[kEnvRingSlots] = {};
constinit std::atomic<uint32_t> g_iEnvRingNext{0};

} // namespace

int RTEnvGetEx(RTENV hEnv, const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual) {
    if (!RT_VALID_PTR(pszVar))
        return ERR_INVALID_POINTER;
    if (pszValue && !RT_VALID_PTR(pszValue))
        return ERR_INVALID_POINTER;
    if (pcchActual && !RT_VALID_PTR(pcchActual))
        return ERR_INVALID_POINTER;
    // A size without a buffer, or neither a buffer nor a length output, asks for nothing.
    if (!pszValue && cbValue != 0)
        return ERR_INVALID_PARAMETER;
    if (!pcchActual && (!pszValue || cbValue == 0))
        return ERR_INVALID_PARAMETER;

    if (hEnv != RTENV_DEFAULT)
        return rtEnvGetExBlock(hEnv, pszVar, pszValue, cbValue, pcchActual);

    if (rtEnvHasEquals(pszVar))
        return ERR_ENV_INVALID_VAR_NAME;
    if (pcchActual)
        *pcchActual = 0;
    return rtEnvGetExNative(pszVar, pszValue, cbValue, pcchActual);
}

const char *RTEnvGet(const char *pszVar) {
    if (!RT_VALID_PTR(pszVar) || rtEnvHasEquals(pszVar))
        return nullptr;
    char *pszValue = nullptr;
    if (RT_FAILURE(rtEnvGetDupNative(pszVar, &pszValue)))
        return nullptr;
    uint32_t const iSlot = g_iEnvRingNext.fetch_add(1, std::memory_order_relaxed) % kEnvRingSlots;
    RTStrFree(g_apszEnvRing[iSlot].exchange(pszValue, std::memory_order_acq_rel));
    return pszValue;
}
