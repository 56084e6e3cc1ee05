#include "platform/win32/support.h"

#include <string>

#include "platform/tree_reading.h"
#include "platform/whole_file.h"

namespace winqor {

using namespace win32;
namespace {

// Another program may go on writing the file while it is read, as on Linux.
constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Reads an opened file whole, once it shows to be a regular file that fits limit.
ReadOutcome ReadOpened(HANDLE file, uint64_t limit, std::vector<uint8_t>& out,
                       std::string& reason) {
    FileFacts facts;
    if (!FactsOf(file, facts)) {
        reason = LastReason();
        return ReadOutcome::kFailed;
    }
    if (IsReparsePoint(facts.attributes)) {
        reason = "a symbolic link";
        return ReadOutcome::kFailed;
    }
    if (!IsRegularFile(file, facts)) {
        reason = IsFolder(facts.attributes) ? "a folder, not a file" : "not a regular file";
        return ReadOutcome::kFailed;
    }
    if (facts.size > limit) return ReadOutcome::kTooLarge;
    const auto read = [file](uint8_t* buffer, uint64_t count) {
        return ReadFully(file, buffer, count);
    };
    const ReadOutcome outcome = ReadExpectedAndGrowth(read, facts.size, limit, out);
    if (outcome == ReadOutcome::kFailed) reason = LastReason();
    return outcome;
}

}  // namespace

ReadOutcome FolderHandle::ReadFile(const std::string& name, uint64_t limit,
                                   std::vector<uint8_t>& out, std::string& reason) const {
    std::wstring wide;
    if (!WidePathFromUtf8(name, wide)) {
        reason = SystemReason(ERROR_INVALID_NAME);
        return ReadOutcome::kFailed;
    }
    const HANDLE folder = AsHandle(handle_);
    Handle file;
    const NTSTATUS status = OpenBelow(
        folder, wide, {FILE_READ_DATA | FILE_READ_ATTRIBUTES, kReadShare, FILE_OPEN, 0}, file);
    if (EntryIsReparsePoint(folder, wide)) {
        reason = "a symbolic link";
        return ReadOutcome::kFailed;
    }
    if (!NT_SUCCESS(status)) {
        reason = status == kStatusFileIsADirectory ? "a folder, not a file"
                                                   : SystemReason(ErrorOfStatus(status));
        return ReadOutcome::kFailed;
    }
    return ReadOpened(file.get(), limit, out, reason);
}

ReadOutcome ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                          std::string& reason) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        reason = SystemReason(ERROR_INVALID_NAME);
        return ReadOutcome::kFailed;
    }
    ExtendPath(wide);
    // Backup semantics open a folder too, so that the answer can say it is one.
    Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, kReadShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        reason = LastReason();
        return ReadOutcome::kFailed;
    }
    return ReadOpened(file.get(), limit, out, reason);
}

bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& reason) {
    return ReplaceFileAtPath(path, bytes.data(), bytes.size(), reason);
}

}  // namespace winqor
