#include "session/settings/UserDefaultsKey.h"

#include "platform/json/RawValue.h"

#include <gtest/gtest.h>
#include <set>

namespace velnote {
namespace {

TEST(UserDefaultsKeyTest, EnumeratesTheKeysInDeclarationOrder) {
    const auto& keys = allUserDefaultsKeys();
    ASSERT_EQ(keys.size(), 76u);
    EXPECT_EQ(rawValue(keys.front()), "additionalPATH");
    EXPECT_EQ(rawValue(keys.back()), "whisperModel");
    const std::pair<std::size_t, const char*> placed[] = {
        {16, "foregroundActivityTrackingEnabled"},
        {17, "antigravityCLIArgs"},
        {19, "antigravityCLIModel"},
        {20, "inputLanguage"},
        {39, "nightlyBatchHour"},
        {40, "lastNightlyBatchDate"},
        {48, "geminiModel"},
        {49, "outputLanguage"},
    };
    for (const auto& [index, name] : placed)
        EXPECT_EQ(rawValue(keys[index]), name) << index;

    std::set<std::string_view> names;
    for (const auto key : keys) {
        names.insert(rawValue(key));
        EXPECT_EQ(platform::fromRawValue<UserDefaultsKey>(rawValue(key)), key) << rawValue(key);
    }
    EXPECT_EQ(names.size(), 76u);
}

TEST(UserDefaultsKeyTest, OnlyExactRawValuesNameAKey) {
    for (const char* raw : {"WhisperModel", "whispermodel", "whisperModel ", "geminiBaseURL",
                            "hallucinationFilterEntries", "userDictionaryEntries", ""}) {
        EXPECT_EQ(platform::fromRawValue<UserDefaultsKey>(raw), std::nullopt) << raw;
    }
}

} // namespace
} // namespace velnote
