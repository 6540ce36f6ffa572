// The template machinery behind the uniquely named temporary directories and files.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/** Attempts per call before giving up on collisions. */
constexpr unsigned RTTEMP_MAX_ATTEMPTS = 10000;

/** Finds the run of 'X' characters that a template's name is made from.
 *  ERR_INVALID_PARAMETER when there is none. */
[[nodiscard]] int rtTempFindXRun(const char *pszTemplate, size_t *poffRun, size_t *pcchRun);

/** One creation attempt on the filled-in name; ERR_ALREADY_EXISTS asks for another. */
typedef int FNRTTEMPCREATE(const char *pszPath, void *pvUser);

/** Fills the template and calls pfnCreate until it succeeds, fails otherwise, or the
 *  attempts run out; on failure the template is emptied. */
[[nodiscard]] int rtTempCreateLoop(char *pszTemplate, FNRTTEMPCREATE *pfnCreate, void *pvUser);
