#include "platform/settings/SettingsStore.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/settings/SettingsFile.h"
#include "support/BadJson.h"
#include "support/WithoutHome.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>
#include <thread>

namespace velnote::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        path_ = folder_ / "Velnote" / "settings.json";
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<fs::path> filesBeside() const {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(path_.parent_path()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    fs::path path_;
};

const SettingsDate kDate = sys_days(2025y / January / 31) + hours(9) + minutes(15);

struct CoercionCase {
    const char* label;
    SettingsValue value;
    std::optional<std::string> string;
    std::int64_t integer;
    double doubleValue;
    bool boolean;
};

TEST_F(SettingsStoreTest, TypedReadsCoerceLikeThePlatform) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    const CoercionCase cases[] = {
        {"numeric string", "42", "42", 42, 42.0, true},
        {"word", "abc", "abc", 0, 0.0, false},
        {"YES", "YES", "YES", 0, 0.0, true},
        {"yes", "yes", "yes", 0, 0.0, true},
        {"true", "true", "true", 0, 0.0, true},
        {"NO", "NO", "NO", 0, 0.0, false},
        {"string zero", "0", "0", 0, 0.0, false},
        {"empty string", "", "", 0, 0.0, false},
        {"decimal string", "2.5", "2.5", 2, 2.5, true},
        {"padded with suffix", "  -7kg", "  -7kg", -7, -7.0, true},
        {"huge string", "99999999999999999999", "99999999999999999999", kMax, 1e20, true},
        {"huge negative string", "-99999999999999999999", "-99999999999999999999", kMin, -1e20, true},
        {"integer zero", 0, "0", 0, 0.0, false},
        {"negative integer", -3, "-3", -3, -3.0, true},
        {"double", 2.7, "2.7", 2, 2.7, true},
        {"negative double", -2.7, "-2.7", -2, -2.7, true},
        {"whole double", 2.0, "2", 2, 2.0, true},
        {"huge double", 1e300, "1e+300", kMax, 1e300, true},
        {"tiny double", -1e300, "-1e+300", kMin, -1e300, true},
        {"bool true", true, "1", 1, 1.0, true},
        {"bool false", false, "0", 0, 0.0, false},
        {"data", SettingsData{1, 2}, std::nullopt, 0, 0.0, false},
        {"date", kDate, std::nullopt, 0, 0.0, false},
        {"array", SettingsArray{"1"}, std::nullopt, 0, 0.0, false},
        {"dictionary", SettingsDictionary{{"a", 1}}, std::nullopt, 0, 0.0, false},
    };
    SettingsStore store(path_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        store.set("k", c.value);
        EXPECT_EQ(store.string("k"), c.string);
        EXPECT_EQ(store.integer("k"), c.integer);
        EXPECT_DOUBLE_EQ(store.doubleValue("k"), c.doubleValue);
        EXPECT_EQ(store.boolean("k"), c.boolean);
    }

    store.set("nan", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(store.integer("nan"), 0);

    EXPECT_EQ(store.string("absent"), std::nullopt);
    EXPECT_EQ(store.integer("absent"), 0);
    EXPECT_EQ(store.doubleValue("absent"), 0.0);
    EXPECT_FALSE(store.boolean("absent"));
    EXPECT_EQ(store.object("absent"), std::nullopt);
}

TEST_F(SettingsStoreTest, TypedReadsGiveOnlyTheirOwnTypeAndObjectKeepsIt) {
    SettingsStore store(path_);
    store.set("flag", true);
    store.set("one", 1);
    store.set("text", "x");
    store.set("bytes", SettingsData{7});
    store.set("when", kDate);

    EXPECT_TRUE(store.object("flag")->holds<bool>());
    EXPECT_TRUE(store.object("one")->holds<std::int64_t>());
    EXPECT_TRUE(store.object("text")->holds<std::string>());
    EXPECT_EQ(store.data("bytes"), SettingsData{7});
    EXPECT_EQ(store.date("when"), kDate);
    for (const char* other : {"flag", "one", "text"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(store.data(other), std::nullopt);
        EXPECT_EQ(store.date(other), std::nullopt);
        EXPECT_EQ(store.array(other), std::nullopt);
        EXPECT_EQ(store.dictionary(other), std::nullopt);
    }
}

TEST_F(SettingsStoreTest, EveryTypeSurvivesAReload) {
    SettingsData allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.push_back(static_cast<std::uint8_t>(b));
    const SettingsDictionary written{
        {"double", 2.0},
        {"negativeZero", -0.0},
        {"fraction", 0.1},
        {"nan", std::numeric_limits<double>::quiet_NaN()},
        {"infinity", -std::numeric_limits<double>::infinity()},
        {"integer", std::numeric_limits<std::int64_t>::min()},
        {"bool", false},
        {"string", "caf\xC3\xA9 \xE4\xBC\x9A\xE8\xAD\xB0 \"quoted\"\n"},
        {"empty", ""},
        {"data", allBytes},
        {"shortData", SettingsData{0xFF}},
        {"emptyData", SettingsData{}},
        {"date", kDate},
        {"nested", SettingsDictionary{{"list", SettingsArray{1, 2.0, "3", true, SettingsDictionary{}}},
                                      {"inner", SettingsDictionary{{"when", kDate}}}}},
    };
    {
        SettingsStore store(path_);
        for (const auto& [key, value] : written)
            store.set(key, value);
    }
    SettingsStore reloaded(path_);
    for (const auto& [key, value] : written) {
        SCOPED_TRACE(key);
        const auto read = reloaded.object(key);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->storage().index(), value.storage().index());
        EXPECT_TRUE(*read == value);
    }
    EXPECT_TRUE(std::signbit(*reloaded.object("negativeZero")->get<double>()));
}

TEST_F(SettingsStoreTest, RegisteredDefaultsAreReadButNeverSaved) {
    {
        SettingsStore store(path_);
        store.registerDefaults({{"outputLanguage", "en"}, {"enableVoiceProcessing", true}});
        EXPECT_EQ(store.string("outputLanguage"), "en");
        EXPECT_TRUE(store.boolean("enableVoiceProcessing"));

        store.set("outputLanguage", "ja");
        EXPECT_EQ(store.string("outputLanguage"), "ja");
        store.remove("outputLanguage");
        EXPECT_EQ(store.string("outputLanguage"), "en");
        store.set("other", 1);
    }
    const auto saved = SettingsFile::decode(readFile(path_));
    EXPECT_EQ(saved.size(), 1u);
    EXPECT_TRUE(saved.contains("other"));

    SettingsStore reloaded(path_);
    EXPECT_EQ(reloaded.object("outputLanguage"), std::nullopt);
    EXPECT_EQ(reloaded.object("enableVoiceProcessing"), std::nullopt);
}

TEST_F(SettingsStoreTest, SavedFileIsCompleteAndNoTemporaryIsLeft) {
    SettingsStore store(path_);
    store.set("a", 1.5);
    store.set("b", "x");
    store.remove("b");
    EXPECT_EQ(filesBeside(), std::vector<fs::path>{"settings.json"});
    const std::string text = readFile(path_);
    EXPECT_EQ(text, "{\n  \"a\": {\n    \"double\": 1.5\n  }\n}\n");
}

TEST_F(SettingsStoreTest, FailedWriteKeepsTheValueInMemory) {
    fs::create_directories(folder_);
    const fs::path blocked = folder_ / "not-a-folder";
    writeFileAtomically(blocked, "x");
    SettingsStore store(blocked / "settings.json");
    EXPECT_NO_THROW(store.set("a", 1));
    EXPECT_EQ(store.integer("a"), 1);
}

// {"a": {"array": [{"array": [ ... ]}]}} with `depth` arrays: the decoder recurses once per level.
std::string nestedSettingsArrays(std::size_t depth) {
    std::string text = R"({"a":)";
    for (std::size_t i = 0; i < depth; ++i)
        text += R"({"array":[)";
    for (std::size_t i = 0; i < depth; ++i)
        text += "]}";
    return text + "}";
}

TEST_F(SettingsStoreTest, CorruptFileStartsEmptyAndIsKeptAsideBeforeTheNextWrite) {
    std::vector<std::string> corruptContents = {
        "{not json",
        "[]",
        R"({"a":{"integer":2.5}})",
        R"({"a":{"weird":1}})",
        R"({"a":{"data":"AB!="}})",
        R"({"a":{"string":"x","bool":true}})",
        R"({"a":{"dictionary":{"b":{"date":"2025-01-31T09:15:00.5Z"}}}})",
        nestedSettingsArrays(3000),
    };
    const Json valid = parseJson(R"({"a":{"date":"2025-01-31T09:15:00Z"},"n":{"double":1.5}})");
    for (const auto& bad : testing::badJsonVariants(valid, {.number = "/n/double", .date = "/a/date"}))
        corruptContents.push_back(bad.text);
    for (const std::string& contents : corruptContents) {
        SCOPED_TRACE(contents.substr(0, 80));
        fs::remove_all(path_.parent_path());
        fs::create_directories(path_.parent_path());
        writeFileAtomically(path_, contents);

        SettingsStore store(path_);
        EXPECT_EQ(store.object("a"), std::nullopt);
        EXPECT_EQ(readFile(path_), contents); // untouched until something is written

        store.set("fresh", true);
        const auto files = filesBeside();
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0], "settings.json");
        EXPECT_EQ(files[1].string().rfind("settings.json.corrupt-", 0), 0u);
        EXPECT_EQ(readFile(path_.parent_path() / files[1]), contents);
        EXPECT_TRUE(SettingsStore(path_).boolean("fresh"));
    }
    // Entries that are not a small file: nothing waits for a writer or fills the memory, and the
    // entry is set aside as well.
    const std::vector<std::pair<const char*, std::function<void()>>> entries = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0); }},
        {"huge", // valid, but padded past the limit
         [&] {
             std::string text = R"({"a":{"integer":1}})";
             text.resize(SettingsFile::kMaxFileBytes + 1, ' ');
             writeFileAtomically(path_, text);
         }},
    };
    for (const auto& [label, plant] : entries) {
        SCOPED_TRACE(label);
        fs::remove_all(path_.parent_path());
        fs::create_directories(path_.parent_path());
        plant();
        SettingsStore store(path_);
        EXPECT_EQ(store.object("a"), std::nullopt);
        store.set("fresh", true);
        const auto files = filesBeside();
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[1].string().rfind("settings.json.corrupt-", 0), 0u);
        EXPECT_TRUE(SettingsStore(path_).boolean("fresh"));
    }
}

TEST_F(SettingsStoreTest, ObserversHearEachRealChangeOnce) {
    SettingsStore store(path_);
    store.registerDefaults({{"defaulted", true}});
    std::vector<std::string> heard;
    auto token = store.observe([&](const std::string& key) {
        heard.push_back(key + "=" + store.string(key).value_or("none")); // reading inside is allowed
    });

    store.set("a", 1);
    store.set("a", 1);   // equal: nothing
    store.set("a", 1.0); // same number, other type: a change
    store.remove("a");
    store.remove("a");                              // already absent: nothing
    store.set("defaulted", true);                   // reads the same as the default
    store.registerDefaults({{"defaulted", false}}); // hidden by the stored value
    store.remove("defaulted");                      // now reads the new default
    store.registerDefaults({{"b", "x"}});
    store.set("nan", std::nan(""));
    store.set("nan", std::nan(""));

    EXPECT_EQ(heard, (std::vector<std::string>{"a=1", "a=1", "a=none", "defaulted=0", "b=x", "nan=nan"}));

    token.reset();
    store.set("a", 2);
    EXPECT_EQ(heard.size(), 6u);
}

TEST_F(SettingsStoreTest, DestroyingATokenWaitsForARunningCallback) {
    SettingsStore store(path_);
    std::promise<void> entered;
    std::atomic<bool> finished{false};
    auto token = std::make_unique<SettingsStore::ObserverToken>(store.observe([&](const std::string&) {
        entered.set_value();
        std::this_thread::sleep_for(milliseconds(50));
        finished = true;
    }));
    std::thread writer([&] { store.set("a", 1); });
    entered.get_future().wait();
    token.reset();
    EXPECT_TRUE(finished);
    writer.join();
}

TEST_F(SettingsStoreTest, ConcurrentWritersLeaveTheLastValueOfEveryKeyOnDisk) {
    constexpr int kThreads = 4;
    constexpr int kWrites = 40;
    SettingsStore store(path_);
    std::atomic<int> notifications{0};
    auto token = store.observe([&](const std::string&) { ++notifications; });

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&store, t] {
            const std::string own = "thread" + std::to_string(t);
            for (int i = 1; i <= kWrites; ++i) {
                store.set(own, i);
                store.set("shared", std::to_string(t));
                (void)store.integer("thread" + std::to_string((t + 1) % kThreads));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    SettingsStore reloaded(path_);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(reloaded.integer("thread" + std::to_string(t)), kWrites);
    }
    EXPECT_EQ(reloaded.string("shared"), store.string("shared"));
    EXPECT_GE(notifications.load(), kThreads * kWrites + 1);
}

TEST(SettingsStorePathTest, FollowsXdgConfigHome) {
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
    EXPECT_EQ(SettingsStore::standardPath(), fs::path("/tmp/xdg-config/Velnote/settings.json"));
    ::setenv("XDG_CONFIG_HOME", "", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(SettingsStore::standardPath(), fs::path("/home/someone/.config/Velnote/settings.json"));
}

TEST(SettingsStorePathTest, NoHomeFolderIsAClearErrorNotTheSharedTemporaryFolder) {
    const auto outcome = testing::checkWithoutHome([] {
        try {
            SettingsStore::standardPath();
        } catch (const NoHomeFolderError& e) {
            return std::string(e.what()).find("XDG_CONFIG_HOME") != std::string::npos;
        }
        return false;
    });
    if (!outcome)
        GTEST_SKIP() << "needs root to run as a user without a home folder";
    EXPECT_TRUE(*outcome);
}

} // namespace
} // namespace velnote::platform
