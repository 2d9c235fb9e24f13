#include "session/l10n/L10nCatalog.h"

#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/logging/Logger.h"
#include "support/BadJson.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace velnote {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using Locale = L10nCatalog::Locale;

Locale locale(std::string_view name) {
    return Locale::parse(name);
}

// One key per way an entry can be shaped.
constexpr const char* kCatalogue = R"({
  "L10n.Test.both": {"localizedValues": {"en": {"stringValue": "Hello %@"}, "ja": {"stringValue": "こんにちは %@"}}},
  "L10n.Test.jaOnly": {"localizedValues": {"ja": {"stringValue": "日本語だけ"}}},
  "L10n.Test.regionOnly": {"localizedValues": {"en-US": {"stringValue": "US text"}}},
  "L10n.Test.percent": {"localizedValues": {"en": {"stringValue": "100%% sure"}}},
  "L10n.Test.badValues": {"localizedValues": {"en": {"value": "no stringValue"}, "ja": {"stringValue": 7}, "fr": "plain"}},
  "L10n.Test.noValues": {"comment": "nothing to show"},
  "L10n.Test.notAnObject": "text"
})";

TEST(L10nCatalogTest, ParsesPosixLocaleNames) {
    const struct {
        const char* name;
        std::optional<std::string> language;
        std::optional<std::string> region;
    } cases[] = {
        {"ja_JP.UTF-8", "ja", "JP"}, {"en_US", "en", "US"},   {"fr", "fr", std::nullopt},
        {"de_DE@euro", "de", "DE"},  {"C", std::nullopt, {}}, {"C.UTF-8", std::nullopt, {}},
        {"POSIX", std::nullopt, {}}, {"", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const Locale parsed = Locale::parse(c.name);
        EXPECT_EQ(parsed.languageCode, c.language) << c.name;
        EXPECT_EQ(parsed.regionCode, c.region) << c.name;
    }
}

TEST(L10nCatalogTest, LocaleComesFromLcAllThenLcMessagesThenLang) {
    ScopedEnv lang("LANG", "fr_FR.UTF-8");
    {
        ScopedEnv all("LC_ALL", "");
        ScopedEnv messages("LC_MESSAGES", "ja_JP.UTF-8");
        EXPECT_EQ(Locale::fromEnvironment().languageCode, "ja");
    }
    {
        ScopedEnv all("LC_ALL", "en_GB.UTF-8");
        ScopedEnv messages("LC_MESSAGES", "ja_JP.UTF-8");
        EXPECT_EQ(Locale::fromEnvironment().regionCode, "GB");
    }
    ScopedEnv all("LC_ALL", std::nullopt);
    ScopedEnv messages("LC_MESSAGES", std::nullopt);
    EXPECT_EQ(Locale::fromEnvironment().languageCode, "fr");
}

TEST(L10nCatalogTest, PreferredTagsAndLanguageFollowTheLocale) {
    const struct {
        const char* locale;
        std::vector<std::string> tags;
        bool japanese;
        const char* defaultLanguage;
    } cases[] = {
        {"en_US.UTF-8", {"en", "en-US", "ja", "en"}, false, "en"},
        {"ja_JP.UTF-8", {"ja", "ja-JP", "ja", "en"}, true, "ja"},
        {"fr", {"fr", "ja", "en"}, false, "en"},
        {"C", {"ja", "en"}, false, "en"},
    };
    for (const auto& c : cases) {
        const L10nCatalog catalog({}, locale(c.locale));
        EXPECT_EQ(catalog.preferredTags(), c.tags) << c.locale;
        EXPECT_EQ(catalog.isJapanese(), c.japanese) << c.locale;
        EXPECT_EQ(catalog.defaultLanguageCode(), c.defaultLanguage) << c.locale;
    }
}

TEST(L10nCatalogTest, LooksTextsUpByPreferredTag) {
    const auto table = L10nCatalog::parse(kCatalogue);
    const struct {
        const char* locale;
        const char* key;
        const char* expected;
    } cases[] = {
        {"en_US.UTF-8", "L10n.Test.both", "Hello Ann"},
        {"ja_JP.UTF-8", "L10n.Test.both", "こんにちは Ann"},
        {"fr_FR.UTF-8", "L10n.Test.both", "こんにちは Ann"},
        {"fr_FR.UTF-8", "L10n.Test.jaOnly", "日本語だけ"},
        {"ja_JP.UTF-8", "L10n.Test.jaOnly", "日本語だけ"},
        {"en_US.UTF-8", "L10n.Test.jaOnly", "default Ann"}, // English reads the English default
        {"en_GB.UTF-8", "L10n.Test.jaOnly", "default Ann"},
        {"en_US.UTF-8", "L10n.Test.regionOnly", "US text"},
        {"en_GB.UTF-8", "L10n.Test.regionOnly", "default Ann"},
        {"en_US.UTF-8", "L10n.Test.badValues", "default Ann"},
        {"ja_JP.UTF-8", "L10n.Test.badValues", "default Ann"},
        {"en_US.UTF-8", "L10n.Test.noValues", "default Ann"},
        {"en_US.UTF-8", "L10n.Test.notAnObject", "default Ann"},
        {"en_US.UTF-8", "L10n.Test.unknown", "default Ann"},
    };
    for (const auto& c : cases) {
        const L10nCatalog catalog(table, locale(c.locale));
        EXPECT_EQ(catalog.localized(c.key, "default %@", {std::string("Ann")}), c.expected)
            << c.locale << " " << c.key;
    }
    EXPECT_EQ(table.count("L10n.Test.badValues"), 0u) << "a key whose every value is skipped is not stored";
}

TEST(L10nCatalogTest, FormatsOnlyWhenThereAreArguments) {
    const L10nCatalog empty({}, locale("en_US"));
    EXPECT_EQ(empty.localized("L10n.Keychain.addFailed", "Failed to save to Keychain (status: %d)", {-25308}),
              "Failed to save to Keychain (status: -25308)");
    EXPECT_EQ(empty.localized("L10n.Keychain.addFailed", "Failed to save to Keychain (status: %d)"),
              "Failed to save to Keychain (status: %d)");

    const L10nCatalog catalog(L10nCatalog::parse(kCatalogue), locale("en_US"));
    EXPECT_EQ(catalog.localized("L10n.Test.percent", ""), "100%% sure");
    EXPECT_EQ(catalog.localized("L10n.Test.percent", "", {1}), "100% sure");
}

TEST(L10nCatalogTest, UsesOnlyTheLocalizedStringsMemberWhenThereIsOne) {
    const auto nested = L10nCatalog::parse(R"({
      "localizedStrings": {"L10n.A.inner": {"localizedValues": {"en": {"stringValue": "inner"}}}},
      "L10n.A.outer": {"localizedValues": {"en": {"stringValue": "outer"}}}
    })");
    EXPECT_EQ(nested.size(), 1u);
    EXPECT_TRUE(nested.count("L10n.A.inner"));

    // A "localizedStrings" that is not an object is just another member.
    const auto flat = L10nCatalog::parse(R"({
      "localizedStrings": "not a table",
      "L10n.A.outer": {"localizedValues": {"en": {"stringValue": "outer"}}}
    })");
    EXPECT_EQ(flat.size(), 1u);
    EXPECT_TRUE(flat.count("L10n.A.outer"));
}

TEST(L10nCatalogTest, BadInputGivesAnEmptyTable) {
    const auto valid =
        platform::parseJson(R"({"L10n.A.b": {"localizedValues": {"en": {"stringValue": "b"}}}})");
    ASSERT_EQ(L10nCatalog::parse(valid.dump()).size(), 1u);
    for (const auto& bad : testing::badJsonVariants(valid)) {
        platform::LogCapture log;
        EXPECT_TRUE(L10nCatalog::parse(bad.text).empty()) << bad.name;
        EXPECT_TRUE(log.contains("L10n: failed to load Localizable.xcstrings: ")) << bad.name;
    }
}

TEST(L10nCatalogTest, LoadFailuresAreLoggedAndGiveAnEmptyTable) {
    TempDir dir;
    platform::writeFileAtomically(dir / "broken.json", "{ not json");
    platform::writeFileAtomically(dir / "array.json", R"([{"L10n.A.b": 1}])");
    platform::createDirectories(dir / "folder.json");
    const struct {
        std::optional<std::filesystem::path> file;
        const char* message;
    } cases[] = {
        {std::nullopt, "L10n: Localizable.xcstrings resource missing"},
        {dir / "absent.json", "L10n: failed to load Localizable.xcstrings: "},
        {dir / "folder.json", "L10n: failed to load Localizable.xcstrings: "},
        {dir / "broken.json", "L10n: failed to load Localizable.xcstrings: "},
        {dir / "array.json", "L10n: unsupported Localizable.xcstrings format"},
    };
    for (const auto& c : cases) {
        platform::LogCapture log;
        const auto catalog = L10nCatalog::load(c.file, locale("en_US"));
        EXPECT_EQ(catalog.localized("L10n.A.b", "fallback"), "fallback");
        ASSERT_EQ(log.records().size(), 1u) << c.message;
        EXPECT_TRUE(log.contains(c.message)) << log.records().front().message;
        EXPECT_EQ(log.records().front().level, platform::LogLevel::error);
        EXPECT_EQ(log.records().front().category, "app");
    }
}

TEST(L10nCatalogTest, LocatesTheCatalogueThroughTheEnvironmentFirst) {
    TempDir dir;
    {
        ScopedEnv resources("VELNOTE_RESOURCES_DIR", dir.path().string());
        EXPECT_EQ(L10nCatalog::locate(), dir / "Localizable.xcstrings");
    }
    ScopedEnv resources("VELNOTE_RESOURCES_DIR", std::nullopt);
    const auto found = L10nCatalog::locate();
    ASSERT_TRUE(found);
    EXPECT_TRUE(std::filesystem::exists(*found));
}

// The catalogue the application ships.
class L10nShippedCatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ScopedEnv resources("VELNOTE_RESOURCES_DIR", std::nullopt);
        const auto file = L10nCatalog::locate();
        ASSERT_TRUE(file);
        platform::LogCapture log;
        table_ = L10nCatalog::parse(platform::readFile(*file));
        ASSERT_TRUE(log.records().empty());
    }
    L10nCatalog::Table table_;
};

TEST_F(L10nShippedCatalogueTest, GivesTheTextOfEachLanguageAndEnglishDefaultsForMissingKeys) {
    const L10nCatalog english(table_, locale("en_US.UTF-8"));
    const L10nCatalog japanese(table_, locale("ja_JP.UTF-8"));
    const char* defaultText = "Failed to save to Keychain (status: %d)";
    EXPECT_EQ(english.localized("L10n.Keychain.addFailed", defaultText, {-25308}),
              "Failed to save to Keychain (status: -25308)");
    EXPECT_EQ(japanese.localized("L10n.Keychain.addFailed", defaultText, {-25308}),
              "キーチェーンへの保存に失敗しました（ステータス: -25308）");
    EXPECT_EQ(japanese.localized("L10n.Prompts.minutesWriterLabel", "Meeting Minutes Writer"), "議事録作成");
    for (const L10nCatalog* catalog : {&english, &japanese}) {
        EXPECT_EQ(catalog->localized("L10n.Test.notInTheCatalogue", "English %d", {3}), "English 3");
    }
}

TEST_F(L10nShippedCatalogueTest, EveryKeyHasBothLanguagesWithTheSamePlaceholders) {
    const std::regex placeholder("%(\\d+\\$)?[-+ #0-9.]*(l|ll|h)?[@dsfi%]");
    const auto placeholders = [&](const std::string& text) {
        std::vector<std::string> found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder);
             it != std::sregex_iterator(); ++it)
            found.push_back(it->str());
        return found;
    };
    ASSERT_FALSE(table_.empty());
    for (const auto& [key, texts] : table_) {
        ASSERT_TRUE(texts.count("en") && texts.count("ja")) << key;
        // A few labels are keyed by their own English wording instead of a dotted key.
        EXPECT_TRUE(key.starts_with("L10n.") || key == texts.at("en")) << key;
        EXPECT_EQ(placeholders(texts.at("en")), placeholders(texts.at("ja"))) << key;
    }
}

TEST(L10nTest, ProcessWideLookupFallsBackToTheDefaultAndStaysTheSame) {
    std::vector<const std::vector<std::string>*> seen(4);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = &L10n::preferredTags(); });
    for (auto& t : threads)
        t.join();
    for (const auto* tags : seen)
        EXPECT_EQ(tags, seen.front());

    EXPECT_EQ(L10n::localized("L10n.Test.notInTheCatalogue", "%@ of %ld", {std::string("one"), 2}),
              "one of 2");
    EXPECT_EQ(L10n::defaultLanguageCode(), L10n::isJapanese() ? "ja" : "en");
}

} // namespace
} // namespace velnote
