// The one walk of a decoded record stream: directory groups, each a directory record followed
// by the file records of its folder. The walk holds every rule of the stream (each record and
// its name within the group and the stream, names that stay below the root, joined paths that
// fit) and hands each record that passes to a sink: the output stage writes it, other sinks
// check, list, tally or look for a file. The first record that breaks a rule, or that the sink
// refuses, stops the walk with its failure recorded.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/decoded_archive.h"
#include "engine/decoded_prefix.h"
#include "engine/extraction_report.h"
#include "engine/record_sink.h"
#include "format/record_stream.h"

namespace winqor {

class RecordWalk {
  public:
    RecordWalk(DecodedArchive& archive, ExtractionReport& report)
        : archive_(archive), report_(report) {}

    // The folder each directory name is joined to, kept by the caller for the walk's life: the
    // root's path, or empty when the walk writes nowhere. Null: empty.
    void SetBase(const char16_t* base) { base_ = base; }
    // Whether each folder and file goes to the debug channel as it is met.
    void SetTraced(bool traced) { traced_ = traced; }
    // A stream still being decoded: the walk waits for each record's bytes, and stops without
    // a word or a failure (stopped()) when the decoder stops short of them. Null: decoded.
    void SetPrefix(DecodedPrefix* prefix) {
        prefix_ = prefix;
        stopped_ = false;
    }
    bool stopped() const { return stopped_; }

    // Walks the stream from its position to the header's unpackedSize; 1 when every record
    // passed, 0 after "qorOutputArchive:unexpected error".
    int Records(RecordSink& sink);
    // One directory group: the bytes it took (its size), or 0 on failure.
    uint32_t Directory(uint32_t remaining, RecordSink& sink);
    // The group's file records: expected when they took exactly that, else 0.
    uint32_t Files(uint32_t expected, RecordSink& sink);
    // One file record: the bytes it took (header, name and content), or 0 on failure.
    uint32_t File(RecordSink& sink);

  private:
    bool ReadDirectoryRecord(uint32_t remaining, RecordView& record, char16_t* name);
    // A name longer than any path the platform takes fails as too long.
    bool CopyNameOrFail(const RecordView& record, char16_t* name);
    // Checks the name, joins it to the base, and splits it into components (pointing into parts).
    bool ResolveDirectory(const char16_t* name, char16_t* joined, char16_t* parts,
                          const char16_t** components, uint32_t& count);
    void TraceFolder(const char16_t* joined, const char16_t* const* components, uint32_t count);
    bool HandFile(RecordSink& sink, const char16_t* name, const RecordView& record);
    void RecordMalformed();
    // Waits until the stream's bytes up to count past the walk's position are decoded (those
    // past the stream's end: all of it); false, the walk stopped, when they never will be.
    bool Decoded(uint64_t count);
    // Decoded for the header and name of the record at the walk's position.
    bool RecordHeadDecoded();
    bool HasBase() const { return base_ != nullptr && base_[0] != 0; }
    ByteBuffer& stream() { return *archive_.output(); }

    DecodedArchive& archive_;
    ExtractionReport& report_;
    const char16_t* base_ = nullptr;
    bool traced_ = false;
    DecodedPrefix* prefix_ = nullptr;
    bool stopped_ = false;
};

// Hands every record to each of its sinks in turn; the first that refuses stops the walk.
class RecordFanOut : public RecordSink {
  public:
    explicit RecordFanOut(std::vector<RecordSink*> sinks) : sinks_(std::move(sinks)) {}
    bool Directory(const char16_t* joinedPath, const char16_t* const* components,
                   uint32_t count) override;
    bool File(const char16_t* name, uint32_t attributes, std::optional<uint32_t> permissions,
              const uint8_t* content, uint32_t size) override;

  private:
    std::vector<RecordSink*> sinks_;
};

// Takes every record: the walk's own rules decide.
class AcceptingSink : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t) override { return true; }
    bool File(const char16_t*, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t) override {
        return true;
    }
};

}  // namespace winqor
