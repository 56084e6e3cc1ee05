// aze list --json: one JSON object a line (JSON Lines) for every folder and file, in the order
// the archive stores them, for scripts.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/record_sink.h"

namespace winqor {

// text as a quoted JSON string: valid JSON for any name an archive can hold. A well-formed
// surrogate pair becomes its UTF-8 character; a lone surrogate, a control character (C0, DEL,
// C1) and the quote and backslash are escaped.
std::string JsonString(std::u16string_view text);

// Prints {"type":"folder","path":"sub/deep"} for every folder below the root and
// {"type":"file","path":"sub/a.txt","size":12,"readOnly":false} for every file, paths relative
// to the root with "/" between components; a file whose record kept its permission bits also
// says whether any execute bit is among them ("executable":true). Each object goes to writeLine
// whole, with its line end (no stream: a stream would bring the library's locales into every
// self-extracting program).
class JsonListingSink : public RecordSink {
  public:
    using LineWriter = std::function<void(std::string_view line)>;
    explicit JsonListingSink(LineWriter writeLine) : writeLine_(std::move(writeLine)) {}
    bool Directory(const char16_t* joinedPath, const char16_t* const* components,
                   uint32_t count) override;
    bool File(const char16_t* name, uint32_t attributes, std::optional<uint32_t> permissions,
              const uint8_t* content, uint32_t size) override;

  private:
    LineWriter writeLine_;
    std::u16string folder_;  // the current folder's path, empty for the root
};

// A JsonListingSink for OfferJsonListing (engine/sandboxed_runner.h).
std::unique_ptr<RecordSink> NewJsonListingSink(std::function<void(std::string_view)> writeLine);

}  // namespace winqor
