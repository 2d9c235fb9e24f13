#include "engine/speech/tokenizer/TokenizerLoader.h"

#include "engine/foundation/HubClient.h"
#include "engine/foundation/Logging.h"
#include "engine/speech/models/ModelUtilities.h"
#include "engine/speech/tokenizer/BpeTokenizer.h"
#include "engine/speech/tokenizer/TokenizerError.h"
#include "engine/speech/tokenizer/TokenizerFiles.h"
#include "engine/speech/tokenizer/WhisperTokenizerWrapper.h"
#include "platform/fs/FileUrl.h"

namespace vocalith {

namespace fs = std::filesystem;
using basalith::Logging;

namespace {

std::shared_ptr<const BpeTokenizer> buildFromFolder(const fs::path& folder) {
    const auto config = TokenizerFiles::readConfig(folder);
    if (!config)
        throw TokenizerError(TokenizerError::Code::missingFile,
                             (folder / TokenizerFiles::kConfigFile).string() + " does not exist");
    return std::make_shared<const BpeTokenizer>(
        BpeTokenizer::build(*config, TokenizerFiles::readData(folder)));
}

std::optional<fs::path> findLocalTokenizer(const std::vector<fs::path>& searchPaths) {
    for (const auto& folder : searchPaths) {
        const fs::path file = folder / TokenizerFiles::kDataFile;
        std::error_code error;
        const bool exists = fs::exists(file, error);
        Logging::debug("Checking for local tokenizer at " + file.string() + " - " +
                       (exists ? "found" : "not found"));
        if (exists) {
            Logging::debug("Found local tokenizer at " + folder.string());
            return folder;
        }
    }
    Logging::debug("No tokenizer found in any local search paths");
    return std::nullopt;
}

// The local files, or none (logged) when they are incomplete or refused.
std::shared_ptr<WhisperTokenizer> loadLocal(const fs::path& folder) {
    try {
        const auto config = TokenizerFiles::readConfig(folder);
        if (!config) {
            Logging::debug("Tokenizer configuration not found in local config");
            return nullptr;
        }
        auto tokenizer = std::make_shared<const BpeTokenizer>(
            BpeTokenizer::build(*config, TokenizerFiles::readData(folder)));
        Logging::debug("Loading tokenizer from " + folder.string());
        return std::make_shared<WhisperTokenizerWrapper>(std::move(tokenizer), folder);
    } catch (const std::exception& error) {
        Logging::debug(std::string("Error loading local tokenizer: ") + error.what());
        return nullptr;
    }
}

} // namespace

std::shared_ptr<WhisperTokenizer> loadTokenizer(ModelVariant variant,
                                                const std::optional<fs::path>& tokenizerFolder,
                                                const std::vector<fs::path>& additionalSearchPaths,
                                                bool useBackgroundSession, const std::string& endpoint) {
    const std::string name = ModelUtilities::tokenizerNameForVariant(variant);
    basalith::HubClientOptions options;
    options.downloadBase = tokenizerFolder;
    options.endpoint = endpoint;
    options.useBackgroundSession = useBackgroundSession;
    const basalith::HubClient hub(options);
    const fs::path repositoryFolder = hub.localRepoLocation(name);

    std::vector<fs::path> searchPaths{repositoryFolder};
    if (tokenizerFolder)
        searchPaths.push_back(*tokenizerFolder);
    searchPaths.insert(searchPaths.end(), additionalSearchPaths.begin(), additionalSearchPaths.end());
    if (const auto found = findLocalTokenizer(searchPaths)) {
        if (auto tokenizer = loadLocal(*found))
            return tokenizer;
    }

    Logging::debug("Downloading tokenizer from Hub at " + velnote::platform::fileUrl(repositoryFolder));
    const fs::path downloaded =
        hub.snapshot(name, "main", {TokenizerFiles::kDataFile, TokenizerFiles::kConfigFile});
    return std::make_shared<WhisperTokenizerWrapper>(buildFromFolder(downloaded), repositoryFolder);
}

std::shared_ptr<WhisperTokenizer>
ModelUtilities::loadTokenizer(ModelVariant variant, const std::optional<fs::path>& tokenizerFolder,
                              const std::vector<fs::path>& additionalSearchPaths, bool useBackgroundSession,
                              const std::string& endpoint) {
    return vocalith::loadTokenizer(variant, tokenizerFolder, additionalSearchPaths, useBackgroundSession,
                                   endpoint);
}

std::shared_ptr<WhisperTokenizer> loadTokenizer(ModelVariant variant,
                                                const std::optional<fs::path>& tokenizerFolder,
                                                bool useBackgroundSession) {
    return loadTokenizer(variant, tokenizerFolder, {}, useBackgroundSession);
}

} // namespace vocalith
