#include "engine/byte_buffer.h"

#include <cstdlib>

namespace winqor {

ByteBuffer::~ByteBuffer() {
    std::free(data);
    data = nullptr;
    capacity = 0;
    position = 0;
}

bool ByteBuffer::Allocate(uint32_t size) {
    data = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    capacity = data == nullptr ? 0 : size;
    return data != nullptr;
}

}  // namespace winqor
