#include "engine/decoded_prefix.h"

namespace winqor {

void DecodedPrefix::Advance(uint32_t end) {
    const std::lock_guard lock(mutex_);
    if (end > end_) end_ = end;
    moved_.notify_all();
}

void DecodedPrefix::End(bool whole) {
    const std::lock_guard lock(mutex_);
    // A decoder that did not finish may have put blocks in place that the one call writes
    // again: nothing of them counts.
    if (!whole) end_ = 0;
    stopped_ = true;
    moved_.notify_all();
}

bool DecodedPrefix::Await(uint32_t end) {
    std::unique_lock lock(mutex_);
    moved_.wait(lock, [&] { return end_ >= end || stopped_; });
    return end_ >= end;
}

}  // namespace winqor
