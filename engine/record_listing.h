// A walk of the records that writes nothing: it counts them and, when asked, lists them as
// "D folder" and "F path size" lines (names escaped for display, "." for the root).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/record_sink.h"

namespace winqor {

class ListingSink : public RecordSink {
  public:
    // Each listed line, with its line end; empty: nothing is listed.
    using LineWriter = std::function<void(std::string_view line)>;
    explicit ListingSink(LineWriter writeLine = {}) : writeLine_(std::move(writeLine)) {}

    bool Directory(const char16_t*, const char16_t* const* components, uint32_t count) override;
    bool File(const char16_t* name, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t size) override;
    // "N folders, N files, N bytes", the root not counted.
    std::string Summary() const;

  private:
    LineWriter writeLine_;
    std::string folder_;
    uint64_t folders_ = 0, files_ = 0, bytes_ = 0;
};

}  // namespace winqor
