// Describes a folder tree as sorted lines, for comparing what an extraction wrote.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace winqor::test {

// "D path" for each folder (the root is "."), "F path size md5" for each file, sorted;
// a symbolic link is "L path -> target". Paths are relative to root, with '/'.
std::vector<std::string> DescribeTree(const std::filesystem::path& root);

// The lines of a file such as expected-tree.txt, sorted.
std::vector<std::string> ReadSortedLines(const std::filesystem::path& file);

}  // namespace winqor::test
