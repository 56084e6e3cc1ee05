// The reader and editor of a Windows program's resources on arbitrary files. Every resource
// read must lie inside the file, its names too; a program that can take the archive must take
// it, and the program written must read back with every resource it had and the archive.
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "image/pe_resources.h"
#include "image/resource_table.h"

namespace {

using namespace winqor;
using fuzz::Require;

bool Inside(std::span<const uint8_t> file, std::span<const uint8_t> part) {
    if (part.empty()) return true;
    return part.data() >= file.data() && part.size() <= file.size() &&
           part.data() - file.data() <= static_cast<std::ptrdiff_t>(file.size() - part.size());
}

void CheckInside(std::span<const uint8_t> file, const std::vector<PeResource>& resources) {
    for (const auto& resource : resources) {
        Require(resource.offset <= file.size() && resource.size <= file.size() - resource.offset,
                "a resource reaches past the end of the file");
        for (const PeKey* key : {&resource.type, &resource.name, &resource.language}) {
            Require(!key->named || Inside(file, key->text), "a name lies outside the file");
            Require(key->named || key->text.empty(), "an id carries a name");
        }
    }
}

std::span<const uint8_t> BytesOf(std::span<const uint8_t> file, const PeResource& resource) {
    return file.subspan(resource.offset, resource.size);
}

// Windows compares names without regard to case (ASCII letters): a rewrite may spell a name
// as another entry of the same directory did.
std::u16string Upper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

bool SameKeys(const PeResource& a, const PeResource& b) {
    auto same = [](const PeKey& x, const PeKey& y) {
        return x.named == y.named &&
               (x.named ? Upper(PeKeyText(x)) == Upper(PeKeyText(y)) : x.id == y.id);
    };
    return same(a.type, b.type) && same(a.name, b.name) && same(a.language, b.language);
}

// The rewritten program holds the archive, and every resource it had that the archive does not
// replace, with the same bytes.
void CheckRewritten(std::span<const uint8_t> file, const std::vector<PeResource>& before,
                    const std::vector<uint8_t>& out, std::span<const uint8_t> archive) {
    std::vector<PeResource> after;
    std::string reason;
    Require(ReadPeResources(out, after, reason) == PeStatus::kValid,
            "a rewritten program does not read back");
    CheckInside(out, after);
    const PeResource* found = FindPeResource(after, kSetupArchiveTypeUtf16, kSetupArchiveId);
    Require(found != nullptr && found->language.id == 0 && !found->language.named,
            "the archive added is not found first");
    const auto carried = BytesOf(out, *found);
    Require(std::equal(carried.begin(), carried.end(), archive.begin(), archive.end()),
            "the archive added has other bytes");
    // A self-extracting program can be the stub of another: what the rewrite writes, a later
    // one takes (its directories list each key once, so each resource below is found as one).
    std::string again;
    Require(CanAddPeResources(out, again), "a rewritten program cannot be rewritten again");
    // Each resource is looked for among all: enough for the trees a fuzzer makes, and the
    // check stays fast.
    if (before.size() > 1000) return;
    for (const auto& old : before) {
        const bool replaced = FindPeResource({old}, kSetupArchiveTypeUtf16, kSetupArchiveId) &&
                              !old.language.named && old.language.id == 0;
        if (replaced) continue;
        const auto kept = std::find_if(after.begin(), after.end(),
                                       [&](const PeResource& r) { return SameKeys(old, r); });
        Require(kept != after.end(), "a rewrite lost a resource");
        const auto was = BytesOf(file, old), now = BytesOf(out, *kept);
        Require(std::equal(was.begin(), was.end(), now.begin(), now.end()),
                "a rewrite changed a resource's bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    LooksLikePe(file.first(std::min<size_t>(size, 4096)));
    std::vector<PeResource> resources;
    std::string reason;
    const PeStatus status = ReadPeResources(file, resources, reason);
    Require(status == PeStatus::kValid || resources.empty(), "a refused file gave resources");
    Require(status == PeStatus::kValid || !reason.empty(), "a refused file gave no reason");
    CheckInside(file, resources);
    FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId);
    static const uint8_t kArchive[] = {'S', 'F', 'X', 'S', 'e', 't', 'u', 'p', 0, 1, 2, 3};
    const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, 0, kArchive};
    const bool can = CanAddPeResources(file, reason);
    std::vector<uint8_t> out;
    const bool added = AddPeResources(file, {&addition, 1}, out, reason);
    Require(!can || status == PeStatus::kValid, "a program with a damaged tree can be rewritten");
    if (!added) return 0;
    Require(can, "a program refused beforehand was rewritten");
    // The new tree may not grow beyond twice the program, the archive and a little more.
    Require(out.size() <= 4 * size + (4 << 20), "a rewrite grew out of bounds");
    CheckRewritten(file, resources, out, kArchive);
    return 0;
}
