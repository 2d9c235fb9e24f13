#pragma once

#include "engine/foundation/ModelDownloadConfig.h"
#include "engine/speech/models/ModelVariant.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vocalith {

// The tokenizer of a model variant: from the first of these folders that holds a
// "tokenizer.json" — the hub cache's folder of the variant's tokenizer repository (under
// `tokenizerFolder`), `tokenizerFolder` itself, then `additionalSearchPaths` in order — or, when
// none does or its files are refused, downloaded from the hub into that cache folder. Local
// failures are logged and fall back to the hub; only the hub path's error (basalith::HubError,
// TokenizerError) reaches the caller. `endpoint` is the hub's address.
std::shared_ptr<WhisperTokenizer>
loadTokenizer(ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder,
              const std::vector<std::filesystem::path>& additionalSearchPaths, bool useBackgroundSession,
              const std::string& endpoint = basalith::kDefaultHubEndpoint);

// The same without further search paths.
std::shared_ptr<WhisperTokenizer> loadTokenizer(ModelVariant variant,
                                                const std::optional<std::filesystem::path>& tokenizerFolder,
                                                bool useBackgroundSession);

} // namespace vocalith
