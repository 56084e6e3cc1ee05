// A stand-in for an installer's Setup.exe: a console program that notes where it ran and what
// it inherited, then exits with the status it is told to. The self-extracting tests carry it.
//
//   WINQOR_PROBE_RECORD  the file to write: its current folder, then WINQOR_PROBE_MARK's value
//   WINQOR_PROBE_EXIT    its exit status (0 when unset)
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

int main() {
    const std::string record = Variable("WINQOR_PROBE_RECORD");
    if (!record.empty()) {
        std::ofstream out(record);
        out << std::filesystem::current_path().string() << '\n'
            << Variable("WINQOR_PROBE_MARK") << '\n';
    }
    const std::string status = Variable("WINQOR_PROBE_EXIT");
    return status.empty() ? 0 : std::atoi(status.c_str());
}
