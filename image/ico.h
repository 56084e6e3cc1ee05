// Icon files (.ico) read strictly, and the icon group resource that a Windows program carries
// for one. Pure code: bytes in, bytes out, every length compared with what remains.
//
// An icon file (all integers little-endian):
//
//   header (6 bytes):   reserved u16 (0), type u16 (1: icon; 2 would be a cursor), count u16
//   entry (16 bytes):   width u8, height u8 (0: 256 or more), colorCount u8, reserved u8,
//                       planes u16, bitCount u16, bytes u32, offset u32 (from the file's start)
//   images:             each a PNG stream or a bitmap (BITMAPINFOHEADER, palette, the colour
//                       rows, then the 1-bit mask rows), together filling the rest of the file
//
// A program stores the images as RT_ICON resources, each under an id of its own, and an
// RT_GROUP_ICON resource that lists them: the same header, then 14-byte entries whose last
// field is the RT_ICON id (u16) in place of the offset.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace winqor {

inline constexpr uint32_t kRtIcon = 3;
inline constexpr uint32_t kRtGroupIcon = 14;
// The icon group that Explorer and the window show for winqor.exe (IDR_MAINFRAME).
inline constexpr uint32_t kProgramIconGroupId = 128;
// More images than any icon needs; a file listing more is refused.
inline constexpr size_t kMaxIconImages = 256;

// One image of an icon file: what the program's icon group says of it, and its bytes.
struct IconImage {
    uint8_t width = 0;  // 0: 256 or more
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::span<const uint8_t> data;  // a view of the file's bytes: PNG or a bitmap
};

// The images of an icon file, in its order. false, with reason set, when the file is no icon
// file or does not hold together: cut short, no images or more than kMaxIconImages, an image
// outside the file or over another or the directory, bytes that belong to no image, a PNG
// image that is not a whole PNG stream (signature, chunk lengths and checksums, IHDR first,
// IDAT, IEND last), a bitmap whose rows and mask do not fill exactly its bytes, or an image
// whose size is not the one its entry gives.
bool ParseIcoFile(std::span<const uint8_t> file, std::vector<IconImage>& images,
                  std::string& reason);

// The RT_GROUP_ICON resource for images stored as RT_ICON resources under ids (one each).
std::vector<uint8_t> BuildIconGroup(std::span<const IconImage> images,
                                    std::span<const uint16_t> ids);

// The RT_ICON ids that an RT_GROUP_ICON resource lists; false when its bytes are no icon
// group (then ids is empty).
bool ReadIconGroupIds(std::span<const uint8_t> group, std::vector<uint32_t>& ids);

}  // namespace winqor
