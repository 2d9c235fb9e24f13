#pragma once

#include "platform/http/HttpClient.h"
#include "processing/transcription/SpeechProcessingPipeline.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// The speech back-end over an OpenAI-compatible transcription service: every chunk of a track is
// uploaded on its own, one after the other, as a multipart POST to "<base>/audio/transcriptions",
// and the verbose JSON reply's segments are moved to the chunk's place in the recording. No
// caching, no retry (the processing queue retries the step), no diarization.
//
// One instance per transcription run. process() calls run one at a time (a lock), each blocking
// its caller for the uploads; at most one request is in flight.
class OpenAISpeechPipeline final : public SpeechProcessingPipeline {
  public:
    // Taken for an empty base URL.
    static constexpr const char* kDefaultBaseURL = "https://api.openai.com/v1";

    // `baseURL` is used exactly as given ("" = kDefaultBaseURL), blanks and a trailing "/"
    // included. `apiKey` is sent as the bearer token. `clientOptions`: the HTTP client's limits;
    // the default allows 300 s for one exchange.
    OpenAISpeechPipeline(std::string baseURL, std::string apiKey,
                         platform::HttpClient::Options clientOptions = defaultClientOptions());

    static platform::HttpClient::Options defaultClientOptions();

    const std::string& baseURL() const { return baseURL_; }

    // Fails, with no segment of the track, on the first chunk that fails: DomainError
    // ("OpenAISpeechPipeline", 400 "Invalid Base URL"; 401 for an API key with control
    // characters, before any request; the HTTP status with the reply's text), the chunk file's
    // read error, platform::HttpError, platform::JsonDecodeError for a reply of the wrong shape,
    // or platform::CancellationError.
    std::vector<SpeechSegment> process(const AudioSourceTrack& track, const SpeechProcessingConfig& config,
                                       const TextSanitizer& textSanitizer, std::stop_token stop) override;

    // The request body, byte for byte: the model, "verbose_json", the language when present and
    // not empty, then the file; parts separated by `boundary`. Throws the file's read error.
    static std::string buildMultipartBody(const std::filesystem::path& chunkPath, const std::string& boundary,
                                          const std::string& model,
                                          const std::optional<std::string>& language);

  private:
    std::vector<SpeechSegment> transcribe(const std::filesystem::path& chunkPath, const std::string& model,
                                          const std::optional<std::string>& language,
                                          const TextSanitizer& textSanitizer, std::stop_token stop) const;

    std::string baseURL_;
    std::string apiKey_;
    platform::HttpClient client_;
    std::mutex processing_; // one process() at a time
};

} // namespace velnote
