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
    // Used only with a password. A plain archive keeps it zero: readers ignore it there, and
    // zero gives nothing away and needs no input, so the same records give the same bytes.
    std::array<uint8_t, 4> keySeed = {};
    // Archives this system writes always permit a self-extracting run.
    bool embedded = true;
    bool runSetup = false;
};

// false, with reason set, when the stream is empty or too large, the compressed
// payload is too large, or the digest can never be accepted.
bool WriteArchive(std::span<const uint8_t> records, const ArchiveOptions& options,
                  std::vector<uint8_t>& archive, std::string& reason);

// A key seed that is a function of the password's digest and the records alone: the first 4
// bytes of MD5(digest || records). The same tree and password then always give the same
// archive, which tells anyone who holds two of them whether their contents are equal.
std::array<uint8_t, 4> ContentKeySeed(const std::array<uint8_t, 16>& passwordDigest,
                                      std::span<const uint8_t> records);

// bzip2 at level 9 on up to threads threads (0: one per processor this process may use,
// UsableProcessors in platform/processors.h); false when the library
// fails. The input is cut into blocks at places that depend on its size alone, so the bytes
// are the same whatever the number of threads. (writer/bzip2_compressor.cpp)
bool CompressBzip2(std::span<const uint8_t> in, std::vector<uint8_t>& out, unsigned threads = 0);

}  // namespace winqor
