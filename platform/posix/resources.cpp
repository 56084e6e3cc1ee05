#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/resources.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;
namespace {

int64_t CurrentSize(FileHandle file) {
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return info.st_size;
}

}  // namespace

ResourceFile::~ResourceFile() {
    if (mapping_ != nullptr) ::munmap(const_cast<uint8_t*>(mapping_), size_);
    CloseFile(file_);
}

bool ResourceFile::Open(const std::string& path) {
    if (file_ != kInvalidHandle) return false;
    // A program file is a regular file. O_NONBLOCK keeps the open of a pipe without a writer
    // (an archive that was piped in and already read) from waiting forever; the size check
    // below then refuses it. It changes nothing for a regular file.
    file_ = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file_ < 0) {
        file_ = kInvalidHandle;
        return false;
    }
    const int64_t size = CurrentSize(file_);
    if (size < 0) return false;
    size_ = static_cast<uint64_t>(size);
    return ReadTable();
}

bool ResourceFile::ReadAt(uint64_t offset, uint8_t* buffer, uint64_t count) const {
    while (count > 0) {
        const ssize_t got = ::pread(file_, buffer, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<uint64_t>(got);
    }
    return true;
}

const uint8_t* ResourceFile::Load(const ResourceEntry& entry) {
    // A file that changed size since its table was read would fault inside the mapping.
    if (file_ == kInvalidHandle || CurrentSize(file_) != static_cast<int64_t>(size_)) {
        return nullptr;
    }
    if (entry.offset > size_ || entry.size > size_ - entry.offset || size_ == 0) return nullptr;
    if (mapping_ == nullptr) {
        void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file_, 0);
        if (mapped == MAP_FAILED) return nullptr;
        mapping_ = static_cast<const uint8_t*>(mapped);
    }
    return mapping_ + entry.offset;
}

ResourceFile* OwnProgramResources() {
    // Never destroyed: loaded resources stay valid for the life of the process.
    static ResourceFile* const own = [] {
        auto* file = new ResourceFile;
        if (file->Open("/proc/self/exe")) return file;
        delete file;
        return static_cast<ResourceFile*>(nullptr);
    }();
    return own;
}

ResourceHandle FindResource(ResourceFile* module, std::string_view type, uint32_t id) {
    if (module == nullptr) module = OwnProgramResources();
    return module == nullptr ? nullptr : module->Find(type, id);
}

const void* LoadResource(ResourceFile* module, ResourceHandle resource) {
    if (module == nullptr) module = OwnProgramResources();
    if (module == nullptr || resource == nullptr) return nullptr;
    return module->Load(*resource);
}

bool WriteProgramFile(const std::string& path, std::span<const uint8_t> bytes,
                      std::string& reason) {
    // 0777, so that the umask alone decides who may run it.
    return ReplaceFileAtPath(path, bytes.data(), bytes.size(), 0777, reason);
}

}  // namespace winqor
