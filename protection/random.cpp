#include "protection/random.h"

#include "protection/crypto_backend.h"

namespace winqor {

bool RandomBytes(uint8_t* out, size_t count) {
    if (out == nullptr) return count == 0;
    return count == 0 || crypto::SystemRandom(out, count);
}

}  // namespace winqor
