// Windows version classification. Kept free of platform calls so that the table can
// be checked on every build host.
#include "r3/internal-init.h"

uint32_t rtR3WinClassifyVersion(uint32_t uPlatform, uint32_t uMajor, uint32_t uMinor, uint32_t uBuild,
                                uint8_t bProductType) {
    const bool fWorkstation = bProductType == RTWIN_PRODUCT_WORKSTATION;
    if (uPlatform == RTWIN_PLATFORM_9X) {
        if (uMajor != 4)
            return 0;
        if (uMinor < 10) {
            if (uBuild == 950)
                return 1;
            if (uBuild >= 951 && uBuild <= 1080)
                return 2;
            if (uBuild > 1080)
                return 3;
            return 0;
        }
        if (uMinor == 10) {
            if (uBuild == 1998)
                return 4;
            if (uBuild >= 1999 && uBuild <= 2182)
                return 5;
            if (uBuild > 2182)
                return 6;
            return 0;
        }
        if (uMinor == 90)
            return 7;
        return 0;
    }
    if (uPlatform != RTWIN_PLATFORM_NT)
        return 0;
    switch (uMajor) {
    case 3:
        if (uMinor < 50)
            return 100;
        return uMinor == 50 ? 101 : 102;
    case 4:
        return 103;
    case 5:
        if (uMinor == 0)
            return 104;
        return uMinor == 1 ? 105 : 107;
    case 6:
        switch (uMinor) {
        case 0:
            return fWorkstation ? 108 : 109;
        case 1:
            return fWorkstation ? 110 : 111;
        case 2:
            return fWorkstation ? 112 : 113;
        case 3:
            return fWorkstation ? 114 : 115;
        case 4:
            return fWorkstation ? 116 : 117;
        default:
            return 199;
        }
    case 10:
        if (uMinor != 0)
            return 199;
        if (fWorkstation)
            return uBuild < 22000 ? 116 : 120;
        if (uBuild <= 17762)
            return 117;
        return uBuild < 20348 ? 118 : 119;
    default:
        return 199;
    }
}
