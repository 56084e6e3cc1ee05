// Builds a record stream in memory: each directory record, then its files.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace winqor {

class RecordStreamBuilder {
  public:
    // name: "" for the root, "\\docs", "\\docs\\notes". Starts a new group.
    void AddDirectory(std::u16string_view name);
    // A file of the current group; name is bare ("Setup.exe").
    void AddFile(std::u16string_view name, uint32_t attributes, std::span<const uint8_t> content,
                 uint64_t fileTime = 0);

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Bytes a record of this name takes before its content.
    static uint64_t RecordOverhead(std::u16string_view name);

  private:
    void AppendRecord(std::u16string_view name, uint32_t attributes, uint32_t size,
                      uint64_t fileTime);
    std::vector<uint8_t> bytes_;
    size_t groupStart_ = 0;
    bool haveGroup_ = false;
};

}  // namespace winqor
