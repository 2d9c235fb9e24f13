#include "session/folder/FolderBookmark.h"

#include "platform/json/Json.h"
#include "support/BadJson.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using platform::Json;

platform::SettingsData dataOf(const std::string& text) {
    return platform::SettingsData(text.begin(), text.end());
}

TEST(FolderBookmarkTest, BadDataIsNotBookmarkData) {
    testing::TempDir dir;
    const auto good = FolderBookmark::create(dir.path());
    ASSERT_EQ(FolderBookmark::resolve(good).folder, dir.path());
    const Json valid = platform::parseJson(std::string(good.begin(), good.end()));

    std::vector<std::string> bad;
    for (const auto& variant : testing::badJsonVariants(valid, {.number = "/inode"}))
        bad.push_back(variant.text);
    // The folder's own path followed by a NUL and more: would resolve to the folder itself.
    Json withNul = valid;
    withNul["path"] = dir.path().string() + std::string("\0/elsewhere", 11);
    bad.push_back(withNul.dump());

    for (const std::string& text : bad) {
        SCOPED_TRACE(text.substr(0, 120));
        EXPECT_THROW(FolderBookmark::resolve(dataOf(text)), std::invalid_argument);
    }
}

} // namespace
} // namespace velnote
