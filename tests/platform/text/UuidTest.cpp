#include "platform/text/Uuid.h"

#include <gtest/gtest.h>
#include <set>

namespace velnote::platform {
namespace {

TEST(UuidTest, ParsesTheHyphenatedFormInEitherCaseAndWritesUpperCase) {
    const auto uuid = Uuid::parse("e621e1f8-C36C-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                            "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
                            "{E621E1F8-C36C-495A-93FC-0C247A3E6E}"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

TEST(UuidTest, RandomIdsAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string text = Uuid::random().toString();
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
        EXPECT_EQ(Uuid::parse(text)->toString(), text);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
} // namespace velnote::platform
