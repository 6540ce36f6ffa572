// Test helpers for the text functions: exact-size heap copies (so that AddressSanitizer
// sees any read past a bound) and the allocation-failure walk.
#pragma once

#include <gtest/gtest.h>
#include <olma/mem.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

/** A heap block holding exactly the given bytes, without a terminator unless included. */
template <typename T> class ExactBuffer {
public:
    explicit ExactBuffer(const std::basic_string<T> &str) : m_c(str.size()), m_p(new T[str.size()]) {
        if (m_c)
            std::memcpy(m_p.get(), str.data(), m_c * sizeof(T));
    }
    T *get() const { return m_p.get(); }
    size_t size() const { return m_c; }

private:
    size_t m_c;
    std::unique_ptr<T[]> m_p;
};

/**
 * Fails the n-th allocation of fn for n = 1, 2, ...: the n-th attempt must give
 * aExpected[n - 1] and leave no block behind, and the attempt after the last entry
 * must succeed (fn releases whatever it got before returning 0). The table thereby
 * also pins the number of allocations the operation makes.
 */
template <typename Fn> void ExpectEachAllocationFailure(Fn fn, const std::vector<int> &aExpected) {
    const size_t cBefore = RTMemTestOutstanding();
    uint32_t n = 1;
    for (int rcExpected : aExpected) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        RTMemTestFailNth(n);
        const int rc = fn();
        RTMemTestFailNth(0);
        EXPECT_EQ(rc, rcExpected);
        EXPECT_EQ(RTMemTestOutstanding(), cBefore);
        n++;
    }
    SCOPED_TRACE(testing::Message() << "failing allocation " << n << " (one past the last)");
    RTMemTestFailNth(n);
    const int rc = fn();
    RTMemTestFailNth(0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(RTMemTestOutstanding(), cBefore);
}

/** Bytes written as a hexadecimal list, for traces. */
inline std::string HexBytes(const std::string &str) {
    std::string strOut;
    static const char s_szHex[] = "0123456789abcdef";
    for (unsigned char uch : str) {
        if (!strOut.empty())
            strOut += ' ';
        strOut += s_szHex[uch >> 4];
        strOut += s_szHex[uch & 15];
    }
    return strOut;
}
