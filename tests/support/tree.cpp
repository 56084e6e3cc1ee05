#include "support/tree.h"

#include <algorithm>
#include <fstream>

#include "support/test_support.h"

namespace winqor::test {

std::vector<std::string> DescribeTree(const std::filesystem::path& root) {
    std::vector<std::string> lines = {"D ."};
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string relative = it->path().lexically_relative(root).generic_string();
        if (it->is_symlink()) {
            lines.push_back("L " + relative + " -> " + fs::read_symlink(it->path()).string());
        } else if (it->is_directory()) {
            lines.push_back("D " + relative);
        } else if (!it->is_regular_file()) {
            lines.push_back("S " + relative);  // a pipe or a device is described, never opened
        } else {
            const auto bytes = ReadFileBytes(it->path());
            lines.push_back("F " + relative + " " + std::to_string(bytes.size()) + " " +
                            Md5Hex(bytes));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> ReadSortedLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace winqor::test
