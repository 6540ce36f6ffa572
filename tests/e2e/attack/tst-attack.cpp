// The attack suite: attacks on the installer reproduced under Wine against real
// installers, each beside a control that shows the harness would see the attack
// succeed. Planted libraries beside the installer and in its current directory through
// a whole silent install; "<installer>.local"; hand-made package headers; hostile
// temporary directories; another process at the package and the extraction directory
// while the engine runs; links planted for the clean-up; the single-instance mutex held
// by a live process or left by a dead one; data appended after the image of an
// unsigned and of a signed installer.
#include "e2e/installer-test.h"

#include <cstring>
#include <map>

#include "e2e/unix-side.h"

namespace {

using namespace e2e;

constexpr wchar_t kwszMutex[] = L"TeskStubInstaller";

/** The other process of the mutex tests: this program started again with
 *  "--other-process hold <ready event> <release event>" takes the mutex, signals the
 *  first event and holds the mutex until the second one is signalled; with
 *  "--other-process abandon" it takes the mutex and ends while holding it. */
const int g_iOtherProcess = [] {
    int cArgs = 0;
    LPWSTR *papwszArgs = CommandLineToArgvW(GetCommandLineW(), &cArgs);
    if (!papwszArgs || cArgs < 3 || wcscmp(papwszArgs[1], L"--other-process") != 0) {
        LocalFree(papwszArgs);
        return 0;
    }
    // Taken by waiting: the test may have the object open already, and creating an
    // existing mutex does not make the creator its holder.
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, kwszMutex);
    const DWORD dwWait = hMutex ? WaitForSingleObject(hMutex, 60000) : WAIT_FAILED;
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED)
        ExitProcess(2);
    if (wcscmp(papwszArgs[2], L"hold") == 0 && cArgs == 5) {
        SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, papwszArgs[3]));
        WaitForSingleObject(OpenEventW(SYNCHRONIZE, FALSE, papwszArgs[4]), 120000);
        ReleaseMutex(hMutex);
    }
    ExitProcess(0);
}();

/** Starts this program as the other process; its process handle. */
HANDLE startOtherProcess(const std::wstring &wstrArgs) {
    wchar_t wszSelf[MAX_PATH];
    GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
    std::wstring wstrCmd = L"\"" + std::wstring(wszSelf) + L"\" --other-process " + wstrArgs;
    STARTUPINFOW Si = {};
    Si.cb = sizeof(Si);
    PROCESS_INFORMATION Pi = {};
    if (!CreateProcessW(wszSelf, &wstrCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Si, &Pi)) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        return nullptr;
    }
    CloseHandle(Pi.hThread);
    return Pi.hProcess;
}

/** The canaries' marker files in a directory: canary name to what the file says
 *  (the paths of the copies that were loaded). */
std::map<std::string, std::string> markers(const std::wstring &wstrDir) {
    std::map<std::string, std::string> Markers;
    for (const std::string &strName : entries(wstrDir))
        Markers[strName] = readFile(wstrDir + L"\\" + utf8ToWide(strName));
    return Markers;
}

/** A careless clean-up, for the controls: it enters everything that says it is a
 *  directory, links to directories included. */
void naiveRemoveTree(const std::wstring &wstrDir) {
    WIN32_FIND_DATAW Data;
    HANDLE h = FindFirstFileW((wstrDir + L"\\*").c_str(), &Data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring wstrName = Data.cFileName;
            if (wstrName == L"." || wstrName == L"..")
                continue;
            const std::wstring wstrPath = wstrDir + L"\\" + wstrName;
            if (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                naiveRemoveTree(wstrPath);
            else
                DeleteFileW(wstrPath.c_str());
        } while (FindNextFileW(h, &Data));
        FindClose(h);
    }
    RemoveDirectoryW(wstrDir.c_str());
}

uint32_t getU32(const std::string &str, size_t off) {
    uint32_t u = 0;
    memcpy(&u, str.data() + off, 4);
    return u;
}
void putU32(std::string &str, size_t off, uint32_t u) {
    memcpy(&str[off], &u, 4);
}

class AttackTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        wchar_t wszTmp[MAX_PATH];
        m_wstrSystemTemp = std::wstring(wszTmp, GetTempPathW(MAX_PATH, wszTmp));
    }

    std::wstring dir(const wchar_t *pwszName) {
        const std::wstring wstrDir = m_wstrRoot + L"\\" + pwszName;
        EXPECT_TRUE(CreateDirectoryW(wstrDir.c_str(), nullptr)) << toUtf8(wstrDir);
        return wstrDir;
    }
    /** Copies a file into a directory; the copy's path. */
    static std::wstring copyInto(const std::wstring &wstrFile, const std::wstring &wstrDir) {
        const std::wstring wstrCopy = wstrDir + wstrFile.substr(wstrFile.find_last_of(L'\\'));
        EXPECT_TRUE(CopyFileW(wstrFile.c_str(), wstrCopy.c_str(), FALSE)) << toUtf8(wstrFile);
        return wstrCopy;
    }
    static void plantCanaries(const std::wstring &wstrDir) {
        for (const wchar_t *pwsz : kapwszCanaries)
            copyInto(imageDir() + L"..\\canary\\" + pwsz, wstrDir);
    }
    /** Runs a script on the Unix side with its files in the system's temporary directory. */
    int runShell(const std::string &strScript, std::string *pstrOutput = nullptr) {
        return unixside::runShell(strScript, m_wstrSystemTemp, pstrOutput);
    }
    /** The probe as the packages' custom action, working in the test's root. */
    std::string probeArgs(const char *pszMode) {
        return "--msi-prop PROBEEXE \"" + toUtf8(imageDir()) + "attack-probe.exe\" --msi-prop PROBEMODE " + pszMode +
               " --msi-prop PROBEARG \"" + root() + "\"";
    }

    std::wstring m_wstrSystemTemp;
};

} // namespace

TEST_F(AttackTest, PlantedLibrariesThroughASilentInstall) {
    products({L"AttackCanary"});
    // Wine must prefer native (planted) files over its built-in libraries for every
    // canary's name; the test registration sets that for the whole Wine session.
    wchar_t wszOverrides[1024] = L"";
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", wszOverrides, 1024);
    for (const wchar_t *pwsz : kapwszCanaries) {
        const std::wstring wstrName = std::wstring(pwsz).substr(0, wcslen(pwsz) - 4);
        ASSERT_NE(std::wstring(wszOverrides).find(wstrName), std::wstring::npos) << toUtf8(wszOverrides);
    }
    ASSERT_NE(std::wstring(wszOverrides).find(L"=n,b"), std::wstring::npos);

    const std::wstring wstrApp = dir(L"app"), wstrCwd = dir(L"cwd");
    plantCanaries(wstrApp);
    plantCanaries(wstrCwd);
    const std::wstring wstrInstaller = copyInto(installerPath(L"AttackCanary"), wstrApp);
    const std::wstring wstrControl = copyInto(imageDir() + L"ldr-control.exe", wstrApp);

    // The control loads every canary the unsafe way: each leaves its marker, naming the
    // copy beside the program and the one in the current directory.
    const std::wstring wstrControlMarkers = dir(L"control-markers");
    RunOptions Opts;
    Opts.wstrCwd = wstrCwd;
    Opts.Env = {{L"OLMA_CANARY_MARKERS", wstrControlMarkers}};
    std::string strNames;
    for (const wchar_t *pwsz : kapwszCanaries)
        strNames += " " + toUtf8(pwsz);
    RunResult Res = runPath(wstrControl, "ldr-control.exe" + strNames, Opts);
    EXPECT_EQ(Res.uExit, 0u) << Res.strOut;
    const std::map<std::string, std::string> Control = markers(wstrControlMarkers);
    for (const wchar_t *pwsz : kapwszCanaries) {
        SCOPED_TRACE(toUtf8(pwsz));
        const auto it = Control.find(toUtf8(pwsz) + ".loaded");
        ASSERT_NE(it, Control.end());
        EXPECT_EQ(lower(it->second), lower(toUtf8(wstrApp + L"\\" + pwsz + L"\n" + wstrCwd + L"\\" + pwsz + L"\n")));
    }

    // The installer, from the same place, through extraction, the engine and clean-up.
    const std::wstring wstrMarkers = dir(L"markers");
    Opts.Env = {{L"OLMA_CANARY_MARKERS", wstrMarkers}};
    Res = runImage(wstrInstaller, "--silent", Opts);
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackCanary"), "default");
    EXPECT_EQ(markers(wstrMarkers), (std::map<std::string, std::string>{}));
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(AttackTest, LibraryRedirectionBesideTheInstallerIsRefused) {
    products({L"AttackCanary"});
    const std::wstring wstrApp = dir(L"app"), wstrMarkers = dir(L"markers");
    const std::wstring wstrInstaller = copyInto(installerPath(L"AttackCanary"), wstrApp);
    const std::wstring wstrLocal = wstrInstaller + L".local";
    RunOptions Opts;
    Opts.Env = {{L"OLMA_CANARY_MARKERS", wstrMarkers}};
    for (bool fDirectory : {false, true}) {
        SCOPED_TRACE(fDirectory ? "a directory with libraries in it" : "a file");
        if (fDirectory) {
            ASSERT_TRUE(CreateDirectoryW(wstrLocal.c_str(), nullptr));
            plantCanaries(wstrLocal);
        } else
            writeFile(wstrLocal, "");
        RunResult Res = runImage(wstrInstaller, "--silent", Opts);
        EXPECT_EQ(Res.uExit, 1u);
        EXPECT_EQ(Res.strOut, "");
        EXPECT_EQ(Res.strErr, errorLine("AttackCanary.exe", "Refusing to run while '" + toUtf8(wstrLocal) +
                                                                "' exists: the system would load this program's "
                                                                "libraries from there. Remove it and start the "
                                                                "installer again."));
        EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
        EXPECT_EQ(installedValue(L"AttackCanary"), "<absent>");
        EXPECT_EQ(markers(wstrMarkers), (std::map<std::string, std::string>{}));
        removeTree(wstrLocal);
        DeleteFileW(wstrLocal.c_str());
        ASSERT_FALSE(exists(wstrLocal));
    }
    // Without it the same installer runs.
    RunResult Res = runImage(wstrInstaller, "--silent", Opts);
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackCanary"), "default");
}

TEST_F(AttackTest, TheApplicationManifestRedirectsNothing) {
    // A <file> element would make a library part of the program's own assembly, looked
    // for beside it; a dependency on any assembly but the system's common controls could
    // be satisfied by a private copy beside it.
    HMODULE hImage =
        LoadLibraryExW((imageDir() + L"TeskStub.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
    ASSERT_NE(hImage, nullptr);
    HRSRC hRsrc = FindResourceW(hImage, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(hRsrc, nullptr);
    const std::string strManifest((const char *)LockResource(LoadResource(hImage, hRsrc)),
                                  SizeofResource(hImage, hRsrc));
    FreeLibrary(hImage);
    EXPECT_EQ(strManifest.find("<file"), std::string::npos) << strManifest;
    EXPECT_EQ(strManifest.find("loadFrom"), std::string::npos) << strManifest;
    const size_t offDependency = strManifest.find("<dependentAssembly>");
    ASSERT_NE(offDependency, std::string::npos);
    EXPECT_EQ(strManifest.find("<dependentAssembly>", offDependency + 1), std::string::npos) << strManifest;
    EXPECT_NE(strManifest.find("name=\"Microsoft.Windows.Common-Controls\"", offDependency), std::string::npos);
    EXPECT_NE(strManifest.find("publicKeyToken=\"6595b64144ccf1df\"", offDependency), std::string::npos);
}

TEST_F(AttackTest, HandMadeHeaderFileNames) {
    products({L"AttackNames"});
    // Copies of a packed installer whose header names its one package otherwise. The
    // last case is the control: a plain name that the installer does use as it is.
    const std::string strGood = readFile(installerPath(L"AttackNames"));
    const std::string strField = std::string("AttackNames.msi") + '\0';
    const size_t offField = strGood.find(strField);
    ASSERT_NE(offField, std::string::npos);
    ASSERT_EQ(strGood.find(strField, offField + 1), std::string::npos) << "the name is not unique in the image";
    const std::string strBadChar =
        "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)";
    const struct {
        const char *pszName;
        std::string strFault;
    } aCases[] = {
        {"..\\x.msi", strBadChar},
        {"C:x.msi", strBadChar},
        {"x.msi:stream", strBadChar},
        {"CON.msi", "is a reserved device name"},
        {"x.msi.", "ends in a dot or a blank"},
        {"y.msi", ""},
    };
    const std::wstring wstrCwd = dir(L"cwd");
    RunOptions Opts;
    Opts.wstrCwd = wstrCwd;
    unsigned iCase = 0;
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        std::string strBad = strGood;
        strBad.replace(offField, strField.size(),
                       std::string(c.pszName).append(strField.size() - strlen(c.pszName), '\0'));
        const std::string strImage = "Names" + std::to_string(++iCase) + ".exe";
        const std::wstring wstrImage = m_wstrRoot + L"\\" + utf8ToWide(strImage);
        writeFile(wstrImage, strBad);
        const std::wstring wstrOut = m_wstrRoot + L"\\out" + std::to_wstring(iCase);

        RunResult Res = runImage(wstrImage, "--silent", Opts);
        RunResult ResExtract = runImage(wstrImage, "--silent --extract --path \"" + toUtf8(wstrOut) + "\"", Opts);
        if (c.strFault.empty()) {
            EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
            EXPECT_EQ(installedValue(L"AttackNames"), "default");
            uninstall(L"AttackNames");
            EXPECT_EQ(ResExtract.uExit, 0u) << ResExtract.strErr;
            EXPECT_EQ(entries(wstrOut), std::vector<std::string>{c.pszName});
            EXPECT_TRUE(readFile(wstrOut + L"\\" + utf8ToWide(c.pszName)) == readFile(packagePath(L"AttackNames")));
            continue;
        }
        const std::string strErr =
            errorLine(strImage, "Internal package error: The file name of package #0 " + c.strFault);
        EXPECT_EQ(Res.uExit, 1u);
        EXPECT_EQ(Res.strErr, strErr);
        EXPECT_EQ(ResExtract.uExit, 1u);
        EXPECT_EQ(ResExtract.strErr, strErr);
        EXPECT_EQ(installedValue(L"AttackNames"), "<absent>");
        // Nothing was written: not in the extraction directories, not beside them, not in
        // the current directory, not at the root of the drive.
        EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
        EXPECT_EQ(entries(wstrOut), std::vector<std::string>());
        EXPECT_EQ(entries(wstrCwd), std::vector<std::string>());
        EXPECT_FALSE(exists(m_wstrRoot + L"\\x.msi"));
        EXPECT_FALSE(exists(L"C:\\x.msi"));
    }
}

TEST_F(AttackTest, HostileTemporaryDirectories) {
    products({L"AttackTemp"});
    writeFile(m_wstrRoot + L"\\a-file", "a file");
    const std::wstring wstrLong = m_wstrRoot + L"\\" + std::wstring(5000, L'L');
    const std::wstring wstrNoRoomForTheName = m_wstrRoot + L"\\" + std::wstring(4090 - m_wstrRoot.size(), L'n');
    const std::wstring wstrDeep = m_wstrRoot + L"\\" + std::wstring(100, L'd') + L"\\" + std::wstring(100, L'e') +
                                  L"\\" + std::wstring(100, L'f');
    const struct {
        const char *pszWhat;
        std::wstring wstrTemp;
        std::string strErr;
    } aCases[] = {
        {"a file", m_wstrRoot + L"\\a-file", "Failed to create extraction path: ERR_PATH_NOT_FOUND"},
        {"a missing directory", m_wstrRoot + L"\\missing", "Failed to create extraction path: ERR_PATH_NOT_FOUND"},
        {"a missing path longer than MAX_PATH", wstrDeep, "Failed to create extraction path: ERR_PATH_NOT_FOUND"},
        {"a read-only file system", L"Z:\\sys", "Failed to create extraction path: ERR_ACCESS_DENIED"},
        {"a UNC path to no server", L"\\\\olma-no-such-server\\share\\tmp",
         "Failed to create extraction path: ERR_PATH_NOT_FOUND"},
        {"longer than a path buffer", wstrLong, "Failed to find temporary directory: ERR_BUFFER_OVERFLOW"},
        {"without room for the directory's name", wstrNoRoomForTheName,
         "Failed to create extraction path: ERR_BUFFER_OVERFLOW"},
    };
    const std::wstring wstrCwd = dir(L"cwd");
    const std::vector<std::string> Before = entries(m_wstrRoot);
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        RunOptions Opts;
        Opts.wstrCwd = wstrCwd;
        Opts.Env = {{L"TMP", c.wstrTemp}, {L"TEMP", c.wstrTemp}};
        RunResult Res = run(L"AttackTemp", "--silent", Opts);
        EXPECT_EQ(Res.uExit, 1u);
        EXPECT_EQ(Res.strOut, "");
        EXPECT_EQ(Res.strErr, errorLine("AttackTemp.exe", c.strErr));
        EXPECT_EQ(entries(m_wstrRoot), Before);
        EXPECT_EQ(entries(wstrCwd), std::vector<std::string>());
        EXPECT_EQ(readFile(m_wstrRoot + L"\\a-file"), "a file");
        EXPECT_EQ(installedValue(L"AttackTemp"), "<absent>");
    }

    // A relative value is taken from the directory the installer starts in, once, and
    // not again after the extraction changed the current directory: extracting without
    // --path writes into exactly that directory and says so. (A whole install is not
    // tried: Wine's installer engine, which inherits the same relative value, fails.)
    RunOptions Opts;
    Opts.wstrCwd = m_wstrRoot;
    Opts.Env = {{L"TMP", L"tmp"}, {L"TEMP", L"tmp"}};
    RunResult Res = run(L"AttackTemp", "--silent --extract", Opts);
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(Res.strOut, "Files were extracted to: " + toUtf8(m_wstrTmp) + "\r\n");
    EXPECT_EQ(entries(m_wstrRoot), Before);
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>{"AttackTemp.msi"});
    EXPECT_TRUE(readFile(m_wstrTmp + L"\\AttackTemp.msi") == readFile(packagePath(L"AttackTemp")));
    DeleteFileW((m_wstrTmp + L"\\AttackTemp.msi").c_str());
}

TEST_F(AttackTest, AnotherProcessAtThePackageWhileTheEngineRuns) {
    products({L"AttackLocks"});
    // The control: the probe on a copy nobody holds succeeds at every attempt.
    const std::wstring wstrCopyDir = dir(L"copy");
    const std::wstring wstrCopy = copyInto(packagePath(L"AttackLocks"), wstrCopyDir);
    RunResult Res = runPath(imageDir() + L"attack-probe.exe",
                            "attack-probe.exe lock \"" + toUtf8(wstrCopy) + "\" \"" + root() + "\"");
    EXPECT_EQ(Res.uExit, 0u);
    EXPECT_EQ(readFile(m_wstrRoot + L"\\probe.log"), "write=0\ndelete=0\nrename=0\nrenamedir=0\n");
    DeleteFileW((m_wstrRoot + L"\\probe.log").c_str());

    // The same probe as the package's custom action, while the installer holds the
    // package it extracted.
    Res = run(L"AttackLocks", "--silent " + probeArgs("lock"));
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackLocks"), "default");
    const std::string strLog = readFile(m_wstrRoot + L"\\probe.log");
    for (const char *pszAttempt : {"write", "delete", "rename", "renamedir"}) {
        SCOPED_TRACE(pszAttempt);
        const size_t off = strLog.find(std::string(pszAttempt) + "=");
        ASSERT_NE(off, std::string::npos) << strLog;
        const unsigned long uErr = std::stoul(strLog.substr(off + strlen(pszAttempt) + 1));
        EXPECT_TRUE(uErr == ERROR_SHARING_VIOLATION || uErr == ERROR_ACCESS_DENIED) << uErr;
    }
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(AttackTest, LinksPlantedForTheCleanUp) {
    products({L"AttackLinks"});
    // Directories whose files a clean-up that follows links would delete.
    for (const wchar_t *pwsz : {L"victim-extract", L"victim-custom", L"victim-control"}) {
        dir(pwsz);
        writeFile(m_wstrRoot + L"\\" + pwsz + L"\\keep.txt", "keep");
    }
    // The control: a link planted the same way is entered by a careless clean-up, which
    // deletes the files behind it.
    const std::wstring wstrCarelessDir = dir(L"careless");
    ASSERT_TRUE(
        unixside::makeSymlink(m_wstrRoot + L"\\victim-control", wstrCarelessDir + L"\\planted-link", m_wstrSystemTemp));
    naiveRemoveTree(wstrCarelessDir);
    EXPECT_FALSE(exists(m_wstrRoot + L"\\victim-control\\keep.txt"));

    // The installer with a customisation directory beside it; its package's custom
    // action plants a link in the extraction directory and in the copied ".custom".
    const std::wstring wstrApp = dir(L"app");
    const std::wstring wstrInstaller = copyInto(installerPath(L"AttackLinks"), wstrApp);
    ASSERT_TRUE(CreateDirectoryW((wstrApp + L"\\.custom").c_str(), nullptr));
    writeFile(wstrApp + L"\\.custom\\settings.txt", "settings");
    RunResult Res = runImage(wstrInstaller, "--silent " + probeArgs("link"));
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(Res.strErr, "");
    EXPECT_EQ(installedValue(L"AttackLinks"), "default");
    EXPECT_EQ(readFile(m_wstrRoot + L"\\probe.log"), "extract-link=1\ncustom-link=1\n");
    for (const wchar_t *pwsz : {L"victim-extract", L"victim-custom"}) {
        SCOPED_TRACE(toUtf8(pwsz));
        EXPECT_EQ(readFile(m_wstrRoot + L"\\" + pwsz + L"\\keep.txt"), "keep");
    }
    // Under Wine a Unix link to a directory that holds files cannot be deleted (the
    // answer is that the directory is not empty, which the clean-up takes silently), so
    // the copied ".custom" stays with the link and the rest of the copy, and so does the
    // extraction directory, which the clean-up never empties by force. What matters:
    // nothing behind a link was entered.
    const std::vector<std::string> Left = entries(m_wstrTmp);
    ASSERT_EQ(Left.size(), 1u);
    const std::wstring wstrExtractDir = m_wstrTmp + L"\\" + utf8ToWide(Left[0]);
    EXPECT_EQ(entries(wstrExtractDir), (std::vector<std::string>{".custom", "planted-link"}));
    EXPECT_EQ(entries(wstrExtractDir + L"\\.custom"), (std::vector<std::string>{"planted-link", "settings.txt"}));
    for (const wchar_t *pwszLink : {L"\\planted-link", L"\\.custom\\planted-link"})
        EXPECT_EQ(runShell("rm " + unixside::quote(unixside::unixPath(wstrExtractDir + pwszLink))), 0);
}

TEST_F(AttackTest, TheMutexHeldByALiveProcessOrLeftByADeadOne) {
    products({L"AttackMutex"});
    // Held by another live process: the installer stops before it touches anything.
    const std::wstring wstrReady = L"olma-attack-ready-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring wstrRelease = L"olma-attack-release-" + std::to_wstring(GetCurrentProcessId());
    HANDLE hReady = CreateEventW(nullptr, TRUE, FALSE, wstrReady.c_str());
    HANDLE hRelease = CreateEventW(nullptr, TRUE, FALSE, wstrRelease.c_str());
    HANDLE hHolder = startOtherProcess(L"hold " + wstrReady + L" " + wstrRelease);
    ASSERT_NE(hHolder, nullptr);
    ASSERT_EQ(WaitForSingleObject(hReady, 60000), WAIT_OBJECT_0);
    RunResult Res = run(L"AttackMutex", "--silent");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr, errorLine("AttackMutex.exe", "Another installer is already running"));
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
    EXPECT_EQ(installedValue(L"AttackMutex"), "<absent>");
    SetEvent(hRelease);
    EXPECT_EQ(WaitForSingleObject(hHolder, 60000), WAIT_OBJECT_0);
    for (HANDLE h : {hHolder, hReady, hRelease})
        CloseHandle(h);

    // Open but not held, as an installer that only creates the mutex keeps it: that
    // installer is running, so this one stops too.
    HANDLE hOpen = CreateMutexW(nullptr, FALSE, kwszMutex);
    ASSERT_NE(hOpen, nullptr);
    Res = run(L"AttackMutex", "--silent");
    EXPECT_EQ(Res.uExit, 1u);
    EXPECT_EQ(Res.strErr, errorLine("AttackMutex.exe", "Another installer is already running"));
    EXPECT_EQ(installedValue(L"AttackMutex"), "<absent>");

    // Left by a holder that died: the object lives on (this process still has it open),
    // abandoned. The installer takes it over and runs.
    HANDLE hDead = startOtherProcess(L"abandon");
    ASSERT_NE(hDead, nullptr);
    ASSERT_EQ(WaitForSingleObject(hDead, 60000), WAIT_OBJECT_0);
    DWORD dwExit = 1;
    GetExitCodeProcess(hDead, &dwExit);
    CloseHandle(hDead);
    EXPECT_EQ(dwExit, 0u) << "the other process did not take the mutex";
    Res = run(L"AttackMutex", "--silent");
    CloseHandle(hOpen);
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackMutex"), "default");
    EXPECT_EQ(entries(m_wstrTmp), std::vector<std::string>());
}

TEST_F(AttackTest, DataAppendedAfterTheImage) {
    products({L"AttackOverlay", L"AttackOverlayEvil"});
    // What is appended is a whole other installer, with a product of its own. The
    // control: run by itself, it installs that product, where the harness sees it.
    const std::string strEvil = readFile(installerPath(L"AttackOverlayEvil"));
    ASSERT_FALSE(strEvil.empty());
    RunResult Res = run(L"AttackOverlayEvil", "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackOverlayEvil"), "default");
    uninstall(L"AttackOverlayEvil");

    // Behind an unsigned installer.
    const std::wstring wstrAppended = m_wstrRoot + L"\\Appended.exe";
    writeFile(wstrAppended, readFile(installerPath(L"AttackOverlay")) + strEvil);
    Res = runImage(wstrAppended, "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackOverlay"), "default");
    EXPECT_EQ(installedValue(L"AttackOverlayEvil"), "<absent>");
    uninstall(L"AttackOverlay");

    // Inside the signature of a signed installer: the certificate table (the last thing
    // in the file) is made longer, and the signature still verifies, since it covers
    // everything but that table.
    const std::string strSigned = readFile(installerPath(L"AttackSigned"));
    ASSERT_GT(strSigned.size(), 0x200u);
    const size_t offPe = getU32(strSigned, 0x3c);
    const bool fPe32Plus = strSigned[offPe + 24] == 0x0b && strSigned[offPe + 25] == 0x02;
    const size_t offSecurityDir = offPe + 24 + (fPe32Plus ? 112 : 96) + 4 * 8;
    const uint32_t offCerts = getU32(strSigned, offSecurityDir), cbCerts = getU32(strSigned, offSecurityDir + 4);
    ASSERT_EQ((size_t)offCerts + cbCerts, strSigned.size()) << "the certificate table is not at the end";
    std::string strPadded = strSigned + strEvil + std::string((8 - strEvil.size() % 8) % 8, '\0');
    const uint32_t cbAdded = (uint32_t)(strPadded.size() - strSigned.size());
    putU32(strPadded, offSecurityDir + 4, cbCerts + cbAdded);
    putU32(strPadded, offCerts, getU32(strSigned, offCerts) + cbAdded);
    const std::wstring wstrPadded = m_wstrRoot + L"\\Padded.exe";
    writeFile(wstrPadded, strPadded);
    for (const std::wstring &wstrImage : {installerPath(L"AttackSigned"), wstrPadded}) {
        SCOPED_TRACE(toUtf8(wstrImage));
        std::string strVerify;
        EXPECT_EQ(runShell(std::string(ATTACK_OSSLSIGNCODE) + " verify -CAfile " +
                               unixside::quote(ATTACK_SIGNING_CERT) + " -in " +
                               unixside::quote(unixside::unixPath(wstrImage)),
                           &strVerify),
                  0)
            << strVerify;
    }
    Res = runImage(wstrPadded, "--silent");
    EXPECT_EQ(Res.uExit, 0u) << Res.strErr;
    EXPECT_EQ(installedValue(L"AttackOverlay"), "default");
    EXPECT_EQ(installedValue(L"AttackOverlayEvil"), "<absent>");
}
