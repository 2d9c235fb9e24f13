#include "session/settings/HallucinationFilterStore.h"

#include "platform/logging/Logger.h"
#include "session/settings/UserDictionaryStore.h"
#include "support/BadJson.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

platform::SettingsData bytes(std::string_view text) {
    return platform::SettingsData(text.begin(), text.end());
}

std::vector<std::string> phrasesOf(const std::vector<HallucinationFilterEntry>& entries) {
    std::vector<std::string> phrases;
    for (const auto& entry : entries)
        phrases.push_back(entry.phrase);
    return phrases;
}

class ListStoreTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    platform::SettingsStore store_{dir_ / "settings.json"};
    platform::LogCapture log_;
};

TEST_F(ListStoreTest, BuiltInPhrasesFollowTheLanguageWithFreshIds) {
    const auto english = HallucinationFilterStore::defaults(false);
    EXPECT_EQ(phrasesOf(english),
              (std::vector<std::string>{"Thanks for watching", "Thank you", "Please subscribe",
                                        "Subtitles are auto-generated"}));
    const auto japanese = HallucinationFilterStore::defaults(true);
    EXPECT_EQ(phrasesOf(japanese),
              (std::vector<std::string>{"ご視聴ありがとうございました", "ありがとうございました",
                                        "チャンネル登録よろしくお願いします", "字幕は自動生成されています"}));
    const auto again = HallucinationFilterStore::defaults(false);
    for (std::size_t i = 0; i < english.size(); ++i) {
        EXPECT_TRUE(english[i].isEnabled);
        EXPECT_NE(english[i].id, again[i].id);
    }
    EXPECT_EQ(phrasesOf(HallucinationFilterStore::loadEntries(store_)),
              phrasesOf(HallucinationFilterStore::defaults()))
        << "nothing stored gives the built-in phrases of the interface language";
    EXPECT_TRUE(log_.records().empty());
}

TEST_F(ListStoreTest, SavedFilterListIsCompactJsonDataAndLoadsBack) {
    const auto id = *platform::Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    const std::vector<HallucinationFilterEntry> entries = {{id, "off", false},
                                                           {platform::Uuid::random(), "", true},
                                                           {platform::Uuid::random(), " ", true},
                                                           {platform::Uuid::random(), "字幕", true}};
    HallucinationFilterStore::saveEntries(entries, store_);

    const auto data = store_.data(HallucinationFilterStore::settingsKey);
    ASSERT_TRUE(data) << "stored as a data value";
    const std::string json(data->begin(), data->end());
    EXPECT_TRUE(json.starts_with(
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","isEnabled":false,"phrase":"off"},)"))
        << json;
    EXPECT_EQ(HallucinationFilterStore::loadEntries(store_), entries);
    EXPECT_EQ(HallucinationFilterStore::enabledPhrases(store_), (std::vector<std::string>{" ", "字幕"}));

    HallucinationFilterStore::saveEntries({}, store_);
    EXPECT_TRUE(HallucinationFilterStore::loadEntries(store_).empty()) << "an empty list stays empty";
    EXPECT_TRUE(HallucinationFilterStore::enabledPhrases(store_).empty());
}

TEST_F(ListStoreTest, UndecodableFilterListGivesTheDefaultsAndIsKept) {
    std::vector<std::string> stored = {
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","phrase":"a"}])",                   // no isEnabled
        R"([{"id":"not-a-uuid","phrase":"a","isEnabled":true}])",                            // bad id
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","phrase":"a","isEnabled":"yes"}])", // not a bool
        R"({"phrase":"a"})",                                                                 // not an array
        "not json",
    };
    const auto valid = platform::parseJson(
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","phrase":"a","isEnabled":true}])");
    for (const auto& bad : testing::badJsonVariants(valid, {.number = "/0/overflow", .nested = "/0/nested"}))
        stored.push_back(bad.text);
    for (const std::string& text : stored) {
        platform::LogCapture log;
        store_.set(HallucinationFilterStore::settingsKey, bytes(text));
        EXPECT_EQ(phrasesOf(HallucinationFilterStore::loadEntries(store_)),
                  phrasesOf(HallucinationFilterStore::defaults()))
            << text;
        ASSERT_EQ(log.records().size(), 1u) << text;
        EXPECT_TRUE(log.records()[0].message.starts_with("failed to decode hallucination filter entries: "));
        EXPECT_EQ(log.records()[0].level, platform::LogLevel::error);
        EXPECT_EQ(store_.data(HallucinationFilterStore::settingsKey), bytes(text))
            << "left until the next save";
    }

    // A string in place of data is treated as nothing stored, without a log line.
    platform::LogCapture log;
    store_.set(HallucinationFilterStore::settingsKey, "[]");
    EXPECT_EQ(HallucinationFilterStore::loadEntries(store_).size(),
              HallucinationFilterStore::defaults().size());
    EXPECT_TRUE(log.records().empty());
}

TEST_F(ListStoreTest, UserDictionaryRoundTripsAndFallsBackToEmpty) {
    EXPECT_TRUE(UserDictionaryStore::loadEntries(store_).empty());

    const std::vector<UserDictionaryEntry> entries = {{platform::Uuid::random(), "ウィスパー", "Whisper"},
                                                      {platform::Uuid::random(), "", ""}};
    UserDictionaryStore::saveEntries(entries, store_);
    EXPECT_EQ(UserDictionaryStore::loadEntries(store_), entries);
    const auto data = store_.data(UserDictionaryStore::settingsKey);
    ASSERT_TRUE(data);
    EXPECT_EQ(std::string(data->begin(), data->end()).find('\n'), std::string::npos);

    store_.set(UserDictionaryStore::settingsKey, bytes(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}])"));
    EXPECT_TRUE(UserDictionaryStore::loadEntries(store_).empty());
    EXPECT_TRUE(log_.contains("failed to decode user dictionary: "));
}

} // namespace
} // namespace velnote
