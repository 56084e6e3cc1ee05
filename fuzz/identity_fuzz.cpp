// Icon files and version resources on arbitrary bytes: an icon file read has 1 to 256
// images, each inside the file and not empty, and its group lists their ids back; a version
// resource read keeps the strings of its first table, and what is built of strings reads back
// with them.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "base/text.h"
#include "fuzz/harness.h"
#include "image/ico.h"
#include "image/version_info.h"

namespace {

using namespace winqor;
using fuzz::Require;

bool Inside(std::span<const uint8_t> file, std::span<const uint8_t> part) {
    return part.data() >= file.data() && part.size() <= file.size() &&
           part.data() - file.data() <= static_cast<std::ptrdiff_t>(file.size() - part.size());
}

void CheckIcon(std::span<const uint8_t> file) {
    std::vector<IconImage> images;
    std::string reason;
    if (!ParseIcoFile(file, images, reason)) {
        Require(images.empty() && !reason.empty(), "a refused icon file left images or no reason");
        return;
    }
    Require(!images.empty() && images.size() <= kMaxIconImages, "an icon of no or too many images");
    std::vector<uint16_t> ids;
    for (const auto& image : images) {
        Require(!image.data.empty() && Inside(file, image.data), "an image outside the file");
        ids.push_back(static_cast<uint16_t>(ids.size() + 1));
    }
    std::vector<uint32_t> listed;
    Require(ReadIconGroupIds(BuildIconGroup(images, ids), listed) &&
                listed == std::vector<uint32_t>(ids.begin(), ids.end()),
            "the icon group does not list its images' ids");
}

void CheckVersion(std::span<const uint8_t> file) {
    VersionInfo info;
    std::string reason;
    if (!ReadVersionResource(file, info, reason)) return;
    Require(info.tables.empty() ? info.strings.empty() : info.strings == info.tables[0].strings,
            "the strings are not the first table's");
    // The strings that settings can give, built again, read back the same.
    VersionInfo settings;
    for (const auto& [key, value] : info.strings) {
        std::string setting;
        std::string text;
        if (!Utf16ToUtf8(key, setting) || !Utf16ToUtf8(value, text)) continue;
        SetVersionInfo(setting + "=" + text, settings, reason);
    }
    VersionInfo again;
    Require(ReadVersionResource(BuildVersionResource(settings), again, reason) &&
                again.strings == settings.strings && again.tables.size() == 2,
            "a built version resource does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    CheckIcon(file);
    CheckVersion(file);
    return 0;
}
