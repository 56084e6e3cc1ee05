// aze: writes archives, lists, tests and extracts them, and makes self-extracting programs.
#include <CLI/CLI.hpp>

#include "engine/archive_extractor.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "tools/aze/commands.h"

namespace {

using namespace winqor::aze;

void AddPasswordFile(CLI::App* command, std::string& target) {
    command
        ->add_option("--password-file", target,
                     "read the password from the first line of FILE ('-': standard input)")
        ->type_name("FILE");
}

void AddCreate(CLI::App& app, CreateOptions& options) {
    auto* command = app.add_subcommand("create", "write an archive of a folder");
    command->add_option("-o", options.output, "the archive to write (default: DIR.aze)")
        ->type_name("OUT.aze");
    AddPasswordFile(command, options.passwordFile);
    command->add_flag("--run-setup", options.runSetup,
                      "start Setup.exe after a self-extracting run");
    command->add_option("DIR", options.input, "the folder to pack")->required();
}

void AddSfx(CLI::App& app, SfxOptions& options) {
    auto* command = app.add_subcommand("sfx", "make a self-extracting program");
    command->add_option("-o", options.output, "the program to write")
        ->required()
        ->type_name("PROGRAM");
    AddPasswordFile(command, options.passwordFile);
    command->add_flag("--run-setup", options.runSetup,
                      "start Setup.exe after the self-extracting run");
    command->add_option("--stub", options.stub, "the winqor program to copy")->type_name("PATH");
    command->add_option("INPUT", options.input, "a folder, or an archive to embed unchanged")
        ->required();
}

CLI::App* AddReader(CLI::App& app, const char* name, const char* help, ReadOptions& options) {
    auto* command = app.add_subcommand(name, help);
    AddPasswordFile(command, options.passwordFile);
    command->add_option("ARCHIVE", options.archive, "an archive or a self-extracting program")
        ->required();
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    winqor::IgnoreFileSizeLimitSignal();
    CLI::App app{"aze: write, list, test and extract .aze archives"};
    app.require_subcommand(1);
    app.fallthrough();  // -v is accepted after the subcommand too
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "show the debug channel and the decompressor's output");
    CreateOptions create;
    SfxOptions sfx;
    ReadOptions list, test, extract;
    AddCreate(app, create);
    AddSfx(app, sfx);
    AddReader(app, "list", "list the folders and files of an archive", list);
    AddReader(app, "test", "check an archive completely without writing", test);
    AddReader(app, "extract", "extract an archive", extract)
        ->add_option("-C", extract.destination,
                     "where to extract (default: ARCHIVE without its extension)")
        ->type_name("DEST");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }
    if (!verbose) {
        winqor::SetDebugSink({});
        winqor::SetDecoderVerbosity(0);
    }
    const std::string chosen = app.get_subcommands().front()->get_name();
    if (chosen == "create") return RunCreate(create);
    if (chosen == "sfx") return RunSfx(sfx);
    if (chosen == "list") return RunList(list);
    if (chosen == "test") return RunTest(test);
    return RunExtract(extract);
}
