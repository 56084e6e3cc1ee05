// The self-extracting program's own switches. The input is its command line, the arguments
// separated by NUL bytes; the first byte picks whether "/?" asks for help (Windows' way). The
// parse must end with a reason or with options that hold together: arguments after the
// switches passed on verbatim and in order, a value for every switch that takes one, and no
// two modes at once.
#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/harness.h"

namespace {

using winqor::fuzz::Require;

std::vector<std::string> Arguments(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(static_cast<char>(data[i]));
        }
    }
    return arguments;
}

// Whether tail is the end of arguments.
bool EndsWith(const std::vector<std::string>& arguments, const std::vector<std::string>& tail) {
    return tail.size() <= arguments.size() &&
           std::equal(tail.begin(), tail.end(), arguments.end() - static_cast<long>(tail.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    if (size == 0 || size > 4096) return 0;
    const bool slashHelp = (data[0] & 1) != 0;
    const std::vector<std::string> arguments = Arguments(data + 1, size - 1);
    SelfExtractOptions options;
    std::string reason;
    const bool parsed = ParseSelfExtractArguments(arguments, slashHelp, options, reason);
    if (!parsed) {
        Require(!reason.empty() && reason.find('\n') == std::string::npos,
                "a refusal without a one-line reason");
        return 0;
    }
    Require(EndsWith(arguments, options.setupArguments),
            "Setup.exe's arguments are not the command line's last ones, verbatim");
    // An argument that cannot be a switch ends the switches, and is Setup.exe's.
    const bool mayBeSwitch = arguments[0].starts_with("--") || arguments[0] == "/?";
    Require(mayBeSwitch || options.setupArguments.size() == arguments.size(),
            "an argument that is no switch was not passed on");
    if (options.mode == RunMode::kHelp) return 0;
    Require(!(options.temporary && !options.target.empty()), "--temp and --target both taken");
    Require(!options.temporary || options.mode == RunMode::kInstall,
            "--temp taken for a run that starts no Setup.exe");
    const bool writes = options.mode == RunMode::kInstall || options.mode == RunMode::kExtractOnly;
    Require(writes || options.target.empty(), "--target taken for a run that writes nothing");
    Require(options.mode == RunMode::kInstall || options.setupArguments.empty(),
            "arguments for a Setup.exe that is not started");
    // Parsed again, the same command line gives the same options.
    SelfExtractOptions again;
    std::string second;
    Require(ParseSelfExtractArguments(arguments, slashHelp, again, second) &&
                again.setupArguments == options.setupArguments && again.target == options.target &&
                again.passwordFile == options.passwordFile && again.logFile == options.logFile,
            "the parse depends on more than the command line");
    return 0;
}
