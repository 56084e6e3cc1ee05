// Record streams as lists of records, for comparing what a writer made with a folder on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace winqor::test {

struct Record {
    bool folder = false;
    std::u16string name;  // a folder's full record name, or a file's bare name
    uint32_t attributes = 0;
    uint64_t fileTime = 0;
    std::vector<uint8_t> content;
    std::optional<uint32_t> permissions;  // the mode bits a file record keeps, when tagged
    bool operator==(const Record&) const = default;
};

void PrintTo(const Record& record, std::ostream* out);

// Reads a record stream by its rules (group sizes, name terminators, bounds); throws
// std::runtime_error naming the offset where it breaks one.
std::vector<Record> ParseRecordStream(const uint8_t* data, size_t size);

// The records a writer must make of the folder at root, worked out with std::filesystem:
// the root first, each folder's files sorted by UTF-16 units, then its subfolders in that
// order, each with its files (their mode & 0777 kept); links and special files left out.
std::vector<Record> ExpectedRecords(const std::filesystem::path& root);

// A FILETIME (100 ns units since 1601) of a file's modification time.
uint64_t FileTimeOf(const std::filesystem::path& path);

std::u16string U16(const std::string& utf8);

}  // namespace winqor::test
