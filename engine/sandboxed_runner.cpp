// Extraction in a sandbox. The parent writes the request as bytes to a channel and starts the
// child: this program again, from the file it was started from, in the child's private mode.
// The child, before it reads the request, gives up every power but writing below the root and
// talking to this process; then it decodes the archive and writes its files. The parent stays
// free: the window goes on to the next destination, the self-extracting run starts Setup.exe.
// What the child found out (the result, the file it watched, the folder it entered last) comes
// back over the channel, and so does every debug message and piece of the listing, as it is
// sent. The parent believes none of it further than it can check: every message is bounded,
// a failure must be one this program knows, the last folder must be plain names of folders that
// exist.
#include "engine/sandboxed_runner.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/text.h"
#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "engine/child_messages.h"
#include "engine/decoded_archive.h"
#include "engine/decoded_prefix.h"
#include "engine/extraction_hooks.h"
#include "engine/output_stage.h"
#include "engine/record_listing.h"
#include "engine/record_walk.h"
#include "format/archive_header.h"
#include "platform/confine.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/terminal.h"

namespace winqor {
namespace {

JsonSinkMaker g_makeJsonSink = nullptr;

constexpr char kDebugMessage = 'D';
constexpr char kOutputMessage = 'O';
constexpr char kOutcomeMessage = 'R';

// Room for the largest message: an outcome with two full paths, or one piece of the listing.
constexpr uint32_t kOutputPieceBytes = 64 * 1024;
constexpr uint32_t kMaxMessageBytes = 4 * kMaxPath * sizeof(char16_t) + kOutputPieceBytes;
// The request holds two paths at most.
constexpr uint32_t kMaxRequestBytes = 4 * kMaxPath * sizeof(char16_t);
// The most a request's archive can be: its header and the largest payload.
constexpr uint32_t kMaxArchiveBytes = kHeaderBytes + kMaxPayloadSize;
// Ten megabytes take seconds to write even to a slow disk; a child still running after half
// an hour is stuck or playing for time.
constexpr uint32_t kMaxChildSeconds = 30 * 60;

// What the child holds beyond what it has when its walls go up: the request's copy of the
// stored archive, the stream and its decoded records, the library's state for a call over the
// whole stream, the decoding threads' budget, and room for the walk's own buffers and messages.
constexpr uint64_t kLibraryStateBytes = 8 * 1024 * 1024;
constexpr uint64_t kWalkBytes = 64 * 1024 * 1024;
uint64_t ChildMemoryAllowance() {
    return 3 * uint64_t{kMaxPayloadSize} + kLibraryStateBytes + DecoderMemoryBudget() + kWalkBytes;
}

// The channel, the root, the walk's current folder and the file it writes, with room for the
// C library's own.
constexpr uint32_t kChildDescriptors = 32;

// What the child's walls must allow, known before it reads the request: the start's flags.
constexpr uint32_t kOwnerOnlyFiles = 1;       // a watched file is to be started from the tree
constexpr uint32_t kOwnerOnlyFolders = 2;     // the walk trusts only folders of their owner
constexpr uint32_t kReportDecoderChoice = 4;  // the decoder says how many threads it took

uint32_t ChildFlags(const ExtractionRequest& request) {
    const uint32_t reported = DecoderChoiceReported() ? kReportDecoderChoice : 0;
    if (request.mode != ExtractionMode::kExtract) return reported;
    const bool ownersOnly =
        request.trust == RootTrust::kOwned || TrustBelowChosenRoot() == FolderTrust::kOwnersOnly;
    return reported | (request.watch.empty() ? 0 : kOwnerOnlyFiles) |
           (ownersOnly ? kOwnerOnlyFolders : 0);
}

ConfinementRules RulesForChild(const ChildChannel& channel) {
    ConfinementRules rules;
    rules.ownerOnlyFiles = (channel.flags & kOwnerOnlyFiles) != 0;
    rules.ownerOnlyFolders = (channel.flags & kOwnerOnlyFolders) != 0;
    // No file written holds more than the whole decoded stream.
    rules.maxFileBytes = channel.root == kInvalidDirectory ? 0 : kMaxPayloadSize;
    rules.maxMemoryBytes = ChildMemoryAllowance();
    // The decoding threads, and the walk that writes beside them.
    rules.maxThreads = DecoderThreads() + 1;
    rules.maxDescriptors = kChildDescriptors;
    return rules;
}

void SayUtf8(const char16_t* format, const std::string& text) {
    std::u16string wide;
    Utf8ToUtf16(text, wide);
    DebugPrint(format, wide.c_str());
}

// The listing, gathered into pieces that are sent whole; a piece that cannot be sent ends the
// listing.
class ListingPieces {
  public:
    explicit ListingPieces(const ListingSender& send) : send_(send) {}
    ~ListingPieces() { Flush(); }
    ListingPieces(const ListingPieces&) = delete;
    ListingPieces& operator=(const ListingPieces&) = delete;

    void Line(std::string_view line) {
        text_.append(line);
        if (text_.size() >= kOutputPieceBytes / 2) Flush();
    }

  private:
    void Flush() {
        if (!text_.empty() && send_) send_(text_);
        text_.clear();
    }

    const ListingSender& send_;
    std::string text_;
};

// What the child's one extraction is made of, each later duty working on those before it.
struct Duties {
    ExtractionReport report;
    DecodedArchive archive{report};
    OutputStage tree{archive, report};
};

// What the walk that writes while the decoder works found, once both have stopped.
struct OverlappedWalk {
    bool started = false;
    bool decoded = false;  // the stream decoded whole on its threads
    int staged = 0;        // the walk passed every record and wrote it to the side
    std::vector<std::string> said;
    ExtractionReport report;
};

// The blocks decode on their threads while a walk of its own writes each record as soon as
// its bytes are in place, to the side: nothing takes its name before the stream is whole and
// every record has passed. Its trace is held back until then; the report is the walk's alone
// until both have stopped.
OverlappedWalk DecodeWhileWriting(Duties& duties) {
    OverlappedWalk walk;
    const ExtractionReport before = duties.report;
    DecodedPrefix prefix;
    // On this thread: what a test's hook says is not the walk's to hold back.
    duties.tree.AnnounceWrites();
    std::thread writer;
    try {
        writer = std::thread([&] {
            DebugCapture capture;
            walk.staged = duties.tree.StageRecords(&prefix);
            walk.said = capture.Take();
        });
    } catch (const std::system_error&) {
        return walk;
    }
    walk.started = true;
    walk.decoded = duties.archive.DecompressInParallel(&prefix) != 0;
    prefix.End(walk.decoded);
    writer.join();
    walk.report = duties.report;
    duties.report = before;
    return walk;
}

void SayAgain(const std::vector<std::string>& said) {
    for (const auto& message : said) ForwardDebugText(message);
}

// The stream is whole. The checks come first, as they would without the overlap; then the
// walk's own result: its names given, or the write that stopped it.
ExtractionOutcome FinishOverlapped(OverlappedWalk& walk, RecordSink& sink, Duties& duties) {
    OutputStage& tree = duties.tree;
    duties.archive.RewindOutput();
    if (tree.CheckRecords(&sink) == 0) {
        tree.DiscardStaged();
        return ExtractionOutcome::kRefused;
    }
    if (walk.staged != 0) {
        SayAgain(walk.said);
        return tree.CommitStaged() ? ExtractionOutcome::kComplete
                                   : ExtractionOutcome::kWritingStopped;
    }
    tree.DiscardStaged();
    // The walk that writes after the decoder refuses such a stream before its first write,
    // with the figures: so does this one, now that the whole stream is known.
    if (tree.roomShort() && tree.OutputArchive() == 0) return ExtractionOutcome::kWritingStopped;
    SayAgain(walk.said);
    duties.report = walk.report;
    return ExtractionOutcome::kWritingStopped;
}

// Decodes the archive and writes its records below the root, once every record has passed.
// With processors to spare the walk writes beside the decoder; a stream that does not decode
// whole on its threads is decoded again in one call, which decides how it fails, and walked
// after it.
ExtractionOutcome DecodeAndWrite(const ExtractionRequest& request, RecordSink& sink,
                                 Duties& duties) {
    DecodedArchive& archive = duties.archive;
    OutputStage& tree = duties.tree;
    // The root's path counts in every joined path the check measures.
    const bool rooted =
        tree.AdoptRoot(request.root, request.rootPath, request.trust, request.freeBytes);
    if (rooted && !request.watch.empty()) tree.WatchRootFile(request.watch);
    bool triedInParallel = false;
    if (rooted && DecoderThreads() > 1) {
        OverlappedWalk walk = DecodeWhileWriting(duties);
        if (walk.decoded) return FinishOverlapped(walk, sink, duties);
        tree.DiscardStaged();
        archive.RewindOutput();
        triedInParallel = walk.started;
    }
    if ((triedInParallel ? archive.DecompressInOneCall() : archive.Decompress()) == 0) {
        return ExtractionOutcome::kDamaged;
    }
    if (!rooted) return ExtractionOutcome::kWritingStopped;
    // A name that would be refused, anywhere in the stream, is found before the first write;
    // that check says nothing, so the trace shows each record once.
    if (tree.CheckRecords(&sink) == 0) return ExtractionOutcome::kRefused;
    return tree.OutputArchive() != 0 ? ExtractionOutcome::kComplete
                                     : ExtractionOutcome::kWritingStopped;
}

// Decodes the request's archive and checks every record through sink; for kExtract the walk
// then writes them below the root.
ExtractionOutcome Walk(const ExtractionRequest& request, RecordSink& sink, Duties& duties) {
    DecodedArchive& archive = duties.archive;
    if (request.passwordDigest) archive.SetPasswordDigest(request.passwordDigest->data());
    if (archive.LoadFromImage(request.archive.data(), request.archive.size()) == 0 ||
        archive.CheckPayload() == 0) {
        return ExtractionOutcome::kDamaged;
    }
    if (request.mode == ExtractionMode::kExtract) return DecodeAndWrite(request, sink, duties);
    if (archive.Decompress() == 0) return ExtractionOutcome::kDamaged;
    // Listing and checking are one traced walk that writes nothing.
    RecordWalk walk(archive, duties.report);
    walk.SetTraced(true);
    return walk.Records(sink) != 0 ? ExtractionOutcome::kComplete : ExtractionOutcome::kRefused;
}

// The sink that counts the records and, as the mode asks, lists them.
ExtractionOutcome WalkWithSink(const ExtractionRequest& request, const ListingSender& listing,
                               Duties& duties, std::string& summary) {
    ListingPieces pieces(listing);
    const auto toPieces = [&pieces](std::string_view line) { pieces.Line(line); };
    ListingSink counting(request.mode == ExtractionMode::kList ? ListingSink::LineWriter(toPieces)
                                                               : ListingSink::LineWriter());
    std::unique_ptr<RecordSink> json;
    if (request.mode == ExtractionMode::kListJson) {
        if (g_makeJsonSink == nullptr) return ExtractionOutcome::kRefused;
        json = g_makeJsonSink(toPieces);
    }
    RecordSink& sink = json ? *json : static_cast<RecordSink&>(counting);
    const ExtractionOutcome outcome = Walk(request, sink, duties);
    if (outcome == ExtractionOutcome::kComplete || outcome == ExtractionOutcome::kWritingStopped) {
        summary = counting.Summary();
    }
    return outcome;
}

// In the child, once the walls stand: the request, its archive and its root.
bool TakeRequest(const ChildChannel& channel, ExtractionRequest& request) {
    std::string wire;
    std::string archive;
    if (!ReceiveFromParent(channel.channel, kMaxRequestBytes, wire) ||
        !DecodeRequest(wire, request) ||
        !ReceiveFromParent(channel.channel, kMaxArchiveBytes, archive)) {
        DebugPrint(u"winqor: the sandboxed process received no request it can read\n");
        return false;
    }
    request.archive.assign(archive.begin(), archive.end());
    std::string().swap(archive);
    request.root = channel.root;
    return true;
}

bool WorkInChild(const ChildChannel& channel) {
    const auto send = [&channel](std::string_view message) {
        return SendToParent(channel.channel, message);
    };
    if (channel.debug) {
        SetDebugSink([&send](std::string_view text) { send(kDebugMessage + std::string(text)); });
    } else {
        SetDebugSink({});
    }
    // The decoder counts the processors and the memory, and the walk learns how to judge
    // folders, from files that the walls will hide.
    SetDecoderThreads(DecoderThreads());
    SetDecoderMemoryBudget(DecoderMemoryBudget());
    SetDecoderChoiceReported((channel.flags & kReportDecoderChoice) != 0);
    if (channel.root != kInvalidDirectory) LearnFolderTrust();
    std::string whyNot;
    if (!ConfineToRoot(channel.root, RulesForChild(channel), whyNot)) {
        // Nothing may run in a process that kept its power.
        ExtractionResult unconfined;
        unconfined.failure = Failure::kSandboxUnavailable;
        Utf8ToUtf16(whyNot, unconfined.failureWhere);
        return send(kOutcomeMessage + EncodeOutcome(unconfined, {}));
    }
    CurrentExtractionHooks().ChildConfined();
    ExtractionRequest request;
    if (!TakeRequest(channel, request)) return false;
    std::vector<std::u16string> lastFolder;
    const ExtractionResult result = ServeExtraction(
        request,
        [&send](std::string_view piece) { return send(kOutputMessage + std::string(piece)); },
        &lastFolder);
    if (CurrentExtractionHooks().ChildAboutToReport(lastFolder) == ChildReportForm::kOversized) {
        send(std::string(kMaxMessageBytes + 1, kDebugMessage));
    }
    return send(kOutcomeMessage + EncodeOutcome(result, lastFolder));
}

bool TakeListing(const ExtractionRequest& request, std::string_view piece, ChildMessages& report) {
    if (request.mode != ExtractionMode::kList && request.mode != ExtractionMode::kListJson) {
        return false;
    }
    if (request.listing == ListingOutput::kStandardOutput && !report.listingLost &&
        !WriteToConsole(ConsoleStream::kOutput, piece)) {
        report.listingLost = true;
    }
    return true;
}

bool TakeMessage(const ExtractionRequest& request, std::string_view message,
                 ChildMessages& report) {
    if (message.empty()) return false;
    const std::string_view body = message.substr(1);
    switch (message[0]) {
        case kDebugMessage:
            ForwardDebugText(body);
            return true;
        case kOutputMessage:
            return TakeListing(request, body, report);
        case kOutcomeMessage:
            // One outcome, and nothing after it.
            if (report.reported) return false;
            report.reported = DecodeOutcome(body, report.result, report.lastFolder);
            return report.reported;
        default:
            return false;
    }
}

ExtractionResult SandboxFailed(Failure failure, const std::string& why) {
    ExtractionResult failed;
    failed.failure = failure;
    Utf8ToUtf16(why, failed.failureWhere);
    SayUtf8(u"winqor: %s\n", why);
    return failed;
}

// Entered from this process's own root, each component without following a link, none
// created: the child's word picks a folder among those that exist below the root, no more.
void EnterLastFolder(DirectoryHandle root, const std::vector<std::u16string>& lastFolder) {
    std::vector<const char16_t*> components;
    for (const auto& component : lastFolder) components.push_back(component.c_str());
    DirectoryHandle entered = kInvalidDirectory;
    if (root != kInvalidDirectory &&
        EnterFolderBelow(root, components.data(), static_cast<uint32_t>(components.size()), entered,
                         /*createLast=*/false) != EnterResult::kEntered) {
        DebugPrint(u"the folder the walk entered last is not there: staying in the root\n");
        MakeCurrent(root);
    }
    CloseDirectory(entered);
}

// The child may change the mode of what it holds, the root among them; a root that others
// could now write to, or that is no longer what it was, fails the run before anything trusts
// the tree (Setup.exe is started from it).
bool RootStandsAsBefore(DirectoryHandle root, const FolderStanding& before) {
    FolderStanding after;
    if (ReadFolderStanding(root, after) && after == before) return true;
    DebugPrint(u"winqor: %s\n", u"the output folder was changed while the archive was read");
    return false;
}

// No process of this system can be confined; the walk's own checks stand alone.
ExtractionResult RunHere(const ExtractionRequest& request) {
    bool lost = false;
    ExtractionResult here = ServeExtraction(request, [&](std::string_view piece) {
        if (request.listing == ListingOutput::kStandardOutput && !lost) {
            lost = !WriteToConsole(ConsoleStream::kOutput, piece);
        }
        return true;
    });
    here.listingLost = lost;
    return here;
}

}  // namespace

bool ConfineToRoot(DirectoryHandle root, const ConfinementRules& rules, std::string& whyNot) {
    std::string unwanted;
    if (!CurrentExtractionHooks().ConfinementWanted(unwanted)) {
        SayUtf8(u"extraction is not confined to its folder: %s\n", unwanted);
        return true;
    }
    const ConfinementWalls walls = ConfineToFolder(root, rules);
    if (!walls.up.empty()) SayUtf8(u"sandbox: walls up: %s\n", walls.up);
    if (!walls.privileges) {
        SayUtf8(u"winqor: %s\n", "cannot start the sandboxed process: " + walls.missing);
        whyNot = walls.missing;
        return false;
    }
    if (!walls.files) {
        SayUtf8(u"extraction is not confined to its folder: %s\n", walls.missing);
    } else if (!walls.missing.empty()) {
        SayUtf8(u"sandbox: walls missing: %s\n", walls.missing);
    }
    return true;
}

ExtractionResult ServeExtraction(const ExtractionRequest& request, const ListingSender& listing,
                                 std::vector<std::u16string>* lastFolder) {
    SetDecoderVerbosity(request.decoderVerbosity);
    Duties duties;
    OutputStage& tree = duties.tree;
    ExtractionResult result;
    result.outcome = WalkWithSink(request, listing, duties, result.summary);
    result.failure = duties.report.failure();
    result.failureWhere = duties.report.failureWhere();
    FileId watched;
    if (tree.WatchedFileWritten(watched)) result.watched = watched;
    if (lastFolder != nullptr) *lastFolder = tree.lastFolder();
    // The root is the caller's.
    tree.ReleaseRoot();
    return result;
}

void OfferJsonListing(JsonSinkMaker make) {
    g_makeJsonSink = make;
}

uint32_t MaxChildMessageBytes() {
    return kMaxMessageBytes;
}

bool TakeChildMessage(const ExtractionRequest& request, std::string_view message,
                      ChildMessages& taken) {
    return TakeMessage(request, message, taken);
}

void EnterChildsLastFolder(DirectoryHandle root, const ChildMessages& taken) {
    EnterLastFolder(root, taken.lastFolder);
}

ExtractionResult RunExtraction(const ExtractionRequest& request) {
    ChildMessages report;
    const auto receive = [&request, &report](std::string_view message) {
        return TakeChildMessage(request, message, report);
    };
    const std::string wire = EncodeRequest(request);
    const bool extract = request.mode == ExtractionMode::kExtract;
    ChildStart start;
    start.request = wire;
    start.bytes = request.archive.data();
    start.byteCount = request.archive.size();
    start.root = extract ? request.root : kInvalidDirectory;
    start.debug = static_cast<bool>(CurrentDebugSink());
    start.flags = ChildFlags(request);
    const ExtractionHooks& hooks = CurrentExtractionHooks();
    start.started = [&hooks](int64_t pid) { hooks.ChildStarted(pid); };
    std::string why;
    const ChildLimits limits{kMaxMessageBytes, hooks.ChildSecondsLimit(kMaxChildSeconds)};
    FolderStanding before;
    const bool rooted = extract && ReadFolderStanding(request.root, before);
    const ChildEnd end = hooks.ChildMayStart(why) ? RunChildProgram(start, receive, limits, why)
                                                  : ChildEnd::kNotStarted;
    if (end == ChildEnd::kUnsupported) return RunHere(request);
    if (end == ChildEnd::kNotStarted) return SandboxFailed(Failure::kSandboxUnavailable, why);
    if (end != ChildEnd::kEnded || !report.reported) {
        if (end == ChildEnd::kEnded) why = "it ended without saying how the extraction went";
        return SandboxFailed(Failure::kExtractionEnded, why);
    }
    if (rooted && !RootStandsAsBefore(request.root, before)) {
        ExtractionResult changed;
        changed.failure = Failure::kRootChanged;
        return changed;
    }
    // The walk ends in the last folder it wrote; so does this process, as if it had walked.
    if (extract) EnterChildsLastFolder(request.root, report);
    report.result.listingLost = report.listingLost;
    return report.result;
}

void RunIfExtractionChild(int argc, const char* const* argv) {
    ChildChannel channel;
    if (!IsSandboxedChildStart(argc, argv, channel)) return;
    IgnoreFileSizeLimitSignal();
    EndChildProcess(WorkInChild(channel) ? 0 : 1);
}

}  // namespace winqor
