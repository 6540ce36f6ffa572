// Fuzz target: the UTF-8 and UTF-16 decoders. The UTF-16 length computation and the
// conversion accept the same texts, a subset of what the validator accepts (which also
// takes code points beyond UTF-16), and what converts comes back as the same bytes with
// the predicted lengths; stepping through valid text meets as many code points as the
// counter says; arbitrary UTF-16 units either convert to UTF-8 and back unchanged or are
// refused by both the length computation and the conversion.
#include <olma/string.h>
#include <olma/utf16.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void checkUtf8(const std::string &str) {
    const bool fValid = RT_SUCCESS(RTStrValidateEncodingEx(str.c_str(), RTSTR_MAX, 0));
    size_t cwc = 0;
    const int rcLen = RTStrCalcUtf16LenEx(str.c_str(), RTSTR_MAX, &cwc);
    RTUTF16 *pwsz = nullptr;
    size_t cwcActual = 0;
    const int rcConv = RTStrToUtf16Ex(str.c_str(), RTSTR_MAX, &pwsz, 0, &cwcActual, "fuzz");
    if (RT_SUCCESS(rcLen) != RT_SUCCESS(rcConv) || (RT_SUCCESS(rcConv) && !fValid))
        abort();
    if (RT_SUCCESS(rcConv)) {
        if (cwc != cwcActual || RTUtf16Len(pwsz) != cwc)
            abort();
        char *psz = nullptr;
        if (RT_FAILURE(RTUtf16ToUtf8Ex(pwsz, RTSTR_MAX, &psz, 0, nullptr, "fuzz")))
            abort();
        if (strcmp(psz, str.c_str()) != 0)
            abort();
        RTStrFree(psz);
        RTUtf16Free(pwsz);
    }
    if (!fValid)
        return;
    size_t cCps = 0;
    for (const char *pszCur = str.c_str();;) {
        RTUNICP uc;
        if (RT_FAILURE(RTStrGetCpEx(&pszCur, &uc)))
            abort();
        if (!uc)
            break;
        cCps++;
    }
    if (cCps != RTStrUniLen(str.c_str()))
        abort();
}

void checkUtf16(const std::u16string &wstr) {
    size_t cch = 0;
    const int rcLen = RTUtf16CalcUtf8LenEx((const RTUTF16 *)wstr.c_str(), RTSTR_MAX, &cch);
    char *psz = nullptr;
    size_t cchActual = 0;
    const int rcConv = RTUtf16ToUtf8Ex((const RTUTF16 *)wstr.c_str(), RTSTR_MAX, &psz, 0, &cchActual, "fuzz");
    if (RT_SUCCESS(rcLen) != RT_SUCCESS(rcConv))
        abort();
    if (RT_FAILURE(rcConv))
        return;
    if (cch != cchActual || strlen(psz) != cch)
        abort();
    RTUTF16 *pwsz = nullptr;
    if (RT_FAILURE(RTStrToUtf16Ex(psz, RTSTR_MAX, &pwsz, 0, nullptr, "fuzz")))
        abort();
    if (std::u16string((const char16_t *)pwsz) != wstr.c_str())
        abort();
    RTUtf16Free(pwsz);
    RTStrFree(psz);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    const std::string str((const char *)pb, strnlen((const char *)pb, cb));
    checkUtf8(str);
    std::u16string wstr;
    for (size_t i = 0; i + 1 < cb; i += 2) {
        const char16_t wc = (char16_t)(pb[i] | (pb[i + 1] << 8));
        if (!wc)
            break;
        wstr.push_back(wc);
    }
    checkUtf16(wstr);
    return 0;
}
