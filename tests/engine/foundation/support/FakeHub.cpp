#include "support/FakeHub.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace basalith::testing {

FakeHub::FakeHub() : server_(std::make_unique<httplib::Server>()) {
    server_->set_logger([this](const httplib::Request& req, const httplib::Response&) {
        std::lock_guard lock(mutex_);
        if (req.has_header("Authorization"))
            lastAuthorization_ = req.get_header_value("Authorization");
    });
    server_->Get(R"(/hop/(\d+)/(.+))", [](const httplib::Request& req, httplib::Response& res) {
        const int left = std::stoi(req.matches[1]);
        const std::string rest = req.matches[2];
        res.set_redirect(left > 1 ? "/hop/" + std::to_string(left - 1) + "/" + rest
                                  : "/" + rest + "?hopped=1");
    });
    server_->Get(R"(/api/models/([^/]+/[^/]+)/revision/([^/]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     std::lock_guard lock(mutex_);
                     requests_.push_back(req.path);
                     if (listingHops_ > 0 && !req.has_param("hopped")) {
                         res.set_redirect("/hop/" + std::to_string(listingHops_) + req.path);
                         return;
                     }
                     serveListing(req.matches[1], res);
                 });
    server_->Get(R"(/([^/]+/[^/]+)/resolve/([^/]+)/(.+))", [this](const httplib::Request& req,
                                                                  httplib::Response& res) {
        std::unique_lock lock(mutex_);
        requests_.push_back(req.path);
        const std::string path = req.matches[3];
        ++requestsFor_[path];
        changed_.notify_all();
        if (req.has_header("Range"))
            lastRange_[path] = req.get_header_value("Range");
        if (req.has_header("If-Range"))
            lastIfRange_[path] = req.get_header_value("If-Range");
        auto repo = repos_.find(req.matches[1]);
        if (repo == repos_.end() || !repo->second.files.count(path)) {
            res.status = 404;
            return;
        }
        std::optional<Fault> fault;
        if (auto found = faults_.find(path); found != faults_.end() && !found->second.empty()) {
            fault = found->second.front();
            found->second.pop_front();
        }
        if (fault && fault->kind == FaultKind::holdForSecond) {
            changed_.wait_for(lock, fault->patience, [&] { return requestsFor_[path] >= 2 || closing_; });
        }
        const File file = repo->second.files.at(path);
        auto content = std::make_shared<std::string>(file.content);
        res.set_header("ETag", file.etag);

        const bool ranged = !req.ranges.empty();
        const bool sameFile = !req.has_header("If-Range") || req.get_header_value("If-Range") == file.etag;
        const auto from = ranged ? static_cast<std::size_t>(req.ranges[0].first) : 0;
        if (ranged && sameFile && from >= content->size()) {
            res.status = 416; // as real servers answer a range past the end
            return;
        }
        if (ranged && sameFile && fault && fault->kind == FaultKind::shortRange) {
            const std::size_t count = std::min(fault->bytes, content->size() - from);
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                std::to_string(from + count - 1) + "/" +
                                                std::to_string(content->size()));
            // Chunked, so that httplib leaves the range as given.
            res.set_chunked_content_provider("application/octet-stream",
                                             [content, from, count](std::size_t, httplib::DataSink& sink) {
                                                 sink.write(content->data() + from, count);
                                                 sink.done();
                                                 return true;
                                             });
            return;
        }
        if (ranged && !sameFile) {
            // The whole file, chunked: httplib would cut a body with a length down to the range.
            res.status = 200;
            res.set_chunked_content_provider("application/octet-stream",
                                             [content](std::size_t, httplib::DataSink& sink) {
                                                 sink.write(content->data(), content->size());
                                                 sink.done();
                                                 return true;
                                             });
            return;
        }
        if (fault && fault->kind == FaultKind::endless) {
            res.status = 200;
            res.set_chunked_content_provider("application/octet-stream",
                                             [this, content](std::size_t, httplib::DataSink& sink) {
                                                 {
                                                     std::lock_guard closing(mutex_);
                                                     if (closing_)
                                                         return false;
                                                 }
                                                 return sink.write(content->data(), content->size());
                                             });
            return;
        }
        if (fault && fault->kind == FaultKind::withoutLength) {
            res.status = 200;
            const std::size_t limit = std::min(fault->bytes, content->size());
            res.set_content_provider("application/octet-stream",
                                     [content, limit](std::size_t offset, httplib::DataSink& sink) {
                                         if (offset >= limit)
                                             return false; // closes the connection: the end of the body
                                         sink.write(content->data(), limit);
                                         return true;
                                     });
            return;
        }
        const bool stalls = fault && fault->kind == FaultKind::stall;
        const std::optional<std::size_t> limit =
            fault && fault->kind == FaultKind::dropAfter ? std::optional(fault->bytes) : std::nullopt;
        res.set_content_provider(
            content->size(), "application/octet-stream",
            [this, content, limit, stalls](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (stalls) {
                    stall();
                    return false;
                }
                if (limit && offset + length > *limit) {
                    if (*limit > offset)
                        sink.write(content->data() + offset, *limit - offset);
                    return false; // drops the connection mid-file
                }
                sink.write(content->data() + offset, length);
                return true;
            });
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("FakeHub: cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeHub::~FakeHub() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    server_->stop();
    thread_.join();
}

void FakeHub::serveListing(const std::string& repoName, httplib::Response& res) {
    auto repo = repos_.find(repoName);
    if (repo == repos_.end()) {
        res.status = 404;
        return;
    }
    if (repo->second.listingBody) {
        res.set_content(*repo->second.listingBody, "application/json");
        return;
    }
    nlohmann::json siblings = nlohmann::json::array();
    if (repo->second.listing) {
        for (const auto& name : *repo->second.listing)
            siblings.push_back({{"rfilename", name}});
    } else {
        for (const auto& [path, file] : repo->second.files) {
            nlohmann::json sibling{{"rfilename", path}};
            if (listingSizes_) {
                auto lie = repo->second.listedSizes.find(path);
                sibling["size"] = lie != repo->second.listedSizes.end() ? lie->second : file.content.size();
            }
            siblings.push_back(sibling);
        }
    }
    res.set_content(nlohmann::json{{"siblings", siblings}}.dump(), "application/json");
}

void FakeHub::stall() {
    std::unique_lock lock(mutex_);
    ++stalled_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return closing_; });
}

void FakeHub::waitUntilStalled(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stalled_ >= count; });
}

std::string FakeHub::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void FakeHub::addFile(const std::string& repo, const std::string& path, std::string content) {
    std::lock_guard lock(mutex_);
    repos_[repo].files[path] = File{std::move(content), "\"v" + std::to_string(nextEtag_++) + "\""};
}

std::string FakeHub::etag(const std::string& repo, const std::string& path) const {
    std::lock_guard lock(mutex_);
    return repos_.at(repo).files.at(path).etag;
}

void FakeHub::overrideListing(const std::string& repo, std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    repos_[repo].listing = std::move(names);
}

void FakeHub::overrideListingBody(const std::string& repo, std::string body) {
    std::lock_guard lock(mutex_);
    repos_[repo].listingBody = std::move(body);
}

void FakeHub::overrideListedSize(const std::string& repo, const std::string& path, std::uint64_t size) {
    std::lock_guard lock(mutex_);
    repos_[repo].listedSizes[path] = size;
}

void FakeHub::setListingSizes(bool included) {
    std::lock_guard lock(mutex_);
    listingSizes_ = included;
}

void FakeHub::redirectListing(int hops) {
    std::lock_guard lock(mutex_);
    listingHops_ = hops;
}

void FakeHub::addFault(const std::string& path, Fault fault) {
    faults_[path].push_back(fault);
}

void FakeHub::dropAfter(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::dropAfter, bytes});
}

void FakeHub::stallNext(const std::string& path) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::stall});
}

void FakeHub::sendWithoutLength(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::withoutLength, bytes});
}

void FakeHub::sendEndlessly(const std::string& path) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::endless});
}

void FakeHub::answerShortRange(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::shortRange, bytes});
}

void FakeHub::holdForSecondRequest(const std::string& path, std::chrono::milliseconds patience) {
    std::lock_guard lock(mutex_);
    addFault(path, Fault{FaultKind::holdForSecond, 0, patience});
}

int FakeHub::requestCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_.size());
}

std::vector<std::string> FakeHub::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int FakeHub::requestsFor(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto found = requestsFor_.find(path);
    return found == requestsFor_.end() ? 0 : found->second;
}

std::optional<std::string> FakeHub::lastRange(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto found = lastRange_.find(path);
    if (found == lastRange_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> FakeHub::lastIfRange(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto found = lastIfRange_.find(path);
    if (found == lastIfRange_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> FakeHub::lastAuthorization() const {
    std::lock_guard lock(mutex_);
    return lastAuthorization_;
}

} // namespace basalith::testing
