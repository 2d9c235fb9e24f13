#include "platform/text/CaseMapping.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

namespace velnote::platform {
namespace {

struct MappingCase {
    std::string input;
    std::string lower;
    std::string upper;
    std::string folded;
};

TEST(CaseMappingTest, MapsWithFullUnicodeMappings) {
    const MappingCase cases[] = {
        {"Hello World", "hello world", "HELLO WORLD", "hello world"},
        {"ＨｅＬＬＯ", "ｈｅｌｌｏ", "ＨＥＬＬＯ", "ｈｅｌｌｏ"},
        {"Straße", "straße", "STRASSE", "strasse"},
        {"会議メモ", "会議メモ", "会議メモ", "会議メモ"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lowercased(c.input), c.lower) << c.input;
        EXPECT_EQ(uppercased(c.input), c.upper) << c.input;
        EXPECT_EQ(caseFolded(c.input), c.folded) << c.input;
    }
}

TEST(CaseMappingTest, IgnoresTheDefaultLocale) {
    const icu::Locale previous = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("tr"), status);
    ASSERT_TRUE(U_SUCCESS(status));
    const std::string lower = lowercased("I");
    const std::string upper = uppercased("i");
    icu::Locale::setDefault(previous, status);
    EXPECT_EQ(lower, "i");
    EXPECT_EQ(upper, "I");
}

struct ComparisonCase {
    std::string a;
    std::string b;
    bool equal;
};

TEST(CaseMappingTest, EqualsIgnoringCaseAndCanonicalForm) {
    const ComparisonCase cases[] = {
        {"HELLO", "hello", true},
        {"ＨＥＬＬＯ", "ｈｅｌｌｏ", true},
        {"HELLO", "ＨＥＬＬＯ", false}, // width is not folded
        {"STRASSE", "straße", true},
        {"が", "か\u3099", true}, // precomposed and decomposed
        {"か", "が", false},
        {"", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equalsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

TEST(CaseMappingTest, ContainsIgnoringCase) {
    const ComparisonCase cases[] = {
        {"会議のMEMOです", "memo", true},
        {"Straße", "SS", true},
        {"が", "か", false},       // no base letter inside a precomposed one
        {"か\u3099", "か", false}, // nor inside its decomposed form
        {"が", "か\u3099", true},
        {"abc", "", false},
        {"abc", "abcd", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(containsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

} // namespace
} // namespace velnote::platform
