// Memory for the bzip2 library, kept from one stream to the next: shared by the decoder
// (engine/) and the compressor (writer/), which both hand it to the library's allocator slots.
// Pure code: no library header, no system call.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

namespace winqor {

// The library's memory for one thread's streams: the library asks for the same few large
// blocks every time, which would otherwise be mapped, cleared and unmapped again per stream.
// Allocate and Release go to the library's allocator slots, with the cache as their opaque
// pointer.
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

}  // namespace winqor
