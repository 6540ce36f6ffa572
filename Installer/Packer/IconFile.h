// Icon files (.ico) and the icon group resource that lists an executable's icon images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/** One image of an icon file. */
struct IconImage {
    /** Width, height, colour count, reserved, planes, bit count, byte count: the
     *  directory entry's first 12 bytes, which the group entry repeats. */
    uint8_t abEntry[12];
    std::vector<uint8_t> Data;
};

/** Splits an icon file into its images; ERR_INVALID_PARAMETER with the reason when it
 *  is not an icon file. */
int ReadIconFile(const std::vector<uint8_t> &File, std::vector<IconImage> *pImages, std::string *pstrWhy);
/** The group resource for the images, which are stored as icon resources with these
 *  identifiers. */
std::vector<uint8_t> MakeIconGroup(const std::vector<IconImage> &Images, const std::vector<uint16_t> &Ids);
/** The icon identifiers a group resource refers to; false when the record is damaged. */
bool ReadIconGroup(const std::vector<uint8_t> &Group, std::vector<uint16_t> *pIds);
