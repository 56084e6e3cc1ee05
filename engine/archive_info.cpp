#include "engine/archive_info.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "base/text.h"

namespace winqor {
namespace {

// Counts as the listing counts: every folder but the root, every file and its bytes.
class CountingSink : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t count) override {
        folders += count > 0 ? 1 : 0;
        return true;
    }
    bool File(const char16_t*, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t size) override {
        ++files;
        fileBytes += size;
        return true;
    }
    uint64_t folders = 0, files = 0, fileBytes = 0;
};

// The child's three counts, "FOLDERS FILES BYTES": believed only when each is a number no
// larger than the decoded stream itself could hold.
bool ParseCounts(std::string_view text, uint32_t unpackedSize, ArchiveInfo& info) {
    uint64_t* const slots[] = {&info.folders, &info.files, &info.fileBytes};
    for (uint64_t* slot : slots) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *slot);
        if (error != std::errc() || *slot > unpackedSize) return false;
        text.remove_prefix(static_cast<size_t>(end - text.data()));
        if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    }
    return text.empty();
}

std::string YesNo(bool yes) {
    return yes ? "yes" : "no";
}

std::string Bytes(uint64_t count) {
    return WithThousands(count) + (count == 1 ? " byte" : " bytes");
}

}  // namespace

void TakeHeader(const ArchiveHeader& header, ArchiveInfo& info) {
    info.packedSize = PackedSize(header);
    info.unpackedSize = UnpackedSize(header);
    info.encrypted = IsEncrypted(header);
    info.runsSetup = RunsSetup(header);
}

bool CountRecords(ArchiveExtractor& extractor, const std::function<int()>& load,
                  ArchiveInfo& info) {
    const auto count = [&] {
        CountingSink sink;
        extractor.tree.SetSink(&sink);
        const bool walked =
            load() != 0 && extractor.DecodePayload() != 0 && extractor.OutputArchive() != 0;
        extractor.tree.SetSink(nullptr);
        if (!walked) return 0;
        extractor.sandbox.SendOutput(std::to_string(sink.folders) + ' ' +
                                     std::to_string(sink.files) + ' ' +
                                     std::to_string(sink.fileBytes));
        return 1;
    };
    // A line at most: whatever else the child sends is not kept.
    constexpr size_t kMaxCountsBytes = 64;
    std::string counts;
    const auto receive = [&counts](std::string_view text) {
        counts.append(text.substr(0, std::min(text.size(), kMaxCountsBytes - counts.size())));
    };
    if (extractor.sandbox.RunConfined(count, receive) == 0) return false;
    info.counted = ParseCounts(counts, info.unpackedSize, info);
    // Counts that cannot be true come from a child that broke its rules.
    if (!info.counted) extractor.report.RecordFailure(Failure::kExtractionEnded, u"its counts");
    return info.counted;
}

std::string DescribeInfo(const ArchiveInfo& info) {
    std::string text = "kind: " + info.kind + "\n";
    text += "packed size: " + Bytes(info.packedSize) + "\n";
    text += "unpacked size: " + Bytes(info.unpackedSize) + "\n";
    text += "encrypted: " + YesNo(info.encrypted) + "\n";
    text += "starts Setup.exe: " + YesNo(info.runsSetup) + "\n";
    if (info.counted) {
        text += "folders: " + WithThousands(info.folders) + "\n";
        text += "files: " + WithThousands(info.files) + " (" + Bytes(info.fileBytes) + ")\n";
    } else {
        text += "folders and files: not counted (the archive is encrypted)\n";
    }
    text += "licence: " + (info.hasLicence ? Bytes(info.licenceBytes) : std::string("none")) + "\n";
    text += "output folder: " + EscapeForDisplay(info.outputFolder) + "\n";
    for (const auto& [key, value] : info.versionStrings) {
        text += "version " + EscapeForDisplay(key) + ": " + EscapeForDisplay(value) + "\n";
    }
    return text;
}

}  // namespace winqor
