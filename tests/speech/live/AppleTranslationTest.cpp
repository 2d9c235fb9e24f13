#include "platform/logging/Logger.h"
#include "platform/translation/ApertiumTranslation.h"
#include "speech/live/AppleTranslationError.h"
#include "speech/live/AppleTranslationService.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace velnote {
namespace {

// Sessions for the pairs the test installs: a translation is the line in angle brackets.
class FakeFactory final : public platform::TranslationSessionFactory {
  public:
    class Session final : public platform::TranslationSession {
      public:
        Session(FakeFactory& owner, std::string pair) : owner_(owner), pair_(std::move(pair)) {}
        void prepareTranslation() override {
            std::lock_guard lock(owner_.mutex);
            ++owner_.preparations[pair_];
            if (!owner_.installed.contains(pair_)) {
                throw platform::TranslationSessionError("no pair " + pair_);
            }
        }
        std::string translate(const std::string& line) override {
            std::lock_guard lock(owner_.mutex);
            owner_.requests.push_back(pair_ + ":" + line);
            if (owner_.failingLine == line && owner_.failingPair == pair_) {
                throw platform::TranslationSessionError("cannot translate " + line);
            }
            return " <" + line + "> ";
        }

      private:
        FakeFactory& owner_;
        std::string pair_;
    };

    std::unique_ptr<platform::TranslationSession> makeSession(const std::string& source,
                                                              const std::string& target) override {
        return std::make_unique<Session>(*this, source + "->" + target);
    }

    std::mutex mutex;
    std::set<std::string> installed{"ja->en", "en->ja", "en->es"};
    std::map<std::string, int> preparations;
    std::vector<std::string> requests;
    std::string failingLine;
    std::string failingPair;
};

class AppleTranslationServiceTest : public ::testing::Test {
  protected:
    std::string translate(const std::string& text, const std::string& target,
                          std::optional<std::string> source = std::nullopt) {
        return service_.translate(text, target, std::move(source)).get();
    }

    std::shared_ptr<FakeFactory> factory_ = std::make_shared<FakeFactory>();
    AppleTranslationService service_{factory_, [] { return std::optional<std::string>("en"); }};
};

TEST_F(AppleTranslationServiceTest, TimeStampsStayAndBlankOrStampOnlyLinesGo) {
    EXPECT_EQ(translate("[01:23] こんにちは", "en", "ja"), "[01:23] <こんにちは>");
    EXPECT_EQ(translate("[01:23]   こんにちは", "en", "ja"), "[01:23] <こんにちは>");
    EXPECT_EQ(translate("[01:23]", "en", "ja"), "");
    EXPECT_EQ(translate("  \n ", "en", "ja"), "");
    EXPECT_EQ(translate("[1:23] やあ\n[123:45] はい", "en", "ja"), "<[1:23] やあ>\n<[123:45] はい>");
    EXPECT_EQ(translate("一つ\n\n[00:01]\n  [00:02] 二つ", "en", "ja"), "<一つ>\n<[00:02] 二つ>");
}

TEST(AppleTranslationCandidatesTest, OrderAndFiltering) {
    using Service = AppleTranslationService;
    EXPECT_EQ(Service::candidateSourceLanguageCodes("JA", "hello", "en", "en"),
              (std::vector<std::string>{"ja"}));
    EXPECT_EQ(Service::candidateSourceLanguageCodes("JA", "hello", "es", "fr"),
              (std::vector<std::string>{"ja", "en", "fr"}));
    EXPECT_EQ(Service::candidateSourceLanguageCodes("auto", "x", "es", std::nullopt),
              (std::vector<std::string>{"en", "ja"}));
    EXPECT_EQ(Service::candidateSourceLanguageCodes("es", "x", "ES", std::nullopt),
              (std::vector<std::string>{"en", "ja"}));
    EXPECT_EQ(Service::candidateSourceLanguageCodes(std::nullopt, "日本語です", "ja", "ja"),
              (std::vector<std::string>{"en"}));
    EXPECT_EQ(Service::guessSourceLanguageCode("ok"), "en");
    EXPECT_EQ(Service::guessSourceLanguageCode("a"), std::nullopt);
    EXPECT_EQ(Service::guessSourceLanguageCode(""), std::nullopt);
    EXPECT_EQ(Service::guessSourceLanguageCode("日本"), "ja");
    EXPECT_EQ(Service::guessSourceLanguageCode("abカナ"), "en");
    EXPECT_EQ(Service::guessSourceLanguageCode("\xff\xfe日本"), "ja");
}

TEST_F(AppleTranslationServiceTest, AFailingSourceFallsBackToTheNextAndIsPreparedAgainLater) {
    platform::LogCapture log;
    EXPECT_EQ(translate("hello", "es", "ja"), "<hello>"); // ja->es has no pair: en->es
    EXPECT_TRUE(log.contains("translation fallback failed source=ja: no pair ja->es"));
    translate("again", "es", "ja");
    std::lock_guard lock(factory_->mutex);
    EXPECT_EQ(factory_->preparations["ja->es"], 2);
    EXPECT_EQ(factory_->preparations["en->es"], 1); // prepared once while its session lives
}

TEST_F(AppleTranslationServiceTest, ALineThatFailsRestartsEveryLineWithTheNextSource) {
    factory_->failingLine = "three";
    factory_->failingPair = "ja->en";
    factory_->installed.insert("fr->en");
    AppleTranslationService service(factory_, [] { return std::optional<std::string>("fr"); });
    EXPECT_EQ(service.translate("one\ntwo\nthree\nfour\nfive", "en", "ja").get(),
              "<one>\n<two>\n<three>\n<four>\n<five>");
    std::lock_guard lock(factory_->mutex);
    EXPECT_EQ(factory_->requests,
              (std::vector<std::string>{"ja->en:one", "ja->en:two", "ja->en:three", "fr->en:one",
                                        "fr->en:two", "fr->en:three", "fr->en:four", "fr->en:five"}));
}

TEST_F(AppleTranslationServiceTest, WhenEveryCandidateFailsTheLastErrorIsReported) {
    factory_->installed.clear();
    try {
        translate("hello", "de", "fr");
        FAIL() << "no error";
    } catch (const AppleTranslationError& error) {
        EXPECT_EQ(error.kind(), AppleTranslationError::Kind::translationFailed);
        EXPECT_STREQ(error.what(), "Apple Translate translation failed: no pair ja->de");
    }
    EXPECT_THROW(translate("hello", "en", "en"), AppleTranslationError); // only candidate "ja" fails
}

TEST_F(AppleTranslationServiceTest, InvalidatedSessionsArePreparedAgain) {
    translate("hello", "es");
    service_.invalidateSessions().get();
    translate("hello", "es");
    std::lock_guard lock(factory_->mutex);
    EXPECT_EQ(factory_->preparations["en->es"], 2);
}

TEST(ApertiumTranslationTest, EnglishToSpanishOnTheInstalledPair) {
    AppleTranslationService service(std::make_shared<platform::ApertiumTranslationSessionFactory>(),
                                    [] { return std::optional<std::string>("en"); });
    const std::string source = "[00:05] The meeting starts now.\n[00:09] We talk about the new house.";
    const std::string translated = service.translate(source, "es", std::nullopt).get();
    EXPECT_NE(translated, source);
    EXPECT_EQ(translated.rfind("[00:05] ", 0), 0u) << translated;
    EXPECT_NE(translated.find("\n[00:09] "), std::string::npos) << translated;
    EXPECT_NE(translated.find("casa"), std::string::npos) << translated;
    // A preferred Japanese source has no pair here: the guess (English) takes over.
    EXPECT_FALSE(service.translate("good morning", "es", "ja").get().empty());
    EXPECT_THROW(service.translate("good morning", "ja", "en").get(), AppleTranslationError);
}

} // namespace
} // namespace velnote
