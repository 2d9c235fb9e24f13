#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velnote::testing {

struct RecordedRequest {
    std::string method;
    std::string target; // path and query as sent, e.g. "/v1beta/models?key=k"
    std::string path;   // without the query
    std::string body;
    httplib::Headers headers; // names compare without regard to case
    int remotePort = -1;      // the client's port: equal for requests over one connection

    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

struct CannedReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers; // e.g. {"Location", "/elsewhere"}
    // The reply waits until the server is released or destroyed (a server that stalls).
    bool stall = false;
    // The body, chunked, repeats without end until the client hangs up or the server goes.
    bool endless = false;

    static CannedReply with(int status, std::string body) {
        CannedReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static CannedReply ok(std::string body) { return with(200, std::move(body)); }
    static CannedReply stalled() {
        CannedReply reply;
        reply.stall = true;
        return reply;
    }
    static CannedReply repeating(int status, std::string body) {
        CannedReply reply = with(status, std::move(body));
        reply.endless = true;
        return reply;
    }
};

// An HTTP server on 127.0.0.1 (any free port) that records every request and answers with what
// the test's handler returns; 404 with an empty body until a handler is set.
class LoopbackServer {
  public:
    using Handler = std::function<CannedReply(const RecordedRequest&)>;

    LoopbackServer() {
        const auto route = [this](const httplib::Request& req, httplib::Response& res) {
            serve(req, res, req.body);
        };
        // Bodies are read raw, so a multipart upload is recorded byte for byte rather than parsed.
        const auto rawRoute = [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            std::string body;
            reader([&body](const char* data, std::size_t length) {
                body.append(data, length);
                return true;
            });
            serve(req, res, body);
        };
        // This cpp-httplib parses a multipart body whatever handler is installed (and fails without a
        // part handler), so the content type is hidden from it until the handler records the request.
        server_.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
            auto& request = const_cast<httplib::Request&>(req); // the server's own, non-const request
            const auto type = request.headers.find("Content-Type");
            if (type != request.headers.end() && type->second.starts_with("multipart/")) {
                request.headers.emplace(kHiddenContentType, type->second);
                request.headers.erase(type);
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        for (const char* pattern : {"/(.*)"}) {
            server_.Get(pattern, route);
            server_.Post(pattern, rawRoute);
            server_.Put(pattern, route);
            server_.Delete(pattern, route);
        }
        server_.set_tcp_nodelay(true); // else small replies wait for the client's delayed ACK
        // stop() waits for idle keep-alive connections of clients that outlive the server.
        server_.set_keep_alive_timeout(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() does nothing before the server runs, and the join would then wait for ever.
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        stopping_ = true;
        release();
        server_.stop();
        thread_.join();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://<host>:<port>", e.g. url("openrouter.test") for a client that maps that name here.
    std::string url(const std::string& host = "127.0.0.1") const {
        return "http://" + host + ":" + std::to_string(port_);
    }

    void setHandler(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }
    // Every request gets `reply`.
    void reply(CannedReply reply) {
        setHandler([reply](const RecordedRequest&) { return reply; });
    }
    // Lets stalled replies go (with an empty 503).
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const {
        std::lock_guard lock(mutex_);
        return requests_.size();
    }
    // The greatest number of requests that were being answered at one time.
    int peakConcurrency() const {
        std::lock_guard lock(mutex_);
        return peak_;
    }

  private:
    void serve(const httplib::Request& req, httplib::Response& res, const std::string& body) {
        RecordedRequest recorded;
        recorded.method = req.method;
        recorded.target = req.target;
        recorded.path = req.path;
        recorded.body = body;
        recorded.headers = req.headers;
        if (const auto hidden = recorded.headers.find(kHiddenContentType); hidden != recorded.headers.end()) {
            recorded.headers.emplace("Content-Type", hidden->second);
            recorded.headers.erase(hidden);
        }
        recorded.remotePort = req.remote_port;
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(recorded);
            handler = handler_;
            peak_ = std::max(peak_, ++inFlight_);
        }
        CannedReply reply = handler ? handler(recorded) : CannedReply::with(404, "");
        if (reply.stall) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return released_; });
            reply = CannedReply::with(503, "");
        }
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            res.set_header(name, value);
        if (reply.endless) {
            res.set_chunked_content_provider(reply.contentType,
                                             [this, body = reply.body](std::size_t, httplib::DataSink& sink) {
                                                 return !stopping_ && sink.write(body.data(), body.size());
                                             });
        } else {
            res.set_content(reply.body, reply.contentType.c_str());
        }
        std::lock_guard lock(mutex_);
        --inFlight_;
    }

    static constexpr const char* kHiddenContentType = "X-Loopback-Multipart-Type";

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Handler handler_;
    std::vector<RecordedRequest> requests_;
    bool released_ = false;
    std::atomic<bool> stopping_{false}; // endless replies end
    int inFlight_ = 0;
    int peak_ = 0;
};

} // namespace velnote::testing
