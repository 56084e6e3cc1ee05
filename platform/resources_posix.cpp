#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/resources.h"

namespace winqor {
namespace {

// A table larger than this is taken as damaged rather than read into memory.
constexpr uint64_t kMaxTableBytes = 1 << 20;

int64_t CurrentSize(FileHandle file) {
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return info.st_size;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
}

// Creates a fresh file beside path; mode 0777 so that the umask alone decides the bits.
int CreateTemporaryBeside(const std::string& path, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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
    file_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

bool ResourceFile::ReadTable() {
    table_ = {};
    table_.programBytes = size_;
    uint8_t tail[kResourceTrailerBytes];
    const uint64_t tailBytes = size_ < kResourceTrailerBytes ? size_ : kResourceTrailerBytes;
    if (!ReadAt(size_ - tailBytes, tail, tailBytes)) return false;
    TableLocation where;
    status_ = LocateTable(std::span<const uint8_t>(tail, tailBytes), size_, where);
    if (status_ != TableStatus::kValid) return true;
    if (where.tableBytes > kMaxTableBytes) {
        status_ = TableStatus::kCorrupt;
        return true;
    }
    std::vector<uint8_t> records(where.tableBytes);
    if (!ReadAt(where.tableOffset, records.data(), records.size())) return false;
    status_ = ParseEntries(records, where, table_);
    return true;
}

const ResourceEntry* ResourceFile::Find(std::string_view type, uint32_t id) const {
    return FindEntry(table_, type, id);
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

bool ResourceFile::Read(const ResourceEntry& entry, std::vector<uint8_t>& bytes) const {
    bytes.clear();
    if (file_ == kInvalidHandle || entry.offset > size_ || entry.size > size_ - entry.offset) {
        return false;
    }
    bytes.resize(entry.size);
    return ReadAt(entry.offset, bytes.data(), entry.size);
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

const uint8_t* LockResource(const void* loaded) {
    return static_cast<const uint8_t*>(loaded);
}

uint64_t SizeofResource(ResourceHandle resource) {
    return resource == nullptr ? 0 : resource->size;
}

bool WriteProgramFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
    std::string temporary;
    errno = 0;
    const int fd = CreateTemporaryBeside(path, temporary);
    if (fd < 0) {
        error = std::string("cannot create a file beside it: ") + std::strerror(errno);
        return false;
    }
    bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0) written = false;
    if (!written) {
        error = std::string("cannot write: ") + std::strerror(writeError != 0 ? writeError : errno);
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::string("cannot replace it: ") + std::strerror(errno);
        written = false;
    }
    if (!written) ::unlink(temporary.c_str());
    return written;
}

}  // namespace winqor
