// The free-space check that comes before an extraction's first write: the records' sizes are
// summed as the walk meets them, and the sum compared with the room EnterRoot found.
#include <string>
#include <utility>

#include "base/text.h"
#include "engine/output_stage.h"
#include "platform/debug.h"

namespace winqor {
namespace {

// Sums what each folder and file will take on disk.
class RoomTally : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t) override {
        needed_ += OutputStage::kRoomPerEntry;
        return true;
    }
    bool File(const char16_t*, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t size) override {
        needed_ += OutputStage::kRoomPerEntry + size;
        return true;
    }
    uint64_t needed() const { return needed_; }

  private:
    uint64_t needed_ = 0;
};

}  // namespace

int OutputStage::CheckRecords(RecordSink* sink) {
    AcceptingSink accepting;
    RoomTally tally;
    RecordFanOut both({sink != nullptr ? sink : &accepting, &tally});
    records_.SetTraced(false);
    const int checked = records_.Records(both);
    archive_.RewindOutput();
    checkedRoom_ = checked != 0 ? std::optional<uint64_t>(tally.needed()) : std::nullopt;
    checkedStream_ = archive_.output() != nullptr ? stream().data : nullptr;
    return checked;
}

// Walks the records from the stream's position, writing nothing and saying nothing: whatever
// the walk finds wrong, the report and the debug channel stay as they were.
std::optional<uint64_t> OutputStage::TallyRecords() {
    if (archive_.output() == nullptr) return std::nullopt;
    RoomTally tally;
    const uint32_t start = stream().position;
    const ExtractionReport reportBefore = report_;
    DebugSink channel = SetDebugSink({});
    records_.SetTraced(false);
    const int walked = records_.Records(tally);
    stream().position = start;
    SetDebugSink(std::move(channel));
    report_ = reportBefore;
    return walked != 0 ? std::optional<uint64_t>(tally.needed()) : std::nullopt;
}

std::optional<uint64_t> OutputStage::CheckedRoom() {
    const ByteBuffer* out = archive_.output();
    if (out == nullptr || out->data != checkedStream_ || out->position != 0) return std::nullopt;
    return checkedRoom_;
}

bool OutputStage::HasRoomForTree() {
    // Where the system cannot say, the writes themselves will.
    if (!freeBytes_) return true;
    const std::optional<uint64_t> checked = CheckedRoom();
    const std::optional<uint64_t> needed = checked ? checked : TallyRecords();
    // Records that break the rules fail the walk itself where they stand, as they always did.
    if (!needed || *needed <= *freeBytes_) return true;
    const std::string figures =
        WithThousands(*needed) + " bytes needed, " + WithThousands(*freeBytes_) + " free";
    const std::u16string where =
        std::u16string(Utf16View(folder_)) + u" (" + WidenAscii(figures) + u")";
    DebugPrint(u"winqor: not enough free space in %s\n", where.c_str());
    report_.RecordFailure(Failure::kNoRoom, where);
    return false;
}

}  // namespace winqor
