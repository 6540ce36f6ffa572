// Environment variables, read as UTF-8: from the process environment or from an
// environment block.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

struct EnvBlock;
typedef EnvBlock *RTENV;
/** The process environment. */
#define RTENV_DEFAULT ((RTENV) ~(uintptr_t)0)

/**
 * Copies a variable's value into the caller's buffer.
 * pszValue may be null when cbValue is 0 (only the length is wanted); pcchActual may
 * be null when a buffer is given. *pcchActual receives the value's UTF-8 length, on
 * success and also on ERR_BUFFER_OVERFLOW. ERR_ENV_VAR_NOT_FOUND when it is not set.
 */
[[nodiscard]] int RTEnvGetEx(RTENV hEnv, const char *pszVar, char *pszValue, size_t cbValue, size_t *pcchActual);

/**
 * The value of a process environment variable, or null when it is not set, the name
 * holds '=' or anything fails. The string belongs to the runtime and stays valid
 * until 64 further successful calls (on any thread).
 */
const char *RTEnvGet(const char *pszVar);
