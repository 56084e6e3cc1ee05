// The resource-table reader on arbitrary program files. A table that reads as valid must
// describe bytes inside the file, and rewriting it must give a table that reads back the same.
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "image/resource_table.h"

namespace {

using namespace winqor;
using fuzz::Require;

std::span<const uint8_t> Bytes(std::span<const uint8_t> file, const ResourceEntry& entry) {
    return file.subspan(entry.offset, entry.size);
}

void CheckEntriesInside(std::span<const uint8_t> file, const ResourceTable& table) {
    Require(table.programBytes <= file.size(), "the program is larger than its file");
    for (const auto& entry : table.entries) {
        Require(entry.offset <= file.size() && entry.size <= file.size() - entry.offset,
                "an entry reaches past the end of the file");
        Require(!entry.type.empty() && entry.type.size() <= kMaxResourceTypeBytes,
                "an entry's type name is empty or too long");
    }
}

// Rewriting the table with nothing added keeps every entry's key and bytes, in order.
void CheckRewrite(std::span<const uint8_t> file, const ResourceTable& table) {
    std::vector<uint8_t> rewritten;
    std::string error;
    Require(AppendResources(file, {}, rewritten, error), "a valid table cannot be rewritten");
    ResourceTable again;
    Require(ParseResourceTable(rewritten, again) == TableStatus::kValid,
            "a rewritten table does not read back");
    Require(again.entries.size() == table.entries.size(), "a rewrite changed the entry count");
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const auto& before = table.entries[i];
        const auto& after = again.entries[i];
        Require(
            before.type == after.type && before.id == after.id && before.language == after.language,
            "a rewrite changed an entry's key");
        const auto old = Bytes(file, before);
        const auto now = Bytes(rewritten, after);
        Require(std::equal(old.begin(), old.end(), now.begin(), now.end()),
                "a rewrite changed an entry's bytes");
    }
}

void CheckAddition(std::span<const uint8_t> file) {
    static const uint8_t kData[3] = {1, 2, 3};
    const NewResource addition{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, kData};
    std::vector<uint8_t> out;
    std::string error;
    Require(AppendResources(file, std::span(&addition, 1), out, error),
            "a resource cannot be added to a file with a readable table");
    ResourceTable table;
    Require(ParseResourceTable(out, table) == TableStatus::kValid, "an added table does not read");
    const ResourceEntry* found = FindEntry(table, kSetupArchiveType, kSetupArchiveId);
    Require(found != nullptr && found->language == kLanguageNeutral && found->size == 3,
            "the added resource is not found");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    ResourceTable table;
    const TableStatus status = ParseResourceTable(file, table);
    std::vector<uint8_t> unused;
    std::string error;
    if (status == TableStatus::kCorrupt) {
        Require(!AppendResources(file, {}, unused, error), "a corrupt table was rewritten");
        return 0;
    }
    CheckEntriesInside(file, table);
    if (status == TableStatus::kValid) {
        CheckRewrite(file, table);
        FindEntry(table, kSetupArchiveType, kSetupArchiveId);
    }
    CheckAddition(file);
    return 0;
}
