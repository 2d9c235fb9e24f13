#include "platform/text/Normalization.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

struct NormalizationCase {
    std::string input;
    std::string composed;      // NFC
    std::string compatibility; // NFKC
};

TEST(NormalizationTest, ComposesAndFoldsCompatibilityVariants) {
    const NormalizationCase cases[] = {
        {"か\u3099", "が", "が"},
        {"が", "が", "が"},
        {"e\u0301t\u00E9", "\u00E9t\u00E9", "\u00E9t\u00E9"},
        {"ＡＢＣ１２３", "ＡＢＣ１２３", "ABC123"},
        {"ｶﾞｲﾄﾞ", "ｶﾞｲﾄﾞ", "ガイド"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nfc(c.input), c.composed) << c.input;
        EXPECT_EQ(nfkc(c.input), c.compatibility) << c.input;
    }
}

} // namespace
} // namespace velnote::platform
