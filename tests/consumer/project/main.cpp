// A program outside the project that uses the installed runtime package.
#include <cstdio>
#include <olma/err.h>
#include <olma/string.h>

int main() {
    size_t cwc = 0;
    const int rc = RTStrCalcUtf16LenEx("h\xc3\xa9llo", RTSTR_MAX, &cwc);
    if (RT_FAILURE(rc))
        return 1;
    std::printf("olma consumer: ERR_FILE_NOT_FOUND=%d utf16 units=%zu\n", RTErrConvertFromWinError(2), cwc);
    return 0;
}
