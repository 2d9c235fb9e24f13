#pragma once

#include "platform/concurrency/SerialExecutor.h"

#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// A sentence-embedding model of one language.
class SentenceEmbeddingModel {
  public:
    virtual ~SentenceEmbeddingModel() = default;
    // The vector of `text`; none when the model cannot embed it.
    virtual std::optional<std::vector<double>> vector(std::string_view text) = 0;
};

// Where the service finds a text's language and a model for it.
class SentenceEmbeddingCatalog {
  public:
    virtual ~SentenceEmbeddingCatalog() = default;
    // The language most of `text` is written in; none when the text gives no clue.
    virtual std::optional<std::string> dominantLanguage(std::string_view text) = 0;
    // The sentence embedding of `language`; nullptr when there is none.
    virtual std::shared_ptr<SentenceEmbeddingModel> sentenceEmbedding(const std::string& language) = 0;
};

// This system's catalogue: languages from the compact language detector, and no sentence-embedding
// model for any language (none is installed here), so every text takes the hashed fallback.
class SystemSentenceEmbeddingCatalog final : public SentenceEmbeddingCatalog {
  public:
    std::optional<std::string> dominantLanguage(std::string_view text) override;
    std::shared_ptr<SentenceEmbeddingModel> sentenceEmbedding(const std::string& language) override;
};

// `vector` scaled to unit length; an empty or all-zero vector comes back unchanged. Pure.
std::vector<double> normalizeVec(std::vector<double> vector);

// The 512-bucket fallback over consecutive pairs of Unicode scalars, normalised. Pure.
std::vector<double> hashedNGramEmbedding(std::string_view text);

// A vector per screen description, for grouping observations by meaning: the sentence embedding
// of the text's dominant language (English when unknown), else the hashed fallback. The vectors of
// the 1024 most recently used texts are cached under the exact text.
//
// An actor: one serial executor does every computation, so any thread may call it; callers wait
// on the returned future. One instance per process (shared()).
class DescriptionEmbeddingService {
  public:
    static constexpr std::size_t maxCacheSize = 1024;
    static constexpr std::size_t kFallbackDimension = 512;
    static constexpr std::size_t kMaxCharacters = 512; // longer texts are cut before embedding

    explicit DescriptionEmbeddingService(std::shared_ptr<SentenceEmbeddingCatalog> catalog);
    static DescriptionEmbeddingService& shared();

    std::future<std::vector<double>> embedding(std::string text);

    // For tests: the cached texts, least recently used first.
    std::future<std::vector<std::string>> cachedTexts();

  private:
    std::vector<double> embeddingOnExecutor(const std::string& text);
    void touch(const std::string& text);
    void trimIfNeeded();
    std::vector<double> makeEmbedding(const std::string& text);

    const std::shared_ptr<SentenceEmbeddingCatalog> catalog_;
    // Only on executor_:
    std::map<std::string, std::vector<double>> cache_;
    std::vector<std::string> usageOrder_; // least recently used first
    std::map<std::string, std::shared_ptr<SentenceEmbeddingModel>> embeddingModels_;
    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
