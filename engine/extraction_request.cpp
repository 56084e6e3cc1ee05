// The wire forms of a request and of the child's closing message. Both ends are this program,
// so fields travel in the machine's order; the parent still distrusts every byte the child
// sends, since the child is where a hostile archive is decoded.
#include "engine/extraction_request.h"

#include <cstring>

#include "base/limits.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

constexpr uint8_t kMaxDecoderVerbosity = 4;

// The request's and the outcome's fixed parts; text follows each as counted units.
struct RequestHead {
    uint8_t mode = 0;
    uint8_t hasDigest = 0;
    uint8_t trust = 0;
    uint8_t listing = 0;
    uint8_t verbosity = 0;
    uint8_t hasFreeBytes = 0;
    uint8_t reserved[2] = {};
    uint8_t digest[16] = {};
    uint32_t rootPathUnits = 0;
    uint32_t watchUnits = 0;
    uint64_t freeBytes = 0;
};
static_assert(sizeof(RequestHead) == 8 + 16 + 2 * sizeof(uint32_t) + sizeof(uint64_t));

struct OutcomeHead {
    FileId watchedId;
    uint32_t outcome = 0;
    int32_t failure = 0;
    uint32_t watchedWritten = 0;
    uint32_t whereUnits = 0;
    uint32_t summaryBytes = 0;
    uint32_t listingLost = 0;
};
// Every byte is a field: no uninitialised padding travels over the channel.
static_assert(sizeof(OutcomeHead) == 2 * sizeof(uint64_t) + 6 * sizeof(uint32_t));

template <typename T>
void Append(std::string& bytes, const T& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void AppendUnits(std::string& bytes, std::u16string_view units) {
    bytes.append(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t));
}

// Reads the fields in order, each checked against the bytes left.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    template <typename T>
    bool Take(T& value) {
        if (bytes_.size() < sizeof value) return false;
        std::memcpy(&value, bytes_.data(), sizeof value);
        bytes_.remove_prefix(sizeof value);
        return true;
    }
    bool TakeUnits(uint32_t count, std::u16string& units) {
        if (bytes_.size() / sizeof(char16_t) < count) return false;
        units.resize(count);
        std::memcpy(units.data(), bytes_.data(), count * sizeof(char16_t));
        bytes_.remove_prefix(count * sizeof(char16_t));
        return true;
    }
    bool TakeBytes(uint32_t count, std::string& text) {
        if (bytes_.size() < count) return false;
        text.assign(bytes_.substr(0, count));
        bytes_.remove_prefix(count);
        return true;
    }
    std::string_view rest() const { return bytes_; }

  private:
    std::string_view bytes_;
};

// A name of a folder inside its parent: never the parent itself, never a path.
bool IsPlainComponent(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." &&
           name.find_first_of(u"/\\") == std::u16string_view::npos && IsPlainNameHere(name);
}

bool IsKnownFailure(int32_t failure) {
    return std::strcmp(DescribeFailure(static_cast<Failure>(failure)), "unknown failure") != 0;
}

// The walk's counts, as ListingSink says them: nothing that a terminal would act on.
bool IsPlainSummary(std::string_view summary) {
    constexpr size_t kMaxSummaryBytes = 128;
    return summary.size() <= kMaxSummaryBytes &&
           summary.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz ,") ==
               std::string_view::npos;
}

bool TakeLastFolder(std::string_view rest, std::vector<std::u16string>& lastFolder) {
    if (rest.size() % sizeof(char16_t) != 0) return false;
    std::u16string units(rest.size() / sizeof(char16_t), u'\0');
    std::memcpy(units.data(), rest.data(), rest.size());
    lastFolder.clear();
    for (size_t start = 0, end; start < units.size(); start = end + 1) {
        end = units.find(u'\0', start);
        if (end == std::u16string::npos) return false;
        lastFolder.push_back(units.substr(start, end - start));
        if (!IsPlainComponent(lastFolder.back())) return false;
    }
    return true;
}

}  // namespace

void RecordResultFailure(const ExtractionResult& result, ExtractionReport& report) {
    if (result.failure != Failure::kNone) report.RecordFailure(result.failure, result.failureWhere);
}

std::string EncodeRequest(const ExtractionRequest& request) {
    RequestHead head;
    head.mode = static_cast<uint8_t>(request.mode);
    head.hasDigest = request.passwordDigest ? 1 : 0;
    if (request.passwordDigest) std::memcpy(head.digest, request.passwordDigest->data(), 16);
    head.trust = static_cast<uint8_t>(request.trust);
    head.listing = static_cast<uint8_t>(request.listing);
    head.verbosity = request.decoderVerbosity;
    head.hasFreeBytes = request.freeBytes ? 1 : 0;
    head.freeBytes = request.freeBytes.value_or(0);
    head.rootPathUnits = static_cast<uint32_t>(request.rootPath.size());
    head.watchUnits = static_cast<uint32_t>(request.watch.size());
    std::string bytes;
    Append(bytes, head);
    AppendUnits(bytes, request.rootPath);
    AppendUnits(bytes, request.watch);
    // The digest is in the request only: no copy is left behind in this buffer's source.
    std::memset(head.digest, 0, sizeof head.digest);
    return bytes;
}

bool DecodeRequest(std::string_view bytes, ExtractionRequest& request) {
    Reader reader(bytes);
    RequestHead head;
    if (!reader.Take(head) || head.mode > static_cast<uint8_t>(ExtractionMode::kExtract) ||
        head.hasDigest > 1 || head.trust > static_cast<uint8_t>(RootTrust::kOwned) ||
        head.listing > static_cast<uint8_t>(ListingOutput::kStandardOutput) ||
        head.verbosity > kMaxDecoderVerbosity || head.hasFreeBytes > 1 ||
        head.rootPathUnits >= kMaxPath || head.watchUnits >= kMaxPath ||
        !reader.TakeUnits(head.rootPathUnits, request.rootPath) ||
        !reader.TakeUnits(head.watchUnits, request.watch) || !reader.rest().empty()) {
        return false;
    }
    request.mode = static_cast<ExtractionMode>(head.mode);
    request.trust = static_cast<RootTrust>(head.trust);
    request.listing = static_cast<ListingOutput>(head.listing);
    request.decoderVerbosity = head.verbosity;
    request.freeBytes.reset();
    if (head.hasFreeBytes != 0) request.freeBytes = head.freeBytes;
    request.passwordDigest.reset();
    if (head.hasDigest != 0) {
        request.passwordDigest.emplace();
        std::memcpy(request.passwordDigest->data(), head.digest, 16);
    }
    return true;
}

std::string EncodeOutcome(const ExtractionResult& result,
                          const std::vector<std::u16string>& lastFolder) {
    OutcomeHead head;
    head.outcome = static_cast<uint32_t>(result.outcome);
    head.failure = static_cast<int32_t>(result.failure);
    head.watchedWritten = result.watched ? 1 : 0;
    if (result.watched) head.watchedId = *result.watched;
    head.whereUnits = static_cast<uint32_t>(result.failureWhere.size());
    head.summaryBytes = static_cast<uint32_t>(result.summary.size());
    head.listingLost = result.listingLost ? 1 : 0;
    std::string bytes;
    Append(bytes, head);
    AppendUnits(bytes, result.failureWhere);
    bytes += result.summary;
    for (const auto& component : lastFolder) AppendUnits(bytes, component + u'\0');
    return bytes;
}

bool DecodeOutcome(std::string_view bytes, ExtractionResult& result,
                   std::vector<std::u16string>& lastFolder) {
    Reader reader(bytes);
    OutcomeHead head;
    if (!reader.Take(head) ||
        head.outcome > static_cast<uint32_t>(ExtractionOutcome::kSandboxFailed) ||
        !IsKnownFailure(head.failure) || head.watchedWritten > 1 || head.listingLost > 1 ||
        (head.watchedWritten == 0 && !(head.watchedId == FileId{})) ||
        !reader.TakeUnits(head.whereUnits, result.failureWhere) ||
        !reader.TakeBytes(head.summaryBytes, result.summary) || !IsPlainSummary(result.summary) ||
        !TakeLastFolder(reader.rest(), lastFolder)) {
        lastFolder.clear();
        return false;
    }
    result.outcome = static_cast<ExtractionOutcome>(head.outcome);
    result.failure = static_cast<Failure>(head.failure);
    result.watched.reset();
    if (head.watchedWritten != 0) result.watched = head.watchedId;
    result.listingLost = head.listingLost != 0;
    return true;
}

}  // namespace winqor
