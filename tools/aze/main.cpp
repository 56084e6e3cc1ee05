// aze: writes archives, lists, tests and extracts them, and makes self-extracting programs.
#include <CLI/CLI.hpp>
#include <string>

#include "engine/archive_extractor.h"
#include "engine/json_listing.h"
#include "engine/sandboxed_runner.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "tools/aze/commands.h"

namespace {

using namespace winqor::aze;

// Each command lists its own exit statuses; the summary lists them all.
constexpr char kExitStatusText[] =
    "Exit status:\n"
    "  0  success\n"
    "  1  the archive is not valid, is damaged, or the password is wrong; create, sfx: the\n"
    "     folder or password cannot make an archive; standard output cannot be written\n"
    "  2  usage error\n"
    "  3  create, sfx: the archive or program could not be written; extract: a file or\n"
    "     folder could not be written (what was extracted stays)\n"
    "  4  list, test, extract: the sandbox that reads the archive could not start, or broke\n"
    "     its rules\n";

constexpr char kCreateExitText[] =
    "Exit status:\n"
    "  0  the archive was written\n"
    "  1  the folder or the password cannot make an archive that readers accept (too large,\n"
    "     a name that is not UTF-8 or holds '\\' or ':', an unreadable file, an empty or too\n"
    "     long password, --run-setup without a Setup.exe at the top of DIR); standard\n"
    "     output cannot be written\n"
    "  2  usage error (also: DIR is no folder; SOURCE_DATE_EPOCH or --exclude-from unusable)\n"
    "  3  the archive could not be written\n";

constexpr char kSfxExitText[] =
    "Exit status:\n"
    "  0  the program was written\n"
    "  1  the folder or the password cannot make an archive, the archive's header is not\n"
    "     valid, or the run would start a Setup.exe that is not at the archive's top;\n"
    "     standard output cannot be written\n"
    "  2  usage error (also: the stub is no winqor program; the icon file, or a\n"
    "     --version-info setting, is not valid)\n"
    "  3  the program could not be written\n";

constexpr char kListExitText[] =
    "Exit status:\n"
    "  0  listed\n"
    "  1  the archive is not valid, is damaged, or the password is wrong; standard output\n"
    "     cannot be written\n"
    "  2  usage error (also: ARCHIVE is a folder)\n"
    "  4  the sandbox that reads the archive could not start, or broke its rules\n";

constexpr char kTestExitText[] =
    "Exit status:\n"
    "  0  the archive is whole and the password right\n"
    "  1  the archive is not valid, is damaged, or the password is wrong; standard output\n"
    "     cannot be written\n"
    "  2  usage error (also: ARCHIVE is a folder)\n"
    "  4  the sandbox that reads the archive could not start, or broke its rules\n";

constexpr char kExtractExitText[] =
    "Exit status:\n"
    "  0  the whole tree was written\n"
    "  1  the archive is not valid, is damaged, or the password is wrong (nothing was\n"
    "     written); standard output cannot be written\n"
    "  2  usage error (also: ARCHIVE is a folder)\n"
    "  3  extraction started but a file or folder could not be written (what was extracted\n"
    "     stays)\n"
    "  4  the sandbox that reads the archive could not start, or broke its rules\n";

constexpr char kMainFooter[] =
    "Examples:\n"
    "  aze create -o release.aze release/     pack a folder\n"
    "  aze list release.aze                   show what it holds\n"
    "  aze extract -C /tmp/out release.aze    unpack it below /tmp/out\n"
    "  aze sfx -o setup.run --run-setup dist/ make a self-extracting installer\n"
    "  aze sfx --windows -o setup.exe dist/   the same for Windows\n"
    "\n"
    "A password is read from --password-file or asked on the terminal, never taken from\n"
    "the command line. DES encryption keeps an archive from casual reading only.\n"
    "A plain archive is reproducible: the same tree gives the same bytes, and\n"
    "SOURCE_DATE_EPOCH (seconds since 1970), when set, is the latest file time stored.\n"
    "'aze COMMAND --help' describes a command; the manual page is aze(1).\n";

// What --version prints: the version, who holds the copyright, and the licence.
constexpr char kVersionText[] = "aze " WINQOR_VERSION
                                "\n"
                                "Copyright (C) 2026 The winqor developers\n"
                                "SPDX-License-Identifier: MIT";

std::string Footer(const char* example, const char* exitStatus) {
    return std::string("Example:\n  ") + example + "\n\n" + exitStatus;
}

// A usage error is one line, as every other failure.
std::string UsageErrorLine(const CLI::App*, const CLI::Error& error) {
    return std::string("aze: ") + error.what() + " (see aze --help)\n";
}

void AddPasswordFile(CLI::App* command, std::string& target) {
    command
        ->add_option("--password-file", target,
                     "the password is FILE's first line ('-': standard input); default: ask")
        ->type_name("FILE");
}

void AddRunSetup(CLI::App* command, bool& target) {
    command->add_flag("--run-setup", target,
                      "the self-extracting run then starts the folder's Setup.exe");
}

// What create and sfx share: the password, the setup flag, what is left out, the key seed.
void AddPackOptions(CLI::App* command, PackOptions& options) {
    AddPasswordFile(command, options.passwordFile);
    AddRunSetup(command, options.runSetup);
    command
        ->add_option("--exclude", options.excludes,
                     "leave out what PATTERN matches ('*', '?', [...]): a name at any depth, or "
                     "with a '/' a path below DIR; a folder left out is not read (repeatable)")
        ->type_name("PATTERN")
        ->allow_extra_args(false);
    command
        ->add_option("--exclude-from", options.excludeFrom,
                     "leave out what the patterns of FILE match, one a line")
        ->type_name("FILE");
    command->add_flag("--reproducible", options.reproducible,
                      "with a password, the key seed is made of the password and the tree "
                      "instead of at random: the same tree and password give the same archive, "
                      "so equal archives tell that their contents are equal");
}

void AddCreate(CLI::App& app, CreateOptions& options) {
    auto* command = app.add_subcommand(
        "create", "pack a folder into an archive (links and special files are skipped)");
    command->add_option("-o", options.output, "the archive to write (default: DIR.aze beside DIR)")
        ->type_name("OUT.aze");
    AddPackOptions(command, options.pack);
    command->add_option("DIR", options.input, "the folder to pack")->required();
    command->footer(
        Footer("aze create --password-file key.txt -o backup.aze documents/", kCreateExitText));
}

// A Windows program's icon and version information.
void AddWindowsIdentity(CLI::App* command, SfxOptions& options) {
    command
        ->add_option("--icon", options.icon,
                     "Windows: the program's icon (what Explorer and the taskbar show) from "
                     "FILE.ico, one or more images, PNG ones too")
        ->type_name("FILE.ico");
    command
        ->add_option("--version-info", options.versionInfo,
                     "Windows: version information KEY=VALUE; KEY is ProductName, "
                     "ProductVersion, FileVersion (up to four dotted numbers: 2.1.0.7), "
                     "CompanyName, FileDescription, LegalCopyright, OriginalFilename, "
                     "InternalName or Comments (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
}

void AddSfx(CLI::App& app, SfxOptions& options) {
    auto* command =
        app.add_subcommand("sfx", "make a self-extracting program (winqor carrying the archive)");
    command->add_option("-o", options.output, "the program to write (made executable)")
        ->required()
        ->type_name("PROGRAM");
    AddPackOptions(command, options.pack);
    command->add_flag("--windows", options.windows,
                      "make a Windows program: copy the winqor.exe in ../lib/winqor/ from the "
                      "folder of aze");
    command
        ->add_option("--stub", options.stub,
                     "the winqor program to copy (default: the winqor beside aze); a Windows "
                     "winqor.exe makes a Windows program, a Linux winqor a Linux one")
        ->type_name("WINQOR");
    AddWindowsIdentity(command, options);
    command
        ->add_option("--license", options.licence,
                     "a licence (UTF-8 text, at most 256 KiB) that the program shows and asks to "
                     "accept before it unpacks anything; its --accept accepts it for scripts")
        ->type_name("FILE");
    command->add_option("INPUT", options.input, "a folder to pack, or an archive to embed as it is")
        ->required()
        ->type_name("DIR|ARCHIVE.aze");
    command->footer(
        Footer("aze sfx -o setup.run --run-setup dist/    (setup.run unpacks into setup/)\n"
               "  aze sfx --windows -o setup.exe dist/       (a Windows program)\n"
               "  aze sfx --windows --icon product.ico --version-info ProductName=Product \\\n"
               "      --version-info FileVersion=2.1.0.7 -o setup.exe dist/\n"
               "The program takes switches of its own for unattended installs (--target,\n"
               "--temp, --extract-only, --quiet, --log, ...) and passes the rest of its\n"
               "command line to Setup.exe: run it with --help, or see winqor(1).",
               kSfxExitText));
}

CLI::App* AddReader(CLI::App& app, const char* name, const char* help, const char* example,
                    const char* exitStatus, ReadOptions& options) {
    auto* command = app.add_subcommand(name, help);
    AddPasswordFile(command, options.passwordFile);
    command
        ->add_option("ARCHIVE", options.archive,
                     "an archive, or a self-extracting program made by aze sfx")
        ->required();
    command->footer(Footer(example, exitStatus));
    return command;
}

void AddReaders(CLI::App& app, ReadOptions& list, ReadOptions& test, ReadOptions& extract) {
    AddReader(app, "list", "print every folder (D path) and file (F path size) of an archive",
              "aze list --json release.aze", kListExitText, list)
        ->add_flag("--json", list.json,
                   "one JSON object a line: {\"type\":\"folder\",\"path\":...} and "
                   "{\"type\":\"file\",\"path\":...,\"size\":...,\"readOnly\":...}");
    AddReader(app, "test", "check an archive completely without writing anything",
              "aze test --password-file - release.aze < key.txt", kTestExitText, test);
    AddReader(app, "extract", "extract an archive (nothing is written if it is damaged)",
              "aze extract -C /tmp/out release.aze", kExtractExitText, extract)
        ->add_option("-C", extract.destination,
                     "the folder to extract into (default: ARCHIVE without extension)")
        ->type_name("DEST");
}

constexpr char kInfoExitText[] =
    "Exit status:\n"
    "  0  shown (nothing is written)\n"
    "  1  the file is no archive and carries none, or it is damaged; standard output cannot\n"
    "     be written\n"
    "  2  usage error (also: ARCHIVE is a folder)\n"
    "  4  the sandbox that reads the archive could not start, or broke its rules\n";

void AddInfo(CLI::App& app, InfoOptions& options) {
    auto* command = app.add_subcommand(
        "info",
        "what an archive or self-extracting program holds, before it is run: sizes, "
        "encryption, Setup.exe, folders and files, licence, output folder, version");
    command->add_flag("--json", options.json, "one JSON object instead of \"name: value\" lines");
    command
        ->add_option("ARCHIVE", options.archive,
                     "an archive, or a self-extracting program made by aze sfx")
        ->required()
        ->type_name("ARCHIVE|PROGRAM");
    command->footer(Footer("aze info --json setup.run", kInfoExitText));
}

}  // namespace

int main(int argc, char** argv) {
    // aze lists as JSON, in its sandboxed child too.
    winqor::OfferJsonListing(winqor::NewJsonListingSink);
    // The sandboxed child of an extraction is this program started again: it runs nothing else.
    winqor::RunIfExtractionChild(argc, argv);
    winqor::HoldOwnProgramFile();
    winqor::IgnoreFileSizeLimitSignal();
    CLI::App app{
        "aze: write, list, test and extract .aze archives, and make self-extracting programs"};
    app.failure_message(UsageErrorLine);
    app.require_subcommand(1);
    app.fallthrough();  // -v is accepted after the subcommand too
    app.set_version_flag("--version", kVersionText);
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose,
                 "show the debug channel and the decompressor's messages on stderr");
    app.footer(std::string(kMainFooter) + "\n" + kExitStatusText);
    CreateOptions create;
    SfxOptions sfx;
    ReadOptions list, test, extract;
    InfoOptions info;
    AddCreate(app, create);
    AddSfx(app, sfx);
    AddReaders(app, list, test, extract);
    AddInfo(app, info);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // The parser prints its own line.
        return ReportAndFinish(app.exit(error) == 0 ? ExitStatus::kSuccess : ExitStatus::kUsage,
                               {});
    }
    if (!verbose) {
        winqor::SetDebugSink({});
        winqor::SetDecoderVerbosity(0);
    }
    winqor::SetDecoderChoiceReported(verbose);
    const std::string chosen = app.get_subcommands().front()->get_name();
    std::string reason;
    ExitStatus status = ExitStatus::kSuccess;
    if (chosen == "create") status = RunCreate(create, reason);
    if (chosen == "sfx") status = RunSfx(sfx, reason);
    if (chosen == "list") status = RunList(list, reason);
    if (chosen == "test") status = RunTest(test, reason);
    if (chosen == "extract") status = RunExtract(extract, reason);
    if (chosen == "info") status = RunInfo(info, reason);
    return ReportAndFinish(status, reason);
}
