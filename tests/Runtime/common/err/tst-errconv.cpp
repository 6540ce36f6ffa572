#include <gtest/gtest.h>
#include <olma/err.h>

TEST(ErrConvert, WinErrorTable) {
    struct Case {
        uint32_t uWin;
        int rc;
    };
    const Case aCases[] = {
        {0, 0},
        {1, ERR_INVALID_INFO_CLASS},
        {2, ERR_FILE_NOT_FOUND},
        {5, ERR_ACCESS_DENIED},
        {32, ERR_SHARING_VIOLATION},
        {1224, ERR_SHARING_VIOLATION},
        {53, ERR_NET_HOST_NOT_FOUND},
        {67, ERR_NET_PATH_NOT_FOUND},
        {112, ERR_DISK_FULL},
        {122, ERR_BUFFER_OVERFLOW},
        {258, ERR_TIMEOUT},
        {1314, ERR_PRIVILEGE_NOT_HELD},
        {0xc000042cU, ERR_PRIVILEGE_NOT_HELD},
        {0x80090008U, ERR_CRYPT_UNSUPPORTED_ALGORITHM},
        {10036, -436},
        {10059, -459},
        {10061, -461},
        {10064, -464},
        {10065, -465},
        // Socket errors outside the linear ranges come from the table.
        {10060, ERR_TIMEOUT},
        {10062, ERR_TOO_MANY_SYMLINKS},
        {10063, ERR_FILENAME_TOO_LONG},
        {10013, ERR_ACCESS_DENIED},
        {10035, ERR_TRY_AGAIN},
        {11004, ERR_NET_ADDRESS_NOT_AVAILABLE},
        {10106, ERR_NET_PROVIDER_INIT_FAILED},
        {9999, ERR_UNMAPPED_OS_ERROR},
        {28, ERR_UNMAPPED_OS_ERROR},
        {0xffffffffU, ERR_UNMAPPED_OS_ERROR},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.uWin);
        EXPECT_EQ(RTErrConvertFromWinError(c.uWin), c.rc);
    }
}

TEST(ErrConvert, NtStatusTable) {
    struct Case {
        uint32_t uNt;
        int rc;
    };
    const Case aCases[] = {
        {0, 0},
        {0xc0, ERR_INTERRUPTED},
        {0x101, ERR_INTERRUPTED},
        {0xc0000005U, ERR_INVALID_POINTER},
        {0x8000001aU, ERR_NO_MORE_FILES},
        {0xc000000dU, ERR_INVALID_PARAMETER},
        {0xc00000efU, ERR_INVALID_PARAMETER},
        {0xc00000faU, ERR_INVALID_PARAMETER},
        {0xc00000fbU, ERR_UNMAPPED_OS_ERROR},
        {0xc0000034U, ERR_FILE_NOT_FOUND},
        {0xc000003aU, ERR_PATH_NOT_FOUND},
        {0xc0000043U, ERR_SHARING_VIOLATION},
        // The Windows error for the same condition maps to ERR_NET_HOST_NOT_FOUND.
        {0xc00000beU, ERR_NET_PATH_NOT_FOUND},
        {0xc0000190U, ERR_TRUST_FAILURE},
        {0xc0000280U, ERR_TOO_MANY_SYMLINKS},
        {0xc0000428U, ERR_IMAGE_HASH_INVALID},
        {0xc0000001U, ERR_UNMAPPED_OS_ERROR},
        {1, ERR_UNMAPPED_OS_ERROR},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.uNt);
        EXPECT_EQ(RTErrConvertFromNtStatus((int32_t)c.uNt), c.rc);
    }
}

TEST(ErrCodes, ListIsSortedAndWithinSixteenBits) {
    struct Entry {
        const char *pszName;
        int iValue;
    };
    static const Entry s_aEntries[] = {
#define OLMA_ERR(name, value, msg) {#name, value},
#include <olma/err-list.h>
#undef OLMA_ERR
    };
    for (size_t i = 0; i < RT_ELEMENTS(s_aEntries); i++) {
        SCOPED_TRACE(s_aEntries[i].pszName);
        EXPECT_GE(s_aEntries[i].iValue, INT16_MIN);
        EXPECT_LE(s_aEntries[i].iValue, INT16_MAX);
        if (i > 0)
            EXPECT_LT(s_aEntries[i - 1].iValue, s_aEntries[i].iValue);
    }
    EXPECT_EQ(ERR_INVALID_PARAMETER, -2);
    EXPECT_EQ(ERR_TRUST_FAILURE, -3775);
    EXPECT_EQ(INF_LOG_NO_LOGGER, 22302);
}
