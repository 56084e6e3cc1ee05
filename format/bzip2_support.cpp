#include "format/bzip2_support.h"

#include <cstdlib>

namespace winqor {

int StreamLevel(std::span<const uint8_t> stream) {
    if (stream.size() < kBzip2HeaderBytes || stream[0] != 'B' || stream[1] != 'Z' ||
        stream[2] != 'h')
        return 0;
    return stream[3] >= '1' && stream[3] <= '9' ? stream[3] - '0' : 0;
}

Bzip2MemoryCache::~Bzip2MemoryCache() {
    for (const Block& block : blocks_) std::free(block.memory);
}

void* Bzip2MemoryCache::Allocate(void* self, int count, int size) {
    return static_cast<Bzip2MemoryCache*>(self)->Take(static_cast<size_t>(count) *
                                                      static_cast<size_t>(size));
}

void Bzip2MemoryCache::Release(void* self, void* memory) {
    for (Block& block : static_cast<Bzip2MemoryCache*>(self)->blocks_) {
        if (block.memory == memory) block.inUse = false;
    }
}

void* Bzip2MemoryCache::Take(size_t size) {
    for (Block& block : blocks_) {
        if (!block.inUse && block.size == size) {
            block.inUse = true;
            return block.memory;
        }
    }
    void* memory = std::malloc(size);
    if (memory != nullptr) blocks_.push_back({memory, size, true});
    return memory;
}

}  // namespace winqor
