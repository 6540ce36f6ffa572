// POSIX backend of the installer's platform seam: a resource table in place of the
// executable's resources, a configurable host bitness, a lock file as the single-instance
// mutex, the terminal as the console, message boxes on the standard error stream, a
// recursive copy for the shell's directory copy, and no installer engine or certificate
// store (their calls fail; tests put doubles in the table).
#include <olma/stream.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStubPlatform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

constinit const StubResource *g_paStubResources = nullptr;
constinit size_t g_cStubResources = 0;
constinit bool g_fStubHost64Bit = true;

namespace {

constexpr size_t kPathMax = 4100;

/** UTF-16 to UTF-8 into a caller's buffer; empty when it does not convert or fit. */
const char *toUtf8(const RTUTF16 *pwsz, char *pszBuf, size_t cbBuf) {
    pszBuf[0] = '\0';
    if (pwsz && RT_FAILURE(RTUtf16ToUtf8Ex(pwsz, RTSTR_MAX, &pszBuf, cbBuf, nullptr, RTSTR_TAG)))
        pszBuf[0] = '\0';
    return pszBuf;
}

/** No loader here takes libraries from a directory beside the program. */
bool posixFindLibraryRedirection(char *, size_t) {
    return false;
}

int posixFindResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
    // Resource names are looked up without regard to ASCII case, as the platform does.
    char szName[256];
    toUtf8(pwszName, szName, sizeof(szName));
    for (size_t i = 0; i < g_cStubResources; i++) {
        const StubResource &Rsrc = g_paStubResources[i];
        if (RTStrICmpAscii(szName, Rsrc.pszName) != 0)
            continue;
        *pcbData = Rsrc.cbData;
        if (Rsrc.cbData == 0)
            return ERR_NO_DATA;
        *ppvData = Rsrc.pvData;
        return 0;
    }
    return ERR_IO_GEN_FAILURE;
}

bool posixHostIs64Bit() {
    return g_fStubHost64Bit;
}

/** The named mutex is an exclusive lock on a file of that name in the temporary
 *  directory; the lock goes with the last descriptor, so a dead holder blocks nobody. */
StubHandle posixAcquireMutex(const RTUTF16 *pwszName, bool *pfHeldElsewhere) {
    *pfHeldElsewhere = false;
    const char *pszTmp = getenv("TMPDIR");
    char szName[256];
    char szPath[kPathMax];
    if (RTStrPrintf2(szPath, sizeof(szPath), "%s/%s.lock", pszTmp && *pszTmp ? pszTmp : "/tmp",
                     toUtf8(pwszName, szName, sizeof(szName))) < 0)
        return 0;
    int fd = open(szPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        *pfHeldElsewhere = true;
        return 0;
    }
    return (StubHandle)fd + 1;
}

void posixReleaseMutex(StubHandle hMutex) {
    close((int)(hMutex - 1));
}

bool posixAllocConsole(uint32_t *puLastError) {
    // The process keeps the terminal it has.
    (void)puLastError;
    return true;
}

void posixFreeConsole() {}

void posixMessageBoxW(const RTUTF16 *pwszText, const RTUTF16 *pwszCaption, uint32_t fFlags) {
    char *pszText = nullptr;
    char szCaption[256];
    if (RT_SUCCESS(RTUtf16ToUtf8Ex(pwszText, RTSTR_MAX, &pszText, 0, nullptr, RTSTR_TAG))) {
        RTStrmPrintf(g_pStdErr, "[%s] %s\n", toUtf8(pwszCaption, szCaption, sizeof(szCaption)), pszText);
        RTStrFree(pszText);
    }
}

void posixMessageBoxA(const char *pszText, const char *pszCaption, uint32_t fFlags) {
    RTStrmPrintf(g_pStdErr, "[%s] %s\n", pszCaption, pszText);
}

uint32_t posixMsiSetInternalUI(uint32_t uLevel) {
    return 0; // no installer engine here
}

uint32_t posixMsiEnableLog(uint32_t fLogMode, const RTUTF16 *pwszLogFile, uint32_t fAttributes) {
    return ENOSYS;
}

void posixInitCommonControls(uint32_t fClasses) {}

uint32_t posixMsiInstallProduct(const RTUTF16 *pwszPackage, const RTUTF16 *pwszParameters) {
    return 1603; // the engine's "fatal error during installation"
}

StubHandle posixLoadMessageModule(const RTUTF16 *pwszName) {
    return 0;
}

void posixFreeMessageModule(StubHandle hModule) {}

uint32_t posixFormatMessage(uint32_t fFlags, StubHandle hModule, uint32_t uMessageId, uint32_t uLanguage,
                            RTUTF16 **ppwszText) {
    return 0;
}

void posixFreeMessage(RTUTF16 *pwszText) {}

void *posixCertCreateCertificateContext(uint32_t fEncoding, const void *pvData, uint32_t cbData) {
    errno = ENOSYS;
    return nullptr;
}

void *posixCertOpenStore(uint32_t uProvider, uint32_t fEncoding, uintptr_t hCryptProv, uint32_t fFlags,
                         const RTUTF16 *pwszStoreName) {
    errno = ENOSYS;
    return nullptr;
}

bool posixCertAddCertificateContextToStore(void *hStore, void *pCertContext, uint32_t uDisposition) {
    errno = ENOSYS;
    return false;
}

bool posixCertCloseStore(void *hStore, uint32_t fFlags) {
    return true;
}

bool posixCertFreeCertificateContext(void *pCertContext) {
    return true;
}

uint32_t posixGetLastError() {
    return (uint32_t)errno;
}

/** Copies one regular file; 0 or an errno value. */
int copyFile(const char *pszFrom, const char *pszTo, mode_t fMode) {
    int fdIn = open(pszFrom, O_RDONLY | O_CLOEXEC);
    if (fdIn < 0)
        return errno;
    // An existing file is replaced (yes to every question), a link in its place is not followed.
    int fdOut = open(pszTo, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, fMode & 07777);
    if (fdOut < 0) {
        int iErr = errno;
        close(fdIn);
        return iErr;
    }
    int iErr = 0;
    char abBuf[65536];
    for (;;) {
        ssize_t cbRead = read(fdIn, abBuf, sizeof(abBuf));
        if (cbRead < 0 && errno == EINTR)
            continue;
        if (cbRead <= 0) {
            iErr = cbRead < 0 ? errno : 0;
            break;
        }
        for (ssize_t off = 0; off < cbRead;) {
            ssize_t cbWritten = write(fdOut, abBuf + off, (size_t)(cbRead - off));
            if (cbWritten < 0 && errno == EINTR)
                continue;
            if (cbWritten < 0) {
                iErr = errno;
                break;
            }
            off += cbWritten;
        }
        if (iErr)
            break;
    }
    close(fdIn);
    if (close(fdOut) != 0 && !iErr)
        iErr = errno;
    return iErr;
}

/** Copies the tree at pszFrom to pszTo, merging into what is there as the shell's
 *  copy does when told yes to everything; links are copied as links, never followed.
 *  0 or an errno value. */
int copyTree(const char *pszFrom, const char *pszTo) {
    struct stat St;
    if (lstat(pszFrom, &St) != 0)
        return errno;
    if (S_ISLNK(St.st_mode)) {
        char szTarget[kPathMax];
        ssize_t cch = readlink(pszFrom, szTarget, sizeof(szTarget) - 1);
        if (cch < 0)
            return errno;
        szTarget[cch] = '\0';
        if (symlink(szTarget, pszTo) == 0)
            return 0;
        if (errno != EEXIST)
            return errno;
        // Yes to everything: a file or link in the way is replaced, a directory is not.
        struct stat StTo;
        if (lstat(pszTo, &StTo) != 0 || S_ISDIR(StTo.st_mode))
            return EEXIST;
        if (unlink(pszTo) != 0)
            return errno;
        return symlink(szTarget, pszTo) == 0 ? 0 : errno;
    }
    if (S_ISREG(St.st_mode))
        return copyFile(pszFrom, pszTo, St.st_mode);
    if (!S_ISDIR(St.st_mode))
        return 0; // devices, pipes and sockets are not part of a customisation tree
    // Writable while it is filled; the source's permissions come at the end. A
    // directory that is there already takes the copy as it is.
    const bool fMade = mkdir(pszTo, 0700) == 0;
    if (!fMade) {
        if (errno != EEXIST)
            return errno;
        struct stat StTo;
        if (lstat(pszTo, &StTo) != 0 || !S_ISDIR(StTo.st_mode))
            return EEXIST;
    }
    DIR *pDir = opendir(pszFrom);
    if (!pDir)
        return errno;
    int iErr = 0;
    while (struct dirent *pEntry = readdir(pDir)) {
        const char *pszName = pEntry->d_name;
        if (!strcmp(pszName, ".") || !strcmp(pszName, ".."))
            continue;
        char szFrom[kPathMax];
        char szTo[kPathMax];
        if (RTStrPrintf2(szFrom, sizeof(szFrom), "%s/%s", pszFrom, pszName) < 0 ||
            RTStrPrintf2(szTo, sizeof(szTo), "%s/%s", pszTo, pszName) < 0)
            iErr = ENAMETOOLONG;
        else
            iErr = copyTree(szFrom, szTo);
        if (iErr)
            break;
    }
    closedir(pDir);
    if (!iErr && fMade && chmod(pszTo, St.st_mode & 07777) != 0)
        iErr = errno;
    return iErr;
}

/** Copy (operation 2) of the first source into the first destination directory, as
 *  destination/<source name>; the flags ask for no interaction, which is the only way
 *  this works anyway. */
int posixFileOperation(uint32_t uOperation, const RTUTF16 *pwszFrom, const RTUTF16 *pwszTo, uint16_t fFlags) {
    if (uOperation != 2)
        return EINVAL;
    char szFrom[kPathMax];
    char szTo[kPathMax];
    toUtf8(pwszFrom, szFrom, sizeof(szFrom));
    toUtf8(pwszTo, szTo, sizeof(szTo));
    size_t cchFrom = strlen(szFrom);
    while (cchFrom > 1 && szFrom[cchFrom - 1] == '/')
        szFrom[--cchFrom] = '\0';
    if (!cchFrom || !szTo[0])
        return EINVAL;
    const char *pszName = strrchr(szFrom, '/');
    pszName = pszName ? pszName + 1 : szFrom;
    char szDst[kPathMax];
    if (RTStrPrintf2(szDst, sizeof(szDst), "%s/%s", szTo, pszName) < 0)
        return ENAMETOOLONG;
    return copyTree(szFrom, szDst);
}

constexpr StubPlatform kPosixPlatform = {
    posixFindLibraryRedirection,
    posixFindResource,
    posixHostIs64Bit,
    posixAcquireMutex,
    posixReleaseMutex,
    posixAllocConsole,
    posixFreeConsole,
    "/dev/tty",
    posixMessageBoxW,
    posixMessageBoxA,
    posixMsiSetInternalUI,
    posixMsiEnableLog,
    posixInitCommonControls,
    posixMsiInstallProduct,
    posixLoadMessageModule,
    posixFreeMessageModule,
    posixFormatMessage,
    posixFreeMessage,
    posixCertCreateCertificateContext,
    posixCertOpenStore,
    posixCertAddCertificateContextToStore,
    posixCertCloseStore,
    posixCertFreeCertificateContext,
    posixGetLastError,
    posixFileOperation,
};

} // namespace

const StubPlatform g_StubPlatformDefault = kPosixPlatform;
constinit StubPlatform g_StubPlatform = kPosixPlatform;
