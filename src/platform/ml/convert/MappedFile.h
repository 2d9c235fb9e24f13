#pragma once

#include <cstddef>
#include <filesystem>
#include <span>

namespace velnote::platform::ml {

// A whole file mapped read-only, so multi-gigabyte checkpoints are read without copying them
// into memory. Empty files map to an empty span. Move-only; unmaps on destruction.
class MappedFile {
  public:
    // Throws ConversionError (unreadableSource) when the file cannot be opened or mapped.
    explicit MappedFile(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const std::byte> bytes() const { return {data_, size_}; }

  private:
    void release() noexcept;

    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace velnote::platform::ml
