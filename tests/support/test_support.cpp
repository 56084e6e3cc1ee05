#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/debug.h"
#include "base/text.h"

namespace winqor::test {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::u16string Wide(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    std::u16string wide;
    if (!Utf8ToUtf16(std::string(utf8.begin(), utf8.end()), wide)) {
        ADD_FAILURE() << "not a UTF-8 path: " << path;
    }
    return wide;
}

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate =
            std::filesystem::temp_directory_path() / ("winqor-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = std::filesystem::canonical(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    RemoveTemporaryTree(path_);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::filesystem::path VectorsDir() {
    return WINQOR_VECTORS_DIR;
}

bool HaveVectors() {
    return std::filesystem::exists(VectorsDir() / "plain.aze");
}

CurrentDirGuard::CurrentDirGuard() : saved_(std::filesystem::current_path()) {}
CurrentDirGuard::~CurrentDirGuard() {
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
}

DebugCapture::DebugCapture() {
    SetDebugSink([this](std::string_view text) { messages_.emplace_back(text); });
}

DebugCapture::~DebugCapture() {
    UseStandardErrorSink();
}

std::string DebugCapture::All() const {
    std::string all;
    for (const auto& message : messages_) all += message;
    return all;
}

}  // namespace winqor::test

#include "protection/md5.h"

namespace winqor::test {

std::string Md5Hex(const std::vector<uint8_t>& bytes) {
    uint8_t digest[16] = {};
    static const uint8_t kNothing = 0;
    if (Md5Digest(digest, bytes.empty() ? &kNothing : bytes.data(),
                  static_cast<int32_t>(bytes.size())) == 0) {
        return "d41d8cd98f00b204e9800998ecf8427e";  // MD5 of no bytes
    }
    return ToHex(digest, 16);
}

}  // namespace winqor::test
