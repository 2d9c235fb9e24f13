#pragma once

#include <string>

namespace vocalith {

// printf-style formatting into a string, for the engine's fixed log and file formats ("%.2f").
std::string cFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace vocalith
