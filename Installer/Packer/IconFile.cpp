// Icon files and icon group records: both start with the same 6-byte header; a file's
// entries locate the images by offset, a group's name them by resource identifier.
#include "IconFile.h"
#include "PackIo.h"
#include <cstring>

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr uint16_t kTypeIcon = 1;

bool isIconHeader(const std::vector<uint8_t> &Bytes, size_t cbEntry, uint16_t *pcEntries) {
    if (Bytes.size() < kHeaderSize || getU16(&Bytes[0]) != 0 || getU16(&Bytes[2]) != kTypeIcon)
        return false;
    *pcEntries = getU16(&Bytes[4]);
    return *pcEntries != 0 && Bytes.size() >= kHeaderSize + cbEntry * *pcEntries;
}

/** An image is a PNG stream or a device-independent bitmap (its header is 40 bytes). */
bool isIconImage(const uint8_t *pb, size_t cb) {
    static const uint8_t s_abPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return (cb >= sizeof(s_abPng) && memcmp(pb, s_abPng, sizeof(s_abPng)) == 0) || (cb >= 40 && getU32(pb) == 40);
}

} // namespace

int ReadIconFile(const std::vector<uint8_t> &File, std::vector<IconImage> *pImages, std::string *pstrWhy) {
    uint16_t cEntries = 0;
    if (!isIconHeader(File, kFileEntrySize, &cEntries)) {
        *pstrWhy = "is not an icon file";
        return ERR_INVALID_PARAMETER;
    }
    std::vector<IconImage> Images;
    for (uint16_t i = 0; i < cEntries; i++) {
        const uint8_t *pbEntry = &File[kHeaderSize + i * kFileEntrySize];
        const uint32_t cbImage = getU32(pbEntry + 8);
        const uint32_t offImage = getU32(pbEntry + 12);
        if (offImage > File.size() || cbImage > File.size() - offImage || !isIconImage(&File[offImage], cbImage)) {
            *pstrWhy = strFormat("is not an icon file (image %u is damaged)", i);
            return ERR_INVALID_PARAMETER;
        }
        IconImage Image;
        memcpy(Image.abEntry, pbEntry, sizeof(Image.abEntry));
        Image.Data.assign(File.begin() + offImage, File.begin() + offImage + cbImage);
        Images.push_back(std::move(Image));
    }
    *pImages = std::move(Images);
    return 0;
}

std::vector<uint8_t> MakeIconGroup(const std::vector<IconImage> &Images, const std::vector<uint16_t> &Ids) {
    std::vector<uint8_t> Group(kHeaderSize + kGroupEntrySize * Images.size());
    putU16(&Group[2], kTypeIcon);
    putU16(&Group[4], (uint16_t)Images.size());
    for (size_t i = 0; i < Images.size(); i++) {
        uint8_t *pbEntry = &Group[kHeaderSize + i * kGroupEntrySize];
        memcpy(pbEntry, Images[i].abEntry, sizeof(Images[i].abEntry));
        putU16(pbEntry + 12, Ids[i]);
    }
    return Group;
}

bool ReadIconGroup(const std::vector<uint8_t> &Group, std::vector<uint16_t> *pIds) {
    uint16_t cEntries = 0;
    if (!isIconHeader(Group, kGroupEntrySize, &cEntries))
        return false;
    pIds->clear();
    for (uint16_t i = 0; i < cEntries; i++)
        pIds->push_back(getU16(&Group[kHeaderSize + i * kGroupEntrySize + 12]));
    return true;
}
