#include "app/command_line.h"

#include <optional>
#include <utility>

#include "base/text.h"

namespace winqor {
namespace {

constexpr std::string_view kEndOfSwitches = "--";

// A switch that takes a value, as "--name VALUE" or "--name=VALUE".
struct ValueSwitch {
    std::string_view name;
    std::string SelfExtractOptions::*slot;
};
constexpr ValueSwitch kValueSwitches[] = {
    {"--target", &SelfExtractOptions::target},
    {"--password-file", &SelfExtractOptions::passwordFile},
    {"--log", &SelfExtractOptions::logFile},
};

struct ModeSwitch {
    std::string_view name;
    RunMode mode;
};
constexpr ModeSwitch kModeSwitches[] = {
    {"--extract-only", RunMode::kExtractOnly},
    {"--list", RunMode::kList},
    {"--check", RunMode::kCheck},
    {"--info", RunMode::kInfo},
};

class Parser {
  public:
    Parser(const std::vector<std::string>& arguments, bool slashHelp, SelfExtractOptions& options)
        : arguments_(arguments), slashHelp_(slashHelp), options_(options) {}

    bool Run(std::string& error) {
        // On past a refused switch: a --help further on still gets the help.
        while (index_ < arguments_.size()) {
            const std::string& argument = arguments_[index_++];
            if (argument == kEndOfSwitches) break;
            if (!TakeSwitch(argument)) {
                --index_;
                break;
            }
        }
        options_.setupArguments.assign(arguments_.begin() + static_cast<long>(index_),
                                       arguments_.end());
        if (error_.empty() && !help_) CheckCombination();
        if (help_) options_.mode = RunMode::kHelp;
        error = error_;
        return error_.empty() || help_;
    }

  private:
    // false when argument is none of the program's switches.
    bool TakeSwitch(const std::string& argument) {
        if (argument == "--help" || (slashHelp_ && argument == "/?")) return help_ = true;
        if (argument == "--temp") return TakeFlag(argument, options_.temporary);
        if (argument == "--quiet") return TakeFlag(argument, options_.quiet);
        if (argument == "--accept") return TakeFlag(argument, options_.acceptLicence);
        for (const ModeSwitch& known : kModeSwitches) {
            if (argument == known.name) return TakeMode(known);
        }
        for (const ValueSwitch& known : kValueSwitches) {
            if (TakeValue(argument, known)) return true;
        }
        return false;
    }

    bool TakeFlag(const std::string& name, bool& flag) {
        if (flag) Refuse(name + " is given twice");
        flag = true;
        return true;
    }

    bool TakeMode(const ModeSwitch& known) {
        if (mode_)
            Refuse(std::string(*mode_) + " and " + std::string(known.name) + " cannot be combined");
        mode_ = known.name;
        options_.mode = known.mode;
        return true;
    }

    bool TakeValue(const std::string& argument, const ValueSwitch& known) {
        const std::string_view text = argument;
        std::optional<std::string> value;
        if (text == known.name) {
            if (index_ < arguments_.size()) value = arguments_[index_++];
        } else if (text.size() > known.name.size() && text.starts_with(known.name) &&
                   text[known.name.size()] == '=') {
            value = std::string(text.substr(known.name.size() + 1));
        } else {
            return false;
        }
        std::string& slot = options_.*known.slot;
        if (!value || value->empty()) {
            Refuse(std::string(known.name) + " needs a value");
        } else if (!slot.empty()) {
            Refuse(std::string(known.name) + " is given twice");
        }
        slot = value.value_or("");
        return true;
    }

    // The first reason is the one given.
    void Refuse(std::string why) {
        if (error_.empty()) error_ = std::move(why);
    }

    // Switches that each make sense alone but contradict one another.
    void CheckCombination() {
        const bool writes =
            options_.mode == RunMode::kInstall || options_.mode == RunMode::kExtractOnly;
        const bool startsSetup = options_.mode == RunMode::kInstall;
        if (options_.temporary && !options_.target.empty()) {
            error_ = "--temp and --target cannot be combined";
        } else if (!writes && (options_.temporary || !options_.target.empty())) {
            error_ = std::string(*mode_) + " writes nothing: it takes no --target or --temp";
        } else if (options_.temporary && !startsSetup) {
            error_ = "--temp removes its folder once Setup.exe ends: it needs Setup.exe started";
        } else if (!startsSetup && !options_.setupArguments.empty()) {
            // The argument is anything the caller typed: escaped, the reason stays one line.
            error_ = std::string(*mode_) +
                     " starts no Setup.exe, so it takes no arguments "
                     "for it: " +
                     EscapeForDisplay(options_.setupArguments.front());
        }
    }

    const std::vector<std::string>& arguments_;
    bool slashHelp_;
    SelfExtractOptions& options_;
    size_t index_ = 0;
    bool help_ = false;
    std::optional<std::string_view> mode_;
    std::string error_;
};

}  // namespace

bool ParseSelfExtractArguments(const std::vector<std::string>& arguments, bool slashHelp,
                               SelfExtractOptions& options, std::string& reason) {
    options = {};
    return Parser(arguments, slashHelp, options).Run(reason);
}

std::string SelfExtractHelp(std::string_view program) {
    std::string text =
        "usage: " + std::string(program) + " [SWITCHES] [--] [ARGUMENTS FOR Setup.exe]\n";
    text += R"(Unpacks the archive this program carries and starts its Setup.exe when the
archive asks for it. Without arguments it unpacks beside itself. Its own switches
come first; the first argument it does not know, or everything after "--", goes to
Setup.exe as it stands.

  --target DIR          unpack into DIR (created if missing) instead of beside it
  --temp                unpack into a new private folder in the temporary folder,
                        start Setup.exe there, remove the folder once Setup.exe and
                        every program it started have ended
  --extract-only        unpack only; never start Setup.exe
  --list                list the archive (D folder / F file size); write nothing
  --check               verify the archive completely; write nothing
  --info                what the program carries: sizes, encryption, Setup.exe, the
                        number of folders and files, its licence, where it unpacks;
                        write nothing
  --accept              accept the licence the program carries without showing it
  --password-file FILE  the password of an encrypted archive: the first line of FILE
                        ("-": standard input); no window, no prompt
  --quiet               never show a window or ask on the terminal: an encrypted
                        archive needs --password-file, a licence --accept
  --log FILE            append the run's trace to FILE (on Linux a new one is
                        readable by you only)
  --help                this text (on Windows also /?)

Exit status:
  Setup.exe's own   when Setup.exe was started
  0                 complete, nothing started (or --list, --check, --info, --help)
  201               usage error: the switches cannot be used
  202               the archive is damaged, or the password is wrong
  203               a password is needed and none was given (--quiet without
                    --password-file, or the password window was closed)
  204               writing failed: the folder or a file could not be written
  205               Setup.exe could not be started (missing, or refused)
  206               the licence was not accepted (declined, --quiet without --accept,
                    or no window and no terminal to show it on)
Without arguments a run that did not complete exits with 1.
)";
    return text;
}

}  // namespace winqor
