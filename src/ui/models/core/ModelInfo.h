#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velnote {

// The kind of a downloaded model the model window lists.
enum class ModelType {
    whisper,       // a speech-recognition repository folder under one of the two hub roots
    summarization, // a file or folder in the application's "Models" folder
};

// One downloaded model as the model window shows it. Nothing stores it.
struct ModelInfo {
    std::string id;                                       // the full path; the model's identity
    std::string name;                                     // what the row shows
    ModelType type = ModelType::summarization;            //
    std::filesystem::path path;                           // what deletion removes
    std::int64_t size = 0;                                // bytes of the regular files inside
    std::chrono::system_clock::time_point modifiedDate{}; // of the folder or file itself
};

} // namespace velnote
