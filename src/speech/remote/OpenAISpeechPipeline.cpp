#include "speech/remote/OpenAISpeechPipeline.h"

#include "platform/error/DomainError.h"
#include "platform/fs/Files.h"
#include "platform/http/HttpUrl.h"
#include "platform/json/Json.h"
#include "platform/text/Characters.h"
#include "platform/text/Uuid.h"
#include "session/VelnoteLogger.h"
#include "speech/chunks/ChunkOffset.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace velnote {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDomain = "OpenAISpeechPipeline";
constexpr std::chrono::seconds kRequestTimeout{60};
constexpr std::chrono::seconds kSessionTimeout{300};

// One element of the reply's "segments"; every member is required, only three are used.
struct ReplySegment {
    float start = 0;
    float end = 0;
    std::string text;
};

void from_json(const platform::Json& json, ReplySegment& segment) {
    platform::required<std::int64_t>(json, "id");
    platform::required<std::int64_t>(json, "seek");
    segment.start = platform::required<float>(json, "start");
    segment.end = platform::required<float>(json, "end");
    segment.text = platform::required<std::string>(json, "text");
    platform::required<std::vector<std::int64_t>>(json, "tokens");
    platform::required<float>(json, "temperature");
    platform::required<float>(json, "avg_logprob");
    platform::required<float>(json, "compression_ratio");
    platform::required<float>(json, "no_speech_prob");
}

// The verbose JSON reply; throws platform::JsonDecodeError when a member is missing or mistyped.
std::vector<ReplySegment> decodeReply(const std::string& body) {
    const platform::Json json = platform::parseJson(body);
    platform::required<std::string>(json, "task");
    platform::required<std::string>(json, "language");
    platform::required<float>(json, "duration");
    platform::required<std::string>(json, "text");
    return platform::required<std::vector<ReplySegment>>(json, "segments");
}

// A line break or other control character in the key would end the Authorization header early
// and let the rest of the pasted text become headers of its own.
bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

// The file name as a quoted form-data parameter: quote, CR, LF and NUL percent-encoded, so a
// crafted name cannot close the quotes or start a header line.
std::string quotedFileName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        switch (c) {
        case '"':
            out += "%22";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        case '\0':
            out += "%00";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void appendField(std::string& body, const std::string& boundary, const std::string& name,
                 const std::string& value) {
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    body += value + "\r\n";
}

} // namespace

OpenAISpeechPipeline::OpenAISpeechPipeline(std::string baseURL, std::string apiKey,
                                           platform::HttpClient::Options clientOptions)
    : baseURL_(baseURL.empty() ? std::string(kDefaultBaseURL) : std::move(baseURL)),
      apiKey_(std::move(apiKey)), client_(std::move(clientOptions)) {}

platform::HttpClient::Options OpenAISpeechPipeline::defaultClientOptions() {
    platform::HttpClient::Options options;
    options.idleTimeout = kSessionTimeout;
    options.totalTimeout = kSessionTimeout;
    return options;
}

std::vector<SpeechSegment> OpenAISpeechPipeline::process(const AudioSourceTrack& track,
                                                         const SpeechProcessingConfig& config,
                                                         const TextSanitizer& textSanitizer,
                                                         std::stop_token stop) {
    std::lock_guard lock(processing_);
    if (hasControlCharacter(apiKey_))
        throw platform::DomainError(kDomain, 401,
                                    "The OpenAI API key contains a line break or another control character. "
                                    "Please enter it again in preferences.");
    std::vector<SpeechSegment> result;
    for (std::size_t i = 0; i < track.chunkPaths.size(); ++i) {
        const auto& chunk = track.chunkPaths[i];
        const double offset = chunkStartOffset(chunk, i);
        for (auto segment : transcribe(chunk, config.model, config.language, textSanitizer, stop)) {
            segment.start += offset;
            segment.end += offset;
            result.push_back(std::move(segment));
        }
    }
    return result;
}

std::vector<SpeechSegment> OpenAISpeechPipeline::transcribe(const fs::path& chunkPath,
                                                            const std::string& model,
                                                            const std::optional<std::string>& language,
                                                            const TextSanitizer& textSanitizer,
                                                            std::stop_token stop) const {
    const auto url = platform::parseHttpUrl(baseURL_ + "/audio/transcriptions");
    if (!url)
        throw platform::DomainError(kDomain, 400, "Invalid Base URL");
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url->text;
    request.idleTimeout = kRequestTimeout;
    request.setHeader("Authorization", "Bearer " + apiKey_);
    const std::string boundary = platform::Uuid::random().toString();
    request.setHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = buildMultipartBody(chunkPath, boundary, model, language);

    const std::string fileName = chunkPath.filename().string();
    VelnoteLogger::transcribe().info("OpenAISpeechPipeline: requesting transcription for {}", fileName);
    const auto reply = client_.send(request, stop);
    if (reply.status < 200 || reply.status > 299) {
        const std::string text = platform::isValidUtf8(reply.body) ? reply.body : "Unknown Error";
        VelnoteLogger::transcribe().error("OpenAISpeechPipeline API error: {} - {}", reply.status, text);
        throw platform::DomainError(kDomain, static_cast<int>(reply.status), text);
    }
    std::vector<SpeechSegment> segments;
    for (const auto& segment : decodeReply(reply.body)) {
        segments.push_back(SpeechSegment{.text = textSanitizer(segment.text),
                                         .start = static_cast<double>(segment.start),
                                         .end = static_cast<double>(segment.end)});
    }
    return segments;
}

std::string OpenAISpeechPipeline::buildMultipartBody(const fs::path& chunkPath, const std::string& boundary,
                                                     const std::string& model,
                                                     const std::optional<std::string>& language) {
    std::string body;
    appendField(body, boundary, "model", model);
    appendField(body, boundary, "response_format", "verbose_json");
    if (language && !language->empty())
        appendField(body, boundary, "language", *language);
    const std::string audio = platform::readFile(chunkPath);
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"" +
            quotedFileName(chunkPath.filename().string()) + "\"\r\n";
    body += "Content-Type: audio/wav\r\n\r\n";
    body += audio;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

} // namespace velnote
