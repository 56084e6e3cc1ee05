// Where the output stage sends folders and files. Without a sink the stage writes to disk;
// a sink lets the same walk, with all its checks, list or test an archive instead.
#pragma once

#include <cstdint>
#include <optional>

namespace winqor {

class RecordSink {
  public:
    virtual ~RecordSink() = default;
    // A directory record: its joined path and its components below the root (none for the
    // root). False fails the walk.
    virtual bool Directory(const char16_t* joinedPath, const char16_t* const* components,
                           uint32_t count) = 0;
    // A file record of the current directory, with the permission bits (within 0777) its
    // record kept, if it kept any. False fails the walk.
    virtual bool File(const char16_t* name, uint32_t attributes,
                      std::optional<uint32_t> permissions, const uint8_t* content,
                      uint32_t size) = 0;
};

}  // namespace winqor
