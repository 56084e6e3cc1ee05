#include "image/ico.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace winqor {
namespace {

using Bytes = std::vector<uint8_t>;

void PutLe(Bytes& bytes, uint64_t at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendBe32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

// PNG's CRC-32, bit by bit (the parser has its own, table-driven).
uint32_t Crc(const Bytes& bytes, size_t from) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = from; i < bytes.size(); ++i) {
        c ^= bytes[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0 - (c & 1)));
    }
    return ~c;
}

void AppendChunk(Bytes& png, const char* type, const Bytes& body) {
    AppendBe32(png, static_cast<uint32_t>(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    AppendBe32(png, Crc(png, start));
}

// A PNG stream as the parser sees it: IDAT's bytes are not decoded.
Bytes Png(uint32_t width, uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    AppendBe32(header, width);
    AppendBe32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", {0x78, 0x9C, 1, 2, 3});
    AppendChunk(png, "IEND", {});
    return png;
}

// An uncompressed bitmap of an icon: header, palette, colour rows and mask rows.
Bytes Bitmap(uint32_t side, uint32_t bits) {
    const uint64_t colors = bits <= 8 ? 1u << bits : 0;
    const uint64_t rows = ((side * bits + 31) / 32 * 4 + (side + 31) / 32 * 4) * side;
    Bytes bitmap(40 + 4 * colors + rows, 0x55);
    std::fill(bitmap.begin(), bitmap.begin() + 40, 0);
    PutLe(bitmap, 0, 40, 4);
    PutLe(bitmap, 4, side, 4);
    PutLe(bitmap, 8, 2 * side, 4);
    PutLe(bitmap, 12, 1, 2);
    PutLe(bitmap, 14, bits, 2);
    return bitmap;
}

struct TestImage {
    uint8_t width, height;
    Bytes data;
};

// An icon file of the images, back to back after the directory.
Bytes Ico(const std::vector<TestImage>& images, uint32_t type = 1) {
    Bytes file(6 + 16 * images.size(), 0);
    PutLe(file, 2, type, 2);
    PutLe(file, 4, images.size(), 2);
    for (size_t i = 0; i < images.size(); ++i) {
        const uint64_t entry = 6 + 16 * i;
        file[entry] = images[i].width;
        file[entry + 1] = images[i].height;
        PutLe(file, entry + 4, 1, 2);
        PutLe(file, entry + 6, 32, 2);
        PutLe(file, entry + 8, images[i].data.size(), 4);
        PutLe(file, entry + 12, file.size(), 4);
        file.insert(file.end(), images[i].data.begin(), images[i].data.end());
    }
    return file;
}

Bytes GoodIco() {
    return Ico({{32, 32, Bitmap(32, 32)}, {16, 16, Bitmap(16, 4)}, {0, 0, Png(256, 256)}});
}

TEST(IcoTest, ReadsBitmapAndPngImagesAndBuildsTheirGroup) {
    const Bytes file = GoodIco();
    std::vector<IconImage> images;
    std::string reason;
    ASSERT_TRUE(ParseIcoFile(file, images, reason)) << reason;
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].data.size(), Bitmap(32, 32).size());
    EXPECT_EQ(images[1].bitCount, 4u);  // the bitmap's own depth, not the entry's 32
    EXPECT_EQ(Bytes(images[2].data.begin(), images[2].data.end()), Png(256, 256));

    const uint16_t ids[] = {7, 8, 9};
    const Bytes group = BuildIconGroup(images, ids);
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    EXPECT_EQ(group[4], 3);
    EXPECT_EQ(group[6 + 14], 16);  // the second image's width
    const uint32_t bytes = group[6 + 14 + 8] | group[6 + 14 + 9] << 8;
    EXPECT_EQ(bytes, Bitmap(16, 4).size());
    std::vector<uint32_t> listed;
    ASSERT_TRUE(ReadIconGroupIds(group, listed));
    EXPECT_EQ(listed, (std::vector<uint32_t>{7, 8, 9}));
}

TEST(IcoTest, ReadsTheProjectsOwnIconLayout) {
    // Two 32-bit bitmaps, as ui/win32/winqor.ico holds them.
    std::vector<IconImage> images;
    std::string reason;
    EXPECT_TRUE(
        ParseIcoFile(Ico({{32, 32, Bitmap(32, 32)}, {16, 16, Bitmap(16, 32)}}), images, reason))
        << reason;
}

struct BadIco {
    const char* what;
    std::function<Bytes()> make;
    const char* reason;
};

Bytes Edited(Bytes bytes, uint64_t at, uint64_t value, int size) {
    PutLe(bytes, at, value, size);
    return bytes;
}

Bytes ManyImages(size_t count) {
    std::vector<TestImage> images(count, {16, 16, Bitmap(16, 1)});
    return Ico(images);
}

// The PNG image (the third of GoodIco) starts here.
uint64_t PngStart() {
    return GoodIco().size() - Png(256, 256).size();
}

TEST(IcoTest, RefusesFilesThatDoNotHoldTogether) {
    const Bytes good = GoodIco();
    const uint64_t png = PngStart();
    const std::vector<BadIco> cases = {
        {"empty", [] { return Bytes(); },
         "not an icon file: it is shorter than the 6-byte header of one"},
        {"a bitmap file", [] { return Bytes{'B', 'M', 0, 0, 0, 0, 0, 0}; },
         "not an icon file: it does not start with the bytes 00 00 01 00"},
        {"a cursor",
         [] {
             return Ico({{16, 16, Bitmap(16, 1)}}, 2);
         },
         "a cursor file (.cur), not an icon file (.ico)"},
        {"no images", [] { return Ico({}); }, "the icon file holds no images"},
        {"257 images", [] { return ManyImages(257); },
         "the icon file lists 257 images, more than the 256 an icon may have"},
        {"a directory cut short", [&] { return Bytes(good.begin(), good.begin() + 30); },
         "the icon file is cut short: its list of 3 images runs past its end"},
        {"an image cut short", [&] { return Bytes(good.begin(), good.end() - 1); },
         "image 3 of the icon file runs past the file's end: the file is cut short, or the "
         "sizes do not add up"},
        {"an empty image", [&] { return Edited(good, 6 + 8, 0, 4); },
         "image 1 of the icon file is empty"},
        {"an image over the directory", [&] { return Edited(good, 6 + 12, 40, 4); },
         "image 1 of the icon file lies over the list of images: the sizes do not add up"},
        {"two images over each other", [&] { return Edited(good, 6 + 16 + 12, 54 + 10, 4); },
         "image 2 of the icon file lies over image 1: the sizes do not add up"},
        {"bytes of no image",
         [&] {
             Bytes bytes = good;
             bytes.push_back(0);
             return bytes;
         },
         "the icon file holds 1 byte outside its images: the sizes do not add up"},
        {"a bitmap smaller than its rows",
         [&] {
             Bytes bytes = Ico({{32, 32, Bitmap(32, 32)}});
             PutLe(bytes, 6 + 8, Bitmap(32, 32).size() - 4, 4);
             bytes.resize(bytes.size() - 4);
             return bytes;
         },
         "image 1 of the icon file's bitmap needs 4264 bytes and its entry gives 4260: the sizes "
         "do not add up"},
        {"a bitmap of another size than its entry's",
         [] {
             return Ico({{48, 48, Bitmap(32, 32)}});
         },
         "image 1 of the icon file is 32x32 pixels, where its entry says 48x48: the sizes do not "
         "add up"},
        {"a compressed bitmap", [&] { return Edited(good, 54 + 16, 1, 4); },
         "image 1 of the icon file's bitmap is compressed, which icons are not"},
        {"a bitmap of 3 bits", [&] { return Edited(good, 54 + 14, 3, 2); },
         "image 1 of the icon file's bitmap has no depth of 1, 4, 8, 16, 24 or 32 bits"},
        {"neither PNG nor a bitmap", [&] { return Edited(good, 54, 0x12345678, 4); },
         "image 1 of the icon file is neither a PNG image nor a bitmap"},
        {"a damaged PNG signature", [&] { return Edited(good, png + 4, 0, 1); },
         "image 3 of the icon file is not a valid PNG image: its signature is damaged"},
        {"a PNG chunk checksum", [&] { return Edited(good, png + 16, 0x99, 1); },
         "image 3 of the icon file is not a valid PNG image: a chunk's checksum is wrong"},
        {"a PNG chunk longer than the image", [&] { return Edited(good, png + 8, 0x7F, 1); },
         "image 3 of the icon file is not a valid PNG image: a chunk runs past the image's end"},
        {"a PNG without IEND",
         [] {
             Bytes image = Png(256, 256);
             image.resize(image.size() - 12);
             return Ico({{0, 0, image}});
         },
         "image 1 of the icon file is not a valid PNG image: it ends inside a chunk"},
        {"a PNG whose size is not its entry's",
         [] {
             return Ico({{32, 32, Png(16, 16)}});
         },
         "image 1 of the icon file is 16x16 pixels, where its entry says 32x32: the sizes do not "
         "add up"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.what);
        const Bytes file = bad.make();
        std::vector<IconImage> images(1);
        std::string reason;
        EXPECT_FALSE(ParseIcoFile(file, images, reason));
        EXPECT_EQ(reason, bad.reason);
        EXPECT_TRUE(images.empty());
    }
}

TEST(IcoTest, ReadsNoIdsFromBytesThatAreNoGroup) {
    std::vector<uint32_t> ids;
    const Bytes cut = {0, 0, 1, 0, 2, 0, 32, 32, 0, 0, 1, 0, 32, 0, 1, 0, 0, 0, 1};
    EXPECT_FALSE(ReadIconGroupIds(cut, ids));
    EXPECT_FALSE(ReadIconGroupIds(Bytes{0, 0, 2, 0, 0, 0}, ids));
    EXPECT_TRUE(ids.empty());
}

}  // namespace
}  // namespace winqor
