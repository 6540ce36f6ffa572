/* A planted library: when anything loads it, it appends its own full path to the
 * marker file "<its file name>.loaded" in the directory OLMA_CANARY_MARKERS names. It
 * exports nothing, so an import resolved against it fails as well. */
#include <windows.h>

BOOL WINAPI CanaryMain(HINSTANCE hInst, DWORD dwReason, LPVOID pvReserved) {
    (void)pvReserved;
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    WCHAR wszSelf[MAX_PATH];
    const DWORD cwcSelf = GetModuleFileNameW(hInst, wszSelf, MAX_PATH);
    WCHAR wszMarker[MAX_PATH * 2];
    DWORD cwc = GetEnvironmentVariableW(L"OLMA_CANARY_MARKERS", wszMarker, MAX_PATH);
    if (cwcSelf == 0 || cwcSelf >= MAX_PATH || cwc == 0 || cwc >= MAX_PATH)
        return TRUE;
    DWORD offName = cwcSelf;
    while (offName > 0 && wszSelf[offName - 1] != L'\\' && wszSelf[offName - 1] != L'/')
        offName--;
    wszMarker[cwc++] = L'\\';
    for (DWORD i = offName; i < cwcSelf; i++)
        wszMarker[cwc++] = wszSelf[i];
    for (const WCHAR *pwsz = L".loaded";; pwsz++) {
        wszMarker[cwc++] = *pwsz;
        if (!*pwsz)
            break;
    }

    HANDLE hFile = CreateFileW(wszMarker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        char szLine[MAX_PATH * 4];
        int cb = WideCharToMultiByte(CP_UTF8, 0, wszSelf, (int)cwcSelf, szLine, sizeof(szLine) - 2, NULL, NULL);
        if (cb > 0) {
            szLine[cb++] = '\n';
            DWORD cbWritten;
            WriteFile(hFile, szLine, (DWORD)cb, &cbWritten, NULL);
        }
        CloseHandle(hFile);
    }
    return TRUE;
}
