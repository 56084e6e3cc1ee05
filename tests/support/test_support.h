// Shared helpers of the test programs: temporary folders, files, the reference vectors.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace winqor::test {

// A fresh folder below the system's temporary folder, removed with its contents at the end
// (read-only entries too, and links, which are never followed).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The system's own removal of a test's temporary tree (the system's fixtures file).
void RemoveTemporaryTree(const std::filesystem::path& root);

// The bytes of text, as they are.
std::vector<uint8_t> Bytes(const std::string& text);
// The UTF-16 form of a path, as the core takes it; a path that is not UTF-8 fails the test.
std::u16string Wide(const std::filesystem::path& path);
// size bytes that do not compress: the same pseudo-random sequence for the same seed.
std::vector<uint8_t> Noise(size_t size, uint32_t seed);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FromHex(const std::string& hex);
std::string ToHex(const uint8_t* bytes, size_t count);
std::string Md5Hex(const std::vector<uint8_t>& bytes);

// The folder of reference archives; tests that need it skip when it is absent.
std::filesystem::path VectorsDir();
bool HaveVectors();

// Sets an environment variable for the rest of the test program, and for the programs it
// starts; a null value removes it. (The system's fixtures file.)
void SetEnvironment(const char* name, const char* value);

// Restores the process's current directory when it goes out of scope.
class CurrentDirGuard {
  public:
    CurrentDirGuard();
    ~CurrentDirGuard();

  private:
    std::filesystem::path saved_;
};

// Collects debug-channel messages for the life of the object.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    const std::vector<std::string>& messages() const { return messages_; }
    std::string All() const;
    void Clear() { messages_.clear(); }

  private:
    std::vector<std::string> messages_;
};

}  // namespace winqor::test
