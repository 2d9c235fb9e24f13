#pragma once

#include "ui/models/core/ModelInfo.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What the model store reads of the model folders: plain functions on paths, so any thread may
// call them. Every failure while listing is logged on the "app" logger and leaves out what could
// not be read; a folder that does not exist lists as empty and logs nothing.
namespace velnote::ModelFolderScan {

using WallTime = std::chrono::system_clock::time_point;

// The two layouts speech models are kept in.
struct SpeechRoots {
    // Hub cache: one folder per repository, "models--<owner>--<name>".
    std::optional<std::filesystem::path> hub;
    // Downloaded repositories: "<owner>/<name>".
    std::optional<std::filesystem::path> repositories;
};

// The children of `folder` (hidden ones skipped), each one model of `type`, in the listing's
// order. A child removed while it is read is left out; the first child that cannot be read for
// another reason ends the listing (logged), and the models before it stay.
std::vector<ModelInfo> enumerateModels(const std::filesystem::path& folder, ModelType type);

// The speech-model repository folders of both roots, newest modification first (stable).
std::vector<ModelInfo> enumerateWhisperModels(const SpeechRoots& roots);

// Whether a repository folder's lower-case name marks a speech model: it contains "whisper", or it
// is the speech engine's own model repository.
bool isSpeechRepositoryName(const std::string& lowerCaseName, bool hubLayout);

// "models--openai--whisper-base" gives "openai/whisper-base"; a repository folder under an owner
// gives "<owner>/<name>"; a folder directly under a root named "models" or "hub" keeps its name.
std::string displayNameForWhisperModel(const std::filesystem::path& folder);

// The sum of the sizes of the regular files at or below `path`, hidden files and folders and
// symbolic links left out (a link is never followed). Throws std::filesystem::filesystem_error
// when `path` or an item below it cannot be examined; a folder that cannot be opened for lack of
// permission counts as empty.
std::int64_t totalAllocatedSize(const std::filesystem::path& path);

// The modification date of `path` itself (a link is not followed). Throws std::system_error.
WallTime modificationDate(const std::filesystem::path& path);

} // namespace velnote::ModelFolderScan
