#pragma once

#include "platform/audio/StreamResampler.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/speech/SpeechAuthorizer.h"
#include "platform/speech/SpeechRecognizer.h"
#include "speech/live/LiveSummaryTranscriptSink.h"
#include "speech/live/LiveTranscriptionService.h"
#include "speech/live/NewestBufferQueue.h"
#include "speech/live/TranscriptLiveFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

namespace velnote {

struct RealtimeTranscriptionDependencies {
    std::shared_ptr<platform::SpeechRecognizer> recognizer;
    std::shared_ptr<platform::SpeechAuthorizer> authorizer;
    platform::Clock* clock = nullptr;           // null: the system clock
    platform::TimerScheduler* timers = nullptr; // null: TimerScheduler::shared(); must use `clock`
    // The user's current locale identifier ("en-US"), asked at every channel set-up; null: from
    // LC_ALL, LC_MESSAGES or LANG, "en-US" for the C locale.
    std::function<std::string()> currentLocale;
};

// The live transcription of a running recording (see the folder's README): two channels,
// microphone and system audio, each with its own speech analysis, whose texts become the committed
// lines and the interim preview of the live transcript, published to AppState, handed to the live
// summary and written to "transcript.live.txt".
//
// An actor: every operation runs on its own serial executor ("velnote.realtime"); the buffer
// entries are the exception, callable from any thread, and put the buffer in the channel's queue
// of the newest 32 waiting buffers under that channel's own lock.
class RealtimeTranscriptionActor final : public LiveTranscriptionService {
  public:
    enum class Channel { mic, sys };

    explicit RealtimeTranscriptionActor(RealtimeTranscriptionDependencies dependencies);
    ~RealtimeTranscriptionActor() override;
    RealtimeTranscriptionActor(const RealtimeTranscriptionActor&) = delete;
    RealtimeTranscriptionActor& operator=(const RealtimeTranscriptionActor&) = delete;

    // The application's: pocketsphinx with the installed models, always authorized. Created on
    // first use and never destroyed (jobs of the captures may reach it until the process ends).
    static RealtimeTranscriptionActor& shared();
    // The same instance, for the holders of a LiveTranscriptionService (the recording controller).
    static std::shared_ptr<RealtimeTranscriptionActor> sharedService();

    // Ready once the microphone's first set-up has finished or failed (at once when speech
    // recognition is not authorized). A stop requested meanwhile ends a wait for permission.
    std::future<void> startSession(const std::filesystem::path& sessionDir,
                                   std::optional<std::string> language) override;
    // Ends both channels' analyses, commits their last final texts and the interim texts, and
    // rewrites "transcript.live.txt" whole; ready when the file is written.
    std::future<void> stopSession() override;
    // Sets both channels up again in `language` (none: automatic); interim texts are dropped.
    std::future<void> updateInputLanguage(std::optional<std::string> language);
    // Where the live summary takes its input from now on; null for none.
    std::future<void> setLiveSummarySink(std::shared_ptr<LiveSummaryTranscriptSink> sink);
    // The committed lines of the current (or last) session.
    std::future<std::vector<std::string>> lines();

    void yieldMicBuffer(std::span<const float> samples, const platform::AudioFormat& format) override;
    void yieldSysBuffer(std::span<const float> samples, const platform::AudioFormat& format) override;

  private:
    struct RawBuffer {
        std::vector<float> samples;
        platform::AudioFormat format;
    };
    using RawStream = NewestBufferQueue<RawBuffer>;
    struct RawChannel {
        std::mutex mutex;
        std::shared_ptr<RawStream> stream; // under mutex; none while no session runs
    };
    struct ChannelState {
        std::unique_ptr<platform::SpeechAnalysis> analysis;
        std::unique_ptr<platform::StreamResampler> converter; // none when input comes in the analyzer format
        std::optional<platform::AudioFormat> analyzerFormat;
        std::optional<platform::AudioFormat> setUpFormat;
        std::uint64_t generation = 0; // results of other analyses are stale
        platform::Clock::SteadyTime startedAt{};
        std::optional<std::filesystem::path> sessionDir;
        std::string pendingText;
        bool isSetup = false;
        bool isSettingUp = false;
        bool isEnding = false; // finished at stop; its last results still count
        std::optional<platform::AudioFormat> lastInputFormat;
        platform::Timer recovery;
    };

    void yieldBuffer(Channel channel, std::span<const float> samples, const platform::AudioFormat& format);
    void drain(Channel channel, const std::shared_ptr<RawStream>& stream);
    void start(const std::filesystem::path& sessionDir, std::optional<std::string> language);
    void openRawStreams();
    void closeRawStreams();
    void appendBuffer(Channel channel, RawBuffer buffer);
    void feedBuffer(Channel channel, RawBuffer buffer);
    void setupChannel(Channel channel, platform::AudioFormat inputFormat);
    std::optional<platform::AudioFormat>
    resolveAnalyzerFormat(Channel channel, platform::AudioFormat inputFormat, const std::string& locale);
    void handleResult(Channel channel, std::uint64_t generation, platform::SpeechRecognitionResult result);
    void handleFailure(Channel channel, std::uint64_t generation, platform::SpeechAnalysisFailure failure,
                       const std::string& description);
    void handleEnd(Channel channel, std::uint64_t generation);
    void recoverChannel(Channel channel, std::uint64_t generation);
    void resetChannel(Channel channel);
    void beginStop();
    void finishStop();

    // The text side: lines, interim texts and their publication.
    void commit(const std::string& text, platform::Clock::SteadyTime startedAt,
                const std::optional<std::filesystem::path>& dir);
    void handleInterimResult(const std::string& text, Channel channel);
    void updatePreview();
    void flushToUI(const std::optional<std::filesystem::path>& dir);
    void commitPendingTexts();

    ChannelState& state(Channel channel) { return channel == Channel::mic ? mic_ : sys_; }
    RawChannel& raw(Channel channel) { return channel == Channel::mic ? micRaw_ : sysRaw_; }
    std::string currentLocale() const;

    std::shared_ptr<platform::SpeechRecognizer> recognizer_;
    std::shared_ptr<platform::SpeechAuthorizer> authorizer_;
    platform::Clock& clock_;
    platform::TimerScheduler& timers_;
    std::function<std::string()> currentLocale_;

    RawChannel micRaw_;
    RawChannel sysRaw_;

    std::mutex authorizationMutex_;
    std::stop_source authorizationStop_; // under authorizationMutex_: a stop ends a wait for permission

    // Only on executor_:
    std::optional<std::filesystem::path> sessionDir_;
    std::optional<std::string> language_; // as last requested, not normalised
    std::optional<platform::Clock::SteadyTime> recordingStartedAt_;
    std::vector<std::string> lines_;
    std::optional<platform::Clock::SteadyTime> lastPreviewUIUpdateAt_; // none: the distant past
    bool isActive_ = false;
    ChannelState mic_;
    ChannelState sys_;
    std::uint64_t nextGeneration_ = 1;
    std::shared_ptr<LiveSummaryTranscriptSink> liveSummary_;
    std::vector<std::promise<void>> stopWaiters_; // a stop under way: waiting for the analyses to end
    platform::Timer stopDeadline_;

    TranscriptLiveFile transcriptFile_; // drains its queued writes after executor_ has drained
    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
