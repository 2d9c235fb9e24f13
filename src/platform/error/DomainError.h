#pragma once

#include <stdexcept>
#include <string>

namespace velnote::platform {

// A general error made of a domain, a numeric code and a localized
// description (what()), for failures that have no error type of their own:
// "SessionTranscriptionPipeline" 401 for a missing remote API key.
class DomainError : public std::runtime_error {
  public:
    DomainError(std::string domain, int code, const std::string& localizedDescription)
        : std::runtime_error(localizedDescription), domain_(std::move(domain)), code_(code) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

  private:
    std::string domain_;
    int code_;
};

} // namespace velnote::platform
