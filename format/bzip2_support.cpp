#include "format/bzip2_support.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace winqor {

int StreamLevel(std::span<const uint8_t> stream) {
    if (stream.size() < kBzip2HeaderBytes || stream[0] != 'B' || stream[1] != 'Z' ||
        stream[2] != 'h')
        return 0;
    return stream[3] >= '1' && stream[3] <= '9' ? stream[3] - '0' : 0;
}

unsigned UsableProcessors(const ProcessorAllowance& allowance) {
    uint64_t processors = allowance.affinity != 0 ? allowance.affinity : allowance.online;
    if (allowance.quotaMicros != 0 && allowance.periodMicros != 0) {
        const uint64_t quota = allowance.quotaMicros / allowance.periodMicros +
                               (allowance.quotaMicros % allowance.periodMicros != 0 ? 1 : 0);
        processors = processors == 0 ? quota : std::min(processors, quota);
    }
    return static_cast<unsigned>(std::clamp<uint64_t>(processors, 1, UINT32_MAX));
}

unsigned UsableProcessors() {
    return UsableProcessors(ReadProcessorAllowance());
}

void* Bzip2MemoryCache::Allocate(void* self, int count, int size) {
    return static_cast<Bzip2MemoryCache*>(self)->Take(static_cast<size_t>(count) *
                                                      static_cast<size_t>(size));
}

void Bzip2MemoryCache::Release(void* self, void* memory) {
    for (Block& block : static_cast<Bzip2MemoryCache*>(self)->blocks_) {
        if (block.memory.get() == memory) block.inUse = false;
    }
}

void* Bzip2MemoryCache::Take(size_t size) {
    for (Block& block : blocks_) {
        if (!block.inUse && block.size == size) {
            block.inUse = true;
            return block.memory.get();
        }
    }
    std::unique_ptr<void, Free> memory(std::malloc(size));
    if (memory == nullptr) return nullptr;
    // Called from the library's C code, which no exception may cross: memory short for the
    // list is memory short.
    try {
        blocks_.push_back({std::move(memory), size, true});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return blocks_.back().memory.get();
}

}  // namespace winqor
