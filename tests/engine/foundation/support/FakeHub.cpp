#include "support/FakeHub.h"

#include <chrono>
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
    server_->Get(R"(/api/models/([^/]+/[^/]+)/revision/([^/]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     std::lock_guard lock(mutex_);
                     requests_.push_back(req.path);
                     auto repo = repos_.find(req.matches[1]);
                     if (repo == repos_.end()) {
                         res.status = 404;
                         return;
                     }
                     nlohmann::json siblings = nlohmann::json::array();
                     if (repo->second.listing) {
                         for (const auto& name : *repo->second.listing)
                             siblings.push_back({{"rfilename", name}});
                     } else {
                         for (const auto& [path, content] : repo->second.files)
                             siblings.push_back({{"rfilename", path}});
                     }
                     res.set_content(nlohmann::json{{"siblings", siblings}}.dump(), "application/json");
                 });
    server_->Get(R"(/([^/]+/[^/]+)/resolve/([^/]+)/(.+))", [this](const httplib::Request& req,
                                                                  httplib::Response& res) {
        std::lock_guard lock(mutex_);
        requests_.push_back(req.path);
        const std::string path = req.matches[3];
        if (req.has_header("Range"))
            lastRange_[path] = req.get_header_value("Range");
        auto repo = repos_.find(req.matches[1]);
        auto file =
            repo == repos_.end() ? decltype(repo->second.files.end()){} : repo->second.files.find(path);
        if (repo == repos_.end() || file == repo->second.files.end()) {
            res.status = 404;
            return;
        }
        std::optional<std::size_t> limit;
        if (auto drop = dropAfter_.find(path); drop != dropAfter_.end()) {
            limit = drop->second;
            dropAfter_.erase(drop);
        }
        auto content = std::make_shared<std::string>(file->second);
        if (!req.ranges.empty() && req.ranges[0].first >= static_cast<ssize_t>(content->size())) {
            res.status = 416; // as real servers answer a range past the end
            return;
        }
        res.set_content_provider(
            content->size(), "application/octet-stream",
            [content, limit](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
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
    server_->stop();
    thread_.join();
}

std::string FakeHub::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void FakeHub::addFile(const std::string& repo, const std::string& path, std::string content) {
    std::lock_guard lock(mutex_);
    repos_[repo].files[path] = std::move(content);
}

void FakeHub::overrideListing(const std::string& repo, std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    repos_[repo].listing = std::move(names);
}

void FakeHub::dropAfter(const std::string& path, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    dropAfter_[path] = bytes;
}

int FakeHub::requestCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_.size());
}

std::vector<std::string> FakeHub::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<std::string> FakeHub::lastRange(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto found = lastRange_.find(path);
    if (found == lastRange_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> FakeHub::lastAuthorization() const {
    std::lock_guard lock(mutex_);
    return lastAuthorization_;
}

} // namespace basalith::testing
