// Fuzz target: the number, address and identifier parsers. The parsers never read past
// their bound; a whole-string signed or unsigned success prints back to a string that
// parses to the same value; the narrowing wrappers agree with the 64-bit parser.
#include <olma/string.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb < 2)
        return 0;
    // First byte: base (0-36), second: bound; the text is copied into an exact-size
    // buffer without terminator when the bound is set, so a read past the bound is seen.
    const unsigned uBase = pb[0] % 40;
    const unsigned cchBound = pb[1];
    const std::string strText((const char *)pb + 2, strnlen((const char *)pb + 2, cb - 2));
    const unsigned uBaseAndMax = uBase | (cchBound << 8);

    std::vector<char> abBounded(strText.begin(), strText.end());
    if (cchBound == 0 || cchBound > abBounded.size())
        abBounded.push_back('\0');
    else
        abBounded.resize(cchBound);
    char *pszNext = nullptr;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    const int rcI64 = RTStrToInt64Ex(abBounded.data(), &pszNext, uBaseAndMax, &i64);
    if (pszNext < abBounded.data() || pszNext > abBounded.data() + abBounded.size())
        abort();
    const int rcU64 = RTStrToUInt64Ex(abBounded.data(), &pszNext, uBaseAndMax, &u64);
    if (RT_SUCCESS(rcI64) != RT_SUCCESS(rcU64))
        abort();
    uint32_t u32 = 0;
    uint8_t u8 = 0;
    const int rcU32 = RTStrToUInt32Ex(abBounded.data(), nullptr, uBaseAndMax, &u32);
    const int rcU8 = RTStrToUInt8Ex(abBounded.data(), nullptr, uBaseAndMax, &u8);
    if (RT_SUCCESS(rcU32) != RT_SUCCESS(rcU64) || RT_SUCCESS(rcU8) != RT_SUCCESS(rcU64))
        abort();
    if (RT_SUCCESS(rcU64) && (u32 != (uint32_t)u64 || u8 != (uint8_t)u64))
        abort();

    const char *psz = strText.c_str();
    if (RTStrToInt64Full(psz, uBase, &i64) == 0) {
        char szBack[32];
        snprintf(szBack, sizeof(szBack), "%" PRId64, i64);
        int64_t i64Back = 0;
        if (RTStrToInt64Full(szBack, 10, &i64Back) != 0 || i64Back != i64)
            abort();
    }
    if (RTStrToUInt64Full(psz, uBase, &u64) == 0) {
        char szBack[32];
        snprintf(szBack, sizeof(szBack), "%#" PRIx64, u64);
        uint64_t u64Back = 0;
        if (RTStrToUInt64Full(szBack, 0, &u64Back) != 0 || u64Back != u64)
            abort();
    }
    int32_t i32;
    int16_t i16;
    int8_t i8;
    uint16_t u16;
    (void)RTStrToInt32Full(psz, uBase, &i32);
    (void)RTStrToInt16Full(psz, uBase, &i16);
    (void)RTStrToInt8Full(psz, uBase, &i8);
    (void)RTStrToUInt32Full(psz, uBase, &u32);
    (void)RTStrToUInt16Full(psz, uBase, &u16);
    (void)RTStrToUInt8Full(psz, uBase, &u8);
    (void)RTStrToInt32(psz);

    RTNETADDRIPV4 Addr, Mask;
    char *pszEnd = nullptr;
    (void)RTNetStrToIPv4AddrEx(psz, &Addr, &pszEnd);
    (void)RTNetStrToIPv4Addr(psz, &Addr);
    (void)RTNetStrToIPv4Cidr(psz, &Addr, &Mask);
    RTMAC Mac;
    (void)RTNetStrToMacAddr(psz, &Mac);
    uint8_t abHex[16];
    (void)RTStrConvertHexBytes(psz, abHex, pb[0] % 17, pb[1] & RTSTRCONVERTHEXBYTES_F_SEP_COLON);
    RTUUID Uuid;
    (void)RTUuidFromStr(&Uuid, psz);
    return 0;
}
