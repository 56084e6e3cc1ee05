#include "platform/win32/support.h"

#include <string>

#include "platform/tree_reading.h"
#include "platform/whole_file.h"

namespace winqor {

using namespace win32;
namespace {

constexpr size_t kChunkBytes = 1 << 14;
// Another program may go on writing the file while it is read, as on Linux.
constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Appends whatever follows the bytes already read: a file that grew after it was looked at.
// A small buffer takes it first, so that out grows only by what is there, never past limit.
ReadOutcome ReadGrowth(HANDLE file, size_t start, uint64_t limit, std::vector<uint8_t>& out) {
    uint8_t chunk[kChunkBytes];
    for (;;) {
        const int64_t got = ReadFully(file, chunk, sizeof chunk);
        if (got < 0) return ReadOutcome::kFailed;
        if (got == 0) return ReadOutcome::kRead;
        if (out.size() - start + static_cast<uint64_t>(got) > limit) return ReadOutcome::kTooLarge;
        out.insert(out.end(), chunk, chunk + got);
    }
}

// Reads the file's expected bytes straight into out, then anything it grew by.
ReadOutcome ReadAll(HANDLE file, uint64_t expected, uint64_t limit, std::vector<uint8_t>& out,
                    std::string& reason) {
    const size_t start = out.size();
    out.resize(start + expected);
    const int64_t got = ReadFully(file, out.data() + start, expected);
    ReadOutcome outcome = got < 0 ? ReadOutcome::kFailed : ReadOutcome::kRead;
    if (got >= 0) out.resize(start + static_cast<uint64_t>(got));
    if (got >= 0 && static_cast<uint64_t>(got) == expected) {
        outcome = ReadGrowth(file, start, limit, out);
    }
    if (outcome == ReadOutcome::kFailed) reason = LastReason();
    if (outcome != ReadOutcome::kRead) out.resize(start);
    return outcome;
}

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
    return ReadAll(file, facts.size, limit, out, reason);
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
