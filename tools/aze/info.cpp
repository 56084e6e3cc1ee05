// aze info: what an archive or a self-extracting program holds, told before it is run; and the
// licence file of aze sfx --license.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/archive_info.h"
#include "engine/embedded_archive.h"
#include "engine/json_listing.h"
#include "image/licence_resource.h"
#include "image/pe_resources.h"
#include "image/version_info.h"
#include "platform/resources.h"
#include "platform/whole_file.h"
#include "tools/aze/commands.h"

namespace winqor::aze {
namespace {

// A self-extracting Windows program is read whole: a stub and an archive at most.
constexpr uint64_t kMaxWindowsProgramBytes = (uint64_t{1} << 30) + kHeaderBytes + kMaxPayloadSize;
constexpr uint64_t kPeHeadBytes = 4096;

// What the program file carries beside its archive: its licence and, on Windows, its version.
void TakeWindowsResources(const std::string& program, ArchiveInfo& info) {
    std::vector<uint8_t> bytes;
    std::vector<PeResource> resources;
    std::string why;
    if (ReadWholeFile(program, kMaxWindowsProgramBytes, bytes, why) != ReadOutcome::kRead ||
        ReadPeResources(bytes, resources, why) != PeStatus::kValid) {
        return;
    }
    if (const PeResource* licence =
            FindPeResource(resources, kSetupLicenceTypeUtf16, kSetupLicenceId)) {
        info.hasLicence = true;
        info.licenceBytes = licence->size;
    }
    for (const PeResource& resource : resources) {
        if (resource.type.named || resource.type.id != kRtVersion) continue;
        VersionInfo version;
        const auto data = std::span<const uint8_t>(bytes).subspan(resource.offset, resource.size);
        // Version information that does not hold together is left out, not shown in part.
        if (ReadVersionResource(data, version, why)) {
            for (const auto& [key, value] : version.strings) {
                info.versionStrings.emplace_back(Utf16ToUtf8Lossy(key), Utf16ToUtf8Lossy(value));
            }
        }
        break;
    }
}

// The kind of file, and the licence a program carries.
void TakeProgramResources(const std::string& path, ArchiveInfo& info) {
    ResourceFile file;
    std::vector<uint8_t> head;
    if (!file.Open(path)) return;
    const ResourceEntry start{{}, 0, 0, 0, file.fileSize()};
    if (file.Read(start, kPeHeadBytes, head) && LooksLikePe(head)) {
        info.kind = "Windows program";
        TakeWindowsResources(path, info);
        return;
    }
    info.kind = "Linux program";
    if (const ResourceEntry* licence = file.Find(kSetupLicenceType, kSetupLicenceId)) {
        info.hasLicence = true;
        info.licenceBytes = licence->size;
    }
}

// The archive file itself, or else the archive a program carries (whose kind and licence are
// then taken too). Null, with reason set, when neither loads.
std::unique_ptr<ArchiveExtractor> LoadForInfo(const std::string& path, ArchiveInfo& info,
                                              std::string& reason) {
    std::u16string wide;
    if (!Utf8ToUtf16(path, wide)) {
        reason = Concerning("the archive's name is not valid UTF-8", path);
        return nullptr;
    }
    auto extractor = std::make_unique<ArchiveExtractor>();
    const int loaded = extractor->LoadFromFile(wide.c_str());
    extractor->CloseArchiveFile();
    info.kind = "archive";
    if (loaded != 0) return extractor;
    const Failure failure = extractor->failure();
    if (failure == Failure::kHeaderRejected || failure == Failure::kShortHeader) {
        auto embedded = std::make_unique<ArchiveExtractor>();
        std::string fileReason;
        const EmbeddedArchive found = LoadEmbeddedArchive(path, *embedded, fileReason);
        if (found == EmbeddedArchive::kLoaded) {
            TakeProgramResources(path, info);
            return embedded;
        }
        if (found == EmbeddedArchive::kDamaged) {
            reason = DamagedProgramReason(fileReason, *embedded, path);
            return nullptr;
        }
    }
    reason = FailureReason(*extractor, path);
    return nullptr;
}

std::string JsonText(const std::string& utf8) {
    std::u16string wide;
    return JsonString(Utf8ToUtf16(utf8, wide) ? wide : std::u16string(u"\uFFFD"));
}

std::string JsonCount(bool known, uint64_t value) {
    return known ? std::to_string(value) : "null";
}

std::string InfoJson(const std::string& path, const ArchiveInfo& info) {
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    std::string json = "{\"path\":" + JsonText(path) + ",\"kind\":" + JsonText(info.kind);
    json += ",\"packedSize\":" + std::to_string(info.packedSize);
    json += ",\"unpackedSize\":" + std::to_string(info.unpackedSize);
    json += std::string(",\"encrypted\":") + flag(info.encrypted);
    json += std::string(",\"runsSetup\":") + flag(info.runsSetup);
    json += ",\"folders\":" + JsonCount(info.counted, info.folders);
    json += ",\"files\":" + JsonCount(info.counted, info.files);
    json += ",\"fileBytes\":" + JsonCount(info.counted, info.fileBytes);
    json += ",\"licenseBytes\":" + JsonCount(info.hasLicence, info.licenceBytes);
    json += ",\"outputFolder\":" + JsonText(info.outputFolder);
    json += ",\"versionInfo\":{";
    for (size_t i = 0; i < info.versionStrings.size(); ++i) {
        if (i > 0) json += ',';
        json +=
            JsonText(info.versionStrings[i].first) + ':' + JsonText(info.versionStrings[i].second);
    }
    return json + "}}\n";
}

}  // namespace

bool ReadLicenceFile(const std::string& path, std::vector<uint8_t>& text, std::string& reason) {
    std::string why;
    const ReadOutcome read = ReadWholeFile(path, kMaxLicenceBytes + 3, text, why);
    if (read != ReadOutcome::kRead) {
        reason = Concerning(
            read == ReadOutcome::kTooLarge
                ? "the licence is larger than " + WithThousands(kMaxLicenceBytes) + " bytes"
                : "cannot read the licence: " + why,
            path);
        return false;
    }
    const std::span<const uint8_t> carried = WithoutByteOrderMark(text);
    if (!CheckLicenceText(carried, why)) {
        reason = Concerning(why, path);
        return false;
    }
    text.erase(text.begin(), text.begin() + static_cast<long>(text.size() - carried.size()));
    return true;
}

ExitStatus RunInfo(const InfoOptions& options, std::string& reason) {
    if (IsFolder(options.archive)) {
        reason = Concerning("is a folder, not an archive", options.archive);
        return ExitStatus::kUsage;
    }
    ArchiveInfo info;
    auto extractor = LoadForInfo(options.archive, info, reason);
    if (!extractor) return ExitStatus::kBadArchive;
    TakeHeader(*extractor->header(), info);
    info.outputFolder = DefaultOutputFolder(options.archive);
    if (!info.encrypted &&
        !CountRecords(*extractor, extractor->Request(ExtractionMode::kCheck), info)) {
        reason = FailureReason(*extractor, options.archive);
        const Failure failure = extractor->failure();
        return failure == Failure::kSandboxUnavailable || failure == Failure::kExtractionEnded
                   ? ExitStatus::kSandbox
                   : ExitStatus::kBadArchive;
    }
    std::cout << (options.json ? InfoJson(options.archive, info) : DescribeInfo(info));
    return ExitStatus::kSuccess;
}

}  // namespace winqor::aze
