// Test helper for the installer's logic: captured standard streams, the process-wide
// switches reset, the platform table put back after each test, and replacements for
// the executable's resources and the message boxes that work the same on every host.
#pragma once

#include "stream-capture.h"
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
    }
    void TearDown() override {
        g_StubPlatform = m_SavedPlatform;
        silent = false;
        verbosity = 0;
        s_pResources = nullptr;
        StreamTest::TearDown();
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
     *  leaves no runtime memory behind (counted once the streams are closed again). */
    template <typename Fn> Output captureCall(Fn fn) {
        finish("err");
        s_Boxes.clear();
        const size_t cBlocks = RTMemTestOutstanding();
        captureStd();
        fn();
        Output Res;
        Res.strErr = finish("err");
        Res.strOut = readFile("out");
        Res.Boxes = s_Boxes;
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
    static std::string manifest(unsigned cPackages) {
        PackageManifest Manifest = {};
        memcpy(Manifest.magic, PACKAGE_MANIFEST_MAGIC, sizeof(PACKAGE_MANIFEST_MAGIC));
        Manifest.packageCount = (uint8_t)cPackages;
        return std::string((const char *)&Manifest, sizeof(Manifest));
    }

    static inline std::vector<Resource> *s_pResources = nullptr;
    static inline std::vector<Box> s_Boxes;
    StubPlatform m_SavedPlatform;

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
