// Windows backend: what the NT-level file, information and query code shares.
#pragma once

#include "r3/win/internal-win.h"

#include <olma/fs.h>

// NT statuses the file code tells apart (ntstatus.h cannot be included next to windows.h).
constexpr NTSTATUS kNtStatusBufferOverflow = (NTSTATUS)0x80000005;
constexpr NTSTATUS kNtStatusNoMoreFiles = (NTSTATUS)0x80000006;
constexpr NTSTATUS kNtStatusNoMoreEntries = (NTSTATUS)0x8000001a;
constexpr NTSTATUS kNtStatusNotImplemented = (NTSTATUS)0xc0000002;
constexpr NTSTATUS kNtStatusInvalidInfoClass = (NTSTATUS)0xc0000003;
constexpr NTSTATUS kNtStatusInvalidParameter = (NTSTATUS)0xc000000d;
constexpr NTSTATUS kNtStatusNoSuchFile = (NTSTATUS)0xc000000f;
constexpr NTSTATUS kNtStatusAccessDenied = (NTSTATUS)0xc0000022;
constexpr NTSTATUS kNtStatusObjectTypeMismatch = (NTSTATUS)0xc0000024;
constexpr NTSTATUS kNtStatusObjectNameInvalid = (NTSTATUS)0xc0000033;
constexpr NTSTATUS kNtStatusSharingViolation = (NTSTATUS)0xc0000043;
constexpr NTSTATUS kNtStatusBadDeviceType = (NTSTATUS)0xc00000cb;
constexpr NTSTATUS kNtStatusInvalidParameterMix = (NTSTATUS)0xc00000f7;

constexpr ULONG kNtFileAllInformation = 18;
constexpr ULONG kNtFileBasicInformation = 4;
constexpr ULONG kNtFileDispositionInformation = 13;
constexpr ULONG kNtFileAttributeTagInformation = 35;
constexpr ULONG kNtFileBothDirectoryInformation = 3;
constexpr ULONG kNtFileIdBothDirectoryInformation = 37;
constexpr ULONG kNtFileFsVolumeInformation = 1;
constexpr ULONG kNtFileFsAttributeInformation = 5;

/** The size asked of the all-information query: the fixed part and the start of the name. */
constexpr ULONG kNtAllInfoQuerySize = 104;

/** I/O status blocks start out with values no call returns, so that a call that leaves
 *  the block alone is noticed. */
inline void rtNtIosPreset(IO_STATUS_BLOCK *pIos) {
    pIos->Status = (NTSTATUS)0xc0000365;
    pIos->Information = ~(ULONG_PTR)42;
}

/** The volume serial number behind a handle, 0 when it cannot be had. */
uint32_t rtFsNtVolumeSerial(HANDLE hHandle);
/** Fills the record from an all-information answer; for FSOBJ_ADD_UNIX hHandle gives
 *  the volume serial number. */
void rtFsNtObjInfoFromAll(FsObjInfo *pObjInfo, const FILE_ALL_INFORMATION *pAll, const char *pszName,
                          uint32_t uReparseTag, uint32_t enmAdditionalKind, HANDLE hHandle);
/** The additional block of a record that is otherwise zero; ERR_INTERNAL_ERROR for an
 *  unknown kind. */
int rtFsNtFillZeroedAdditional(FsObjInfo *pObjInfo, uint32_t enmAdditionalKind);

/** The directory-listing step of the path query on its own, which otherwise only runs
 *  for objects that cannot be opened. ERR_OBJECT_TYPE_MISMATCH: the parent is no directory. */
[[nodiscard]] int rtPathNtQueryByParentListing(const char *pszPath, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind);
