// The raw writers render their numbers themselves; what reaches standard error is
// checked byte for byte. The rendering is the same on every host; only here can the
// captured stream be read back without a text-mode translation of "\r\n".
#include <gtest/gtest.h>
#include <climits>
#include <functional>
#include <string>
#include "common/compiler/internal-startup.h"

namespace {

std::string pointerDigits(const char *pszDigits) {
    // Pointers always show every digit of the build's pointer width.
    const std::string str(pszDigits);
    return std::string(sizeof(void *) * 2 - str.size(), '0') + str;
}

TEST(RawWrite, NumbersStatusesAndBadStrings) {
    struct Case {
        const char *pszName;
        std::function<void()> pfnWrite;
        std::string strExpected;
    };
    const Case aCases[] = {
        {"negative status", [] { rtRawWriteStatus("rc=", -12345); }, "rc=-12345\r\n"},
        {"positive status", [] { rtRawWriteStatus("rc=", 55); }, "rc=55\r\n"},
        {"zero status", [] { rtRawWriteStatus("", 0); }, "0\r\n"},
        {"smallest status", [] { rtRawWriteStatus("", INT_MIN); }, "-2147483648\r\n"},
        {"decimal and hex", [] { rtRawWriteNumberDecHex(255); }, "255 (0xff)"},
        {"decimal and hex of 0", [] { rtRawWriteNumberDecHex(0); }, "0 (0x0)"},
        {"largest hex", [] { rtRawWriteHex(UINT64_MAX); }, "ffffffffffffffff"},
        {"pointer", [] { rtRawWritePointer((const void *)(uintptr_t)0x1234); }, pointerDigits("1234")},
        {"null string", [] { rtRawWriteString(nullptr); }, "<pszString=" + pointerDigits("0") + ">"},
        {"string", [] { rtRawWriteString("plain"); }, "plain"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszName);
        testing::internal::CaptureStderr();
        c.pfnWrite();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.strExpected);
    }
}

} // namespace
