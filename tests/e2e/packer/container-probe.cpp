// A program that reads its own package container with the installer's reader and
// prints what it finds, one line per request, so that a test can pack it and look:
//   header N | find NAME | findw NAME | manifest | certs | dump NAME FILE
// Failures the reader shows go to standard error (the run is silent).
#include <windows.h>
#include <olma/file.h>
#include <olma/initterm.h>
#include <olma/stream.h>
#include <olma/string.h>
#include "TeskStub.h"

namespace {

void header(unsigned i) {
    const PackageHeader *pHeader = FindPackageHeader(i);
    if (pHeader)
        RTPrintf("header %u: arch=%u resource=%s file=%s\n", i, pHeader->architecture, pHeader->resourceName,
                 pHeader->fileName);
    else
        RTPrintf("header %u: none\n", i);
}

void find(const char *pszName) {
    const void *pvData = nullptr;
    uint32_t cbData = 0;
    const int rc = FindResourceData(pszName, &pvData, &cbData);
    RTPrintf("find %s: rc=%d size=%u\n", pszName, rc, cbData);
}

/** The platform's lookup itself, with the name as given (it upper-cases it). */
void findw(const char *pszName) {
    wchar_t wszName[64];
    MultiByteToWideChar(CP_UTF8, 0, pszName, -1, wszName, 64);
    HRSRC hRsrc = FindResourceExW(nullptr, MAKEINTRESOURCEW(10), wszName, 0);
    if (hRsrc)
        RTPrintf("findw %s: size=%lu\n", pszName, SizeofResource(nullptr, hRsrc));
    else
        RTPrintf("findw %s: not found\n", pszName);
}

void manifest() {
    const PackageManifest *pManifest = nullptr;
    const int rc = FindPackageManifest(&pManifest);
    RTPrintf("manifest: rc=%d count=%u\n", rc, RT_SUCCESS(rc) ? pManifest->packageCount : 0u);
}

void certs() {
    const unsigned cCerts = LoadEmbeddedCertificates();
    RTPrintf("certs: %u", cCerts);
    for (unsigned i = 0; i < cCerts; i++)
        RTPrintf(" %u", EmbeddedCertificates[i].cbData);
    RTPrintf("\n");
}

void dump(const char *pszName, const char *pszFile) {
    const void *pvData = nullptr;
    uint32_t cbData = 0;
    int rc = FindResourceData(pszName, &pvData, &cbData);
    RTFILE hFile = NIL_RTFILE;
    if (RT_SUCCESS(rc))
        rc = RTFileOpen(&hFile, pszFile, RTFILE_O_WRITE | RTFILE_O_CREATE_REPLACE | RTFILE_O_DENY_WRITE);
    if (RT_SUCCESS(rc)) {
        rc = RTFileWrite(hFile, pvData, cbData, nullptr);
        RTFileClose(hFile);
    }
    RTPrintf("dump %s: rc=%d size=%u\n", pszName, rc, cbData);
}

} // namespace

int main(int argc, char **argv) {
    if (RT_FAILURE(RTR3Init(argc, &argv, 0)))
        return 3;
    silent = true;
    for (int i = 1; i < argc; i++) {
        const char *pszVerb = argv[i];
        if (!strcmp(pszVerb, "header") && i + 1 < argc)
            header((unsigned)RTStrToInt32(argv[++i]));
        else if (!strcmp(pszVerb, "find") && i + 1 < argc)
            find(argv[++i]);
        else if (!strcmp(pszVerb, "findw") && i + 1 < argc)
            findw(argv[++i]);
        else if (!strcmp(pszVerb, "manifest"))
            manifest();
        else if (!strcmp(pszVerb, "certs"))
            certs();
        else if (!strcmp(pszVerb, "dump") && i + 2 < argc) {
            dump(argv[i + 1], argv[i + 2]);
            i += 2;
        } else {
            RTPrintf("unknown request: %s\n", pszVerb);
            return 2;
        }
    }
    return 0;
}
