// The writer's compressor: one of the two places that include <bzlib.h>.
#include <bzlib.h>

#include <algorithm>
#include <atomic>

#include "base/bzip2_memory.h"
#include "base/work_threads.h"
#include "format/bzip2_support.h"
#include "platform/processors.h"
#include "writer/archive_writer.h"
#include "writer/bzip2_join.h"

namespace winqor {
namespace {

// The most input that always fits one block of the highest level: the block holds 899,981
// bytes after run-length coding, which makes at most 5 bytes of 4.
constexpr size_t kOneBlockInput = 899'981 * 4 / 5;

// Compresses in into the start of room, grown to the library's bound when smaller (a buffer
// used again is then not cleared again); the bytes produced, or 0 when the library fails.
size_t CompressOneStream(std::span<const uint8_t> in, std::vector<uint8_t>& room,
                         Bzip2MemoryCache& cache) {
    bz_stream stream = {};
    stream.bzalloc = Bzip2MemoryCache::Allocate;
    stream.bzfree = Bzip2MemoryCache::Release;
    stream.opaque = &cache;
    if (BZ2_bzCompressInit(&stream, kBzip2HighestLevel, 0, 0) != BZ_OK) return 0;
    // The library documents this bound: 1% larger than the input plus 600 bytes.
    const size_t bound = in.size() + in.size() / 100 + 600;
    if (room.size() < bound) room.resize(bound);
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    stream.avail_in = static_cast<unsigned int>(in.size());
    stream.next_out = reinterpret_cast<char*>(room.data());
    stream.avail_out = static_cast<unsigned int>(bound);
    int code;
    do {
        code = BZ2_bzCompress(&stream, BZ_FINISH);
    } while (code == BZ_FINISH_OK && stream.avail_out > 0);
    const size_t produced = bound - stream.avail_out;
    BZ2_bzCompressEnd(&stream);
    return code == BZ_STREAM_END ? produced : 0;
}

// Every block is compressed on its own, as many at once as there are threads, each taking the
// next block left when it is done with one, and the blocks are then joined into one stream. Where a
// block starts depends on the input's size alone.
bool CompressInBlocks(std::span<const uint8_t> in, std::vector<uint8_t>& out, unsigned threads) {
    const size_t blocks = (in.size() + kOneBlockInput - 1) / kOneBlockInput;
    const size_t blockInput = (in.size() + blocks - 1) / blocks;
    std::vector<std::vector<uint8_t>> streams(blocks);
    std::vector<char> compressed(blocks, 0);
    std::atomic<size_t> next{0};
    auto compressTheNextBlocks = [&] {
        Bzip2MemoryCache cache;
        std::vector<uint8_t> room;
        for (size_t i = next++; i < blocks; i = next++) {
            const size_t start = i * blockInput;
            const auto part = in.subspan(start, std::min(blockInput, in.size() - start));
            const size_t produced = CompressOneStream(part, room, cache);
            streams[i].assign(room.begin(), room.begin() + produced);
            compressed[i] = produced > 0 ? 1 : 0;
        }
    };
    // The processors this process may use, not the machine's: more threads than those only
    // take turns, each holding a block's memory.
    if (threads == 0) threads = UsableProcessors();
    RunOnThreads(static_cast<unsigned>(std::min<size_t>(threads, blocks)), compressTheNextBlocks);
    if (std::find(compressed.begin(), compressed.end(), 0) != compressed.end()) return false;
    return JoinSingleBlockStreams(streams, out);
}

}  // namespace

bool CompressBzip2(std::span<const uint8_t> in, std::vector<uint8_t>& out, unsigned threads) {
    if (in.size() > kOneBlockInput && CompressInBlocks(in, out, threads)) return true;
    Bzip2MemoryCache cache;
    out.clear();
    const size_t produced = CompressOneStream(in, out, cache);
    out.resize(produced);
    return produced > 0;
}

}  // namespace winqor
