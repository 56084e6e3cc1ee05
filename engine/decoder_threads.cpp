#include "engine/decoder_threads.h"

#include <algorithm>

#include "format/bzip2_support.h"

namespace winqor {
namespace {

constexpr uint64_t kFixedBytesPerThread = 64 * 1024;
constexpr uint64_t kMegabyte = 1024 * 1024;
constexpr uint64_t kLowestBudget = 64 * kMegabyte;
constexpr uint64_t kHighestBudget = 256 * kMegabyte;

uint64_t HeldAsideBytes(int level) {
    return kBzip2LevelUnit * static_cast<uint64_t>(std::clamp(level, 1, kBzip2HighestLevel));
}

}  // namespace

uint64_t DecoderBytesPerThread(int level) {
    return 6 * HeldAsideBytes(level) + kFixedBytesPerThread;
}

uint64_t DecoderBudgetFor(uint64_t usableMemory) {
    return std::clamp(usableMemory / 8, kLowestBudget, kHighestBudget);
}

unsigned DecodingThreads(unsigned processors, uint64_t budget, int level, size_t blocks) {
    const uint64_t affordable = budget / DecoderBytesPerThread(level);
    const uint64_t threads = std::min<uint64_t>({processors, affordable, blocks});
    return static_cast<unsigned>(std::max<uint64_t>(threads, 1));
}

unsigned BlocksHeldAside(unsigned threads, uint64_t budget, int level) {
    const uint64_t used = DecoderBytesPerThread(level) * threads;
    const uint64_t spare = budget > used ? (budget - used) / HeldAsideBytes(level) : 0;
    return threads + static_cast<unsigned>(std::min<uint64_t>(spare, threads));
}

}  // namespace winqor
