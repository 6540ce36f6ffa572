// teskpack: writes installer packages and certificates into the resources of an
// already linked installer stub, and lists what a built installer carries.
#pragma once

#include "PeResources.h"
#include "TeskStubContainer.h"
#include <string>
#include <vector>

/** One --package argument. */
struct PackageInput {
    PackageArch enmArch = PackageArch::All;
    std::string strPath;
    /** The header's file name: the argument's NAME, or the file's own name. */
    std::string strName;
    /** The argument as given, for messages. */
    std::string strArgument;
};

struct PackRequest {
    std::string strStub;
    std::string strOutput;
    std::vector<PackageInput> Packages;
    std::vector<std::string> Certificates;
    /** Empty: the stub's icon stays. */
    std::string strIcon;
};

/** Parses "ARCH:PATH[=NAME]" (ARCH all, x86 or amd64, any case); false with the reason
 *  for a malformed argument. The name is checked later, with everything else. */
bool ParsePackageArgument(const char *pszArgument, PackageInput *pInput, std::string *pstrWhy);

/**
 * Checks every input, then writes the installer to a temporary file beside the output
 * and renames it over the output. Returns 0, or a failure status with a message naming
 * the input at fault in *pstrError; after a failure no output or temporary file is
 * left. Warnings (a very large 32-bit image) are added to *pWarnings.
 */
int PackInstaller(const PackRequest &Request, std::vector<std::string> *pWarnings, std::string *pstrError);

/** Describes the packages and certificates of a built installer in *pstrListing; a
 *  failure status with the message in *pstrError when they cannot be read. */
int ListInstaller(const std::string &strPath, std::string *pstrListing, std::string *pstrError);

/** One of the container's own resources (manifest, headers, package data,
 *  certificates), which a new packing replaces. */
bool IsContainerResource(const Resource &Res);

/** Writes Stub's image with exactly these resources (the container's own layout, no
 *  checks of what they are); for tools and tests that need unusual containers. */
int PeWriteWithResources(ByteSource &Stub, const PeImage &Image, std::vector<Resource> Resources, Sink &Out,
                         std::string *pstrWhy);

/** The command line; returns the exit code: 0, 1 after a failure, 2 for a syntax error. */
int TeskPackMain(int argc, char **argv);
