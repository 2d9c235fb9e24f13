#include "platform/http/HttpClient.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/http/HttpError.h"
#include "platform/http/HttpUrl.h"
#include "support/LoopbackServer.h"

#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;
using testing::CannedReply;
using testing::LoopbackServer;

HttpClient::Options loopbackOptions() {
    HttpClient::Options options;
    options.connectTo = {"api.example.test::127.0.0.1:"};
    return options;
}

HttpRequest get(std::string url) {
    HttpRequest request;
    request.url = std::move(url);
    return request;
}

HttpRequest withHeader(std::string url, std::string name, std::string value) {
    HttpRequest request = get(std::move(url));
    request.headers.emplace_back(std::move(name), std::move(value));
    return request;
}

HttpError::Code codeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const HttpError& e) {
        return e.code();
    }
    ADD_FAILURE() << "no HttpError";
    return HttpError::Code::unknown;
}

TEST(HttpUrlTest, AcceptsOnlyAbsoluteHttpUrls) {
    const auto url = parseHttpUrl("http://api.example.test:8080/v1//chat?key=a");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host, "api.example.test");
    EXPECT_EQ(url->scheme, "http");
    EXPECT_EQ(url->text, "http://api.example.test:8080/v1//chat?key=a");
    for (const std::string& bad : std::vector<std::string>{
             "", "api.example.test/v1", "ftp://host/x", "file:///etc/passwd", "http://", "http://host:12ab/x",
             "http://host/a b", std::string("http://host/\0x", 14), "http://host/x\r\nHost: evil"})
        EXPECT_FALSE(parseHttpUrl(bad)) << bad;
}

TEST(HttpClientTest, SendsMethodPathHeadersAndBodyAndReturnsAnyStatus) {
    LoopbackServer server;
    server.reply(CannedReply::with(418, std::string("\xff\x00tea", 5)));
    HttpClient client(loopbackOptions());

    HttpRequest request = get(server.url("api.example.test") + "/v1/chat?x=1");
    request.method = "POST";
    request.body = "{}";
    request.setHeader("Content-Type", "application/json");
    request.setHeader("X-Key", "first");
    request.setHeader("x-key", "second"); // replaces the first, whatever its letter case
    const HttpResponse response = client.send(request);

    EXPECT_EQ(response.status, 418);
    EXPECT_EQ(response.body, std::string("\xff\x00tea", 5));
    const auto seen = server.requests().at(0);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target, "/v1/chat?x=1");
    EXPECT_EQ(seen.body, "{}");
    EXPECT_EQ(seen.header("Content-Type"), "application/json");
    EXPECT_EQ(seen.headers.count("X-Key"), 1u);
    EXPECT_EQ(seen.header("X-Key"), "second");
    EXPECT_EQ(seen.header("Host"), "api.example.test:" + std::to_string(server.port()));
}

TEST(HttpClientTest, ReusesOneConnectionForSuccessiveRequests) {
    LoopbackServer server;
    server.reply(CannedReply::ok("ok"));
    HttpClient client;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(client.send(get(server.url() + "/a")).body, "ok");
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].remotePort, seen[2].remotePort);
}

TEST(HttpClientTest, ServesManyThreadsAtOnce) {
    LoopbackServer server;
    server.setHandler([](const testing::RecordedRequest& r) { return CannedReply::ok(r.path); });
    HttpClient client;
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < 8; ++i) {
        replies.push_back(std::async(std::launch::async, [&, i] {
            return client.send(get(server.url() + "/n" + std::to_string(i))).body;
        }));
    }
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(replies[i].get(), "/n" + std::to_string(i));
}

TEST(HttpClientTest, RefusesWhatItCannotSendWithoutContactingTheServer) {
    LoopbackServer server;
    HttpClient client;
    EXPECT_EQ(codeOf([&] { client.send(get("http://host:port/x")); }), HttpError::Code::badURL);
    EXPECT_EQ(codeOf([&] { client.send(get("file:///etc/passwd")); }), HttpError::Code::badURL);
    EXPECT_EQ(
        codeOf([&] { client.send(withHeader(server.url(), "Authorization", "Bearer a\r\nX-Evil: 1")); }),
        HttpError::Code::invalidRequest);
    EXPECT_EQ(codeOf([&] { client.send(withHeader(server.url(), "X-Nul", std::string("a\0b", 3))); }),
              HttpError::Code::invalidRequest);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(HttpClientTest, TellsTransportFailuresApart) {
    HttpClient::Options options;
    options.maxResponseBytes = 1000;
    HttpClient client(options);
    // A port that was just free: nothing listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    const int freePort = ntohs(address.sin_port);
    ::close(probe);
    EXPECT_EQ(codeOf([&] { client.send(get("http://127.0.0.1:" + std::to_string(freePort) + "/")); }),
              HttpError::Code::cannotConnectToHost);

    LoopbackServer server;
    server.reply(CannedReply::ok(std::string(5000, 'x')));
    EXPECT_EQ(codeOf([&] { client.send(get(server.url())); }), HttpError::Code::dataLengthExceedsMaximum);
}

TEST(HttpClientTest, AStalledServerTimesOutAfterTheIdleLimit) {
    LoopbackServer server;
    server.reply(CannedReply::stalled());
    HttpClient client;
    HttpRequest stalledGet = get(server.url());
    stalledGet.idleTimeout = 300ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(codeOf([&] { client.send(stalledGet); }), HttpError::Code::timedOut);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 5s);
}

TEST(HttpClientTest, AStopEndsTheRequestAtOnce) {
    LoopbackServer server;
    server.reply(CannedReply::stalled());
    HttpClient client;
    std::stop_source stop;
    auto call =
        std::async(std::launch::async, [&] { return client.send(get(server.url()), stop.get_token()); });
    while (server.requestCount() == 0)
        std::this_thread::sleep_for(5ms);
    const auto start = std::chrono::steady_clock::now();
    stop.request_stop();
    EXPECT_THROW(call.get(), CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(HttpClientTest, ABodySinkTakesTheWholeBodyBeyondTheSizeLimit) {
    HttpClient::Options options;
    options.maxResponseBytes = 1000;
    HttpClient client(options);
    LoopbackServer server;
    const std::string body(300000, 'm');
    server.reply(CannedReply::ok(body));
    std::string received;
    const HttpResponse response =
        client.send(get(server.url()), [&](std::string_view piece) { received.append(piece); });
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(received, body);

    // Only a 2xx body goes to the sink; another keeps its beginning and ends there, however long.
    server.reply(CannedReply::repeating(503, "busy "));
    received.clear();
    const HttpResponse refusal =
        client.send(get(server.url()), [&](std::string_view piece) { received.append(piece); });
    EXPECT_EQ(refusal.status, 503);
    EXPECT_EQ(refusal.body.size(), 1000u);
    EXPECT_TRUE(refusal.body.starts_with("busy busy "));
    EXPECT_EQ(received, "");

    server.reply(CannedReply::ok(body));
    struct DiskFull : std::runtime_error {
        DiskFull() : std::runtime_error("disk full") {}
    };
    EXPECT_THROW(client.send(get(server.url()), [](std::string_view) { throw DiskFull(); }), DiskFull);
}

TEST(HttpClientTest, RedirectsAreFollowedOnlyWhenAsked) {
    LoopbackServer server;
    server.setHandler([](const testing::RecordedRequest& request) {
        if (request.path == "/there")
            return CannedReply::ok("arrived");
        CannedReply moved = CannedReply::with(302, "moved");
        moved.headers = {{"Location", "/there"}};
        return moved;
    });
    HttpClient client;
    EXPECT_EQ(client.send(get(server.url() + "/here")).status, 302);
    HttpRequest following = get(server.url() + "/here");
    following.followRedirects = true;
    const HttpResponse response = client.send(following);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "arrived");

    // Never onto another scheme, however the server asks.
    server.setHandler([](const testing::RecordedRequest&) {
        CannedReply moved = CannedReply::with(302, "");
        moved.headers = {{"Location", "file:///etc/passwd"}};
        return moved;
    });
    EXPECT_THROW(client.send(following), HttpError);
}

} // namespace
} // namespace velnote::platform
