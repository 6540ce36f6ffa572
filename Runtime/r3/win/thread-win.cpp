// Windows backend: native thread ids, thread names (debugger notification and
// SetThreadDescription) and thread-local storage.
#include "r3/win/internal-win.h"
#include <olma/thread.h>
#include "common/misc/internal-thread.h"

namespace {
typedef HRESULT(WINAPI *PFNSETTHREADDESCRIPTION)(HANDLE hThread, PCWSTR pwszDescription);
constinit PFNSETTHREADDESCRIPTION g_pfnSetThreadDescription = nullptr;

/** The record a debugger expects with the naming exception. */
struct RTTHREADNAMEINFO {
    DWORD dwType;
    LPCSTR pszName;
    DWORD dwThreadID;
    DWORD dwFlags;
};
constexpr DWORD RT_MSVC_THREAD_NAME_EXCEPTION = 0x406D1388;

/** Continues the naming exception when no debugger took it (one could detach
 *  between the check and the raise). */
LONG CALLBACK rtThreadNameVectoredHandler(PEXCEPTION_POINTERS pXcpt) {
    if (pXcpt->ExceptionRecord->ExceptionCode == RT_MSVC_THREAD_NAME_EXCEPTION)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

RTNATIVETHREAD RTThreadNativeSelf() {
    return GetCurrentThreadId();
}

void rtThreadNativeInit() {
    HMODULE hKernel32 = GetModuleHandleW(L"kernel32.dll");
    if (hKernel32)
        g_pfnSetThreadDescription = (PFNSETTHREADDESCRIPTION)(void *)GetProcAddress(hKernel32, "SetThreadDescription");
}

void rtThreadNativeSetName(const char *pszName) {
    if (IsDebuggerPresent()) {
        RTTHREADNAMEINFO Info = {0x1000, pszName, GetCurrentThreadId(), 0};
        PVOID pvHandler = AddVectoredExceptionHandler(1 /*first*/, rtThreadNameVectoredHandler);
        RaiseException(RT_MSVC_THREAD_NAME_EXCEPTION, 0, sizeof(Info) / sizeof(ULONG_PTR), (ULONG_PTR *)&Info);
        if (pvHandler)
            RemoveVectoredExceptionHandler(pvHandler);
    }
    if (g_pfnSetThreadDescription) {
        // Byte by byte, as the name is kept: ASCII names come out as they are.
        WCHAR wszName[RTTHREAD_NAME_LEN + 1];
        for (size_t i = 0; i < RT_ELEMENTS(wszName); i++)
            wszName[i] = (WCHAR)(int16_t)(signed char)pszName[i];
        wszName[RTTHREAD_NAME_LEN] = 0;
        g_pfnSetThreadDescription(GetCurrentThread(), wszName);
    }
}

void rtThreadNativeCloseHandle(uintptr_t hNative) {
    CloseHandle((HANDLE)hNative);
}

RTTLS RTTlsAlloc() {
    const DWORD iTls = TlsAlloc();
    if (iTls == TLS_OUT_OF_INDEXES || iTls > (DWORD)INT32_MAX)
        return NIL_RTTLS;
    return (RTTLS)iTls;
}

int RTTlsFree(RTTLS iTls) {
    if (iTls == NIL_RTTLS)
        return 0;
    if (iTls < 0)
        return ERR_INVALID_PARAMETER;
    return TlsFree((DWORD)iTls) ? 0 : RTErrConvertFromWinError(GetLastError());
}

void *RTTlsGet(RTTLS iTls) {
    if (iTls < 0)
        return nullptr;
    return TlsGetValue((DWORD)iTls);
}

int RTTlsSet(RTTLS iTls, void *pvValue) {
    if (iTls < 0)
        return ERR_INVALID_PARAMETER;
    return TlsSetValue((DWORD)iTls, pvValue) ? 0 : RTErrConvertFromWinError(GetLastError());
}
