// addres: adds one resource to a built program, for the build's post-link step.
//   addres PROGRAM TYPE ID LANGUAGE HEXBYTES
// An entry of the same type, id and language is replaced, so running it twice is harmless.
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "image/resource_table.h"
#include "platform/resources.h"

namespace {

bool ParseNumber(std::string_view text, uint32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Fail(const std::string& what) {
    std::cerr << "addres: " << what << '\n';
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) return Fail("usage: addres PROGRAM TYPE ID LANGUAGE HEXBYTES");
    const std::string program = argv[1];
    winqor::NewResource addition{argv[2], 0, 0, {}};
    std::vector<uint8_t> data;
    if (!ParseNumber(argv[3], addition.id) || !ParseNumber(argv[4], addition.language)) {
        return Fail("ID and LANGUAGE must be decimal numbers");
    }
    if (!ParseHex(argv[5], data)) return Fail("HEXBYTES must be pairs of hexadecimal digits");
    addition.data = data;
    std::vector<uint8_t> image, out;
    std::string error;
    if (!ReadFile(program, image)) return Fail("cannot read " + program);
    if (!winqor::AppendResources(image, {&addition, 1}, out, error) ||
        !winqor::WriteProgramFile(program, out, error)) {
        return Fail(program + ": " + error);
    }
    return 0;
}
