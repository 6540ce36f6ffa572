// The package container inside the installer executable: the manifest and package
// header records and the resource names, shared by the bootstrapper that reads them
// and the packer that writes them.
#pragma once

#include <cstddef>
#include <cstdint>

/** Which hosts a package applies to (the header's architecture field). */
enum class PackageArch : uint32_t {
    All = 1,
    X86 = 2,
    Amd64 = 3,
};

/** Resource "MANIFEST": how many packages the executable carries. */
struct PackageManifest {
    /** "TeskInstV1", NUL-padded; written by the packer, not checked by the reader. */
    char magic[15];
    uint8_t packageCount;
};
static_assert(sizeof(PackageManifest) == 16, "the manifest is 16 bytes");

/** Resource "HDR_nn": one package. All fields little-endian. */
struct PackageHeader {
    /** A PackageArch value; anything else never applies (except when only extracting). */
    uint32_t architecture;
    /** Name of the package's data resource, NUL-terminated ASCII ("BIN_nn"). */
    char resourceName[28];
    /** The package's file name, NUL-terminated UTF-8; its suffix decides how it is run. */
    char fileName[224];
};
static_assert(sizeof(PackageHeader) == 256, "a package header is 256 bytes");
static_assert(offsetof(PackageHeader, resourceName) == 4 && offsetof(PackageHeader, fileName) == 32,
              "package header layout");

/** Resource type of every container resource (RCDATA). */
constexpr uint16_t PACKAGE_RESOURCE_TYPE = 10;
constexpr char PACKAGE_MANIFEST_NAME[] = "MANIFEST";
constexpr char PACKAGE_MANIFEST_MAGIC[] = "TeskInstV1";
/** Formats of the per-package and per-certificate resource names (index from 0). */
constexpr char PACKAGE_HEADER_NAME_FORMAT[] = "HDR_%02d";
constexpr char PACKAGE_DATA_NAME_FORMAT[] = "BIN_%02d";
constexpr char PACKAGE_CERT_NAME_FORMAT[] = "CERT_%02d";
/** The manifest's count is one byte. */
constexpr unsigned PACKAGE_MAX_COUNT = 255;
/** Certificates "CERT_00", "CERT_01", ... are read up to the first missing one, at
 *  most this many. */
constexpr unsigned PACKAGE_MAX_CERTIFICATES = 16;

/** Why a package file name cannot be used; None when it can. */
enum class PackageNameFault {
    None = 0,
    Empty,
    /** No terminator within the header's field (longer than the field less one byte). */
    TooLong,
    BadEncoding,
    /** A path separator, wildcard, colon, quote, angle bracket, bar or control character. */
    BadCharacter,
    /** "." or "..". */
    DotName,
    /** Windows drops a trailing dot or blank, so the file would get another name. */
    TrailingDotOrBlank,
    /** CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with a suffix): a device, not a file. */
    ReservedDevice,
    /** The installer only knows how to handle ".msi" and ".cab" packages. */
    BadSuffix,
};
/**
 * Checks a package's file name before it is joined to a directory: a plain file name
 * that Windows stores under exactly that name, valid UTF-8, NUL-terminated within the
 * cbField bytes of a header field, with a ".msi" or ".cab" suffix (ASCII case ignored).
 * Reads at most cbField bytes.
 */
PackageNameFault CheckPackageFileName(const char *pszName, size_t cbField);
/** What is wrong, as the end of a sentence about the name ("is empty"). */
const char *PackageNameFaultText(PackageNameFault enmFault);
