#pragma once

#include "engine/foundation/ModelDownloadConfig.h"
#include "engine/foundation/ModelUtilities.h"
#include "engine/speech/models/ModelSupport.h"
#include "engine/speech/models/ModelVariant.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vocalith {

class WhisperTokenizer;

// The foundation's model-file operations and the speech engine's own additions.
struct ModelUtilities : basalith::ModelUtilities {
    // The compiled model "<name>.mlmodelc" in a variant folder, whether or not it exists: the
    // runtime's model folders take the compiled models' names, and there is no package form.
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name);
    using basalith::ModelUtilities::detectModelURL;

    // The variant of a loaded model, told by the decoder's vocabulary size and the encoder's output
    // width. An unknown vocabulary size gives `base` and logs an error line.
    static ModelVariant detectVariant(std::int64_t logitsDim, std::int64_t encoderDim);

    // The tokenizer repository of a variant, such as "openai/whisper-base.en".
    static std::string tokenizerNameForVariant(ModelVariant variant);

    // loadTokenizer of tokenizer/TokenizerLoader.h.
    static std::shared_ptr<WhisperTokenizer>
    loadTokenizer(ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder,
                  const std::vector<std::filesystem::path>& additionalSearchPaths, bool useBackgroundSession,
                  const std::string& endpoint = basalith::kDefaultHubEndpoint);

    // The model folder names among a repository's file paths, ordered by variant (tiny first, then
    // by name within a variant). A non-large folder counts only when its name ends in its variant,
    // so "openai_whisper-small_216MB" is left out; every folder naming "large" is kept.
    static std::vector<std::string> formatModelFiles(const std::vector<std::string>& modelFiles);

    // The lookup of ModelSupportConfig::modelSupport on `config`, or on the built-in table.
    static ModelSupport modelSupport(const std::string& identifier,
                                     const std::optional<ModelSupportConfig>& config = std::nullopt) {
        return vocalith::modelSupport(identifier, config);
    }
};

inline std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name) {
    return ModelUtilities::detectModelURL(folder, name);
}

} // namespace vocalith
