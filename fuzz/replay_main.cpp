// Replays stored fuzz inputs through a target without libFuzzer: every file named, and every
// file in every folder named (a missing folder has nothing to replay). A finding aborts.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/harness.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsOf(const fs::path& argument) {
    std::vector<fs::path> inputs;
    if (fs::is_regular_file(argument)) inputs.push_back(argument);
    if (fs::is_directory(argument)) {
        for (const auto& entry : fs::directory_iterator(argument)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& input : InputsOf(argv[i])) {
            const std::vector<uint8_t> bytes = ReadAll(input);
            std::printf("%s (%zu bytes)\n", input.c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
