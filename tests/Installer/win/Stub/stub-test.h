// Test helper for the installer's logic: captured standard streams, the process-wide
// switches and the clean-up list reset, the platform table, the test hooks and the
// current directory put back after each test, and replacements for the executable's
// resources and the message boxes that work the same on every host.
#pragma once

#include "stream-capture.h"
#include <olma/dir.h>
#include <olma/file.h>
#include <olma/mem.h>
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"
#include "common/path/internal-path.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

/** The separator the runtime puts between path components here. */
#ifdef _WIN32
constexpr char kSlash = '\\';
#else
constexpr char kSlash = '/';
#endif

class StubTest : public StreamTest {
protected:
    struct Resource {
        std::string strName;
        std::string strData;
    };
    struct Box {
        uint32_t fFlags;
        std::string strCaption;
        std::string strText;
    };

    void SetUp() override {
        StreamTest::SetUp();
        m_SavedPlatform = g_StubPlatform;
        silent = false;
        verbosity = 0;
        s_pResources = nullptr;
        s_Boxes.clear();
        ASSERT_EQ(rtPathSetExecPath("C:\\Tools\\TeskStub.exe"), 0);
        m_SavedCwd = std::filesystem::current_path();
        InitCleanupRecords();
    }
    void TearDown() override {
        RTMemTestFailNth(0);
        RTFsTestFailNth(0, 0);
        releaseCleanupRecords();
        g_pfnCleanupSleep = RTThreadSleep;
        g_pfnCleanupReleaseHook = nullptr;
        g_pfnExtractAfterWriteHook = nullptr;
        std::filesystem::current_path(m_SavedCwd);
        g_StubPlatform = m_SavedPlatform;
        silent = false;
        verbosity = 0;
        s_pResources = nullptr;
        StreamTest::TearDown();
    }

    /** The clean-up list as (path, isFile) pairs, newest first. */
    static std::vector<std::pair<std::string, bool>> cleanupList() {
        std::vector<std::pair<std::string, bool>> vec;
        for (CleanupLink *pLink = g_CleanupList.next; pLink != &g_CleanupList; pLink = pLink->next) {
            const CleanupRecord *pRec = static_cast<CleanupRecord *>(pLink);
            vec.emplace_back(pRec->path, pRec->isFile);
        }
        return vec;
    }
    /** Closes the handle a record still holds, as the end of the process would. */
    static void closeRecordHandle(CleanupRecord *pRec) {
        if (pRec->isFile && pRec->handle.hFile != NIL_RTFILE)
            EXPECT_EQ(RTFileClose(pRec->handle.hFile), 0) << pRec->path;
        else if (!pRec->isFile && pRec->handle.hDir != NIL_RTDIR)
            EXPECT_EQ(RTDirClose(pRec->handle.hDir), 0) << pRec->path;
    }
    /** Closes the handles the list still holds (the process would end here), then frees
     *  the records. */
    static void releaseCleanupRecords() {
        FNCLEANUPRELEASE *pfnSaved = g_pfnCleanupReleaseHook;
        g_pfnCleanupReleaseHook = closeRecordHandle;
        ReleaseCleanupRecords();
        g_pfnCleanupReleaseHook = pfnSaved;
    }

    /** The executable's resources are these, looked up without regard to ASCII case. */
    void setResources(std::vector<Resource> *pResources) {
        s_pResources = pResources;
        g_StubPlatform.pfnFindResource = findResource;
    }
    /** Message boxes are recorded in s_Boxes instead of shown. */
    void recordBoxes() {
        g_StubPlatform.pfnMessageBoxW = recordBoxW;
        g_StubPlatform.pfnMessageBoxA = recordBoxA;
    }

    /** What a call wrote on the standard streams and the boxes it showed (recorded when
     *  recordBoxes() is in effect). */
    struct Output {
        std::string strOut;
        std::string strErr;
        std::vector<Box> Boxes;
        bool nothingShown() const { return strOut.empty() && strErr.empty() && Boxes.empty(); }
    };
    /** Runs fn with standard output and error captured in fresh files and checks that it
     *  leaves no runtime memory behind (counted once the streams are closed again), unless
     *  told that it keeps some on purpose. */
    template <typename Fn> Output captureCall(Fn fn, bool fCheckLeaks = true) {
        finish("err");
        s_Boxes.clear();
        const size_t cBlocks = RTMemTestOutstanding();
        captureStd();
        fn();
        Output Res;
        Res.strErr = finish("err");
        Res.strOut = readFile("out");
        Res.Boxes = s_Boxes;
        if (fCheckLeaks)
            EXPECT_EQ(RTMemTestOutstanding(), cBlocks) << "runtime memory left behind";
        return Res;
    }
    /** InstallPackage's result with what it showed. */
    struct InstallOutcome : Output {
        int rc = -1;
    };
    InstallOutcome install(const std::string &strPackage, const char *pszParameters, const char *pszLogFile) {
        InstallOutcome Res;
        static_cast<Output &>(Res) =
            captureCall([&] { Res.rc = InstallPackage(strPackage.c_str(), pszParameters, pszLogFile); });
        return Res;
    }
    /** A text as a silent error puts it on standard error: the program name and "error: "
     *  before each of its lines, every line ended by the stream's CR LF. */
    static std::string errorLines(const std::string &strText) {
        std::string strLines;
        for (size_t off = 0; off < strText.size();) {
            size_t offEnd = strText.find('\n', off);
            if (offEnd == std::string::npos)
                offEnd = strText.size();
            strLines += "TeskStub.exe: error: " + strText.substr(off, offEnd - off) + "\r\n";
            off = offEnd + 1;
        }
        return strLines;
    }
    /** printf into a string: how recording doubles write down a call. */
    static std::string callText(const char *pszFormat, ...) {
        char sz[1024];
        va_list args;
        va_start(args, pszFormat);
        vsnprintf(sz, sizeof(sz), pszFormat, args);
        va_end(args);
        return sz;
    }

    /** UTF-16 to UTF-8 without the runtime's heap, so that doubles called while an
     *  allocation is made to fail neither fail themselves nor shift the count. */
    static std::string toUtf8(const RTUTF16 *pwsz) {
        std::string str;
        for (; pwsz && *pwsz; pwsz++) {
            uint32_t uc = *pwsz;
            if (uc >= 0xd800 && uc < 0xdc00 && pwsz[1] >= 0xdc00 && pwsz[1] < 0xe000)
                uc = 0x10000 + ((uc - 0xd800) << 10) + (*++pwsz - 0xdc00);
            if (uc < 0x80)
                str += (char)uc;
            else if (uc < 0x800)
                str += {(char)(0xc0 | uc >> 6), (char)(0x80 | (uc & 0x3f))};
            else if (uc < 0x10000)
                str += {(char)(0xe0 | uc >> 12), (char)(0x80 | (uc >> 6 & 0x3f)), (char)(0x80 | (uc & 0x3f))};
            else
                str += {(char)(0xf0 | uc >> 18), (char)(0x80 | (uc >> 12 & 0x3f)), (char)(0x80 | (uc >> 6 & 0x3f)),
                        (char)(0x80 | (uc & 0x3f))};
        }
        return str;
    }

    /** A header record as the packer writes it. */
    static std::string header(uint32_t uArch, const std::string &strResource, const std::string &strFile) {
        PackageHeader Hdr = {};
        Hdr.architecture = uArch;
        strncpy(Hdr.resourceName, strResource.c_str(), sizeof(Hdr.resourceName));
        strncpy(Hdr.fileName, strFile.c_str(), sizeof(Hdr.fileName));
        return std::string((const char *)&Hdr, sizeof(Hdr));
    }
    /** Package bytes that differ from block to block of the comparison, so that a block
     *  compared at the wrong offset is noticed. */
    static std::string payload(size_t cb, unsigned uSeed) {
        std::string str(cb, '\0');
        for (size_t i = 0; i < cb; i++)
            str[i] = (char)(uint8_t)(i ^ (i >> 8) ^ (i >> 16) ^ (uSeed * 37));
        return str;
    }
    /** Package i as the packer writes it: header "HDR_nn" naming data "BIN_nn". */
    static void addPackage(std::vector<Resource> &vecResources, unsigned i, uint32_t uArch, const std::string &strFile,
                           const std::string &strData) {
        char szHdr[16], szBin[16];
        snprintf(szHdr, sizeof(szHdr), "HDR_%02u", i);
        snprintf(szBin, sizeof(szBin), "BIN_%02u", i);
        vecResources.push_back({szHdr, header(uArch, szBin, strFile)});
        vecResources.push_back({szBin, strData});
    }
    static std::string manifest(unsigned cPackages) {
        PackageManifest Manifest = {};
        memcpy(Manifest.magic, PACKAGE_MANIFEST_MAGIC, sizeof(PACKAGE_MANIFEST_MAGIC));
        Manifest.packageCount = (uint8_t)cPackages;
        return std::string((const char *)&Manifest, sizeof(Manifest));
    }

    static inline std::vector<Resource> *s_pResources = nullptr;
    static inline std::vector<Box> s_Boxes;
    StubPlatform m_SavedPlatform;
    std::filesystem::path m_SavedCwd;

private:
    static int findResource(const RTUTF16 *pwszName, const void **ppvData, uint32_t *pcbData) {
        const std::string strName = toUtf8(pwszName);
        for (const Resource &Rsrc : *s_pResources) {
            if (strcasecmp(Rsrc.strName.c_str(), strName.c_str()) != 0)
                continue;
            *pcbData = (uint32_t)Rsrc.strData.size();
            if (Rsrc.strData.empty())
                return ERR_NO_DATA;
            *ppvData = Rsrc.strData.data();
            return 0;
        }
        return ERR_IO_GEN_FAILURE;
    }
    static void recordBoxW(const RTUTF16 *pwszText, const RTUTF16 *pwszCaption, uint32_t fFlags) {
        s_Boxes.push_back({fFlags, toUtf8(pwszCaption), toUtf8(pwszText)});
    }
    static void recordBoxA(const char *pszText, const char *pszCaption, uint32_t fFlags) {
        s_Boxes.push_back({fFlags, pszCaption, pszText});
    }
};
