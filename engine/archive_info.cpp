#include "engine/archive_info.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "base/text.h"

namespace winqor {
namespace {

// The numbers of the walk's summary ("2 folders, 3 files, 40 bytes") as "2 3 40".
std::string SummaryNumbers(std::string_view summary) {
    std::string numbers;
    for (size_t start = 0; start < summary.size();) {
        const size_t end = std::min(summary.find(' ', start), summary.size());
        const std::string_view word = summary.substr(start, end - start);
        if (!word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos) {
            if (!numbers.empty()) numbers += ' ';
            numbers.append(word);
        }
        start = end + 1;
    }
    return numbers;
}

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

bool CountRecords(ArchiveExtractor& extractor, const ExtractionRequest& request,
                  ArchiveInfo& info) {
    const ExtractionResult result = extractor.Run(request);
    if (result.outcome != ExtractionOutcome::kComplete) return false;
    info.counted = ParseCounts(SummaryNumbers(result.summary), info.unpackedSize, info);
    // Counts that cannot be true come from a child that broke its rules.
    if (!info.counted) extractor.RecordFailure(Failure::kExtractionEnded, u"its counts");
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
