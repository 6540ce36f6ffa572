// The package file-name rules shared by the packer and the installer: every fault on
// a table of names, the field bound, and the names that pass.
#include <gtest/gtest.h>
#include <string>
#include "TeskStubContainer.h"

TEST(PackageFileName, Faults) {
    struct Case {
        std::string strName;
        PackageNameFault enmFault;
    };
    const Case aCases[] = {
        {"product.msi", PackageNameFault::None},
        {"Data1.CAB", PackageNameFault::None},
        {"with space and.dots.msi", PackageNameFault::None},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.msi", PackageNameFault::None},
        {" leading blank.msi", PackageNameFault::None},
        {"CONSOLE.msi", PackageNameFault::None}, // only the exact base names are devices
        {"COM10.msi", PackageNameFault::None},
        {"LPT.msi", PackageNameFault::None},
        {"", PackageNameFault::Empty},
        {std::string(224, 'a'), PackageNameFault::TooLong},
        {"bad\xff.msi", PackageNameFault::BadEncoding},
        {"\xed\xa0\x80.msi", PackageNameFault::BadEncoding}, // an encoded surrogate
        {"dir/p.msi", PackageNameFault::BadCharacter},
        {"dir\\p.msi", PackageNameFault::BadCharacter},
        {"C:p.msi", PackageNameFault::BadCharacter},
        {"p*.msi", PackageNameFault::BadCharacter},
        {"p?.msi", PackageNameFault::BadCharacter},
        {"\"p\".msi", PackageNameFault::BadCharacter},
        {"<p>.msi", PackageNameFault::BadCharacter},
        {"a|b.msi", PackageNameFault::BadCharacter},
        {"tab\t.msi", PackageNameFault::BadCharacter},
        {"del\x7f.msi", PackageNameFault::BadCharacter},
        {".", PackageNameFault::DotName},
        {"..", PackageNameFault::DotName},
        {"p.msi.", PackageNameFault::TrailingDotOrBlank},
        {"p.msi ", PackageNameFault::TrailingDotOrBlank},
        {"...", PackageNameFault::TrailingDotOrBlank},
        {"CON.msi", PackageNameFault::ReservedDevice},
        {"con.msi", PackageNameFault::ReservedDevice},
        {"Prn.cab", PackageNameFault::ReservedDevice},
        {"aux.tar.msi", PackageNameFault::ReservedDevice},
        {"NUL .msi", PackageNameFault::ReservedDevice},
        {"COM1.msi", PackageNameFault::ReservedDevice},
        {"com9.cab", PackageNameFault::ReservedDevice},
        {"LPT0.msi", PackageNameFault::ReservedDevice},
        {"lpt\xc2\xb9.msi", PackageNameFault::ReservedDevice},
        {"COM\xc2\xb3.msi", PackageNameFault::ReservedDevice},
        {"p.exe", PackageNameFault::BadSuffix},
        {"p.msix", PackageNameFault::BadSuffix},
        {"p", PackageNameFault::BadSuffix},
        {".msi", PackageNameFault::BadSuffix}, // a leading dot starts no suffix
        {"p.msi.bak", PackageNameFault::BadSuffix},
        {"CON", PackageNameFault::ReservedDevice},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.strName);
        EXPECT_EQ(CheckPackageFileName(c.strName.c_str(), 224), c.enmFault);
    }
}

TEST(PackageFileName, FieldBound) {
    // 223 bytes and the terminator fill the header field exactly.
    const std::string strLongest = std::string(219, 'n') + ".msi";
    EXPECT_EQ(CheckPackageFileName(strLongest.c_str(), 224), PackageNameFault::None);
    EXPECT_EQ(CheckPackageFileName(("n" + strLongest).c_str(), 224), PackageNameFault::TooLong);
    // A field without a terminator is read no further than its size.
    char achField[8] = {'a', 'b', 'c', '.', 'm', 's', 'i', 'x'};
    EXPECT_EQ(CheckPackageFileName(achField, sizeof(achField)), PackageNameFault::TooLong);
    achField[7] = '\0';
    EXPECT_EQ(CheckPackageFileName(achField, sizeof(achField)), PackageNameFault::None);
    EXPECT_STREQ(PackageNameFaultText(PackageNameFault::TooLong),
                 "is longer than the 223 bytes a package header holds");
}
