#include "engine/speech/Constants.h"

#include "platform/text/Characters.h"

#include <gtest/gtest.h>
#include <vector>

namespace vocalith {
namespace {

TEST(ConstantsTest, LanguageTableHas112NamesAnd100Codes) {
    const auto& languages = Constants::languages();
    EXPECT_EQ(languages.size(), 112u);
    EXPECT_EQ(Constants::languageCodes().size(), 100u);
    for (const auto& [name, code] : std::vector<std::pair<std::string, std::string>>{
             {"english", "en"},
             {"chinese", "zh"},
             {"mandarin", "zh"},
             {"moldavian", "ro"},
             {"moldovan", "ro"},
             {"haitian creole", "ht"},
             {"hawaiian", "haw"},
             {"cantonese", "yue"},
             {"javanese", "jw"},
             {"burmese", "my"},
         }) {
        ASSERT_TRUE(languages.contains(name)) << name;
        EXPECT_EQ(languages.at(name), code) << name;
    }
    for (const auto& code : Constants::languageCodes()) {
        if (code != "haw" && code != "yue") {
            EXPECT_EQ(code.size(), 2u) << code;
        }
    }
}

TEST(ConstantsTest, PunctuationSetsCountCharactersNotBytes) {
    EXPECT_EQ(velnote::platform::characterCount(Constants::defaultPrependPunctuations), 9u);
    EXPECT_EQ(Constants::defaultPrependPunctuations.size(), 13u);
    EXPECT_EQ(velnote::platform::characterCount(Constants::defaultAppendPunctuations), 17u);
    EXPECT_EQ(Constants::defaultAppendPunctuations.size(), 31u);
}

} // namespace
} // namespace vocalith
