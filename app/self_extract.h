// The self-extracting run: at every start the program looks for an archive in its own
// resources and, when there is a usable one, unpacks it beside itself instead of opening its
// window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "platform/resources.h"
#include "protection/password.h"

namespace winqor {

// Asks for the password of the archive g_currentHeader points at. true when a password was
// accepted (its digest is then in g_passwordDigest), false when the user gave up.
using PasswordAsker = std::function<bool()>;

// The embedded archive image as the program's resources hold it.
struct EmbeddedImage {
    const uint8_t* bytes = nullptr;  // read-only; valid as long as the module is open
    uint64_t size = 0;
};

// Finds the SETUP_ARCHIVE 131 resource of module (null: the running program) and yields its
// bytes, or no bytes when there is none or it cannot be loaded. Reports on the debug channel.
EmbeddedImage Prepare(ResourceFile* module = nullptr);

// The start every self-extracting run shares, the one without arguments and the one with
// switches: the archive the program carries, found and checked, its header, and the password
// of an encrypted one with its digest (kept here, handed to the extractor).
class SelfExtractStart {
  public:
    // Finds the archive in module (null: the running program); false when it carries none that
    // is usable (the placeholder, a short image, one not meant to be embedded): the window
    // follows. The password dialog then reads this archive's header through g_currentHeader.
    bool Find(ResourceFile* module = nullptr);
    const EmbeddedImage& image() const { return image_; }
    const ArchiveHeader& header() const { return header_; }
    bool encrypted() const;

    // The password of an encrypted archive as text (a line of a password file), checked as aze
    // checks it.
    PasswordVerdict TakePassword(const std::string& utf8);
    // The password asked by ask (the dialog or the terminal, which leave the accepted one's
    // digest in g_passwordDigest); false when none was given.
    bool AskPassword(const PasswordAsker& ask);
    // The extractor for the run, holding the password's digest; null when none can be had.
    std::unique_ptr<ArchiveExtractor> MakeExtractor() const;

  private:
    EmbeddedImage image_;
    ArchiveHeader header_ = {};
    bool hasDigest_ = false;
    uint8_t digest_[16] = {};
};

// What a run that took place came to, beside RunEmbeddedArchive's result.
struct RunReport {
    // The tree was written completely and Setup.exe, if the header asked for it, was started.
    bool complete = false;
    bool setupStarted = false;
    uint32_t setupExitStatus = 0;  // when setupStarted
};

// The running program's self-extracting run. 0: no usable embedded archive, the window
// follows; -1: abandoned before extraction (no password given, no extractor to be had);
// 1: a run took place, whatever its outcome, which report (when given) tells.
int RunEmbeddedArchive(const PasswordAsker& askPassword, RunReport* report = nullptr);

// The same run for the program file that module holds, extracting beside programPath.
int RunEmbeddedArchive(const PasswordAsker& askPassword, ResourceFile* module,
                       const char16_t* programPath, RunReport* report = nullptr);

// The process's exit status for a run's result and report, so that whoever started the
// program (a package manager, a script) learns the truth: Setup.exe's own status when the
// run started it; otherwise 0 for a complete run and 1 for a failed or abandoned one.
int RunExitStatus(int result, const RunReport& report);

// Reads one line without echo; false at the end of input.
using SecretLineReader = std::function<bool(std::string& line)>;

// Asks on the terminal until a password is accepted (true) or input ends (false).
bool AskPasswordOnTerminal(const SecretLineReader& readLine);
bool AskPasswordOnTerminal();

// The ways a self-extracting run can ask for a password.
struct PasswordRoutes {
    std::function<bool()> openDisplay;  // true when a window can be shown
    PasswordAsker dialog;
    std::function<bool()> haveTerminal;  // true when standard input is a terminal
    PasswordAsker terminal;
};

// The dialog when a display can be opened, else the terminal when there is one, else none:
// the run is abandoned. Nothing is opened until a password is needed.
PasswordAsker ChoosePasswordAsker(PasswordRoutes routes);

// ChoosePasswordAsker with the real terminal: what winqor passes to RunEmbeddedArchive.
PasswordAsker SelfExtractPasswordAsker(std::function<bool()> openDisplay, PasswordAsker dialog);

}  // namespace winqor
