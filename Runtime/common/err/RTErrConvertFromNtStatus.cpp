// NT status values to status codes. Pure table code, compiled on every host.
#include <olma/err.h>

int RTErrConvertFromNtStatus(int32_t lNativeStatus) {
    const uint32_t u = (uint32_t)lNativeStatus;
    if (u >= 0xc00000efU && u <= 0xc00000faU) // STATUS_INVALID_PARAMETER_1 .. _12
        return ERR_INVALID_PARAMETER;
    switch (u) {
    case 0x00000000U:
        return 0;
    case 0x000000c0U:
    case 0x00000101U:
        return ERR_INTERRUPTED;
    case 0x80000002U:
    case 0xc0000005U:
        return ERR_INVALID_POINTER;
    case 0x80000006U:
    case 0x8000001aU:
        return ERR_NO_MORE_FILES;
    case 0xc0000003U:
        return ERR_INVALID_INFO_CLASS;
    case 0xc0000008U:
        return ERR_INVALID_HANDLE;
    case 0xc000000dU:
        return ERR_INVALID_PARAMETER;
    case 0xc000000eU:
    case 0xc000000fU:
    case 0xc0000034U:
        return ERR_FILE_NOT_FOUND;
    case 0xc0000010U:
        return ERR_INVALID_DEVICE_REQUEST;
    case 0xc0000013U:
        return ERR_MEDIA_NOT_PRESENT;
    case 0xc0000017U:
        return ERR_NO_MEMORY;
    case 0xc0000022U:
        return ERR_ACCESS_DENIED;
    case 0xc0000024U:
        return ERR_OBJECT_TYPE_MISMATCH;
    case 0xc0000033U:
    case 0xc0000039U:
    case 0xc000003bU:
        return ERR_INVALID_NAME;
    case 0xc000003aU:
        return ERR_PATH_NOT_FOUND;
    case 0xc0000043U:
        return ERR_SHARING_VIOLATION;
    case 0xc000006dU:
        return ERR_AUTHENTICATION_FAILURE;
    case 0xc00000baU:
        return ERR_IS_A_DIRECTORY;
    case 0xc00000beU:
        return ERR_NET_PATH_NOT_FOUND;
    case 0xc00000c4U:
        return ERR_NET_IO_ERROR;
    case 0xc0000101U:
        return ERR_DIR_NOT_EMPTY;
    case 0xc0000103U:
        return ERR_NOT_A_DIRECTORY;
    case 0xc0000190U:
        return ERR_TRUST_FAILURE;
    case 0xc0000280U:
        return ERR_TOO_MANY_SYMLINKS;
    case 0xc0000428U:
        return ERR_IMAGE_HASH_INVALID;
    default:
        // The release logger would be told about the unknown status here; no logger
        // instance ever exists in this system, so the report has nothing to write to.
        return ERR_UNMAPPED_OS_ERROR;
    }
}
