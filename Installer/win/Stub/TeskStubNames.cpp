// The rules for a package's file name, checked by the packer before it writes a header
// and by the installer before it joins a header's name to its extraction directory.
#include <olma/path.h>
#include <olma/string.h>
#include "TeskStubContainer.h"
#include "common/string/internal-str.h"

namespace {

bool isAsciiLetterIgnoringCase(char ch, char chUpper) {
    return ch == chUpper || ch == chUpper + ('a' - 'A');
}

/** Length of a COM or LPT port number at pch: one digit, or one of the superscript
 *  digits one to three (which Windows also maps to the ports); 0 when there is none. */
size_t portNumberLength(const char *pch, size_t cch) {
    if (cch >= 1 && pch[0] >= '0' && pch[0] <= '9')
        return 1;
    // U+00B9, U+00B2, U+00B3 in UTF-8.
    if (cch >= 2 && (uint8_t)pch[0] == 0xc2 &&
        ((uint8_t)pch[1] == 0xb9 || (uint8_t)pch[1] == 0xb2 || (uint8_t)pch[1] == 0xb3))
        return 2;
    return 0;
}

/** Windows opens a device for these base names whatever suffix follows (and ignores
 *  blanks before the suffix): "nul.msi" and "COM1 .cab" are devices, not files. */
bool isReservedDeviceName(const char *pszName) {
    size_t cchBase = 0;
    while (pszName[cchBase] && pszName[cchBase] != '.')
        cchBase++;
    while (cchBase > 0 && pszName[cchBase - 1] == ' ')
        cchBase--;
    if (cchBase < 3)
        return false;
    static const char s_aszDevices[][4] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *pszDevice : s_aszDevices)
        if (cchBase == 3 && isAsciiLetterIgnoringCase(pszName[0], pszDevice[0]) &&
            isAsciiLetterIgnoringCase(pszName[1], pszDevice[1]) && isAsciiLetterIgnoringCase(pszName[2], pszDevice[2]))
            return true;
    static const char s_aszPorts[][4] = {"COM", "LPT"};
    for (const char *pszPort : s_aszPorts)
        if (isAsciiLetterIgnoringCase(pszName[0], pszPort[0]) && isAsciiLetterIgnoringCase(pszName[1], pszPort[1]) &&
            isAsciiLetterIgnoringCase(pszName[2], pszPort[2])) {
            const size_t cchNumber = portNumberLength(pszName + 3, cchBase - 3);
            if (cchNumber != 0 && 3 + cchNumber == cchBase)
                return true;
        }
    return false;
}

} // namespace

static_assert(sizeof(PackageHeader::fileName) == 224, "the fault text names the field's capacity");

PackageNameFault CheckPackageFileName(const char *pszName, size_t cbField) {
    const size_t cchName = rtStrNLen(pszName, cbField);
    if (cchName == 0)
        return PackageNameFault::Empty;
    if (cchName >= cbField)
        return PackageNameFault::TooLong;
    if (RT_FAILURE(RTStrValidateEncodingEx(pszName, cchName, 0)))
        return PackageNameFault::BadEncoding;
    for (size_t off = 0; off < cchName; off++) {
        const uint8_t ch = (uint8_t)pszName[off];
        if (ch < 0x20 || ch == 0x7f || ch == '\\' || ch == '/' || ch == ':' || ch == '*' || ch == '?' || ch == '"' ||
            ch == '<' || ch == '>' || ch == '|')
            return PackageNameFault::BadCharacter;
    }
    if ((cchName == 1 && pszName[0] == '.') || (cchName == 2 && pszName[0] == '.' && pszName[1] == '.'))
        return PackageNameFault::DotName;
    if (pszName[cchName - 1] == '.' || pszName[cchName - 1] == ' ')
        return PackageNameFault::TrailingDotOrBlank;
    if (isReservedDeviceName(pszName))
        return PackageNameFault::ReservedDevice;
    // The same suffix test the run sequence uses to decide how a package is handled.
    const char *pszSuffix = RTPathSuffix(pszName);
    if (!pszSuffix || (RTStrICmpAscii(pszSuffix, ".msi") != 0 && RTStrICmpAscii(pszSuffix, ".cab") != 0))
        return PackageNameFault::BadSuffix;
    return PackageNameFault::None;
}

const char *PackageNameFaultText(PackageNameFault enmFault) {
    switch (enmFault) {
    case PackageNameFault::None:
        return "is a valid package file name";
    case PackageNameFault::Empty:
        return "is empty";
    case PackageNameFault::TooLong:
        return "is longer than the 223 bytes a package header holds";
    case PackageNameFault::BadEncoding:
        return "is not valid UTF-8";
    case PackageNameFault::BadCharacter:
        return "contains a character that file names must not contain (\\ / : * ? \" < > | or a control character)";
    case PackageNameFault::DotName:
        return "is '.' or '..'";
    case PackageNameFault::TrailingDotOrBlank:
        return "ends in a dot or a blank";
    case PackageNameFault::ReservedDevice:
        return "is a reserved device name";
    case PackageNameFault::BadSuffix:
        return "does not end in \".msi\" or \".cab\"";
    }
    return "is not a valid package file name";
}
