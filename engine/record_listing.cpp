#include "engine/record_listing.h"

#include "base/text.h"

namespace winqor {
namespace {

// Relative path of a folder of the walk, "." for the root.
std::string FolderPath(const char16_t* const* components, uint32_t count) {
    if (count == 0) return ".";
    std::u16string path;
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) path += u'/';
        path += components[i];
    }
    return Utf16ToUtf8Lossy(path);
}

}  // namespace

bool ListingSink::Directory(const char16_t*, const char16_t* const* components, uint32_t count) {
    folder_ = FolderPath(components, count);
    if (count > 0) ++folders_;  // the root is where they go, not one of them
    if (writeLine_) writeLine_("D " + EscapeForDisplay(folder_) + '\n');
    return true;
}

bool ListingSink::File(const char16_t* name, uint32_t, std::optional<uint32_t>, const uint8_t*,
                       uint32_t size) {
    ++files_;
    bytes_ += size;
    if (writeLine_) {
        const std::string prefix = folder_ == "." ? "" : folder_ + "/";
        writeLine_("F " + EscapeForDisplay(prefix + Utf16ToUtf8Lossy(name)) + ' ' +
                   std::to_string(size) + '\n');
    }
    return true;
}

std::string ListingSink::Summary() const {
    return std::to_string(folders_) + " folders, " + std::to_string(files_) + " files, " +
           std::to_string(bytes_) + " bytes";
}

}  // namespace winqor
