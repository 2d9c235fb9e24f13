#include "speech/remote/OpenAISpeechPipeline.h"

#include "platform/error/DomainError.h"
#include "platform/json/Json.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>

namespace velnote {
namespace {

using testing::CannedReply;
using testing::LoopbackServer;
using testing::RecordedRequest;

std::string replyWith(const std::string& segments, const std::string& text = "whole") {
    return R"({"task":"transcribe","language":"en","duration":10.0,"text":")" + text + R"(","segments":[)" +
           segments + "]}";
}

std::string segmentJson(double start, double end, const std::string& text) {
    return R"({"id":0,"seek":0,"start":)" + std::to_string(start) + R"(,"end":)" + std::to_string(end) +
           R"(,"text":")" + text +
           R"(","tokens":[1,2],"temperature":0.0,"avg_logprob":-0.2,"compression_ratio":1.1,"no_speech_prob":0.01})";
}

class OpenAISpeechPipelineTest : public ::testing::Test {
  protected:
    std::filesystem::path chunk(const std::string& name, const std::string& bytes = "RIFF-audio") {
        const auto path = dir_.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::vector<SpeechSegment> run(const std::string& base, const std::vector<std::filesystem::path>& chunks,
                                   SpeechProcessingConfig config = {.model = "whisper-1"},
                                   const std::string& key = "sk-test") {
        OpenAISpeechPipeline pipeline(base, key);
        const TextSanitizer sanitizer = [](std::string_view text) {
            return text == "noise" ? std::string() : "<" + std::string(text) + ">";
        };
        return pipeline.process({.source = "mic", .chunkPaths = chunks}, config, sanitizer, {});
    }

    testing::TempDir dir_;
    LoopbackServer server_;
};

// The body, byte for byte, and the two headers the pipeline sets.
TEST_F(OpenAISpeechPipelineTest, SendsOneMultipartUploadPerChunk) {
    server_.reply(CannedReply::ok(replyWith(segmentJson(1, 2, "hi"))));
    run(server_.url() + "/v1", {chunk("mic_0000.wav", std::string("RIFF\0\r\n--x", 11))},
        {.model = "whisper-1", .language = "de"});

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/audio/transcriptions");
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-test");
    std::smatch match;
    const std::string contentType = request.header("Content-Type");
    ASSERT_TRUE(
        std::regex_match(contentType, match,
                         std::regex("multipart/form-data; boundary=([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                    "[0-9A-F]{4}-[0-9A-F]{12})")));
    const std::string b = match[1];
    const std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nwhisper-1\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\nverbose_json\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nde\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"mic_0000.wav\"\r\n"
        "Content-Type: audio/wav\r\n\r\n" +
        std::string("RIFF\0\r\n--x", 11) + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(request.body, expected);
}

TEST_F(OpenAISpeechPipelineTest, LanguageAbsentOrEmptyLeavesThreeParts) {
    server_.reply(CannedReply::ok(replyWith("")));
    for (const std::optional<std::string>& language :
         {std::optional<std::string>(), std::optional<std::string>("")})
        run(server_.url(), {chunk("mic_0000.wav")}, {.model = "m", .language = language});
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.body.find("name=\"language\""), std::string::npos);
        const std::string b = request.header("Content-Type").substr(30);
        std::size_t parts = 0;
        for (auto at = request.body.find("--" + b + "\r\n"); at != std::string::npos;
             at = request.body.find("--" + b + "\r\n", at + 1))
            ++parts;
        EXPECT_EQ(parts, 3u);
    }
    // A fresh boundary for every request.
    EXPECT_NE(requests[0].header("Content-Type"), requests[1].header("Content-Type"));
}

TEST_F(OpenAISpeechPipelineTest, BaseEndingInSlashSendsADoubleSlash) {
    server_.reply(CannedReply::ok(replyWith("")));
    run(server_.url() + "/v1/", {chunk("mic_0000.wav")});
    ASSERT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(server_.requests()[0].path, "/v1//audio/transcriptions");
}

TEST_F(OpenAISpeechPipelineTest, EmptyBaseTakesTheDefault) {
    EXPECT_EQ(OpenAISpeechPipeline("", "k").baseURL(), "https://api.openai.com/v1");
    EXPECT_EQ(OpenAISpeechPipeline(" http://x ", "k").baseURL(), " http://x ");
}

// Segments move to their chunk's place; texts are sanitized, emptied ones kept; "text" alone
// gives nothing.
TEST_F(OpenAISpeechPipelineTest, SegmentsAreShiftedToTheirChunksPlace) {
    server_.setHandler([](const RecordedRequest& request) {
        if (request.body.find("sys_0003.wav") != std::string::npos)
            return CannedReply::ok(
                replyWith(segmentJson(2.5, 7.5, "hello") + "," + segmentJson(8, 9, "noise")));
        if (request.body.find("sys_abc.wav") != std::string::npos)
            return CannedReply::ok(replyWith(segmentJson(1, 2, "later")));
        return CannedReply::ok(replyWith("", "text without segments"));
    });
    const auto segments =
        run(server_.url(), {chunk("a.wav"), chunk("b.wav"), chunk("c.wav"), chunk("sys_0003.wav"),
                            chunk("sys_.wav"), chunk("sys_abc.wav")});
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0], (SpeechSegment{.text = "<hello>", .start = 32.5, .end = 37.5}));
    EXPECT_EQ(segments[1], (SpeechSegment{.text = "", .start = 38, .end = 39}));
    EXPECT_EQ(segments[2], (SpeechSegment{.text = "<later>", .start = 51, .end = 52}));
    EXPECT_TRUE(run(server_.url(), {}).empty());
    EXPECT_EQ(server_.requestCount(), 6u);
}

TEST_F(OpenAISpeechPipelineTest, HttpFailureCarriesTheStatusAndTheBodyText) {
    struct Case {
        int status;
        std::string body;
        std::string description;
    };
    for (const auto& c :
         {Case{401, R"({"error":{"message":"bad key"}})", R"({"error":{"message":"bad key"}})"},
          Case{500, "\xff\xfe broken", "Unknown Error"}}) {
        server_.reply(CannedReply::with(c.status, c.body));
        try {
            run(server_.url(), {chunk("mic_0000.wav")});
            ADD_FAILURE() << "no error for " << c.status;
        } catch (const platform::DomainError& error) {
            EXPECT_EQ(error.domain(), "OpenAISpeechPipeline");
            EXPECT_EQ(error.code(), c.status);
            EXPECT_EQ(std::string(error.what()), c.description);
        }
    }
}

// The first failing chunk ends the track: nothing of the earlier chunks, nothing more sent.
TEST_F(OpenAISpeechPipelineTest, AFailingChunkFailsTheWholeTrack) {
    server_.setHandler([](const RecordedRequest& request) {
        if (request.body.find("mic_0002.wav") != std::string::npos)
            return CannedReply::with(503, "busy");
        return CannedReply::ok(replyWith(segmentJson(0, 1, "x")));
    });
    std::vector<std::filesystem::path> chunks;
    for (int i = 0; i < 10; ++i)
        chunks.push_back(chunk("mic_000" + std::to_string(i) + ".wav"));
    EXPECT_THROW(run(server_.url(), chunks), platform::DomainError);
    EXPECT_EQ(server_.requestCount(), 3u);
}

TEST_F(OpenAISpeechPipelineTest, RepliesOfTheWrongShapeFailToDecode) {
    const std::string good = segmentJson(0, 1, "x");
    for (const std::string& body :
         {std::string(R"({"task":"t","language":"en","duration":1,"text":"x"})"),
          std::string(R"({"language":"en","duration":1,"text":"x","segments":[]})"),
          replyWith(R"({"id":0,"seek":0,"start":0,"end":1,"text":"x"})"),
          replyWith(segmentJson(1e300, 1, "x")), std::string("[") + good,
          std::string(R"({"task":"t","language":"en","duration":"1","text":"x","segments":[]})")}) {
        server_.reply(CannedReply::ok(body));
        EXPECT_THROW(run(server_.url(), {chunk("mic_0000.wav")}), platform::JsonDecodeError) << body;
    }
}

// Refused before anything is sent.
TEST_F(OpenAISpeechPipelineTest, BadInputFailsBeforeAnyRequest) {
    server_.reply(CannedReply::ok(replyWith("")));
    try {
        run("not a url", {chunk("mic_0000.wav")});
        ADD_FAILURE();
    } catch (const platform::DomainError& error) {
        EXPECT_EQ(error.code(), 400);
        EXPECT_EQ(std::string(error.what()), "Invalid Base URL");
    }
    for (const std::string& key :
         {std::string("sk-1\r\nX-Injected: yes"), std::string("sk-1\n"), std::string("sk\0x", 4)}) {
        try {
            run(server_.url(), {chunk("mic_0000.wav")}, {.model = "m"}, key);
            ADD_FAILURE();
        } catch (const platform::DomainError& error) {
            EXPECT_EQ(error.code(), 401);
        }
    }
    EXPECT_THROW(run(server_.url(), {dir_.path() / "missing_0000.wav"}), std::system_error);
    EXPECT_EQ(server_.requestCount(), 0u);
}

// A quote or line break in a chunk's name cannot close the parameter or start a header.
TEST_F(OpenAISpeechPipelineTest, FileNameIsEscapedInTheBody) {
    const auto path = chunk("a\"b\r\nX: y_0001.wav");
    const std::string body = OpenAISpeechPipeline::buildMultipartBody(path, "B", "m", std::nullopt);
    EXPECT_NE(body.find("filename=\"a%22b%0D%0AX: y_0001.wav\"\r\n"), std::string::npos);
}

} // namespace
} // namespace velnote
