#include "image/ico.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/little_endian.h"

namespace winqor {
namespace {

constexpr uint64_t kHeaderBytes = 6;
constexpr uint64_t kEntryBytes = 16;
constexpr uint64_t kGroupEntryBytes = 14;
// A group's entry is an icon file's with the RT_ICON id (u16) in place of the offset.
constexpr uint64_t kGroupIdField = 12;
constexpr uint32_t kTypeIcon = 1;
constexpr uint32_t kTypeCursor = 2;

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint64_t kChunkFrame = 12;  // length, type and checksum around a chunk's data
constexpr uint32_t kIhdrBytes = 13;
constexpr uint32_t kMaxChunkBytes = 0x7FFFFFFF;

// The bitmap headers icons use: BITMAPINFOHEADER, and its V4 and V5 successors.
constexpr uint32_t kBitmapHeaderBytes[] = {40, 108, 124};
constexpr uint32_t kMaxBitmapSide = 256;
constexpr uint32_t kBiRgb = 0;

namespace entry_field {
constexpr uint64_t kWidth = 0;
constexpr uint64_t kHeight = 1;
constexpr uint64_t kColorCount = 2;
constexpr uint64_t kPlanes = 4;
constexpr uint64_t kBitCount = 6;
constexpr uint64_t kBytes = 8;
constexpr uint64_t kOffset = 12;
}  // namespace entry_field

namespace bitmap_field {
constexpr uint64_t kWidth = 4;
constexpr uint64_t kHeight = 8;
constexpr uint64_t kPlanes = 12;
constexpr uint64_t kBitCount = 14;
constexpr uint64_t kCompression = 16;
constexpr uint64_t kColorsUsed = 32;
}  // namespace bitmap_field

bool Refuse(std::string& reason, std::string why) {
    reason = std::move(why);
    return false;
}

std::string CountOfBytes(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string ImageName(size_t index) {
    return "image " + std::to_string(index + 1) + " of the icon file";
}

// An image's place in the file, as its entry claims it.
struct Placement {
    uint64_t offset = 0;
    uint64_t bytes = 0;
    size_t index = 0;
};

// The CRC-32 of PNG chunks (ISO 3309, reflected, as zlib computes it).
std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (const uint8_t byte : bytes) c = table[(c ^ byte) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t ReadBe32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool IsChunkType(const uint8_t* type) {
    return std::all_of(type, type + 4,
                       [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// Whether a side the image has is the one its entry gives: the entry's byte holds 1 to 255,
// or 0 for 256 and more.
bool SideMatches(uint32_t entrySide, uint64_t side) {
    return entrySide == 0 ? side >= 256 : side == entrySide;
}

std::string SizeMismatch(size_t index, const IconImage& image, uint64_t width, uint64_t height) {
    auto side = [](uint32_t value) { return std::to_string(value == 0 ? 256 : value); };
    return ImageName(index) + " is " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels, where its entry says " + side(image.width) + "x" + side(image.height) +
           ": the sizes do not add up";
}

// The chunks of a PNG stream, every length checked against what remains: IHDR first (its
// width and height kept), IDAT at least once, IEND last and at the image's end.
class PngReader {
  public:
    PngReader(std::span<const uint8_t> data, size_t index) : data_(data), index_(index) {}

    bool Read(std::string& reason) {
        uint64_t at = sizeof kPngSignature;
        for (bool first = true;; first = false) {
            if (kChunkFrame > data_.size() - at) return Damaged(reason, "it ends inside a chunk");
            const uint32_t length = ReadBe32(data_.data() + at);
            const uint8_t* type = data_.data() + at + 4;
            if (length > kMaxChunkBytes || length > data_.size() - at - kChunkFrame) {
                return Damaged(reason, "a chunk runs past the image's end");
            }
            if (!IsChunkType(type)) return Damaged(reason, "a chunk's type is not four letters");
            if (Crc32(data_.subspan(at + 4, 4 + uint64_t{length})) != ReadBe32(type + 4 + length)) {
                return Damaged(reason, "a chunk's checksum is wrong");
            }
            if (!Take(type, data_.subspan(at + 8, length), first, reason)) return false;
            at += kChunkFrame + length;
            if (std::memcmp(type, "IEND", 4) == 0) break;
        }
        if (at != data_.size()) {
            return Damaged(reason, CountOfBytes(data_.size() - at) + " follow its IEND chunk");
        }
        if (!sawData_) return Damaged(reason, "it has no IDAT chunk");
        return true;
    }

    uint64_t width() const { return width_; }
    uint64_t height() const { return height_; }

  private:
    bool Damaged(std::string& reason, const std::string& why) const {
        return Refuse(reason, ImageName(index_) + " is not a valid PNG image: " + why);
    }

    bool Take(const uint8_t* type, std::span<const uint8_t> body, bool first, std::string& reason) {
        const bool header = std::memcmp(type, "IHDR", 4) == 0;
        if (header != first) return Damaged(reason, "its first chunk, and only it, must be IHDR");
        if (std::memcmp(type, "IDAT", 4) == 0) sawData_ = true;
        if (std::memcmp(type, "IEND", 4) == 0 && !body.empty()) {
            return Damaged(reason, "its IEND chunk is not empty");
        }
        if (!header) return true;
        if (body.size() != kIhdrBytes) return Damaged(reason, "its IHDR chunk is not 13 bytes");
        width_ = ReadBe32(body.data());
        height_ = ReadBe32(body.data() + 4);
        if (width_ == 0 || height_ == 0 || width_ > kMaxChunkBytes || height_ > kMaxChunkBytes) {
            return Damaged(reason, "its width or height is 0 or out of range");
        }
        return true;
    }

    std::span<const uint8_t> data_;
    size_t index_;
    uint64_t width_ = 0, height_ = 0;
    bool sawData_ = false;
};

bool IsPng(std::span<const uint8_t> data) {
    return data.size() >= sizeof kPngSignature &&
           std::memcmp(data.data(), kPngSignature, sizeof kPngSignature) == 0;
}

// Starts like PNG ("\x89PNG") but is none: a damaged signature, not a bitmap.
bool StartsLikePng(std::span<const uint8_t> data) {
    return data.size() >= 4 && std::memcmp(data.data(), kPngSignature, 4) == 0;
}

bool CheckPng(size_t index, IconImage& image, std::string& reason) {
    PngReader png(image.data, index);
    if (!png.Read(reason)) return false;
    if (!SideMatches(image.width, png.width()) || !SideMatches(image.height, png.height())) {
        return Refuse(reason, SizeMismatch(index, image, png.width(), png.height()));
    }
    return true;
}

bool IsBitmapHeaderSize(uint32_t size) {
    return std::find(std::begin(kBitmapHeaderBytes), std::end(kBitmapHeaderBytes), size) !=
           std::end(kBitmapHeaderBytes);
}

bool IsBitCount(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The bytes a bitmap of an icon takes: its header, its palette, its colour rows and its mask
// rows, each row padded to 32 bits.
uint64_t BitmapBytes(uint32_t headerBytes, uint64_t width, uint64_t height, uint32_t bits,
                     uint64_t colors) {
    const uint64_t colorRow = (width * bits + 31) / 32 * 4;
    const uint64_t maskRow = (width + 31) / 32 * 4;
    return headerBytes + 4 * colors + (colorRow + maskRow) * height;
}

// A bitmap image: BITMAPINFOHEADER (or V4, V5), uncompressed, its height twice the icon's
// (the colour rows, then the mask), its palette no larger than its depth allows.
bool CheckBitmap(size_t index, IconImage& image, std::string& reason) {
    const auto data = image.data;
    const std::string name = ImageName(index);
    if (data.size() < kBitmapHeaderBytes[0] || !IsBitmapHeaderSize(ReadLe32(data.data())) ||
        ReadLe32(data.data()) > data.size()) {
        return Refuse(reason, name + " is neither a PNG image nor a bitmap");
    }
    const auto width = static_cast<int32_t>(ReadLe32(data.data() + bitmap_field::kWidth));
    const auto height = static_cast<int32_t>(ReadLe32(data.data() + bitmap_field::kHeight));
    const uint32_t bits = ReadLe16(data.data() + bitmap_field::kBitCount);
    const uint32_t colorsUsed = ReadLe32(data.data() + bitmap_field::kColorsUsed);
    if (width <= 0 || height <= 0 || height % 2 != 0 || uint32_t(width) > kMaxBitmapSide ||
        uint32_t(height) / 2 > kMaxBitmapSide) {
        return Refuse(reason, name +
                                  "'s bitmap is not 1 to 256 pixels wide and high, with "
                                  "its mask below");
    }
    if (ReadLe16(data.data() + bitmap_field::kPlanes) != 1 || !IsBitCount(bits)) {
        return Refuse(reason, name + "'s bitmap has no depth of 1, 4, 8, 16, 24 or 32 bits");
    }
    if (ReadLe32(data.data() + bitmap_field::kCompression) != kBiRgb) {
        return Refuse(reason, name + "'s bitmap is compressed, which icons are not");
    }
    const uint64_t paletteLimit = bits <= 8 ? uint64_t{1} << bits : 256;
    if (colorsUsed > paletteLimit) {
        return Refuse(reason, name + "'s bitmap has a palette larger than its depth allows");
    }
    const uint64_t colors = colorsUsed == 0 && bits <= 8 ? paletteLimit : colorsUsed;
    const uint64_t side = uint32_t(height) / 2;
    const uint64_t needed = BitmapBytes(ReadLe32(data.data()), uint32_t(width), side, bits, colors);
    if (needed != data.size()) {
        return Refuse(reason, name + "'s bitmap needs " + std::to_string(needed) +
                                  " bytes and its entry gives " + std::to_string(data.size()) +
                                  ": the sizes do not add up");
    }
    if (!SideMatches(image.width, uint32_t(width)) || !SideMatches(image.height, side)) {
        return Refuse(reason, SizeMismatch(index, image, uint32_t(width), side));
    }
    // What the group tells the system of the image's depth is the bitmap's own.
    image.planes = 1;
    image.bitCount = static_cast<uint16_t>(bits);
    return true;
}

bool CheckImage(size_t index, IconImage& image, std::string& reason) {
    if (IsPng(image.data)) return CheckPng(index, image, reason);
    if (StartsLikePng(image.data)) {
        return Refuse(reason,
                      ImageName(index) + " is not a valid PNG image: its signature is damaged");
    }
    return CheckBitmap(index, image, reason);
}

bool CheckHeader(std::span<const uint8_t> file, uint64_t& count, std::string& reason) {
    if (file.size() < kHeaderBytes) {
        return Refuse(reason, "not an icon file: it is shorter than the 6-byte header of one");
    }
    const uint32_t type = ReadLe16(file.data() + 2);
    if (ReadLe16(file.data()) != 0 || (type != kTypeIcon && type != kTypeCursor)) {
        return Refuse(reason, "not an icon file: it does not start with the bytes 00 00 01 00");
    }
    if (type == kTypeCursor) return Refuse(reason, "a cursor file (.cur), not an icon file (.ico)");
    count = ReadLe16(file.data() + 4);
    if (count == 0) return Refuse(reason, "the icon file holds no images");
    if (count > kMaxIconImages) {
        return Refuse(reason, "the icon file lists " + std::to_string(count) +
                                  " images, more than the 256 an icon may have");
    }
    if (count * kEntryBytes > file.size() - kHeaderBytes) {
        return Refuse(reason, "the icon file is cut short: its list of " + std::to_string(count) +
                                  " images runs past its end");
    }
    return true;
}

IconImage ReadEntry(const uint8_t* p) {
    IconImage image;
    image.width = p[entry_field::kWidth];
    image.height = p[entry_field::kHeight];
    image.colorCount = p[entry_field::kColorCount];
    image.planes = static_cast<uint16_t>(ReadLe16(p + entry_field::kPlanes));
    image.bitCount = static_cast<uint16_t>(ReadLe16(p + entry_field::kBitCount));
    return image;
}

// The images' places: each inside the file after the directory, none over another, and
// together with the directory covering every byte of the file.
bool CheckPlacements(std::vector<Placement> places, uint64_t fileSize, std::string& reason) {
    std::sort(places.begin(), places.end(),
              [](const Placement& a, const Placement& b) { return a.offset < b.offset; });
    uint64_t end = kHeaderBytes + places.size() * kEntryBytes;
    uint64_t unclaimed = 0;
    for (size_t i = 0; i < places.size(); ++i) {
        const Placement& place = places[i];
        if (place.offset < end) {
            const std::string over =
                i == 0 ? "the list of images" : "image " + std::to_string(places[i - 1].index + 1);
            return Refuse(reason, ImageName(place.index) + " lies over " + over +
                                      ": the sizes do not add up");
        }
        unclaimed += place.offset - end;
        end = place.offset + place.bytes;
    }
    unclaimed += fileSize - end;
    if (unclaimed != 0) {
        return Refuse(reason, "the icon file holds " + CountOfBytes(unclaimed) +
                                  " outside its images: the sizes do not add up");
    }
    return true;
}

}  // namespace

bool ParseIcoFile(std::span<const uint8_t> file, std::vector<IconImage>& images,
                  std::string& reason) {
    images.clear();
    uint64_t count = 0;
    if (!CheckHeader(file, count, reason)) return false;
    std::vector<IconImage> found;
    std::vector<Placement> places;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = file.data() + kHeaderBytes + i * kEntryBytes;
        const uint64_t bytes = ReadLe32(entry + entry_field::kBytes);
        const uint64_t offset = ReadLe32(entry + entry_field::kOffset);
        if (bytes == 0) return Refuse(reason, ImageName(i) + " is empty");
        if (offset > file.size() || bytes > file.size() - offset) {
            return Refuse(reason, ImageName(i) +
                                      " runs past the file's end: the file is cut short, or the "
                                      "sizes do not add up");
        }
        found.push_back(ReadEntry(entry));
        found.back().data = file.subspan(offset, bytes);
        places.push_back({offset, bytes, i});
    }
    if (!CheckPlacements(std::move(places), file.size(), reason)) return false;
    for (size_t i = 0; i < found.size(); ++i) {
        if (!CheckImage(i, found[i], reason)) return false;
    }
    images = std::move(found);
    return true;
}

std::vector<uint8_t> BuildIconGroup(std::span<const IconImage> images,
                                    std::span<const uint16_t> ids) {
    std::vector<uint8_t> group(kHeaderBytes + images.size() * kGroupEntryBytes, 0);
    WriteLe16(group.data() + 2, kTypeIcon);
    WriteLe16(group.data() + 4, static_cast<uint32_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        uint8_t* entry = group.data() + kHeaderBytes + i * kGroupEntryBytes;
        entry[entry_field::kWidth] = image.width;
        entry[entry_field::kHeight] = image.height;
        entry[entry_field::kColorCount] = image.colorCount;
        WriteLe16(entry + entry_field::kPlanes, image.planes);
        WriteLe16(entry + entry_field::kBitCount, image.bitCount);
        WriteLe32(entry + entry_field::kBytes, static_cast<uint32_t>(image.data.size()));
        WriteLe16(entry + kGroupIdField, ids[i]);
    }
    return group;
}

bool ReadIconGroupIds(std::span<const uint8_t> group, std::vector<uint32_t>& ids) {
    ids.clear();
    if (group.size() < kHeaderBytes || ReadLe16(group.data()) != 0 ||
        ReadLe16(group.data() + 2) != kTypeIcon) {
        return false;
    }
    const uint64_t count = ReadLe16(group.data() + 4);
    if (count * kGroupEntryBytes > group.size() - kHeaderBytes) return false;
    for (uint64_t i = 0; i < count; ++i) {
        ids.push_back(ReadLe16(group.data() + kHeaderBytes + i * kGroupEntryBytes + kGroupIdField));
    }
    return true;
}

}  // namespace winqor
