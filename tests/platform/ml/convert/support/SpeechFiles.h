#pragma once

#include <filesystem>
#include <vector>

namespace velnote::testing {

// The samples of a mono 16 kHz sound file as floats in [-1, 1]. Throws std::runtime_error for an
// unreadable file or another rate or channel count: the tests compare against 16 kHz references.
std::vector<float> readSpeech16k(const std::filesystem::path& path);

} // namespace velnote::testing
