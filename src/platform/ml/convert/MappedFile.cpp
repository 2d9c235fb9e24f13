#include "platform/ml/convert/MappedFile.h"

#include "platform/fs/Files.h"
#include "platform/ml/convert/ConversionError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace velnote::platform::ml {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const char* what) {
    throw ConversionError(ConversionError::Code::unreadableSource,
                          "cannot " + std::string(what) + " " + path.string() + ": " + std::strerror(errno));
}

} // namespace

MappedFile::MappedFile(const std::filesystem::path& path) {
    // A FIFO in the file's place is refused at once, not waited on for a writer.
    FileDescriptor guard;
    try {
        guard = openRegularFile(path);
    } catch (const std::system_error& error) {
        throw ConversionError(ConversionError::Code::unreadableSource, error.what());
    }
    const int fd = guard.get();
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail(path, "examine");
    size_ = static_cast<std::size_t>(info.st_size);
    if (size_ == 0)
        return;
    void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
        size_ = 0;
        fail(path, "map");
    }
    data_ = static_cast<const std::byte*>(mapped);
}

MappedFile::~MappedFile() {
    release();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void MappedFile::release() noexcept {
    if (data_ != nullptr)
        ::munmap(const_cast<std::byte*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

} // namespace velnote::platform::ml
