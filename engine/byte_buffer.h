#pragma once

#include <cstdint>

namespace winqor {

// An owned heap block with its capacity and a read position. Allocate obtains the block with
// malloc when the extractor's ValidateHeader asks for it, and does not clear it; the destructor
// frees it. The destructor is virtual, as the class is described, though nothing else is.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    virtual ~ByteBuffer();

    // Allocates the block; false when memory is short (the buffer then stays empty).
    bool Allocate(uint32_t size);

    uint32_t position = 0;
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
};

}  // namespace winqor
