// Character classes shared by every text-to-number and text-to-address parser.
#pragma once

#include <olma/cdefs.h>

/** Digits and letters map to their digit value (0-35); the other values mark
 *  the few bytes the parsers treat specially. */
constexpr unsigned char RTSTRNUM_CLASS_DOT = 251;
constexpr unsigned char RTSTRNUM_CLASS_BLANK = 252;
constexpr unsigned char RTSTRNUM_CLASS_COLON = 253;
constexpr unsigned char RTSTRNUM_CLASS_NUL = 254;
constexpr unsigned char RTSTRNUM_CLASS_OTHER = 255;

struct RTSTRNUMCLASSES {
    unsigned char au8[256];
};

constexpr RTSTRNUMCLASSES rtStrNumMakeClasses() {
    RTSTRNUMCLASSES Tab{};
    for (unsigned i = 0; i < 256; i++) {
        unsigned char b = RTSTRNUM_CLASS_OTHER;
        if (i >= '0' && i <= '9')
            b = (unsigned char)(i - '0');
        else if (i >= 'A' && i <= 'Z')
            b = (unsigned char)(i - 'A' + 10);
        else if (i >= 'a' && i <= 'z')
            b = (unsigned char)(i - 'a' + 10);
        else if (i == '.')
            b = RTSTRNUM_CLASS_DOT;
        else if (i == ' ' || i == '\t')
            b = RTSTRNUM_CLASS_BLANK;
        else if (i == ':')
            b = RTSTRNUM_CLASS_COLON;
        else if (i == 0)
            b = RTSTRNUM_CLASS_NUL;
        Tab.au8[i] = b;
    }
    return Tab;
}

inline constexpr RTSTRNUMCLASSES g_rtStrNumClasses = rtStrNumMakeClasses();

inline unsigned rtStrNumClass(char ch) {
    return g_rtStrNumClasses.au8[(unsigned char)ch];
}
inline bool rtStrIsBlankOrTab(char ch) {
    return ch == ' ' || ch == '\t';
}
