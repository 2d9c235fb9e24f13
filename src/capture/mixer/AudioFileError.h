#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace velnote {

// An audio file could not be opened, read or written. what() names the file
// and the audio library's reason.
class AudioFileError : public std::runtime_error {
  public:
    AudioFileError(const std::filesystem::path& file, const std::string& reason)
        : std::runtime_error("audio file " + file.string() + ": " + reason), file_(file) {}

    const std::filesystem::path& file() const { return file_; }

  private:
    std::filesystem::path file_;
};

} // namespace velnote
