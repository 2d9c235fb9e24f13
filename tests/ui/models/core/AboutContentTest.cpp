#include "ui/models/core/AboutContent.h"

#include "platform/logging/Logger.h"
#include "support/TempDir.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

TEST(AboutContentTest, VersionTextNamesWhatIsMissing) {
    EXPECT_EQ(AboutContent::appVersion("1.4.0", "57"), "1.4.0 (build 57)");
    EXPECT_EQ(AboutContent::appVersion(std::nullopt, std::nullopt), "unknown (build unknown)");
    EXPECT_EQ(AboutContent::appVersion("1.4.0", std::nullopt), "1.4.0 (build unknown)");
    EXPECT_NE(AboutContent::appVersion().find(" (build "), std::string::npos);
}

TEST(AboutContentTest, BuildDateIsTheExecutablesModificationInLocalTime) {
    testing::TempDir dir;
    testing::ScopedEnv zone("TZ", "Asia/Tokyo");
    ::tzset();
    const fs::path exe = dir / "velnote";
    touch(exe);
    const std::chrono::sys_seconds modified = std::chrono::sys_days{std::chrono::year{2025} / 1 / 31} +
                                              std::chrono::hours(15) + std::chrono::minutes(4);
    fs::last_write_time(exe, std::chrono::file_clock::from_sys(modified));
    platform::LogCapture log;
    EXPECT_EQ(AboutContent::buildDate(exe), "2025-02-01 00:04:00");
    EXPECT_EQ(AboutContent::buildDate(std::nullopt), "Unknown");
    EXPECT_TRUE(log.records().empty());

    EXPECT_EQ(AboutContent::buildDate(dir / "missing"), "Unknown");
    ASSERT_EQ(log.records().size(), 1U) << "an unreadable executable is logged once";
    EXPECT_EQ(log.records()[0].message,
              "AboutView: failed to get executable attributes: No such file or directory");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(AboutContentTest, NoticesAreFoundAtTheTopOrUnderResources) {
    testing::TempDir dir;
    EXPECT_FALSE(AboutContent::locateNotices(dir.path()).thirdPartyNotices);
    touch(dir / "Resources/THIRD_PARTY_NOTICES.md");
    touch(dir / "Resources/THIRD_PARTY_LICENSES/MODEL_NOTICES.txt");
    auto found = AboutContent::locateNotices(dir.path());
    EXPECT_EQ(found.thirdPartyNotices, dir / "Resources/THIRD_PARTY_NOTICES.md");
    EXPECT_EQ(found.licensesFolder, dir / "Resources/THIRD_PARTY_LICENSES");
    EXPECT_EQ(found.modelNotices, dir / "Resources/THIRD_PARTY_LICENSES/MODEL_NOTICES.txt");

    touch(dir / "THIRD_PARTY_NOTICES.md");
    fs::create_directories(dir / "THIRD_PARTY_LICENSES");
    found = AboutContent::locateNotices(dir.path());
    EXPECT_EQ(found.thirdPartyNotices, dir / "THIRD_PARTY_NOTICES.md") << "the top level first";
    EXPECT_EQ(found.licensesFolder, dir / "THIRD_PARTY_LICENSES");
    EXPECT_EQ(found.modelNotices, dir / "Resources/THIRD_PARTY_LICENSES/MODEL_NOTICES.txt");

    testing::ScopedEnv resources("VELNOTE_RESOURCES_DIR", dir.path().string());
    EXPECT_EQ(AboutContent::resourcesDirectory(), dir.path());
}

TEST(AboutContentTest, TablesHoldTheirRowsWithWorkingLinksAndCategoryNotes) {
    const auto libraries = {AboutContent::directDependencies(), AboutContent::bundledJsLibraries(),
                            AboutContent::transitiveDependencies()};
    std::vector<std::size_t> libraryCounts;
    for (const auto& table : libraries) {
        libraryCounts.push_back(table.size());
        for (const auto& row : table) {
            EXPECT_TRUE(AboutContent::isLinkAddress(row.url)) << row.name;
            EXPECT_TRUE(AboutContent::isLinkAddress(row.licenseURL)) << row.name;
            EXPECT_FALSE(row.description.empty()) << row.name;
            EXPECT_FALSE(row.version.empty()) << row.name;
        }
    }
    EXPECT_EQ(libraryCounts, (std::vector<std::size_t>{2, 1, 7}));

    struct ModelTable {
        std::vector<AboutContent::ModelInfo> rows;
        std::size_t count;
        const char* note;
    };
    for (const ModelTable& table : {ModelTable{AboutContent::transcriptionModels(), 5, "Transcription"},
                                    ModelTable{AboutContent::summarizationModels(), 3, "Summary"},
                                    ModelTable{AboutContent::diarizationModels(), 1, "Diarization"}}) {
        EXPECT_EQ(table.rows.size(), table.count) << table.note;
        for (const auto& row : table.rows) {
            EXPECT_EQ(row.note, table.note) << row.name;
            for (const std::string& link : {row.url, row.distributionLicenseURL, row.upstreamLicenseURL})
                EXPECT_TRUE(AboutContent::isLinkAddress(link)) << row.name << " " << link;
        }
    }
    EXPECT_NE(AboutContent::directDependencies()[0].id, AboutContent::directDependencies()[0].id)
        << "fresh identifiers on every build of a table";
}

TEST(AboutContentTest, LinkTextsThatAreNoAddressesAreRefused) {
    for (const char* good : {"https://example.org/LICENSE", "mailto:a@b.c", "file:///tmp/x"})
        EXPECT_TRUE(AboutContent::isLinkAddress(good)) << good;
    for (const char* bad : {"", "no scheme", ":nothing", "https:", "https://exa mple.org", "1http://x",
                            "a b:c", "https://x\ny"})
        EXPECT_FALSE(AboutContent::isLinkAddress(bad)) << bad;
}

} // namespace
} // namespace velnote
