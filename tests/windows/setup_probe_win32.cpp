// A stand-in for an installer's Setup.exe, for Windows only (it starts its copy through the
// C runtime's _spawnl): a console program that notes where it ran and what it inherited, then
// exits with the status it is told to. The self-extracting tests carry it.
//
//   WINQOR_PROBE_RECORD  the file to write: its current folder, then WINQOR_PROBE_MARK's value,
//                        then each argument it was given as "[argument]", one a line
//   WINQOR_PROBE_EXIT    its exit status (0 when unset)
//   WINQOR_PROBE_LINGER  1: like an installer that restarts itself, it starts a copy of itself
//                        and exits at once; the copy adds "copy ended" to the record a moment
//                        later, so the record tells whether the run waited for it too
#include <process.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int RunAsCopy() {
    // Long enough that a run which waited only for the first process has ended by now.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::ofstream(Variable("WINQOR_PROBE_RECORD"), std::ios::app) << "copy ended\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "copy") return RunAsCopy();
    const std::string record = Variable("WINQOR_PROBE_RECORD");
    if (!record.empty()) {
        std::ofstream out(record);
        out << std::filesystem::current_path().string() << '\n'
            << Variable("WINQOR_PROBE_MARK") << '\n';
        for (int i = 1; i < argc; ++i) out << '[' << argv[i] << "]\n";
    }
    if (Variable("WINQOR_PROBE_LINGER") == "1")
        _spawnl(_P_NOWAIT, argv[0], argv[0], "copy", nullptr);
    const std::string status = Variable("WINQOR_PROBE_EXIT");
    return status.empty() ? 0 : std::atoi(status.c_str());
}
