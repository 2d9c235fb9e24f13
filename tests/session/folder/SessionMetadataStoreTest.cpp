#include "session/folder/SessionMetadataStore.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/fs/Files.h"
#include "support/BadJson.h"
#include "support/SessionSamples.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>
#include <thread>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using platform::Json;
using platform::JsonDecodeError;
using std::chrono::sys_days;
using std::chrono::sys_seconds;
using namespace std::chrono_literals;

sys_seconds at(int hour, int minute, int second) {
    using namespace std::chrono;
    return sys_days(2025y / January / 31) + hours(hour) + minutes(minute) + seconds(second);
}

class SessionMetadataStoreTest : public ::testing::Test {
  protected:
    void writeSample() const { platform::writeFileAtomically(file(), testing::sampleMetadataJson()); }
    fs::path file() const { return SessionMetadataStore::fileIn(dir_.path()); }
    Json fileJson() const { return platform::parseJson(platform::readFile(file())); }

    testing::TempDir dir_;
};

TEST_F(SessionMetadataStoreTest, ReadsEveryFieldOfAFullFile) {
    writeSample();
    const SessionMetadata m = SessionMetadataStore::read(dir_.path());
    EXPECT_EQ(m.createdAt, at(9, 15, 0));
    ASSERT_TRUE(m.buildInfo);
    EXPECT_EQ(m.buildInfo->buildNumber, "12");
    EXPECT_EQ(m.config.transcription.numberOfSpeakers, std::nullopt);
    EXPECT_EQ(m.config.audio.sysInputGain, 1.0);
    EXPECT_EQ(m.steps.transcription.status, StepStatus::done);
    EXPECT_EQ(m.steps.transcription.completedAt, at(10, 5, 0));
    EXPECT_EQ(m.steps.summary.error, "timeout");
    EXPECT_EQ(m.steps.summary.retryCount, 2);
    EXPECT_EQ(m.summaryHeadline, "Weekly sync");
    EXPECT_TRUE(m.summaryFallbackOccurred);
    EXPECT_EQ(m.recordingDuration, 1234.5);
    EXPECT_EQ(m.completionNotificationSentAt, at(10, 6, 0));
}

TEST_F(SessionMetadataStoreTest, DecodingTable) {
    struct Case {
        const char* name;
        const char* pointer;
        Json value;              // discarded: remove the key
        const char* failingPath; // nullptr: decodes
    };
    const Json removed(Json::value_t::discarded);
    const Case cases[] = {
        {"extra keys everywhere", "/config/audio/extra", "x", nullptr},
        {"null optional text", "/summaryHeadline", nullptr, nullptr},
        {"absent build info", "/buildInfo", removed, nullptr},
        {"null flag reads false", "/manuallyStopped", nullptr, nullptr},
        {"absent retry count", "/steps/summary/retryCount", removed, nullptr},
        {"absent bundle identifier", "/buildInfo/bundleIdentifier", removed, nullptr},
        {"offset date", "/createdAt", "2025-01-31T18:15:00+09:00", nullptr},
        {"any version", "/version", 7, nullptr},
        {"fractional seconds", "/createdAt", "2025-01-31T09:15:00.5Z", "createdAt"},
        {"fractional optional date", "/steps/transcription/startedAt", "2025-01-31T10:00:00.000Z",
         "steps.transcription.startedAt"},
        {"unknown status", "/steps/summary/status", "queued", "steps.summary.status"},
        {"missing steps", "/steps", removed, "steps"},
        {"missing step", "/steps/diarization", removed, "steps.diarization"},
        {"missing system", "/config/system", removed, "config.system"},
        {"null required", "/createdAt", nullptr, "createdAt"},
        {"incomplete build info", "/buildInfo/version", removed, "buildInfo.version"},
        {"wrong type flag", "/mediaFilesDeleted", "false", "mediaFilesDeleted"},
        {"fractional version", "/version", 1.5, "version"},
    };
    for (const Case& c : cases) {
        Json j = platform::parseJson(testing::sampleMetadataJson());
        const Json::json_pointer pointer(c.pointer);
        if (c.value.is_discarded()) {
            j[pointer.parent_pointer()].erase(pointer.back());
        } else {
            j[pointer] = c.value;
        }
        try {
            SessionMetadataStore::decode(j.dump());
            EXPECT_EQ(c.failingPath, nullptr) << c.name << " decoded";
        } catch (const JsonDecodeError& e) {
            ASSERT_NE(c.failingPath, nullptr) << c.name << ": " << e.what();
            EXPECT_EQ(e.path(), c.failingPath) << c.name;
        }
    }
}

TEST_F(SessionMetadataStoreTest, AbsentAndNullReadAsTheirDefaults) {
    Json j = platform::parseJson(testing::sampleMetadataJson());
    j["manuallyStopped"] = nullptr;
    j.erase("summaryFallbackOccurred");
    j["steps"]["summary"].erase("retryCount");
    j["completionNotificationSentAt"] = nullptr;
    j["createdAt"] = "2025-01-31T18:15:00+09:00";
    const SessionMetadata m = SessionMetadataStore::decode(j.dump());
    EXPECT_FALSE(m.manuallyStopped);
    EXPECT_FALSE(m.summaryFallbackOccurred);
    EXPECT_EQ(m.steps.summary.retryCount, 0);
    EXPECT_EQ(m.completionNotificationSentAt, std::nullopt);
    EXPECT_EQ(m.createdAt, at(9, 15, 0));
}

TEST_F(SessionMetadataStoreTest, WritesSortedKeysWithoutNullsOrAbsentOptionals) {
    platform::ManualClock clock;
    SessionConfig config = testing::sampleConfig();
    config.transcription.language.reset();
    SessionMetadata m = SessionMetadata::initial(config, clock);
    m.buildInfo.reset();
    SessionMetadataStore::write(m, dir_.path());

    const std::string text = platform::readFile(file());
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    const Json written = fileJson();
    std::vector<std::string> keys;
    for (const auto& [key, value] : written.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"config", "createdAt", "manuallyStopped", "mediaFilesDeleted",
                                              "steps", "summaryFallbackOccurred", "version"}));
    // Keys appear in the text in sorted order too.
    EXPECT_LT(text.find("\"config\""), text.find("\"createdAt\""));
    EXPECT_LT(text.find("\"steps\""), text.find("\"version\""));
    EXPECT_EQ(fileJson()["createdAt"], "2024-01-01T00:00:00Z");
    EXPECT_EQ(fileJson()["steps"]["transcription"], Json::parse(R"({"status":"pending","retryCount":0})"));
    EXPECT_EQ(SessionMetadataStore::read(dir_.path()), m);
}

TEST_F(SessionMetadataStoreTest, UpdateKeepsWhatItDoesNotChangeAndDropsUnknownKeys) {
    auto j = platform::parseJson(testing::sampleMetadataJson());
    j.erase("summaryHeadline");
    j["steps"]["summary"].erase("retryCount");
    platform::writeFileAtomically(file(), j.dump());

    SessionMetadataStore::update(dir_.path(), [](SessionMetadata& m) { m.manuallyStopped = true; });

    const Json after = fileJson();
    EXPECT_TRUE(after["manuallyStopped"]);
    EXPECT_FALSE(after.contains("summaryHeadline"));
    EXPECT_FALSE(after.contains("futureTopLevel"));
    EXPECT_FALSE(after["steps"]["transcription"].contains("stepExtra"));
    EXPECT_EQ(after["steps"]["summary"]["retryCount"], 0);
    EXPECT_EQ(after["completionNotificationSentAt"], "2025-01-31T10:06:00Z");
    EXPECT_EQ(after["buildInfo"]["buildNumber"], "12");
}

TEST_F(SessionMetadataStoreTest, FailedUpdateLeavesFileAndReleasesLock) {
    writeSample();
    const std::string before = platform::readFile(file());
    EXPECT_THROW(SessionMetadataStore::update(dir_.path(),
                                              [](SessionMetadata& m) {
                                                  m.recordingDuration =
                                                      std::numeric_limits<double>::infinity();
                                              }),
                 std::invalid_argument);
    EXPECT_THROW(
        SessionMetadataStore::update(dir_.path(), [](SessionMetadata&) { throw std::runtime_error("x"); }),
        std::runtime_error);
    EXPECT_EQ(platform::readFile(file()), before);
    SessionMetadataStore::update(dir_.path(), [](SessionMetadata& m) { m.mediaFilesDeleted = true; });
    EXPECT_TRUE(fileJson()["mediaFilesDeleted"]);
}

TEST_F(SessionMetadataStoreTest, MissingOrBrokenFileIsAnErrorAndIsNotTouched) {
    EXPECT_THROW(SessionMetadataStore::read(dir_.path()), std::system_error);
    EXPECT_THROW(SessionMetadataStore::update(dir_.path(), [](SessionMetadata&) {}), std::system_error);
    EXPECT_FALSE(fs::exists(file()));
    platform::writeFileAtomically(file(), "{\"version\": 1");
    EXPECT_THROW(SessionMetadataStore::update(dir_.path(), [](SessionMetadata&) {}), JsonDecodeError);
    EXPECT_EQ(platform::readFile(file()), "{\"version\": 1");
}

TEST_F(SessionMetadataStoreTest, FifoOrOversizedFileIsAnErrorNotAHang) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_THROW(SessionMetadataStore::read(dir_.path()), std::system_error);
    EXPECT_THROW(SessionMetadataStore::update(dir_.path(), [](SessionMetadata&) {}), std::system_error);
    fs::remove(file());
    std::string padded = testing::sampleMetadataJson();
    padded.append(SessionMetadataStore::kMaxFileBytes, ' '); // still valid JSON, only far too big
    platform::writeFileAtomically(file(), padded);
    EXPECT_THROW(SessionMetadataStore::read(dir_.path()), std::system_error);
}

TEST_F(SessionMetadataStoreTest, ConcurrentUpdatesOfDifferentFieldsLoseNothing) {
    writeSample();
    SessionMetadataStore::update(dir_.path(), [](SessionMetadata& m) {
        m.steps.transcription.retryCount = 0;
        m.steps.summary.retryCount = 0;
    });
    constexpr int kUpdates = 500;
    auto bump = [&](auto field) {
        for (int i = 0; i < kUpdates; ++i) {
            SessionMetadataStore::update(dir_.path(),
                                         [&](SessionMetadata& m) { ++(m.steps.*field).retryCount; });
        }
    };
    std::thread a(bump, &SessionSteps::transcription);
    std::thread b(bump, &SessionSteps::summary);
    a.join();
    b.join();
    const SessionMetadata m = SessionMetadataStore::read(dir_.path());
    EXPECT_EQ(m.steps.transcription.retryCount, kUpdates);
    EXPECT_EQ(m.steps.summary.retryCount, kUpdates);
}

TEST(StepStateTest, FailedRunCountStopsAtTheTopOfItsRange) {
    // A damaged file may carry the largest count; one more failure must not overflow it.
    StepState step = StepState::fresh(StepStatus::failed);
    step.retryCount = std::numeric_limits<std::int64_t>::max();
    step.markFailed("again", at(11, 0, 0));
    EXPECT_EQ(step.retryCount, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(step.error, "again");
    EXPECT_EQ(step.completedAt, at(11, 0, 0));
}

TEST(SessionMetadataInitialTest, StepsFollowTheConfiguration) {
    struct Case {
        bool diarization;
        const char* provider;
        StepStatus diarizationStatus;
        StepStatus summaryStatus;
    };
    const Case cases[] = {
        {false, "", StepStatus::skipped, StepStatus::skipped},
        {true, "local", StepStatus::pending, StepStatus::pending},
        {false, " ", StepStatus::skipped, StepStatus::pending}, // any non-empty text names a provider
    };
    platform::ManualClock clock;
    for (const Case& c : cases) {
        SessionConfig config = testing::sampleConfig();
        config.transcription.diarizationEnabled = c.diarization;
        config.summary.provider = c.provider;
        const SessionMetadata m = SessionMetadata::initial(config, clock);
        EXPECT_EQ(m.steps.transcription, StepState::fresh(StepStatus::pending));
        EXPECT_EQ(m.steps.diarization, StepState::fresh(c.diarizationStatus));
        EXPECT_EQ(m.steps.summary, StepState::fresh(c.summaryStatus));
        EXPECT_EQ(m.version, 1);
        EXPECT_EQ(m.config, config);
        EXPECT_FALSE(m.summaryFallbackOccurred || m.manuallyStopped || m.mediaFilesDeleted);
        EXPECT_FALSE(m.summaryHeadline || m.summaryFallbackDetails || m.recordingDuration ||
                     m.completionNotificationSentAt);
    }
}

TEST(SessionMetadataInitialTest, BuildRecordOfThisProgram) {
    platform::ManualClock clock;
    clock.advance(1500ms); // dates are floored to the second
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    const SessionMetadata m = SessionMetadata::initial(testing::sampleConfig(), clock);
    BuildFlavor::setTestOverride(std::nullopt);
    ASSERT_TRUE(m.buildInfo);
    EXPECT_EQ(m.buildInfo->bundleIdentifier, "io.hushtape.velnote");
    EXPECT_FALSE(m.buildInfo->version.empty());
    EXPECT_TRUE(m.buildInfo->isAppStoreBuild);
    EXPECT_EQ(m.buildInfo->buildDate, m.createdAt);
    EXPECT_EQ(platform::formatIsoDate(m.createdAt), "2024-01-01T00:00:01Z");
}

// Writers that must leave a usable file behind rebuild under the lock, and
// keep what they could not read instead of overwriting it.
class SessionMetadataRebuildTest : public SessionMetadataStoreTest {
  protected:
    std::optional<fs::path> recordStop() {
        return SessionMetadataStore::updateOrRebuild(
            dir_.path(), testing::sampleConfig(), [](SessionMetadata& m) { m.recordingDuration = 60.0; },
            clock_);
    }
    platform::ManualClock clock_;
};

TEST_F(SessionMetadataRebuildTest, ReadableFileIsUpdatedNormally) {
    writeSample();
    EXPECT_EQ(recordStop(), std::nullopt);
    const SessionMetadata m = SessionMetadataStore::read(dir_.path());
    EXPECT_EQ(m.recordingDuration, 60.0);
    EXPECT_EQ(m.createdAt, at(9, 15, 0));
    EXPECT_EQ(m.steps.summary.retryCount, 2);
    EXPECT_EQ(platform::listDirectory(dir_.path()).size(), 1u);
}

TEST_F(SessionMetadataRebuildTest, UndecodableFileIsKeptBesideTheRebuiltOne) {
    const std::string broken = "{\"version\": 1, \"createdAt\": \"2025-01-31T09:15:00.250Z\"}";
    for (const char* expectedName : {"session.json.unreadable", "session.json.unreadable_2"}) {
        platform::writeFileAtomically(file(), broken);
        const auto kept = recordStop();
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->filename(), expectedName);
        EXPECT_EQ(platform::readFile(*kept), broken);
        const SessionMetadata m = SessionMetadataStore::read(dir_.path());
        EXPECT_EQ(m.recordingDuration, 60.0);
        EXPECT_EQ(m.config, testing::sampleConfig());
        EXPECT_EQ(m.createdAt, sys_seconds(std::chrono::floor<std::chrono::seconds>(clock_.wallNow())));
    }
}

TEST_F(SessionMetadataRebuildTest, BadInputIsKeptAndRebuiltNotThrown) {
    const platform::Json valid = platform::parseJson(testing::sampleMetadataJson());
    for (const auto& bad : testing::badJsonVariants(valid, {.number = "/version", .date = "/createdAt"})) {
        SCOPED_TRACE(bad.name);
        for (const auto& entry : platform::listDirectory(dir_.path()))
            fs::remove(entry);
        platform::writeFileAtomically(file(), bad.text);
        EXPECT_THROW(SessionMetadataStore::read(dir_.path()), platform::JsonDecodeError);
        const auto kept = recordStop();
        ASSERT_TRUE(kept);
        EXPECT_EQ(platform::readFile(*kept), bad.text);
        EXPECT_EQ(SessionMetadataStore::read(dir_.path()).recordingDuration, 60.0);
    }
}

TEST_F(SessionMetadataRebuildTest, UnreadableEntryIsMovedAside) {
    fs::create_directory(file()); // cannot be read as a file, even by root
    fs::create_directory(file() / "inside");
    const auto kept = recordStop();
    ASSERT_TRUE(kept);
    EXPECT_TRUE(fs::is_directory(*kept / "inside"));
    EXPECT_EQ(SessionMetadataStore::read(dir_.path()).recordingDuration, 60.0);
}

TEST_F(SessionMetadataRebuildTest, MissingFileIsRebuiltWithoutKeepingAnything) {
    EXPECT_EQ(recordStop(), std::nullopt);
    EXPECT_EQ(SessionMetadataStore::read(dir_.path()).recordingDuration, 60.0);
    EXPECT_EQ(platform::listDirectory(dir_.path()).size(), 1u);
}

TEST_F(SessionMetadataRebuildTest, RebuildHoldsTheUpdateLock) {
    platform::writeFileAtomically(file(), "not json");
    std::atomic<bool> done = false;
    std::thread writer;
    {
        std::lock_guard lock(SessionMetadataStore::updateLock());
        writer = std::thread([&] {
            recordStop();
            done = true;
        });
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(done);
        EXPECT_EQ(platform::readFile(file()), "not json");
    }
    writer.join();
    EXPECT_TRUE(done);
}

} // namespace
} // namespace velnote
