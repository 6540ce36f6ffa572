// Reading a directory's entries through its open handle, with the handle's name filter.
#include "r3/internal-dir.h"
#include "r3/internal-file.h"

#include <olma/string.h>

int RTDirRead(RTDIR hDir, RTDIRENTRY *pEntry) {
    if (!RTDirIsValid(hDir))
        return ERR_INVALID_HANDLE;
    if (!RT_VALID_PTR(pEntry))
        return ERR_INVALID_POINTER;
    if (int rcFault = rtFsTestFault())
        return rcFault;
    if (hDir->objectDirectory)
        return ERR_NOT_SUPPORTED;
    if (!hDir->entryName) {
        hDir->entryName = RTStrAlloc(RTDIR_ENTRY_NAME_MAX, RTSTR_TAG);
        if (!hDir->entryName)
            return ERR_NO_STR_MEMORY;
    }
    for (;;) {
        uint32_t fMode = 0;
        int rc = rtDirNativeReadOne(hDir, &fMode);
        if (RT_FAILURE(rc))
            return rc;
        const char *pszName = hDir->entryName;
        if (pszName[0] == '.' && (pszName[1] == '\0' || (pszName[1] == '.' && pszName[2] == '\0')))
            continue;
        if (hDir->filterMatch && !hDir->filterMatch(hDir, pszName))
            continue;
        pEntry->name = pszName;
        pEntry->nameLength = hDir->entryNameLength;
        pEntry->mode = fMode;
        return 0;
    }
}
