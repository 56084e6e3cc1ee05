#include "base/bzip2_memory.h"

#include <new>
#include <utility>

namespace winqor {

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
