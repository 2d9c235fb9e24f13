#include "capture/mixer/MixError.h"

#include <string>

namespace velnote {
namespace {

std::string describe(MixError::Kind kind, const std::filesystem::path& file) {
    const char* text = kind == MixError::Kind::cannotCreateOutputFile
                           ? "mix chunk file could not be created: "
                           : "mix chunk buffer could not be created: ";
    return text + file.string();
}

} // namespace

MixError::MixError(Kind kind, std::filesystem::path file)
    : std::runtime_error(describe(kind, file)), kind_(kind), file_(std::move(file)) {}

} // namespace velnote
