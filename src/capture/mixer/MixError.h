#pragma once

#include <filesystem>
#include <stdexcept>

namespace velnote {

// A mixed chunk could not be set up for writing. what() is a fixed text
// followed by the path of the file being written.
class MixError : public std::runtime_error {
  public:
    enum class Kind { cannotCreateOutputFile, cannotCreateOutputBuffer };

    MixError(Kind kind, std::filesystem::path file);

    Kind kind() const { return kind_; }
    const std::filesystem::path& file() const { return file_; }

  private:
    Kind kind_;
    std::filesystem::path file_;
};

} // namespace velnote
