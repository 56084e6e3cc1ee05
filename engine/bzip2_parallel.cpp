#include "engine/bzip2_parallel.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "base/bzip2_memory.h"
#include "base/work_threads.h"
#include "engine/bzip2_blocks.h"
#include "engine/bzip2_decoder.h"
#include "engine/decoded_prefix.h"
#include "engine/decoder_threads.h"
#include "format/bzip2_support.h"
#include "platform/debug.h"

namespace winqor {
namespace {

// Output goes to the library in pieces of this size, so that a block decoded before its
// place is known moves there as soon as it is.
constexpr uint32_t kPieceBytes = 128 * 1024;
constexpr uint64_t kMegabyte = 1024 * 1024;

unsigned Megabytes(uint64_t bytes) {
    return static_cast<unsigned>(std::min<uint64_t>(bytes / kMegabyte, UINT32_MAX));
}

// blocks 0: the stream was not looked at, since one thread is all there is.
void ReportChoice(unsigned threads, size_t blocks, unsigned processors, uint64_t budget) {
    if (!DecoderChoiceReported()) return;
    const unsigned megabytes = Megabytes(budget);
    if (blocks == 0) {
        DebugPrint(u"decoder: 1 thread, one call (processors: %u, memory budget: %u MB)\n",
                   processors, megabytes);
        return;
    }
    DebugPrint(u"decoder: %u %s for %u blocks (processors: %u, memory budget: %u MB)\n", threads,
               threads == 1 ? u"thread" : u"threads",
               static_cast<unsigned>(std::min<size_t>(blocks, UINT32_MAX)), processors, megabytes);
}

// kTooLong: the block does not fit the output, or memory to hold it aside is short.
enum class Outcome { kDecoded, kBroken, kTooLong, kAbandoned };

// Bytes held aside, grown without clearing what the library overwrites anyway.
class Scratch {
  public:
    uint8_t* data() { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Grows to size bytes, keeping the first 'keep'; false, changing nothing, when memory is
    // short.
    bool Grow(size_t size, size_t keep) {
        std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]);
        if (!bigger) return false;
        if (keep > 0) std::memcpy(bigger.get(), bytes_.get(), keep);
        bytes_ = std::move(bigger);
        size_ = size;
        return true;
    }

  private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
};

// One block's output on its way: held aside while its place is unknown, then in its place.
struct BlockOutput {
    uint8_t first = 0;  // the first byte, before anything else is chosen
    Scratch scratch;    // valid when hasScratch
    bool hasScratch = false;
    uint8_t* place = nullptr;  // the block's start in the output, once known
    uint32_t room = 0;         // bytes from place to the output's end
    uint32_t produced = 0;

    const uint8_t* Held() { return hasScratch ? scratch.data() : &first; }
};

// A block decoded before its place was known, waiting for the blocks before it.
struct Parked {
    Scratch bytes;
    uint32_t size = 0;
    bool held = false;
};

class BlockDecoding {
  public:
    BlockDecoding(std::span<const uint8_t> stream, int level, uint8_t* out, uint32_t outBytes,
                  uint64_t memoryBudget, DecodedPrefix* prefix)
        : stream_(stream),
          level_(level),
          out_(out),
          outBytes_(outBytes),
          budget_(memoryBudget),
          prefix_(prefix) {}

    bool DecodeAll(unsigned processors);

  private:
    size_t SegmentCount() const;
    bool JoinWithNext(size_t index);
    bool EndIsSound() const;
    bool Run(size_t to, unsigned threads);
    void Work();
    std::optional<size_t> Take();
    Outcome Decode(size_t index, std::vector<uint8_t>& wrapped, Bzip2MemoryCache& memory,
                   BlockOutput& output);
    uint8_t* PieceFor(size_t index, BlockOutput& output, uint32_t& size, Outcome& stop);
    Outcome Finish(size_t index, BlockOutput& output);
    void GiveUp(size_t index, Outcome outcome, BlockOutput& output);

    // The helpers below run with mutex_ held.
    bool Stopped(size_t index) const { return tooLong_ || stopAt_ < index; }
    void WaitForScratchOrPlace(std::unique_lock<std::mutex>& lock, size_t index);
    bool TakeScratch(BlockOutput& output);
    void ReturnScratch(Scratch scratch);
    uint32_t GrowScratch(BlockOutput& output);
    bool MoveInPlace(BlockOutput& output);
    void Commit(uint32_t size);

    const std::span<const uint8_t> stream_;
    const int level_;
    uint8_t* const out_;
    const uint32_t outBytes_;
    const uint64_t budget_;
    DecodedPrefix* const prefix_;  // told of each block in place; may be null
    // Block magics in the order of their bits, up to the first end magic and beyond it: the
    // segment i runs from marker i to marker i + 1.
    std::vector<StreamMarker> markers_;

    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;       // the next segment to hand out
    size_t to_ = 0;         // the end of the segments of this run
    size_t stopAt_ = 0;     // the first segment that failed, or to_
    bool tooLong_ = false;  // a block would not fit: the stream is longer than the output
    size_t committed_ = 0;  // segments in their place, all before the others
    uint32_t committedBytes_ = 0;
    std::vector<Parked> parked_;
    std::vector<Scratch> spareScratch_;
    unsigned scratchInUse_ = 0;
    unsigned maxScratch_ = 0;
};

bool BlockDecoding::DecodeAll(unsigned processors) {
    markers_ = FindMarkers(stream_);
    if (markers_.empty() || markers_[0].bit != kBzip2HeaderBits || markers_[0].isEnd) return false;
    const size_t blocks = SegmentCount();
    const unsigned threads = DecodingThreads(processors, budget_, level_, blocks);
    ReportChoice(threads, blocks, processors, budget_);
    if (threads < 2) return false;
    bool retrying = false;
    while (committed_ < SegmentCount()) {
        // A segment that failed is joined with the next and tried again alone: it was cut at
        // a magic inside its data, or it is damaged and fails again.
        const size_t to = retrying ? committed_ + 1 : SegmentCount();
        if (!Run(to, retrying ? 1 : threads) || tooLong_) return false;
        retrying = committed_ < to;
        if (retrying && !JoinWithNext(committed_)) return false;
    }
    return EndIsSound();
}

// The segments before the first end magic, or 0 when there is none.
size_t BlockDecoding::SegmentCount() const {
    for (size_t i = 0; i < markers_.size(); ++i) {
        if (markers_[i].isEnd) return i;
    }
    return 0;
}

bool BlockDecoding::JoinWithNext(size_t index) {
    if (markers_.size() - index < 3) return false;
    if (markers_[index + 2].bit - markers_[index].bit > MaxBlockBits(level_)) return false;
    markers_.erase(markers_.begin() + static_cast<std::ptrdiff_t>(index) + 1);
    return true;
}

bool BlockDecoding::EndIsSound() const {
    if (committed_ >= markers_.size() || !markers_[committed_].isEnd) return false;
    const uint64_t end = markers_[committed_].bit;
    if (stream_.size() * 8 - end < kBzip2EndBits) return false;
    uint32_t combined = 0;
    for (size_t i = 0; i < committed_; ++i) {
        combined = (combined << 1 | combined >> 31) ^ BlockCrcAt(stream_, markers_[i].bit);
    }
    return combined == BlockCrcAt(stream_, end) && committedBytes_ == outBytes_;
}

// Decodes the segments from committed_ to 'to' on up to threads threads, this one included;
// false when no helper thread could be started.
bool BlockDecoding::Run(size_t to, unsigned threads) {
    to_ = to;
    next_ = committed_;
    stopAt_ = to;
    parked_.clear();
    parked_.resize(to);
    scratchInUse_ = 0;
    maxScratch_ = BlocksHeldAside(threads, budget_, level_);
    return RunOnThreads(
        threads, [this] { Work(); }, threads > 1);
}

void BlockDecoding::Work() {
    std::vector<uint8_t> wrapped;
    Bzip2MemoryCache memory;
    while (const auto index = Take()) {
        BlockOutput output;
        const Outcome outcome = Decode(*index, wrapped, memory, output);
        if (outcome != Outcome::kDecoded) GiveUp(*index, outcome, output);
    }
}

std::optional<size_t> BlockDecoding::Take() {
    const std::lock_guard lock(mutex_);
    if (tooLong_ || next_ >= stopAt_) return std::nullopt;
    return next_++;
}

Outcome BlockDecoding::Decode(size_t index, std::vector<uint8_t>& wrapped, Bzip2MemoryCache& memory,
                              BlockOutput& output) {
    try {
        WrapBlock(stream_, markers_[index].bit, markers_[index + 1].bit, wrapped);
    } catch (const std::bad_alloc&) {
        // Memory is short (a limit on the sandboxed child, say): the one call decides.
        return Outcome::kTooLong;
    }
    Bzip2Decoder decoder;
    if (decoder.Init(Bzip2MemoryCache::Allocate, Bzip2MemoryCache::Release, &memory) == 0)
        return Outcome::kBroken;
    // The library decodes a whole block before its first byte comes out. Asking for one byte
    // first leaves the choice of where the rest goes until then, when the block's place is
    // more likely known.
    uint32_t count = 1;
    auto inCount = static_cast<uint32_t>(wrapped.size());
    int code = decoder.Decode(&output.first, &count, wrapped.data(), &inCount);
    if (code == 0 || count == 0) return Outcome::kBroken;
    output.produced = 1;
    while (code == 1) {
        uint32_t room = 0;
        Outcome stop = Outcome::kDecoded;
        uint8_t* piece = PieceFor(index, output, room, stop);
        if (piece == nullptr) return stop;
        count = room;
        code = decoder.Decode(piece, &count, nullptr, nullptr);
        output.produced += count;
        // Room left without the end: the block's bits ran out before the block did.
        if (code == 1 && count < room) return Outcome::kBroken;
    }
    return code == 2 ? Finish(index, output) : Outcome::kBroken;
}

// Where the next piece of the block's output goes and how much fits there; null when the
// block must stop, with the reason in stop.
uint8_t* BlockDecoding::PieceFor(size_t index, BlockOutput& output, uint32_t& size, Outcome& stop) {
    std::unique_lock lock(mutex_);
    if (output.place == nullptr && !output.hasScratch) WaitForScratchOrPlace(lock, index);
    stop = Stopped(index) ? Outcome::kAbandoned : Outcome::kTooLong;
    if (Stopped(index)) return nullptr;
    if (output.place == nullptr && index == committed_ && !MoveInPlace(output)) return nullptr;
    if (output.place != nullptr) {
        size = std::min(kPieceBytes, output.room - output.produced);
        return size == 0 ? nullptr : output.place + output.produced;
    }
    if (!output.hasScratch && !TakeScratch(output)) return nullptr;
    size = GrowScratch(output);
    return size == 0 ? nullptr : output.scratch.data() + output.produced;
}

Outcome BlockDecoding::Finish(size_t index, BlockOutput& output) {
    std::unique_lock lock(mutex_);
    if (output.place == nullptr && !output.hasScratch) WaitForScratchOrPlace(lock, index);
    if (Stopped(index)) return Outcome::kAbandoned;
    if (output.place == nullptr && index == committed_ && !MoveInPlace(output))
        return Outcome::kTooLong;
    if (output.place == nullptr) {
        if (!output.hasScratch && !TakeScratch(output)) return Outcome::kTooLong;
        parked_[index] = {std::move(output.scratch), output.produced, true};
        output.hasScratch = false;
        return Outcome::kDecoded;
    }
    Commit(output.produced);
    return Outcome::kDecoded;
}

void BlockDecoding::GiveUp(size_t index, Outcome outcome, BlockOutput& output) {
    const std::lock_guard lock(mutex_);
    if (output.hasScratch) ReturnScratch(std::move(output.scratch));
    output.hasScratch = false;
    if (outcome == Outcome::kTooLong) tooLong_ = true;
    if (outcome == Outcome::kBroken) stopAt_ = std::min(stopAt_, index);
    changed_.notify_all();
}

// Scratch is bounded by the thread count; the block whose place is known needs none, so a
// wait always ends.
void BlockDecoding::WaitForScratchOrPlace(std::unique_lock<std::mutex>& lock, size_t index) {
    changed_.wait(lock, [&] {
        return Stopped(index) || index == committed_ || !spareScratch_.empty() ||
               scratchInUse_ < maxScratch_;
    });
}

bool BlockDecoding::TakeScratch(BlockOutput& output) {
    if (!spareScratch_.empty()) {
        output.scratch = std::move(spareScratch_.back());
        spareScratch_.pop_back();
    } else if (!output.scratch.Grow(kBzip2LevelUnit * static_cast<size_t>(level_), 0)) {
        return false;
    }
    ++scratchInUse_;
    // Only the first byte has come out so far.
    output.scratch.data()[0] = output.first;
    output.hasScratch = true;
    return true;
}

void BlockDecoding::ReturnScratch(Scratch scratch) {
    spareScratch_.push_back(std::move(scratch));
    --scratchInUse_;
    changed_.notify_all();
}

// Room for the next piece in scratch, grown when full; 0 when the block would not fit the
// output even right after the blocks already in place.
uint32_t BlockDecoding::GrowScratch(BlockOutput& output) {
    const uint32_t limit = outBytes_ - committedBytes_;
    if (output.produced >= limit) return 0;
    Scratch& scratch = output.scratch;
    if (scratch.size() - output.produced < kPieceBytes && scratch.size() < limit) {
        const size_t grown = std::max<size_t>(scratch.size() * 2, output.produced + kPieceBytes);
        if (!scratch.Grow(std::min<size_t>(limit, grown), output.produced)) return 0;
    }
    const size_t usable = std::min<size_t>(scratch.size(), limit);
    return static_cast<uint32_t>(std::min<size_t>(kPieceBytes, usable - output.produced));
}

// The block's place is known: what it has produced moves there and the rest goes straight
// there. False when it does not fit.
bool BlockDecoding::MoveInPlace(BlockOutput& output) {
    const uint32_t room = outBytes_ - committedBytes_;
    if (output.produced > room) return false;
    output.place = out_ + committedBytes_;
    output.room = room;
    std::memcpy(output.place, output.Held(), output.produced);
    if (output.hasScratch) ReturnScratch(std::move(output.scratch));
    output.hasScratch = false;
    return true;
}

// The block at committed_ is in place; so are the parked blocks right after it.
void BlockDecoding::Commit(uint32_t size) {
    committedBytes_ += size;
    ++committed_;
    while (committed_ < to_ && parked_[committed_].held) {
        Parked& next = parked_[committed_];
        if (next.size > outBytes_ - committedBytes_) {
            tooLong_ = true;
            break;
        }
        std::memcpy(out_ + committedBytes_, next.bytes.data(), next.size);
        next.held = false;
        ReturnScratch(std::move(next.bytes));
        committedBytes_ += next.size;
        ++committed_;
    }
    if (prefix_ != nullptr) prefix_->Advance(committedBytes_);
    changed_.notify_all();
}

}  // namespace

int DecodeBlocksInParallel(const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t outBytes,
                           unsigned processors, uint64_t memoryBudget, DecodedPrefix* prefix) {
    const std::span<const uint8_t> stream(in, in == nullptr ? 0 : inBytes);
    const int level = StreamLevel(stream);
    if (level == 0 || out == nullptr) return 0;
    // However many blocks there are, one thread is all the processors or the budget allow:
    // the one call costs less than finding the blocks.
    if (DecodingThreads(processors, memoryBudget, level, SIZE_MAX) < 2) {
        ReportChoice(1, 0, processors, memoryBudget);
        return 0;
    }
    // Memory short for the list of blocks leaves the stream to the one call. The threads
    // never throw: they stop the run instead.
    try {
        BlockDecoding decoding(stream, level, out, outBytes, memoryBudget, prefix);
        return decoding.DecodeAll(processors) ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace winqor
