#include "context/activity/inference/DescriptionEmbeddingService.h"

#include "platform/language/LanguageRecognizer.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velnote {

std::optional<std::string> SystemSentenceEmbeddingCatalog::dominantLanguage(std::string_view text) {
    return platform::dominantLanguage(text);
}

std::shared_ptr<SentenceEmbeddingModel>
SystemSentenceEmbeddingCatalog::sentenceEmbedding(const std::string&) {
    return nullptr;
}

std::vector<double> normalizeVec(std::vector<double> vector) {
    double sum = 0;
    for (const double x : vector) {
        sum += x * x;
    }
    const double norm = std::sqrt(sum);
    if (norm > 0) {
        for (double& x : vector) {
            x /= norm;
        }
    }
    return vector;
}

namespace {

// The Unicode scalars of UTF-8 text; an invalid sequence counts as U+FFFD.
std::vector<std::uint32_t> scalars(std::string_view text) {
    std::vector<std::uint32_t> out;
    const std::string valid = platform::replacingInvalidUtf8(text);
    for (std::size_t i = 0; i < valid.size();) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        const int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        std::uint32_t value = length == 1   ? byte
                              : length == 2 ? (byte & 0x1F)
                              : length == 3 ? (byte & 0x0F)
                                            : (byte & 0x07);
        for (int k = 1; k < length; ++k) {
            value = (value << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        }
        out.push_back(value);
        i += length;
    }
    return out;
}

} // namespace

std::vector<double> hashedNGramEmbedding(std::string_view text) {
    constexpr std::uint32_t kBuckets = DescriptionEmbeddingService::kFallbackDimension;
    const auto u = scalars(text);
    std::vector<double> v(kBuckets, 0.0);
    if (u.size() >= 2) {
        for (std::size_t i = 0; i + 1 < u.size(); ++i) {
            // Wrapping 32-bit arithmetic, as the bucket rule is defined.
            const std::uint32_t h = 131u * u[i] + 17u * u[i + 1] + static_cast<std::uint32_t>(i);
            v[h % kBuckets] += 1;
        }
    } else if (u.size() == 1) {
        v[u[0] % kBuckets] += 1;
    }
    return normalizeVec(std::move(v));
}

DescriptionEmbeddingService::DescriptionEmbeddingService(std::shared_ptr<SentenceEmbeddingCatalog> catalog)
    : catalog_(std::move(catalog)) {}

DescriptionEmbeddingService& DescriptionEmbeddingService::shared() {
    static auto* service =
        new DescriptionEmbeddingService(std::make_shared<SystemSentenceEmbeddingCatalog>());
    return *service;
}

std::future<std::vector<double>> DescriptionEmbeddingService::embedding(std::string text) {
    return executor_.submit([this, text = std::move(text)] { return embeddingOnExecutor(text); });
}

std::future<std::vector<std::string>> DescriptionEmbeddingService::cachedTexts() {
    return executor_.submit([this] { return usageOrder_; });
}

std::vector<double> DescriptionEmbeddingService::embeddingOnExecutor(const std::string& text) {
    if (const auto hit = cache_.find(text); hit != cache_.end()) {
        touch(text);
        return hit->second;
    }
    auto vector = makeEmbedding(text);
    cache_[text] = vector;
    std::erase(usageOrder_, text);
    usageOrder_.push_back(text);
    trimIfNeeded();
    return vector;
}

void DescriptionEmbeddingService::touch(const std::string& text) {
    const auto it = std::find(usageOrder_.begin(), usageOrder_.end(), text);
    if (it != usageOrder_.end()) {
        std::rotate(it, it + 1, usageOrder_.end());
    }
}

void DescriptionEmbeddingService::trimIfNeeded() {
    while (usageOrder_.size() > maxCacheSize) {
        cache_.erase(usageOrder_.front());
        usageOrder_.erase(usageOrder_.begin());
    }
}

std::vector<double> DescriptionEmbeddingService::makeEmbedding(const std::string& text) {
    const std::string s = platform::prefixCharacters(platform::trimWhitespace(text), kMaxCharacters);
    if (s.empty()) {
        return std::vector<double>(kFallbackDimension, 0.0);
    }
    const std::string language = catalog_->dominantLanguage(s).value_or("en");
    auto model = embeddingModels_[language];
    if (!model) {
        model = catalog_->sentenceEmbedding(language);
        if (!model) {
            embeddingModels_.erase(language);
            return hashedNGramEmbedding(s);
        }
        embeddingModels_[language] = model;
    }
    if (auto vector = model->vector(s)) {
        return normalizeVec(std::move(*vector));
    }
    return hashedNGramEmbedding(s);
}

} // namespace velnote
