#include "support/record_tree.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "base/little_endian.h"
#include "base/text.h"
#include "support/test_support.h"

namespace winqor::test {
namespace fs = std::filesystem;

namespace {

class Cursor {
  public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t offset() const { return offset_; }
    size_t remaining() const { return size_ - offset_; }
    void Require(bool condition, const char* what) const {
        if (!condition)
            throw std::runtime_error(std::string(what) + " at " + std::to_string(offset_));
    }
    // Reads a record's header and name; the cursor is left after the name.
    Record ReadHeaderAndName(uint32_t& size) {
        Require(remaining() >= 32, "record header past the end");
        const uint8_t* header = data_ + offset_;
        const uint32_t nameLength = ReadLe32(header + 4);
        Require(ReadLe32(header) == 32 + nameLength, "headerLength is not 32 + nameLength");
        Require(nameLength >= 2 && nameLength % 2 == 0, "odd or empty nameLength");
        Require(remaining() - 32 >= nameLength, "name past the end");
        Record record;
        record.attributes = ReadLe32(header + 8);
        size = ReadLe32(header + 12);
        record.fileTime = ReadLe64(header + 16);
        record.permissions = ReadPermissions(header + 24);
        for (uint32_t i = 0; i + 2 < nameLength; i += 2) {
            const auto unit = static_cast<char16_t>(header[32 + i] | header[33 + i] << 8);
            Require(unit != 0, "zero unit inside a name");
            record.name += unit;
        }
        Require(header[30 + nameLength] == 0 && header[31 + nameLength] == 0, "no terminator");
        offset_ += 32 + nameLength;
        return record;
    }
    // Reserved bytes are zero, or 'P' 'X', a u16 within 0777 and zero.
    std::optional<uint32_t> ReadPermissions(const uint8_t* reserved) const {
        if (ReadLe64(reserved) == 0) return std::nullopt;
        Require(reserved[0] == 'P' && reserved[1] == 'X' && ReadLe32(reserved + 4) == 0,
                "reserved bytes are neither zero nor a permission tag");
        Require(ReadLe16(reserved + 2) <= 0777, "permission bits beyond 0777");
        return ReadLe16(reserved + 2);
    }
    std::vector<uint8_t> Take(uint32_t count) {
        Require(remaining() >= count, "content past the end");
        std::vector<uint8_t> bytes(data_ + offset_, data_ + offset_ + count);
        offset_ += count;
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

uint32_t PermissionsOf(const fs::path& path) {
    return static_cast<uint32_t>(fs::status(path).permissions() & fs::perms::all);
}

uint32_t AttributesOf(const fs::path& path) {
    const auto perms = fs::status(path).permissions();
    return (perms & fs::perms::owner_write) == fs::perms::none ? 0x21 : 0x20;
}

void AddFolder(const fs::path& folder, const std::u16string& recordName,
               std::vector<Record>& records) {
    records.push_back({true, recordName, 0, 0, {}, {}});
    std::vector<std::pair<std::u16string, fs::path>> files, folders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_symlink()) continue;
        const std::u16string name = U16(entry.path().filename().string());
        if (entry.is_regular_file()) files.emplace_back(name, entry.path());
        if (entry.is_directory()) folders.emplace_back(name, entry.path());
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const auto& [name, path] : files) {
        records.push_back({false, name, AttributesOf(path), FileTimeOf(path), ReadFileBytes(path),
                           PermissionsOf(path)});
    }
    for (const auto& [name, path] : folders) AddFolder(path, recordName + u"\\" + name, records);
}

}  // namespace

void PrintTo(const Record& record, std::ostream* out) {
    *out << (record.folder ? "folder '" : "file '") << Utf16ToUtf8Lossy(record.name) << "'";
    if (!record.folder) {
        *out << " attributes " << record.attributes << " time " << record.fileTime << " size "
             << record.content.size() << " md5 " << Md5Hex(record.content);
        if (record.permissions) *out << " mode 0" << std::oct << *record.permissions << std::dec;
    }
}

std::vector<Record> ParseRecordStream(const uint8_t* data, size_t size) {
    std::vector<Record> records;
    Cursor cursor(data, size);
    while (cursor.remaining() > 0) {
        const size_t groupStart = cursor.offset();
        uint32_t groupSize = 0;
        Record folder = cursor.ReadHeaderAndName(groupSize);
        folder.folder = true;
        cursor.Require(folder.attributes == 0 && folder.fileTime == 0 && !folder.permissions,
                       "folder with attributes");
        cursor.Require(groupSize >= cursor.offset() - groupStart, "group smaller than its record");
        cursor.Require(groupSize <= size - groupStart, "group past the end");
        records.push_back(folder);
        while (cursor.offset() < groupStart + groupSize) {
            uint32_t contentSize = 0;
            Record file = cursor.ReadHeaderAndName(contentSize);
            file.content = cursor.Take(contentSize);
            cursor.Require(cursor.offset() <= groupStart + groupSize, "file past its group");
            records.push_back(std::move(file));
        }
    }
    return records;
}

std::vector<Record> ExpectedRecords(const fs::path& root) {
    std::vector<Record> records;
    AddFolder(root, u"", records);
    return records;
}

uint64_t FileTimeOf(const fs::path& path) {
    using namespace std::chrono;
    const auto since1970 = file_clock::to_sys(fs::last_write_time(path)).time_since_epoch();
    const auto units = duration_cast<nanoseconds>(since1970).count() / 100;
    return static_cast<uint64_t>(units + 11644473600LL * 10'000'000);
}

std::u16string U16(const std::string& utf8) {
    std::u16string out;
    if (!Utf8ToUtf16(utf8, out)) throw std::runtime_error("not UTF-8: " + utf8);
    return out;
}

}  // namespace winqor::test
