#include "platform/audio/AudioServerError.h"
#include "platform/audio/PulseClient.h"
#include "support/ChildProcess.h"
#include "support/PulseTestServer.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace velnote::platform {
namespace {
using namespace std::chrono_literals;
using velnote::testing::ChildProcess;
using velnote::testing::PulseTestServer;
using velnote::testing::ToneFiles;

// Waits (polling) until `done()`, for at most `timeout`.
template <class Done> bool eventually(Done done, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(PulseClientServiceTest, ReadsDefaultsSourcesAndOutputs) {
    PulseTestServer server;
    PulseClient client;
    client.connect();
    const AudioServerInfo info = client.serverInfo();
    EXPECT_EQ(info.defaultSinkName, "speaker");
    EXPECT_EQ(info.defaultSourceName, "mic.monitor");

    const std::vector<AudioSourceInfo> sources = client.sources();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].name, "mic.monitor");
    EXPECT_TRUE(sources[0].isMonitor);
    EXPECT_EQ(sources[0].format, (AudioFormat{16000, 1}));
    EXPECT_EQ(sources[1].format, (AudioFormat{48000, 2}));
    EXPECT_FALSE(client.source("nothing"));
    EXPECT_EQ(client.sink("speaker").value().monitorSourceName, "speaker.monitor");
    EXPECT_TRUE(client.hasModule("module-null-sink"));
    EXPECT_FALSE(client.hasModule("module-filter-apply"));
}

TEST(PulseClientServiceTest, RecordStreamDeliversWhatIsPlayedAndListsOurProcess) {
    PulseTestServer server;
    velnote::testing::TempDir dir;
    ToneFiles::write(dir / "tone.wav", 16000, 1, {{0.5, 440, 0.5}});

    PulseClient client;
    client.connect();
    std::mutex mutex;
    std::vector<float> received;
    AudioRecordHandlers handlers;
    handlers.data = [&](std::vector<float>&& samples, const AudioFormat& format) {
        EXPECT_EQ(format, (AudioFormat{16000, 1}));
        std::lock_guard lock(mutex);
        received.insert(received.end(), samples.begin(), samples.end());
    };
    AudioRecordRequest request;
    request.streamName = "test";
    auto stream = client.openRecordStream(request, std::move(handlers));
    EXPECT_EQ(stream->sourceName(), "mic.monitor");

    const auto outputs = client.sourceOutputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].processId, ::getpid());
    EXPECT_FALSE(outputs[0].corked);

    PulseTestServer::run("paplay -d mic " + (dir / "tone.wav").string());
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return std::count_if(received.begin(), received.end(), [](float s) { return std::abs(s) > 0.1f; }) >
               6500; // 87 % of 0.5 s
    }));
    stream.reset();
    std::lock_guard lock(mutex);
    EXPECT_LE(*std::max_element(received.begin(), received.end()), 0.51f);
}

TEST(PulseClientServiceTest, SubscriptionAndLostServerAreReported) {
    PulseTestServer server;
    PulseClient client;
    std::atomic<int> serverEvents = 0, outputEvents = 0, disconnects = 0, failures = 0;
    client.setEventHandler([&](AudioServerEvent event) {
        if (event == AudioServerEvent::server)
            ++serverEvents;
        if (event == AudioServerEvent::sourceOutput)
            ++outputEvents;
    });
    client.setDisconnectHandler([&] { ++disconnects; });
    client.connect();
    client.subscribe({.server = true, .sources = false, .sourceOutputs = true});

    PulseTestServer::pactl("set-default-sink mic");
    EXPECT_TRUE(eventually([&] { return serverEvents > 0; }));
    {
        ChildProcess recorder({"parecord", "--raw", "-d", "speaker.monitor", "/dev/null"});
        EXPECT_TRUE(eventually([&] {
            const auto outputs = client.sourceOutputs();
            return outputs.size() == 1 && outputs[0].processId == recorder.pid();
        }));
    }
    EXPECT_TRUE(eventually([&] { return outputEvents >= 2; }));

    AudioRecordHandlers handlers;
    handlers.failed = [&](const std::string&) { ++failures; };
    AudioRecordRequest request;
    request.streamName = "test";
    auto stream = client.openRecordStream(request, std::move(handlers));
    server.stop();
    EXPECT_TRUE(eventually([&] { return disconnects == 1 && failures == 1; }));
    EXPECT_FALSE(client.isConnected());
    EXPECT_THROW(client.serverInfo(), AudioServerError);
    stream.reset();

    server.start();
    client.connect();
    EXPECT_EQ(client.serverInfo().defaultSinkName, "speaker");
}

TEST(PulseClientServiceTest, MissingOrSilentServerFailsWithinTheTimeout) {
    velnote::testing::TempDir dir;
    {
        velnote::testing::ScopedEnv nowhere("PULSE_SERVER", "unix:" + (dir / "none").string());
        PulseClient client;
        try {
            client.connect();
            FAIL() << "connected to nothing";
        } catch (const AudioServerError& e) {
            EXPECT_NE(e.code(), 0);
        }
        EXPECT_THROW(client.sources(), AudioServerError);
    }

    // A socket that accepts and then says nothing.
    const std::string path = (dir / "silent").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    velnote::testing::ScopedEnv silent("PULSE_SERVER", "unix:" + path);
    PulseClient client(PulseClient::Options{.clientName = "test", .timeout = 300ms});
    const auto started = std::chrono::steady_clock::now();
    try {
        client.connect();
        FAIL() << "connected to a silent server";
    } catch (const AudioServerError& e) {
        EXPECT_EQ(e.code(), AudioServerError::kTimeout);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    ::close(listener);
}

} // namespace
} // namespace velnote::platform
