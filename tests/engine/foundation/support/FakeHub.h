#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Response;
} // namespace httplib

namespace basalith::testing {

// A model hub on 127.0.0.1 serving repositories from memory, counting every request.
//   GET /api/models/<owner>/<name>/revision/<rev>  -> {"siblings":[{"rfilename":..., "size":...}]}
//   GET /<owner>/<name>/resolve/<rev>/<path>       -> the file with its ETag; "Range: bytes=<n>-"
//       answered with 206, or with the whole file (200) when an If-Range no longer matches.
// Faults make the next answer for a file misbehave the way real servers and networks do.
class FakeHub {
  public:
    FakeHub();
    ~FakeHub();
    FakeHub(const FakeHub&) = delete;
    FakeHub& operator=(const FakeHub&) = delete;

    std::string endpoint() const;

    // Adds or replaces a file; every version gets a new ETag.
    void addFile(const std::string& repo, const std::string& path, std::string content);
    std::string etag(const std::string& repo, const std::string& path) const;
    // Listing entries served in place of the real file names of `repo` (to serve hostile names).
    void overrideListing(const std::string& repo, std::vector<std::string> names);
    // The whole listing answer for `repo`, served as it stands.
    void overrideListingBody(const std::string& repo, std::string body);
    // The size the listing gives for `path` (a lie when it differs from the content).
    void overrideListedSize(const std::string& repo, const std::string& path, std::uint64_t size);
    // Whether listings give file sizes (they do by default).
    void setListingSizes(bool included);
    // Listing requests are sent through `hops` redirects first.
    void redirectListing(int hops);

    // The next download of `path` sends `bytes` bytes and then drops the connection.
    void dropAfter(const std::string& path, std::size_t bytes);
    // The next download of `path` sends its headers and then nothing, until the hub goes away.
    void stallNext(const std::string& path);
    // The next download of `path` comes without a length or chunking and ends, connection closed,
    // after `bytes` bytes.
    void sendWithoutLength(const std::string& path, std::size_t bytes);
    // The next download of `path` is chunked and repeats the file without end, until the client
    // hangs up or the hub goes away.
    void sendEndlessly(const std::string& path);
    // The next range request for `path` is answered with a 206 of only `bytes` bytes.
    void answerShortRange(const std::string& path, std::size_t bytes);
    // The next download of `path` waits before its answer until a second request for `path`
    // arrives, or `patience` passes.
    void holdForSecondRequest(const std::string& path, std::chrono::milliseconds patience);

    // Blocks until `count` answers in all have been stalled by stallNext().
    void waitUntilStalled(int count = 1);

    int requestCount() const;
    // Request targets in arrival order, e.g. "/api/models/o/r/revision/main".
    std::vector<std::string> requests() const;
    // How many requests asked for `path` of any repository.
    int requestsFor(const std::string& path) const;
    // The Range and If-Range headers of the last request for `path`, when it had them.
    std::optional<std::string> lastRange(const std::string& path) const;
    std::optional<std::string> lastIfRange(const std::string& path) const;
    std::optional<std::string> lastAuthorization() const;

  private:
    struct File {
        std::string content;
        std::string etag;
    };
    struct Repo {
        std::map<std::string, File> files; // by path, in path order
        std::optional<std::vector<std::string>> listing;
        std::optional<std::string> listingBody;
        std::map<std::string, std::uint64_t> listedSizes;
    };
    enum class FaultKind { dropAfter, stall, withoutLength, shortRange, holdForSecond, endless };
    struct Fault {
        FaultKind kind;
        std::size_t bytes = 0;
        std::chrono::milliseconds patience{};
    };

    void serveListing(const std::string& repo, httplib::Response& res);
    void addFault(const std::string& path, Fault fault);
    void stall();

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_; // a request arrived, an answer stalled, or the hub is closing
    std::map<std::string, Repo> repos_;
    std::map<std::string, std::deque<Fault>> faults_;
    std::vector<std::string> requests_;
    std::map<std::string, int> requestsFor_;
    std::map<std::string, std::string> lastRange_;
    std::map<std::string, std::string> lastIfRange_;
    std::optional<std::string> lastAuthorization_;
    bool listingSizes_ = true;
    int listingHops_ = 0;
    int nextEtag_ = 1;
    int stalled_ = 0;
    bool closing_ = false;
};

} // namespace basalith::testing
