// Windows backend: the one place that includes <windows.h> and declares the ntdll
// entry points the runtime calls.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winternl.h>

#include <cstdint>

extern "C" {
NTSYSAPI NTSTATUS NTAPI NtProtectVirtualMemory(HANDLE ProcessHandle, PVOID *BaseAddress, PSIZE_T RegionSize,
                                               ULONG NewProtect, PULONG OldProtect);
NTSYSAPI NTSTATUS NTAPI NtTerminateProcess(HANDLE ProcessHandle, NTSTATUS ExitStatus);
}

/* --- Native paths: object-manager directories --- */
extern "C" {
NTSYSAPI NTSTATUS NTAPI NtOpenDirectoryObject(PHANDLE DirectoryHandle, ACCESS_MASK DesiredAccess,
                                              POBJECT_ATTRIBUTES ObjectAttributes);
}

/* --- Windows version classification (written by runtime initialisation; read by the clock) --- */
/** Classification of the running Windows version by runtime initialisation; 0 until
 *  it has been made. */
extern uint32_t WindowsVersionClass;

// Event objects and waits, for the kernel events under the runtime's semaphores.
#ifndef STATUS_ALERTED
#define STATUS_ALERTED ((NTSTATUS)0x00000101L)
#endif
extern "C" {
typedef enum _RT_EVENT_TYPE { RtNotificationEvent = 0, RtSynchronizationEvent = 1 } RT_EVENT_TYPE;
NTSYSAPI NTSTATUS NTAPI NtCreateEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess,
                                      POBJECT_ATTRIBUTES ObjectAttributes, RT_EVENT_TYPE EventType,
                                      BOOLEAN InitialState);
NTSYSAPI NTSTATUS NTAPI NtSetEvent(HANDLE EventHandle, PLONG PreviousState);
NTSYSAPI NTSTATUS NTAPI NtResetEvent(HANDLE EventHandle, PLONG PreviousState);
}

/* --- Files and object information: directory listings --- */
extern "C" {
NTSYSAPI NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                             PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                             ULONG Length, FILE_INFORMATION_CLASS FileInformationClass,
                                             BOOLEAN ReturnSingleEntry, PUNICODE_STRING FileName, BOOLEAN RestartScan);
NTSYSAPI NTSTATUS NTAPI NtQueryDirectoryObject(HANDLE DirectoryHandle, PVOID Buffer, ULONG Length,
                                               BOOLEAN ReturnSingleEntry, BOOLEAN RestartScan, PULONG Context,
                                               PULONG ReturnLength);
}
