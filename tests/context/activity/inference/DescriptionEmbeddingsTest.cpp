#include "context/activity/inference/DescriptionEmbeddingService.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// A catalogue with a model for one language only; the model cannot embed texts holding "?".
class OneLanguageCatalog final : public SentenceEmbeddingCatalog {
  public:
    class Model final : public SentenceEmbeddingModel {
      public:
        std::optional<std::vector<double>> vector(std::string_view text) override {
            if (text.find('?') != std::string_view::npos) {
                return std::nullopt;
            }
            return std::vector<double>{3, 4};
        }
    };
    std::optional<std::string> dominantLanguage(std::string_view text) override {
        if (text.rfind("fr:", 0) == 0) {
            return "fr";
        }
        return std::nullopt;
    }
    std::shared_ptr<SentenceEmbeddingModel> sentenceEmbedding(const std::string& language) override {
        ++lookups;
        return language == "en" ? std::make_shared<Model>() : nullptr;
    }
    int lookups = 0;
};

std::vector<double> unitAt(std::size_t bucket) {
    std::vector<double> v(512, 0.0);
    v[bucket] = 1;
    return v;
}

TEST(HashedNGramEmbedding, PutsEachScalarPairInItsBucket) {
    EXPECT_EQ(hashedNGramEmbedding("a"), unitAt(97));
    EXPECT_EQ(hashedNGramEmbedding("ab"), unitAt(37));  // (131*97 + 17*98) mod 512
    EXPECT_EQ(hashedNGramEmbedding("ba"), unitAt(151)); // (131*98 + 17*97) mod 512
    // Three scalars: two pairs, at positions 0 and 1, so the vector is spread over two buckets.
    const auto abc = hashedNGramEmbedding("abc");
    EXPECT_NEAR(abc[(131 * 97 + 17 * 98) % 512], 1 / std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(abc[(131 * 98 + 17 * 99 + 1) % 512], 1 / std::sqrt(2.0), 1e-12);
    // A scalar above U+FFFF counts once, and the wrapping arithmetic keeps the bucket in range.
    EXPECT_EQ(hashedNGramEmbedding("\xF0\x9F\x98\x80"), unitAt(0x1F600 % 512));
    EXPECT_EQ(hashedNGramEmbedding(""), std::vector<double>(512, 0.0));
}

TEST(NormalizeVec, ScalesToUnitLengthAndLeavesZeroAlone) {
    EXPECT_EQ(normalizeVec({3, 4}), (std::vector<double>{0.6, 0.8}));
    EXPECT_EQ(normalizeVec({0, 0}), (std::vector<double>{0, 0}));
    EXPECT_TRUE(normalizeVec({}).empty());
}

TEST(DescriptionEmbeddingService, BlankTextGivesZerosCachedUnderTheTextAsGiven) {
    DescriptionEmbeddingService service(std::make_shared<SystemSentenceEmbeddingCatalog>());
    EXPECT_EQ(service.embedding(" \n ").get(), std::vector<double>(512, 0.0));
    EXPECT_EQ(service.cachedTexts().get(), std::vector<std::string>{" \n "});
}

TEST(DescriptionEmbeddingService, WithoutAModelEveryTextTakesTheHashedFallback) {
    DescriptionEmbeddingService service(std::make_shared<SystemSentenceEmbeddingCatalog>());
    EXPECT_EQ(service.embedding("Editing the quarterly plan").get(),
              hashedNGramEmbedding("Editing the quarterly plan"));
    // Surrounding white space is trimmed for the vector but the cache keeps both texts.
    EXPECT_EQ(service.embedding("  Editing the quarterly plan ").get(),
              hashedNGramEmbedding("Editing the quarterly plan"));
    EXPECT_EQ(service.cachedTexts().get().size(), 2u);
}

TEST(DescriptionEmbeddingService, UsesTheLanguageModelAndFallsBackWhereItHasNone) {
    auto catalog = std::make_shared<OneLanguageCatalog>();
    DescriptionEmbeddingService service(catalog);
    EXPECT_EQ(service.embedding("plain text").get(), (std::vector<double>{0.6, 0.8})); // English by default
    EXPECT_EQ(service.embedding("other text").get(), (std::vector<double>{0.6, 0.8}));
    EXPECT_EQ(catalog->lookups, 1); // the English model is kept
    EXPECT_EQ(service.embedding("why?").get(), hashedNGramEmbedding("why?"));
    EXPECT_EQ(service.embedding("fr:texte").get(), hashedNGramEmbedding("fr:texte"));
    EXPECT_EQ(service.embedding("fr:autre").get(), hashedNGramEmbedding("fr:autre"));
    EXPECT_EQ(catalog->lookups, 3); // a language without a model is asked for again
}

TEST(DescriptionEmbeddingService, OnlyTheFirst512CharactersCount) {
    DescriptionEmbeddingService service(std::make_shared<SystemSentenceEmbeddingCatalog>());
    std::string base;
    for (int i = 0; i < 600; ++i) {
        base += static_cast<char>('a' + i % 26);
    }
    const std::string other = base.substr(0, 512) + "zzzz";
    EXPECT_EQ(service.embedding(base).get(), service.embedding(other).get());
    EXPECT_EQ(service.embedding(base).get(), hashedNGramEmbedding(base.substr(0, 512)));
}

TEST(DescriptionEmbeddingService, KeepsThe1024MostRecentlyUsedTexts) {
    DescriptionEmbeddingService service(std::make_shared<SystemSentenceEmbeddingCatalog>());
    for (int i = 0; i < 1024; ++i) {
        service.embedding("text " + std::to_string(i));
    }
    service.embedding("text 0").get(); // a hit moves it to the recent end
    EXPECT_EQ(service.cachedTexts().get().back(), "text 0");
    service.embedding("text 1024").get();
    const auto cached = service.cachedTexts().get();
    EXPECT_EQ(cached.size(), 1024u);
    EXPECT_EQ(cached.front(), "text 2"); // "text 1" was the least recently used and left
    EXPECT_EQ(std::count(cached.begin(), cached.end(), "text 1"), 0);
}

} // namespace
} // namespace velnote
