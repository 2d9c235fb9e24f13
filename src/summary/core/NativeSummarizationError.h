#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace velnote {

// The failures of a session's summary step and of the local model files.
// what() is the description, in Japanese whatever the interface language.
class NativeSummarizationError : public std::runtime_error {
  public:
    enum class Kind {
        cliUnavailableInAppStore,   // subject: the provider's stored value
        modelNotFound,              // subject: the model; searchedPaths
        noModelSpec,                // subject: the model, which has no download entry
        modelDownloadFailed,        // subject: the model; reason
        emptySummary,               // the answer was meta commentary only, or nothing
        storageDirectoryUnavailable // no folder to keep models in
    };

    static NativeSummarizationError cliUnavailableInAppStore(std::string provider);
    static NativeSummarizationError modelNotFound(std::string model, std::vector<std::string> searchedPaths);
    static NativeSummarizationError noModelSpec(std::string model);
    static NativeSummarizationError modelDownloadFailed(std::string model, std::string reason);
    static NativeSummarizationError emptySummary();
    static NativeSummarizationError storageDirectoryUnavailable();

    Kind kind() const { return kind_; }
    const std::string& subject() const { return subject_; }
    const std::vector<std::string>& searchedPaths() const { return searchedPaths_; }
    const std::string& reason() const { return reason_; }

  private:
    NativeSummarizationError(Kind kind, std::string subject, std::vector<std::string> searchedPaths,
                             std::string reason);

    Kind kind_;
    std::string subject_;
    std::vector<std::string> searchedPaths_;
    std::string reason_;
};

} // namespace velnote
