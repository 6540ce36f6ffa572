// Test helper: the process-wide generator replaced by one the test controls, and the
// names a seeded generator makes of a 24-character template, so that a test knows in
// advance which name the runtime will try.
#pragma once

#include <gtest/gtest.h>
#include <olma/rand.h>

#include "common/rand/internal-rand.h"

#include <string>

/** Characters of unique names, in the order the draws index them. */
inline const char g_szAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";

/** Installs a generator as the process-wide one for a scope. */
struct ProcessRandScope {
    RTRAND hOld;
    explicit ProcessRandScope(RTRAND hNew) { hOld = rtRandTestSwapProcessGenerator(hNew); }
    ~ProcessRandScope() { rtRandTestSwapProcessGenerator(hOld); }
};

/** The 24 characters a Park-Miller generator with the seed writes into a template,
 *  after skipping cSkip draws; the run is filled from its end. */
inline std::string expectedName(uint64_t uSeed, unsigned cSkip) {
    RTRAND h = NIL_RTRAND;
    EXPECT_EQ(RTRandCreateParkMiller(&h), 0);
    EXPECT_EQ(RTRandSeed(h, uSeed), 0);
    for (unsigned i = 0; i < cSkip; i++)
        (void)RTRandGetU32Ex(h, 0, 35);
    std::string str(24, '?');
    for (size_t i = 24; i-- > 0;)
        str[i] = g_szAlphabet[RTRandGetU32Ex(h, 0, 35)];
    RTRandDestroy(h);
    return str;
}
