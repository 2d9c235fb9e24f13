#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace basalith::testing {

// A model hub on 127.0.0.1 serving repositories from memory, counting every request.
//   GET /api/models/<owner>/<name>/revision/<rev>  -> {"siblings":[{"rfilename":...}]}
//   GET /<owner>/<name>/resolve/<rev>/<path>       -> the file (Range requests answered with 206)
class FakeHub {
  public:
    FakeHub();
    ~FakeHub();
    FakeHub(const FakeHub&) = delete;
    FakeHub& operator=(const FakeHub&) = delete;

    std::string endpoint() const;

    void addFile(const std::string& repo, const std::string& path, std::string content);
    // Listing entries served in place of the real file names of `repo` (to serve hostile names).
    void overrideListing(const std::string& repo, std::vector<std::string> names);
    // The next download of `path` sends `bytes` bytes and then drops the connection.
    void dropAfter(const std::string& path, std::size_t bytes);

    int requestCount() const;
    // Request targets in arrival order, e.g. "/api/models/o/r/revision/main".
    std::vector<std::string> requests() const;
    // The Range header of the last request for `path`, when it had one.
    std::optional<std::string> lastRange(const std::string& path) const;
    std::optional<std::string> lastAuthorization() const;

  private:
    struct Repo {
        std::map<std::string, std::string> files; // path -> content, in path order
        std::optional<std::vector<std::string>> listing;
    };

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Repo> repos_;
    std::map<std::string, std::size_t> dropAfter_;
    std::vector<std::string> requests_;
    std::map<std::string, std::string> lastRange_;
    std::optional<std::string> lastAuthorization_;
};

} // namespace basalith::testing
