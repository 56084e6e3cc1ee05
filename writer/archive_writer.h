// Turns a record stream into archive bytes: bzip2 level 9, the MD5 of the stream, DES-CBC of
// its whole 8-byte blocks when a password digest is given, and the 256-byte header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace winqor {

struct ArchiveOptions {
    // The password's digest; none writes a plain archive.
    std::optional<std::array<uint8_t, 16>> passwordDigest;
    std::array<uint8_t, 4> keySeed = {};
    // Archives this system writes always permit a self-extracting run.
    bool embedded = true;
    bool runSetup = false;
};

// false, with a message in error, when the stream is empty or too large, the compressed
// payload is too large, or the digest can never be accepted.
bool WriteArchive(std::span<const uint8_t> records, const ArchiveOptions& options,
                  std::vector<uint8_t>& archive, std::string& error);

// bzip2 at level 9; false when the library fails. (writer/bzip2_compressor.cpp)
bool CompressBzip2(std::span<const uint8_t> in, std::vector<uint8_t>& out);

}  // namespace winqor
