// Native and Win32 path forms, opening by native path, and the DOS-style current
// directory rules against the real platform.
#include <gtest/gtest.h>
#include "r3/nt/internal-r3-nt.h"
#include <olma/mem.h>
#include <olma/path.h>
#include <olma/string.h>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include "common/path/internal-path.h"

namespace fs = std::filesystem;

namespace {

std::string toUtf8(const std::u16string &wstr) {
    std::string str;
    for (size_t i = 0; i < wstr.size(); i++) {
        uint32_t cp = wstr[i];
        if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < wstr.size())
            cp = 0x10000 + ((cp - 0xd800) << 10) + (wstr[++i] - 0xdc00);
        if (cp < 0x80)
            str += (char)cp;
        else if (cp < 0x800)
            str += {(char)(0xc0 | (cp >> 6)), (char)(0x80 | (cp & 0x3f))};
        else if (cp < 0x10000)
            str += {(char)(0xe0 | (cp >> 12)), (char)(0x80 | ((cp >> 6) & 0x3f)), (char)(0x80 | (cp & 0x3f))};
        else
            str += {(char)(0xf0 | (cp >> 18)), (char)(0x80 | ((cp >> 12) & 0x3f)), (char)(0x80 | ((cp >> 6) & 0x3f)),
                    (char)(0x80 | (cp & 0x3f))};
    }
    return str;
}

std::string ntToUtf8(const UNICODE_STRING &Name) {
    return toUtf8(std::u16string((const char16_t *)Name.Buffer, Name.Length / 2));
}

std::string currentDir() {
    char szCwd[4100];
    EXPECT_EQ(RTPathGetCurrent(szCwd, sizeof(szCwd)), 0);
    return szCwd;
}

TEST(NtPath, FromUtf8Table) {
    struct Case {
        const char *pszPath;
        ULONG uMajor;
        int rc;
        const char *pszExpect;
    };
    const Case aCases[] = {
        {"C:/a//b", 10, 0, "\\??\\C:\\a\\b"},
        {"c:\\a\\..\\b", 10, 0, "\\??\\C:\\b"},
        {"C:\\a\\..\\b", 3, 0, "\\DosDevices\\C:\\b"},
        {"\\\\server\\share\\dir", 10, 0, "\\??\\UNC\\server\\share\\dir"},
        {"//server/share/./dir/..", 10, 0, "\\??\\UNC\\server\\share"},
        {"\\\\server\\share\\dir", 3, 0, "\\DosDevices\\UNC\\server\\share\\dir"},
        {"\\\\.\\pipe\\x", 10, 0, "\\??\\pipe\\x"},
        {"\\\\.\\pipe\\x", 3, 0, "\\DosDevices\\pipe\\x"},
        {"\\\\.\\C:\\x\\..\\y", 10, 0, "\\??\\C:\\y"},
        {"\\\\?\\C:\\x\\..\\y", 10, 0, "\\??\\C:\\x\\..\\y"},
        {"//?/C:/x", 10, 0, "\\??\\C:/x"},
        {"\\\\?\\C:\\x", 3, 0, "\\DosDevices\\C:\\x"},
        {"\\\\:vuvevu:\\Device\\Null", 10, 0, "\\Device\\Null"},
        {"//:vuvevu:/Device/./x", 3, 0, "/Device/./x"},
        {"\\\\:vuvevu:", 10, 0, "\\??\\UNC\\:vuvevu:"},
        {"\\\\:vuvev", 10, 0, "\\??\\UNC\\:vuvev"},
        {"C:\\\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", 10, 0, "\\??\\C:\\\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"C:\\\xff", 10, ERR_INVALID_UTF8_ENCODING, nullptr},
        {"\\\\?\\C:\\\xc3", 10, ERR_INVALID_UTF8_ENCODING, nullptr},
        {"\\\\:vuvevu:\\\x80", 10, ERR_INVALID_UTF8_ENCODING, nullptr},
        {"", 10, ERR_PATH_ZERO_LENGTH, nullptr},
        {nullptr, 10, ERR_INVALID_POINTER, nullptr},
        {(const char *)0xff0, 10, ERR_INVALID_POINTER, nullptr},
    };
    const size_t cBefore = RTMemTestOutstanding();
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases) << " version " << c.uMajor);
        UNICODE_STRING NtName;
        HANDLE hRoot = (HANDLE)1;
        ASSERT_EQ(rtNtPathFromUtf8Ex(&NtName, &hRoot, c.pszPath, c.uMajor), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(ntToUtf8(NtName), c.pszExpect);
            EXPECT_EQ(NtName.MaximumLength, NtName.Length + 2);
            EXPECT_EQ(NtName.Buffer[NtName.Length / 2], 0);
            EXPECT_EQ(hRoot, nullptr);
            RTNtPathFree(&NtName, &hRoot);
            EXPECT_EQ(NtName.Buffer, nullptr);
        }
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }

    // The counted string of a normalised drive path.
    UNICODE_STRING NtName;
    HANDLE hRoot;
    ASSERT_EQ(RTNtPathFromUtf8(&NtName, &hRoot, "C:/a//b"), 0);
    EXPECT_EQ(NtName.Length, 20);
    EXPECT_EQ(NtName.MaximumLength, 22);
    RTNtPathFree(&NtName, &hRoot);
}

TEST(NtPath, RelativeToCurrentDirectory) {
    const std::string strCwd = currentDir();
    const std::string strSep = strCwd.back() == '\\' ? "" : "\\";
    struct Case {
        const char *pszPath;
        std::string strExpect;
    };
    const Case aCases[] = {
        {"x", "\\??\\" + strCwd + strSep + "x"},
        {"a/./b/../c/", "\\??\\" + strCwd + strSep + "a\\c\\"},
        {"\\top", "\\??\\" + strCwd.substr(0, 2) + "\\top"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszPath);
        UNICODE_STRING NtName;
        HANDLE hRoot;
        ASSERT_EQ(RTNtPathFromUtf8(&NtName, &hRoot, c.pszPath), 0);
        EXPECT_EQ(ntToUtf8(NtName), c.strExpect);
        RTNtPathFree(&NtName, &hRoot);
    }
}

/** The 32766-unit limit, and the heap buffers behind absolute paths over 4100 bytes. */
TEST(NtPath, LengthLimits) {
    auto deepPath = [](const char *pszHead, size_t cchTotal) {
        std::string str = pszHead;
        while (str.size() < cchTotal)
            str += (str.size() % 100 == 0) ? '\\' : 'a';
        str.back() = 'z';
        return str;
    };
    struct Case {
        std::string strPath;
        size_t cwcNative; // 0: too long
    };
    const Case aCases[] = {
        {deepPath("C:\\", 32762), 32766},
        {deepPath("C:\\", 32763), 0},
        {deepPath("\\\\?\\C:\\", 32766), 32766},
        {deepPath("\\\\?\\C:\\", 32767), 0},
        {deepPath("\\\\:vuvevu:\\", 32776), 32766},
        {deepPath("\\\\:vuvevu:\\", 32777), 0},
        {deepPath("\\\\srv\\share\\", 32760), 32766},
        {deepPath("\\\\srv\\share\\", 32761), 0},
        {deepPath("C:\\", 5000), 5004},
    };
    const size_t cBefore = RTMemTestOutstanding();
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.strPath.substr(0, 12) << "... of " << c.strPath.size());
        UNICODE_STRING NtName;
        HANDLE hRoot;
        int rc = RTNtPathFromUtf8(&NtName, &hRoot, c.strPath.c_str());
        if (c.cwcNative) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(NtName.Length, c.cwcNative * 2);
            RTNtPathFree(&NtName, &hRoot);
        } else
            EXPECT_EQ(rc, ERR_FILENAME_TOO_LONG);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }

    // Each allocation failing in turn reports its kind and leaks nothing.
    const std::string strLong = deepPath("C:\\", 9000);
    for (uint32_t n = 1;; n++) {
        SCOPED_TRACE(n);
        UNICODE_STRING NtName;
        HANDLE hRoot;
        RTMemTestFailNth(n);
        int rc = RTNtPathFromUtf8(&NtName, &hRoot, strLong.c_str());
        RTMemTestFailNth(0);
        if (rc == 0) {
            EXPECT_EQ(NtName.Length, 9004 * 2);
            RTNtPathFree(&NtName, &hRoot);
            EXPECT_EQ(n, 3u); // the heap work buffer and the result
            break;
        }
        EXPECT_TRUE(rc == ERR_NO_TMP_MEMORY || rc == ERR_NO_UTF16_MEMORY) << rc;
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        ASSERT_LT(n, 10u);
    }
}

TEST(NtPath, Win32Form) {
    const std::string strCwd = currentDir();
    const std::string str242 = "C:\\" + std::string(239, 'a');
    const std::string str253 = "C:\\" + std::string(250, 'a');
    std::string str300 = "c:\\x\\..\\";
    while (str300.size() < 300)
        str300 += "bcdefghij\\";
    const std::string str300Norm = "\\\\?\\C:" + str300.substr(7);
    const std::string strUnc238 = "\\\\server\\share\\" + std::string(223, 'u');
    const std::string strUnc242 = "\\\\server\\share\\" + std::string(227, 'u');
    const std::string strRoot241 = "\\" + std::string(240, 'r');
    const std::string strRoot242 = "\\" + std::string(241, 'r');
    const size_t cchRelMax = 242 - (strCwd.size() + 1);
    const std::string strRelShort(cchRelMax, 'q');
    const std::string strRelLong(cchRelMax + 1, 'q');
    const std::string strCwdSep = strCwd.back() == '\\' ? strCwd : strCwd + "\\";

    struct Case {
        std::string strPath;
        std::string strExpect;
    };
    const Case aCases[] = {
        {"C:\\dir\\file", "C:\\dir\\file"},
        {"C:/dir/../file", "C:/dir/../file"}, // short form is passed on untouched
        {str242, str242},
        {str253, "\\\\?\\" + str253},
        {str300, str300Norm},
        {strUnc238, strUnc238},
        {strUnc242, "\\\\?\\UNC" + strUnc242.substr(1)},
        {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},
        {strRoot241, strRoot241},
        {strRoot242, "\\\\?\\" + strCwd.substr(0, 2) + strRoot242},
        {strRelShort, strRelShort},
        {strRelLong, "\\\\?\\" + strCwdSep + strRelLong},
        {"x\xc3\xa4", "x\xc3\xa4"},
    };
    const size_t cBefore = RTMemTestOutstanding();
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.strPath.substr(0, 20) << "... of " << c.strPath.size());
        RTUTF16 *pwsz = nullptr;
        ASSERT_EQ(RTPathToNative(&pwsz, c.strPath.c_str()), 0);
        EXPECT_EQ(toUtf8(pwsz), c.strExpect);
        RTPathNativeFree(pwsz);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
    }

    // A drive-relative path is expanded by the platform.
    WCHAR wszFull[300];
    ASSERT_NE(GetFullPathNameW(L"C:rel", 300, wszFull, nullptr), 0u);
    RTUTF16 *pwsz = nullptr;
    ASSERT_EQ(RTPathToNative(&pwsz, "C:rel"), 0);
    EXPECT_EQ(std::u16string(pwsz), std::u16string((const char16_t *)wszFull));
    RTPathNativeFree(pwsz);

    // No Win32 spelling for a long pass-through path; bad text; allocation failures.
    std::string strPassLong = "\\\\:vuvevu:\\Device\\" + std::string(300, 'd');
    pwsz = (RTUTF16 *)1;
    EXPECT_EQ(RTPathToNative(&pwsz, strPassLong.c_str()), ERR_INVALID_NAME);
    EXPECT_EQ(pwsz, nullptr);
    EXPECT_EQ(RTPathToNative(&pwsz, "C:\\\xe2\x82"), ERR_INVALID_UTF8_ENCODING);
    EXPECT_EQ(pwsz, nullptr);
    for (const std::string &strPath : {std::string("C:\\x"), str300}) {
        for (uint32_t n = 1;; n++) {
            SCOPED_TRACE(testing::Message() << strPath.size() << " fail " << n);
            RTMemTestFailNth(n);
            int rc = RTPathToNative(&pwsz, strPath.c_str());
            RTMemTestFailNth(0);
            if (rc == 0) {
                RTPathNativeFree(pwsz);
                break;
            }
            EXPECT_TRUE(rc == ERR_NO_TMP_MEMORY || rc == ERR_NO_UTF16_MEMORY) << rc;
            EXPECT_EQ(pwsz, nullptr);
            ASSERT_LT(n, 10u);
        }
    }
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

TEST(NtPath, ObjDirAccess) {
    struct Case {
        ACCESS_MASK fIn, fOut;
    };
    const Case aCases[] = {
        {GENERIC_ALL, 0xF000F},
        {0x1F0000, 0xF000F},
        {0x1F0001, 0xF000F},
        {GENERIC_READ, 1},
        {FILE_READ_DATA, 1},
        {GENERIC_WRITE, 0xC},
        {FILE_WRITE_DATA, 0xC},
        {READ_CONTROL, 0xD},
        {SYNCHRONIZE, 1},
        {0x20 | SYNCHRONIZE, 3},
        {GENERIC_READ | GENERIC_WRITE | 0x20, 0xF},
        {0, 1},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.fIn);
        EXPECT_EQ(rtNtPathObjDirAccess(c.fIn), c.fOut);
    }
}

class NtPathOpen : public testing::Test {
protected:
    fs::path m_Dir;
    std::string m_strDir;
    void SetUp() override {
        std::random_device Rnd;
        m_Dir = fs::temp_directory_path() / ("olma-ntpath-" + std::to_string(Rnd()));
        ASSERT_TRUE(fs::create_directory(m_Dir));
        const auto str = m_Dir.u8string();
        m_strDir.assign(str.begin(), str.end());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_Dir, ec);
    }
};

TEST_F(NtPathOpen, FilesDirectoriesAndObjectDirectories) {
    constexpr ACCESS_MASK fDirAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr ULONG fShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr ULONG fDirOpts = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    constexpr ULONG OBJ_CI = 0x40;

    struct Case {
        std::string strPath;
        ULONG fOptions;
        bool fAskObjDir;
        int rc;
        bool fObjDir;
    };
    const Case aCases[] = {
        {m_strDir, fDirOpts, true, 0, false},
        {m_strDir + "\\", fDirOpts, true, 0, false},
        {m_strDir + "\\.\\x\\..", fDirOpts, false, 0, false},
        {m_strDir + "\\missing", fDirOpts, true, ERR_FILE_NOT_FOUND, false},
        {m_strDir + "\\missing\\deeper", fDirOpts, true, ERR_PATH_NOT_FOUND, false},
        {"\\\\:vuvevu:\\Device\\Null", FILE_SYNCHRONOUS_IO_NONALERT, true, 0, false},
        // An object-manager directory opens as one, but only by its native name.
        {"\\\\:vuvevu:\\Device", fDirOpts, true, 0, true},
        {"\\\\:vuvevu:\\Device\\", fDirOpts, true, 0, true},
        {"\\\\:vuvevu:\\", fDirOpts, true, 0, true},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strPath);
        HANDLE h = nullptr;
        bool fObjDir = true;
        int rc = RTNtPathOpen(c.strPath.c_str(), fDirAccess, fShare, c.fOptions, OBJ_CI, &h,
                              c.fAskObjDir ? &fObjDir : nullptr);
        EXPECT_EQ(rc, c.rc);
        if (rc == 0) {
            if (c.fAskObjDir)
                EXPECT_EQ(fObjDir, c.fObjDir);
            EXPECT_EQ(RTNtPathClose(h), 0);
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            if (c.fAskObjDir)
                EXPECT_FALSE(fObjDir);
        }
    }

    // The same object directory by a converted name is not offered the fallback.
    UNICODE_STRING NtName;
    HANDLE hRoot;
    ASSERT_EQ(RTNtPathFromUtf8(&NtName, &hRoot, "\\\\:vuvevu:\\Device"), 0);
    HANDLE h;
    EXPECT_LT(RTNtPathOpenRelative(hRoot, &NtName, fDirAccess, fShare, fDirOpts, OBJ_CI, &h, nullptr), 0);
    RTNtPathFree(&NtName, &hRoot);

    // Relative to an open directory handle.
    fs::create_directory(m_Dir / "sub");
    HANDLE hDir;
    ASSERT_EQ(RTNtPathOpen(m_strDir.c_str(), fDirAccess, fShare, fDirOpts, OBJ_CI, &hDir, nullptr), 0);
    UNICODE_STRING Rel;
    WCHAR wszSub[] = L"SUB";
    Rel.Buffer = wszSub;
    Rel.Length = 6;
    Rel.MaximumLength = 8;
    bool fObjDir = true;
    ASSERT_EQ(RTNtPathOpenRelative(hDir, &Rel, fDirAccess, fShare, fDirOpts, OBJ_CI, &h, &fObjDir), 0);
    EXPECT_FALSE(fObjDir);
    EXPECT_EQ(RTNtPathClose(h), 0);
    EXPECT_EQ(RTNtPathClose(hDir), 0);

    EXPECT_EQ(RTNtPathOpen(nullptr, fDirAccess, fShare, fDirOpts, OBJ_CI, &h, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTNtPathOpen("C:\\", fDirAccess, fShare, fDirOpts, OBJ_CI, nullptr, nullptr), ERR_INVALID_POINTER);
}

/** The DOS-style rules that need the real current directory and drive. */
TEST_F(NtPathOpen, DosCurrentDirectoryRules) {
    const fs::path SavedCwd = fs::current_path();
    fs::create_directory(m_Dir / "sub");
    ASSERT_EQ(RTPathSetCurrent((m_strDir + "\\sub\\").c_str()), 0);
    const std::string strCwd = currentDir();
    ASSERT_GE(strCwd.size(), 3u);
    ASSERT_EQ(strCwd[1], ':');
    EXPECT_TRUE(strCwd[0] >= 'A' && strCwd[0] <= 'Z');
    const std::string strDrive = strCwd.substr(0, 2);
    const char chOther = strDrive[0] == 'C' ? 'Z' : 'C';

    char szBuf[4200];
    ASSERT_EQ(RTPathGetCurrentDrive(szBuf, sizeof(szBuf)), 0);
    EXPECT_EQ(std::string(szBuf), strDrive);
    EXPECT_EQ(RTPathGetCurrentDrive(szBuf, 2), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathGetCurrentDrive(szBuf, 3), 0);
    EXPECT_EQ(std::string(szBuf), strDrive);

    // The platform's expansion of "C:" may or may not end in a separator (Wine's does).
    ASSERT_EQ(RTPathGetCurrentOnDrive(strDrive[0], szBuf, sizeof(szBuf)), 0);
    EXPECT_TRUE(std::string(szBuf) == strCwd || std::string(szBuf) == strCwd + "\\") << szBuf;
    EXPECT_EQ(RTPathGetCurrentOnDrive(strDrive[0], szBuf, 0), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathGetCurrentOnDrive(strDrive[0], szBuf, strCwd.size()), ERR_BUFFER_OVERFLOW);
    char szOther[4200];
    ASSERT_EQ(RTPathGetCurrentOnDrive(chOther, szOther, sizeof(szOther)), 0);

    struct Case {
        const char *pszBase;
        std::string strPath;
        uint32_t fFlags;
        size_t cb;
        int rc;
        std::string strExpect;
        size_t cbOut;
    };
    const std::string strOtherSep = std::string(szOther).back() == '\\' ? szOther : std::string(szOther) + "\\";
    const Case aCases[] = {
        {nullptr, "\\dir", PATH_STYLE_DOS, 64, 0, strDrive + "\\dir", 6},
        {nullptr, "\\dir", PATH_STYLE_DOS, 1, ERR_BUFFER_OVERFLOW, "", 7},
        {nullptr, "\\dir", PATH_STYLE_DOS, 3, ERR_BUFFER_OVERFLOW, "", 7},
        {nullptr, "x", PATH_STYLE_HOST, 4200, 0, strCwd + "\\x", strCwd.size() + 2},
        {nullptr, "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\y", PATHABS_WITHIN_CWD, 4200, 0,
         strCwd + "\\y", strCwd.size() + 2},
        {nullptr, strDrive + "x", PATH_STYLE_DOS, 4200, 0, strCwd + "\\x", strCwd.size() + 2},
        {nullptr, std::string(1, chOther) + ":x", PATH_STYLE_DOS, 4200, 0, strOtherSep + "x", strOtherSep.size() + 1},
        // A drive-relative path on another drive than the base's uses that drive's directory.
        {"Q:\\w", strDrive + "x", PATH_STYLE_DOS, 4200, 0, strCwd + "\\x", strCwd.size() + 2},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases) << " " << c.strPath);
        size_t cb = c.cb;
        EXPECT_EQ(RTPathAbsEx(c.pszBase, c.strPath.c_str(), c.fFlags, szBuf, &cb), c.rc);
        EXPECT_EQ(cb, c.cbOut);
        if (c.rc == 0)
            EXPECT_EQ(std::string(szBuf), c.strExpect);
    }

    // "C:\" keeps its separator as current directory.
    ASSERT_EQ(RTPathSetCurrent((strDrive + "\\").c_str()), 0);
    EXPECT_EQ(currentDir(), strDrive + "\\");
    fs::current_path(SavedCwd);
}

} // namespace

namespace {

/** What the retry test's stand-in for NtCreateFile saw. */
struct CreateCall {
    std::u16string wstrName;
    NTSTATUS rcPresetIos;
    ULONG_PTR uPresetInfo;
    ULONG fDisposition;
    ULONG fAttributes;
};
std::vector<CreateCall> g_aCalls;

NTSTATUS NTAPI fakeCreateFile(PHANDLE phFile, ACCESS_MASK, POBJECT_ATTRIBUTES pObjAttr, PIO_STATUS_BLOCK pIos,
                              PLARGE_INTEGER, ULONG fAttributes, ULONG, ULONG fDisposition, ULONG, PVOID, ULONG) {
    const UNICODE_STRING *pName = pObjAttr->ObjectName;
    std::u16string wstr((const char16_t *)pName->Buffer, pName->Length / 2);
    g_aCalls.push_back({wstr, pIos->Status, pIos->Information, fDisposition, fAttributes});
    // Refuse names without a trailing backslash, as some file systems do for directories.
    if (wstr.empty() || wstr.back() != u'\\')
        return (NTSTATUS)0xC000000DL;
    *phFile = (HANDLE)0x1234;
    return 0;
}

TEST(NtPath, TrailingBackslashRetry) {
    struct Case {
        std::u16string wstrName;
        int rc;
        std::vector<std::u16string> aExpectCalls;
    };
    const std::u16string wstrMax(0xfffc / 2, u'a');
    const std::u16string wstrBelowMax(0xfffa / 2, u'a');
    const Case aCases[] = {
        {u"\\??\\C:\\dir", 0, {u"\\??\\C:\\dir", u"\\??\\C:\\dir\\"}},
        {u"", 0, {u"", u"\\"}},
        {u"\\??\\C:\\dir\\", 0, {u"\\??\\C:\\dir\\"}},
        {wstrBelowMax, 0, {wstrBelowMax, wstrBelowMax + u"\\"}},
        {wstrMax, ERR_INVALID_PARAMETER, {wstrMax}},
    };
    g_pfnrtNtPathCreateFileHook = fakeCreateFile;
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << "name of " << c.wstrName.size() << " units");
        g_aCalls.clear();
        std::u16string wstrBuf = c.wstrName;
        UNICODE_STRING Name;
        Name.Buffer = (PWSTR)wstrBuf.data();
        Name.Length = (USHORT)(wstrBuf.size() * 2);
        Name.MaximumLength = (USHORT)(Name.Length + (Name.Length < 0xfffe ? 2 : 0));
        HANDLE h = nullptr;
        bool fObjDir = true;
        EXPECT_EQ(RTNtPathOpenRelative(nullptr, &Name, FILE_LIST_DIRECTORY, FILE_SHARE_READ, FILE_DIRECTORY_FILE, 0x40,
                                       &h, &fObjDir),
                  c.rc);
        ASSERT_EQ(g_aCalls.size(), c.aExpectCalls.size());
        for (size_t i = 0; i < g_aCalls.size(); i++) {
            EXPECT_TRUE(g_aCalls[i].wstrName == c.aExpectCalls[i]) << i;
            EXPECT_EQ((uint32_t)g_aCalls[i].rcPresetIos, 0xC0000365u);
            EXPECT_EQ(g_aCalls[i].uPresetInfo, (ULONG_PTR)0xFFFFFFD5);
            EXPECT_EQ(g_aCalls[i].fDisposition, (ULONG)FILE_OPEN);
            EXPECT_EQ(g_aCalls[i].fAttributes, (ULONG)FILE_ATTRIBUTE_NORMAL);
        }
        if (c.rc == 0) {
            EXPECT_EQ(h, (HANDLE)0x1234);
            EXPECT_FALSE(fObjDir);
        } else
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        // The caller's name is left as it was.
        EXPECT_EQ(Name.Length, c.wstrName.size() * 2);
    }
    g_pfnrtNtPathCreateFileHook = nullptr;
}

} // namespace
