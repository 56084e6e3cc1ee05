#include "engine/embedded_archive.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "image/pe_resources.h"
#include "image/resource_table.h"
#include "platform/resources.h"
#include "platform/whole_file.h"

namespace winqor {
namespace {

// An archive is its header and a payload of at most kMaxPayloadSize bytes: nothing past that
// is read, whatever size a file or a resource entry claims.
constexpr uint64_t kMaxArchiveBytes = kHeaderBytes + uint64_t{kMaxPayloadSize};
// A self-extracting Windows program is read whole to find its archive: at most a stub (far
// less than 1 GB) and an archive.
constexpr uint64_t kMaxWindowsProgramBytes = (uint64_t{1} << 30) + kMaxArchiveBytes;
// Enough of a file to see whether it is a Windows program: its DOS header points at the PE
// signature, which comes early in every linker's output.
constexpr uint64_t kPeHeadBytes = 4096;

// The archive in a resource's bytes (at most kMaxArchiveBytes of them).
EmbeddedArchive LoadImage(std::span<const uint8_t> image, ArchiveExtractor& extractor) {
    // The placeholder of a program built without an archive is no archive.
    if (image.size() < sizeof kMagic ||
        !std::equal(std::begin(kMagic), std::end(kMagic), image.begin())) {
        return EmbeddedArchive::kNone;
    }
    if (extractor.LoadFromImage(image.data(), image.size()) != 0) return EmbeddedArchive::kLoaded;
    return EmbeddedArchive::kDamaged;
}

// A Windows program is read whole and its resource tree searched as FindResourceW searches
// it: the neutral SETUP_ARCHIVE/131 first.
EmbeddedArchive LoadFromWindowsProgram(const std::string& path, ArchiveExtractor& extractor,
                                       std::string& reason) {
    std::vector<uint8_t> bytes;
    std::string why;
    const ReadOutcome read = ReadWholeFile(path, kMaxWindowsProgramBytes, bytes, why);
    if (read != ReadOutcome::kRead) {
        reason = read == ReadOutcome::kTooLarge
                     ? "not read: a Windows program larger than a stub and an archive can be"
                     : "cannot read the program";
        return EmbeddedArchive::kDamaged;
    }
    std::vector<PeResource> resources;
    const PeStatus status = ReadPeResources(bytes, resources, why);
    if (status == PeStatus::kDamaged) {
        reason = why;
        return EmbeddedArchive::kDamaged;
    }
    const PeResource* entry = FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId);
    if (status != PeStatus::kValid || entry == nullptr) return EmbeddedArchive::kNone;
    const uint64_t size = std::min<uint64_t>(entry->size, kMaxArchiveBytes);
    return LoadImage(std::span<const uint8_t>(bytes).subspan(entry->offset, size), extractor);
}

// Whether the opened file starts like a Windows program.
bool IsWindowsProgram(const ResourceFile& file) {
    const ResourceEntry whole{{}, 0, 0, 0, file.fileSize()};
    std::vector<uint8_t> head;
    return file.Read(whole, kPeHeadBytes, head) && LooksLikePe(head);
}

}  // namespace

EmbeddedArchive LoadEmbeddedArchive(const std::string& path, ArchiveExtractor& extractor,
                                    std::string& reason) {
    ResourceFile file;
    if (!file.Open(path)) return EmbeddedArchive::kNone;
    if (IsWindowsProgram(file)) return LoadFromWindowsProgram(path, extractor, reason);
    if (file.status() == TableStatus::kCorrupt) {
        reason = "damaged program file: its resource table does not hold together";
        return EmbeddedArchive::kDamaged;
    }
    const ResourceEntry* entry = file.Find(kSetupArchiveType, kSetupArchiveId);
    if (entry == nullptr) return EmbeddedArchive::kNone;
    std::vector<uint8_t> image;
    if (!file.Read(*entry, kMaxArchiveBytes, image)) {
        reason = "cannot read the archive inside the program";
        return EmbeddedArchive::kDamaged;
    }
    return LoadImage(image, extractor);
}

}  // namespace winqor
