#include "protection/random.h"

#include <openssl/rand.h>

#include <climits>

namespace winqor {

bool RandomBytes(uint8_t* out, size_t count) {
    if (out == nullptr) return count == 0;
    while (count > 0) {
        const int chunk = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        if (RAND_bytes(out, chunk) != 1) return false;
        out += chunk;
        count -= static_cast<size_t>(chunk);
    }
    return true;
}

}  // namespace winqor
