// The free-space check that comes before an extraction's first write: the records are walked
// once without writing, their sizes summed, and the sum compared with the room EnterRoot found.
#include <string>
#include <utility>

#include "base/text.h"
#include "engine/tree_writer.h"
#include "platform/debug.h"

namespace winqor {
namespace {

// Sums what each folder and file will take on disk.
class RoomTally : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t) override {
        needed_ += TreeWriter::kRoomPerEntry;
        return true;
    }
    bool File(const char16_t*, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t size) override {
        needed_ += TreeWriter::kRoomPerEntry + size;
        return true;
    }
    uint64_t needed() const { return needed_; }

  private:
    uint64_t needed_ = 0;
};

}  // namespace

// Walks the records from the stream's position into tally, writing nothing and saying nothing:
// whatever the walk finds wrong, the report and the debug channel stay as they were.
bool TreeWriter::TallyRecords(RecordSink& tally) {
    RecordSink* const previous = sink_;
    const bool tracedBefore = traced_;
    const uint32_t start = stream().position;
    const ExtractionReport reportBefore = report_;
    DebugSink channel = SetDebugSink({});
    sink_ = &tally;
    traced_ = false;
    const int walked = OutputArchive();
    sink_ = previous;
    traced_ = tracedBefore;
    stream().position = start;
    SetDebugSink(std::move(channel));
    report_ = reportBefore;
    return walked != 0;
}

bool TreeWriter::HasRoomForTree() {
    // Where the system cannot say, the writes themselves will.
    if (!freeBytes_) return true;
    RoomTally tally;
    // Records that break the rules fail the walk itself where they stand, as they always did.
    if (!TallyRecords(tally)) return true;
    if (tally.needed() <= *freeBytes_) return true;
    const std::string figures =
        WithThousands(tally.needed()) + " bytes needed, " + WithThousands(*freeBytes_) + " free";
    const std::u16string where =
        std::u16string(Utf16View(folder_)) + u" (" + WidenAscii(figures) + u")";
    DebugPrint(u"winqor: not enough free space in %s\n", where.c_str());
    report_.RecordFailure(Failure::kNoRoom, where);
    return false;
}

}  // namespace winqor
