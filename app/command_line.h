// The command line of a self-extracting program: its own switches first, then whatever is
// meant for Setup.exe. A program started without arguments behaves as it always has.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winqor {

// The exit statuses of a run started with arguments. Setup.exe's own status passes through
// when it was started; the program's own failures use codes that installers rarely use (they
// keep to the low numbers and to Windows' error codes), the same on Linux and Windows.
inline constexpr int kExitComplete = 0;              // a complete run that started nothing
inline constexpr int kExitUsage = 201;               // the command line cannot be used
inline constexpr int kExitDamaged = 202;             // the archive is damaged or the password wrong
inline constexpr int kExitNeedsPassword = 203;       // no password given (--quiet: none asked)
inline constexpr int kExitWriteFailed = 204;         // the folder or a file could not be written
inline constexpr int kExitSetupNotStarted = 205;     // Setup.exe could not be started
inline constexpr int kExitLicenceNotAccepted = 206;  // the program's licence was not accepted

enum class RunMode { kInstall, kExtractOnly, kList, kCheck, kHelp, kInfo };

struct SelfExtractOptions {
    RunMode mode = RunMode::kInstall;
    std::string target;  // empty: beside the program
    bool temporary = false;
    std::string passwordFile;
    bool quiet = false;
    bool acceptLicence = false;  // --accept: the licence the program carries is accepted
    std::string logFile;
    std::vector<std::string> setupArguments;  // verbatim, in order
};

// Reads the program's own switches up to the first argument it does not know, or up to "--"
// (which is dropped); that argument and all after it are Setup.exe's. slashHelp: "/?" asks for
// help too (Windows' way). false, with a one-line reason, when the switches cannot be used.
bool ParseSelfExtractArguments(const std::vector<std::string>& arguments, bool slashHelp,
                               SelfExtractOptions& options, std::string& reason);

// The --help text: the switches and the exit statuses.
std::string SelfExtractHelp(std::string_view program);

}  // namespace winqor
