// How far the decoded record stream is final while the decoder is still at work, so that a
// walk can write the files of the first blocks while the later ones decode. The decoder moves
// the end forward as blocks take their place, in order; the walk waits for the bytes it reads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace winqor {

class DecodedPrefix {
  public:
    // The decoder: the stream's bytes [0, end) are in place and will not change.
    void Advance(uint32_t end);
    // The decoder has stopped; whole when every byte of the stream is in place.
    void End(bool whole);

    // The walk: waits until [0, end) is in place (true) or the decoder stopped short of it
    // (false: the walk must stop without judging the stream).
    bool Await(uint32_t end);

  private:
    std::mutex mutex_;
    std::condition_variable moved_;
    uint32_t end_ = 0;
    bool stopped_ = false;
};

}  // namespace winqor
