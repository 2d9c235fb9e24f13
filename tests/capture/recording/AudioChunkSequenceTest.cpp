#include "capture/recording/AudioChunkSequence.h"

#include "capture/mixer/support/WavFixtures.h"
#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using testing::WavFixtures;

class AudioChunkSequenceTest : public ::testing::Test {
  protected:
    std::unique_ptr<AudioChunkSequence> sequence(std::uint32_t chunkFrames, std::int64_t first = 0) {
        return std::make_unique<AudioChunkSequence>(
            dir_.path(), CaptureChannel::microphone, first,
            AudioChunkSequence::Options{.chunkFrames = chunkFrames},
            [this](const std::string& message) { alerts_.push_back(message); },
            [this](const fs::path& chunk, std::int64_t number) {
                kept_.push_back({chunk.filename().string(), number});
            });
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const fs::path& entry : platform::listDirectory(dir_ / "audio"))
            names.push_back(entry.filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    WavFixtures::Contents read(const std::string& name) const {
        return WavFixtures::read(dir_ / "audio" / name);
    }

    static std::vector<float> steady(std::size_t frames, float value) {
        return std::vector<float>(frames, value);
    }

    testing::TempDir dir_;
    std::vector<std::string> alerts_;
    std::vector<std::pair<std::string, std::int64_t>> kept_;
};

TEST_F(AudioChunkSequenceTest, TwentyFiveSecondsMakeTwoFullChunksAndAShortOne) {
    auto chunks = sequence(160000);
    // 4096 frames at 48 kHz become 1365 at 16 kHz.
    std::size_t left = 25 * 16000;
    while (left > 0) {
        const std::size_t n = std::min<std::size_t>(1365, left);
        chunks->write(steady(n, 0.25f), false);
        left -= n;
    }
    EXPECT_EQ(kept_.size(), 2u); // the third is still open
    chunks->close();

    ASSERT_EQ(files(), (std::vector<std::string>{"mic_0000.wav", "mic_0001.wav", "mic_0002.wav"}));
    const sf_count_t frames[] = {118 * 1365, 118 * 1365, 400000 - 2 * 118 * 1365};
    for (int i = 0; i < 3; ++i) {
        const auto wav = read(files()[i]);
        EXPECT_EQ(wav.info.frames, frames[i]) << i;
        EXPECT_EQ(wav.info.samplerate, 16000);
        EXPECT_EQ(wav.info.channels, 1);
        EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_NEAR(wav.samples[100], 8192, 1);
    }
    EXPECT_GE(frames[0], 160000);
    EXPECT_LT(frames[0], 160000 + 1365);
    std::ifstream raw(dir_ / "audio" / "mic_0000.wav", std::ios::binary);
    std::string header(12, '\0');
    raw.read(header.data(), 12);
    EXPECT_EQ(header.substr(0, 4), "RIFF"); // little-endian ("RIFX" is big-endian)
    EXPECT_EQ(header.substr(8, 4), "WAVE");
    EXPECT_EQ(kept_, (std::vector<std::pair<std::string, std::int64_t>>{
                         {"mic_0000.wav", 0}, {"mic_0001.wav", 1}, {"mic_0002.wav", 2}}));
}

TEST_F(AudioChunkSequenceTest, QuietChunkIsDeletedAndItsNumberSkipped) {
    auto chunks = sequence(1000);
    chunks->write(steady(1000, 0.3f), false);   // 0: loud
    chunks->write(steady(500, 0.0079f), false); // 1: its loudest buffer just below 0.008
    chunks->write(steady(500, 0.0f), false);
    chunks->write(steady(500, 0.0f), false); // 2: one buffer at 0.008 among silence
    chunks->write(steady(500, 0.008f), false);
    chunks->write(steady(1000, 0.0f), false); // 3: silent
    chunks->write(steady(10, 0.5f), false);   // 4: still open at close
    chunks->close();

    EXPECT_EQ(files(), (std::vector<std::string>{"mic_0000.wav", "mic_0002.wav", "mic_0004.wav"}));
    EXPECT_EQ(kept_.size(), 3u);
    EXPECT_EQ(kept_[1].second, 2);
    EXPECT_EQ(chunks->nextNumber(), 5);
}

TEST_F(AudioChunkSequenceTest, MutedAudioIsWrittenAsSilenceAndDoesNotKeepAChunk) {
    auto chunks = sequence(1000);
    chunks->write(steady(500, 0.5f), true); // 0: muted throughout
    chunks->write(steady(500, 0.5f), true);
    chunks->write(steady(500, 0.5f), false); // 1: loud, then muted
    chunks->write(steady(400, 0.5f), true);
    chunks->close();

    EXPECT_EQ(files(), (std::vector<std::string>{"mic_0001.wav"}));
    const auto wav = read("mic_0001.wav");
    EXPECT_NEAR(wav.samples[499], 16384, 1);
    EXPECT_EQ(wav.samples[500], 0);
}

TEST_F(AudioChunkSequenceTest, RecordingsArePrivateWhateverTheUmask) {
    const mode_t previous = ::umask(0);
    auto chunks = sequence(1000);
    chunks->write(steady(500, 0.5f), false);
    chunks->close();
    ::umask(previous);
    EXPECT_EQ(fs::status(dir_ / "audio").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir_ / "audio" / "mic_0000.wav").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(AudioChunkSequenceTest, ClosingRightAfterARolloverLeavesTheEmptyNextChunk) {
    auto chunks = sequence(1000);
    chunks->write(steady(1000, 0.5f), false);
    chunks->close();
    EXPECT_EQ(files(), (std::vector<std::string>{"mic_0000.wav", "mic_0001.wav"}));
    EXPECT_EQ(read("mic_0001.wav").info.frames, 0);
    EXPECT_EQ(kept_.size(), 1u);
}

TEST_F(AudioChunkSequenceTest, NumbersGoOnAfterChunksAlreadyInTheFolderAndWritersNeverShare) {
    fs::create_directories(dir_ / "audio");
    WavFixtures::writeConstant(dir_ / "audio" / "mic_0000.wav", 10, 111);
    WavFixtures::writeConstant(dir_ / "audio" / "mic_0002.wav", 10, 222);
    WavFixtures::writeConstant(dir_ / "audio" / "sys_0007.wav", 10, 333); // another channel
    // A number with no successor in 64 bits: no chunk this sequence made, and nothing to go on from.
    WavFixtures::writeConstant(dir_ / "audio" / "mic_9223372036854775807.wav", 10, 444);

    auto first = sequence(1000);
    auto second = sequence(1000);
    first->write(steady(10, 0.5f), false);
    second->write(steady(10, 0.5f), false);
    first->close();
    second->close();

    EXPECT_EQ(files(),
              (std::vector<std::string>{"mic_0000.wav", "mic_0002.wav", "mic_0003.wav", "mic_0004.wav",
                                        "mic_9223372036854775807.wav", "sys_0007.wav"}));
    EXPECT_EQ(read("mic_0000.wav").samples[0], 111);
    EXPECT_EQ(read("mic_0002.wav").samples[0], 222);
    EXPECT_EQ(read("mic_0003.wav").info.frames, 10);
    EXPECT_EQ(read("mic_0004.wav").info.frames, 10);
}

TEST_F(AudioChunkSequenceTest, FailedCreationAlertsOncePerEpisodeAndRetriesWithTheNextNumber) {
    { std::ofstream blocker(dir_ / "audio"); } // a file where the folder should be
    auto chunks = sequence(1000);
    for (int i = 0; i < 3; ++i)
        chunks->write(steady(10, 0.5f), false);
    EXPECT_EQ(alerts_,
              (std::vector<std::string>{
                  "Failed to create microphone audio file. Please check your disk space or folder write "
                  "permissions."}));
    EXPECT_FALSE(chunks->currentChunk());

    fs::remove(dir_ / "audio");
    chunks->write(steady(10, 0.5f), false);
    ASSERT_TRUE(chunks->currentChunk());
    EXPECT_EQ(chunks->currentChunk()->filename(), "mic_0003.wav");
    chunks->close();

    fs::remove_all(dir_ / "audio");
    { std::ofstream blocker(dir_ / "audio"); }
    chunks->write(steady(10, 0.5f), false);
    EXPECT_EQ(alerts_.size(), 2u); // a new episode
}

// A file-size limit makes the writes fail the way a full disk does.
class FileSizeLimit {
  public:
    FileSizeLimit() {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        lift();
        std::signal(SIGXFSZ, previousHandler_);
    }
    void set(rlim_t bytes) {
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    void lift() { ::setrlimit(RLIMIT_FSIZE, &previous_); }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(AudioChunkSequenceTest, FailedWritesAlertOncePerEpisode) {
    auto chunks = sequence(1000000);
    chunks->write(steady(1000, 0.5f), false);
    ASSERT_TRUE(alerts_.empty());
    const auto size = fs::file_size(*chunks->currentChunk());

    FileSizeLimit limit;
    limit.set(size + 100);
    for (int i = 0; i < 4; ++i)
        chunks->write(steady(1000, 0.5f), false);
    EXPECT_EQ(alerts_, (std::vector<std::string>{
                           "Failed to save microphone audio. Please check your disk space or folder write "
                           "permissions."}));
    limit.lift();
    chunks->write(steady(1000, 0.5f), false);
    EXPECT_EQ(alerts_.size(), 1u);
    limit.set(fs::file_size(*chunks->currentChunk()) + 100);
    chunks->write(steady(1000, 0.5f), false);
    chunks->write(steady(1000, 0.5f), false);
    EXPECT_EQ(alerts_.size(), 2u);
    limit.lift();
    chunks->close();
    // What could be written is there, under a valid header.
    EXPECT_GT(read("mic_0000.wav").info.frames, 2000);
}

} // namespace
} // namespace velnote
