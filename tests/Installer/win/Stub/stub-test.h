// Test helper for the installer's logic: captured standard streams, the process-wide
// switches reset, the platform table put back after each test, and replacements for
// the executable's resources and the message boxes that work the same on every host.
#pragma once

#include "stream-capture.h"
#include <olma/string.h>
#include <olma/utf16.h>
#include "TeskStub.h"
#include "TeskStubPlatform.h"
#include "common/path/internal-path.h"

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

    static std::string toUtf8(const RTUTF16 *pwsz) {
        std::string str;
        char *psz = nullptr;
        if (pwsz && RTUtf16ToUtf8Ex(pwsz, RTSTR_MAX, &psz, 0, nullptr, RTSTR_TAG) == 0) {
            str = psz;
            RTStrFree(psz);
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
