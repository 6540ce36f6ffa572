// POSIX backend: helpers shared by the file, path-query and file-system code.
#pragma once

#include <olma/fs.h>
#include <sys/stat.h>

/** UTF-8 check of a path handed to the platform; 0 or the encoding status. */
[[nodiscard]] int rtPathPosixCheck(const char *pszPath);
/** Status for a failed lookup of pszPath: a missing final name is ERR_FILE_NOT_FOUND,
 *  a missing or non-directory component on the way ERR_PATH_NOT_FOUND, as on Windows. */
int rtPathPosixLookupError(const char *pszPath, int iErrno);
/** The mode word for a stat mode: type and permissions, and the attribute half made up
 *  from them (a link also carries the reparse-point attribute). pszName: for the hidden
 *  attribute of dot names; may be null. */
uint32_t rtFsPosixModeFromStat(mode_t fStMode, const char *pszName);
/** Fills the record from a stat answer. iBirthNs < 0: not known, the change time stands in. */
void rtFsPosixObjInfoFromStat(FsObjInfo *pObjInfo, const struct stat *pSt, int64_t iBirthNs, const char *pszName,
                              uint32_t enmAdditionalKind);
/** Whether a handle of this runtime keeps others from deleting or renaming the object
 *  pszName in the directory fdDir (or AT_FDCWD); links are not followed. */
bool rtFilePosixDeleteDeniedAt(int fdDir, const char *pszName);
/** Creation time of an object (statx), or -1. fd >= 0 asks the descriptor, else the path. */
int64_t rtFsPosixBirthTime(int fd, const char *pszPath, bool fFollow);
