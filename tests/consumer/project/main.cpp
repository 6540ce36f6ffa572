// A program outside the project that uses the installed runtime package.
#include <cstdio>
#include <olma/err.h>
#include <olma/string.h>

int main() {
    std::printf("olma consumer: ERR_FILE_NOT_FOUND=%d\n", RTErrConvertFromWinError(2));
    return 0;
}
