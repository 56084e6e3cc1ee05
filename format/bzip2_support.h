// What the decoder and the compressor share about bzip2 streams: the layout's constants, the
// level digit, memory for the library kept between streams, and work spread over threads.
// The library itself stays with the decoder and the compressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/processors.h"

namespace winqor {

// "BZh" and the level digit '1' to '9'.
inline constexpr uint64_t kBzip2HeaderBytes = 4;
inline constexpr uint64_t kBzip2HeaderBits = kBzip2HeaderBytes * 8;
// Each block opens with this magic and its 32-bit CRC; the stream ends with the end magic,
// the 32-bit combined CRC and zero bits up to a byte.
inline constexpr uint64_t kBzip2BlockMagic = 0x314159265359;
inline constexpr uint64_t kBzip2EndMagic = 0x177245385090;
inline constexpr int kBzip2MagicBits = 48;
inline constexpr int kBzip2CrcBits = 32;
// The end magic and the combined CRC, before the padding.
inline constexpr uint64_t kBzip2EndBits = kBzip2MagicBits + kBzip2CrcBits;
// A level-n block holds at most n times this many bytes.
inline constexpr uint64_t kBzip2LevelUnit = 100'000;
inline constexpr int kBzip2HighestLevel = 9;

// The level digit's value (1 to 9), or 0 when the bytes do not open a bzip2 stream.
int StreamLevel(std::span<const uint8_t> stream);

// The library's memory for one thread's streams, kept from one stream to the next: the
// library asks for the same few large blocks every time, which would otherwise be mapped,
// cleared and unmapped again per stream. Allocate and Release go to the library's allocator
// slots, with the cache as their opaque pointer.
class Bzip2MemoryCache {
  public:
    static void* Allocate(void* self, int count, int size);
    static void Release(void* self, void* memory);

  private:
    struct Free {
        void operator()(void* memory) const { std::free(memory); }
    };
    struct Block {
        std::unique_ptr<void, Free> memory;
        size_t size;
        bool inUse;
    };
    void* Take(size_t size);
    std::vector<Block> blocks_;
};

// The processors the allowance leaves this process, at least 1: its affinity (else the
// machine's count), lowered to its quota rounded up (a quota of 1.5 processors keeps two busy
// for most of each period).
unsigned UsableProcessors(const ProcessorAllowance& allowance);
// The same for the allowance the system gives now (platform/processors.h).
unsigned UsableProcessors();

// Runs work on up to count threads, this one included. A thread the system will not give (or
// memory for it) only means fewer helpers: work takes jobs until none are left. When helperNeeded
// and no helper could be started, work does not run and the answer is false.
template <typename Work>
bool RunOnThreads(unsigned count, Work work, bool helperNeeded = false) {
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < count; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    if (helperNeeded && helpers.empty()) return false;
    work();
    for (auto& helper : helpers) helper.join();
    return true;
}

}  // namespace winqor
