#pragma once

#include <chrono>
#include <string>

namespace vocalith {

// printf-style formatting into a string, for the engine's fixed log and file formats ("%.2f").
std::string cFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// An instant as the log lines show it: "2026-01-02 03:04:05 +0000" (UTC, whole seconds).
std::string dateText(std::chrono::system_clock::time_point time);

} // namespace vocalith
