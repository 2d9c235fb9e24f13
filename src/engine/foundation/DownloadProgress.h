#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace basalith {

// Progress of one snapshot download, counted in files with the bytes of the file being fetched.
struct DownloadProgress {
    std::int64_t completedFiles = 0;         // files fully present, also those found already there
    std::int64_t totalFiles = 0;             // files the snapshot needs
    std::string currentFile;                 // repository path being fetched; empty when none
    std::int64_t currentFileBytes = 0;       // bytes of currentFile on disk, resumed bytes included
    std::int64_t currentFileTotalBytes = -1; // -1 = size not known yet

    // 0...1: whole files plus the share of the current one.
    double fractionCompleted() const {
        if (totalFiles <= 0)
            return 1.0;
        double files = static_cast<double>(completedFiles);
        if (!currentFile.empty() && currentFileTotalBytes > 0) {
            files += static_cast<double>(currentFileBytes) / static_cast<double>(currentFileTotalBytes);
        }
        return files / static_cast<double>(totalFiles);
    }
};

// Called on the thread that downloads, possibly many times per file.
using ProgressCallback = std::function<void(const DownloadProgress&)>;

} // namespace basalith
