// Environment blocks and the platform lookups behind the process environment.
#pragma once

#include <olma/env.h>

constexpr uint32_t RTENV_MAGIC = 0x19571010;

/** Compares an entry with a name: 0 when the entry starts with the name's cchName bytes. */
typedef int FNRTENVCOMPARE(const char *pszEntry, const char *pszName, size_t cchName);

/** An environment block: entries of the form "NAME=value"; an entry that is only a
 *  name marks a variable that is present without a value. */
struct EnvBlock {
    uint32_t magic;
    /** Names may start with '=' (the per-drive current directories on Windows). */
    bool allowEqualsInName;
    size_t count;
    char **entries;
    FNRTENVCOMPARE *compare;
};

/** Process environment lookup behind RTEnvGetEx, after the argument checks. The
 *  name holds no '='; *pcchActual (when given) is 0 on entry. */
[[nodiscard]] int rtEnvGetExNative(const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual);

/** Process environment lookup behind RTEnvGet: the value in new string memory. */
[[nodiscard]] int rtEnvGetDupNative(const char *pszVar, char **ppszValue);
