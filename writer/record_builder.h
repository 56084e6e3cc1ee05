// Builds a record stream in memory: each directory record, then its files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace winqor {

class RecordStreamBuilder {
  public:
    // name: "" for the root, "\\docs", "\\docs\\notes". Starts a new group.
    void AddDirectory(std::u16string_view name);
    // A file of the current group; name is bare ("Setup.exe"). permissions, when given, are
    // the file's mode bits, kept (within 0777) in the record's reserved bytes.
    void AddFile(std::u16string_view name, uint32_t attributes, std::span<const uint8_t> content,
                 uint64_t fileTime = 0, std::optional<uint32_t> permissions = std::nullopt);
    // A file of the current group whose content appendContent appends to the stream's bytes,
    // so that it is read straight into place. When appendContent returns false the record is
    // taken back, and so is false.
    bool AddFileFrom(std::u16string_view name, uint32_t attributes, uint64_t fileTime,
                     const std::function<bool(std::vector<uint8_t>&)>& appendContent,
                     std::optional<uint32_t> permissions = std::nullopt);

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Hands the stream over; the builder is empty afterwards.
    std::vector<uint8_t> TakeBytes() {
        haveGroup_ = false;
        std::vector<uint8_t> taken = std::move(bytes_);
        bytes_.clear();
        return taken;
    }
    void Reserve(size_t bytes) { bytes_.reserve(bytes); }
    // Bytes a record of this name takes before its content.
    static uint64_t RecordOverhead(std::u16string_view name);

  private:
    void AppendRecord(std::u16string_view name, uint32_t attributes, uint32_t size,
                      uint64_t fileTime, std::optional<uint32_t> permissions = std::nullopt);
    std::vector<uint8_t> bytes_;
    size_t groupStart_ = 0;
    bool haveGroup_ = false;
};

}  // namespace winqor
