#pragma once

#include <string>
#include <string_view>

namespace velnote::platform {

// Where one secret lives: at most one item per service and account.
struct SecretKey {
    std::string service; // e.g. the application's bundle identifier
    std::string account; // e.g. "openAIAPIKey"
};

// Why an operation failed, for logs and error payloads.
struct SecretFailure {
    int status = 0;      // the back-end's error code; 0 when it gave none
    std::string message; // the back-end's description; never holds the secret
};

enum class SecretReadStatus {
    found,
    notFound,   // no item: the secret was never stored or was deleted
    unreadable, // an item may exist but could not be read (no keyring, locked, not UTF-8)
};

struct SecretRead {
    SecretReadStatus status = SecretReadStatus::notFound;
    std::string value{};     // the secret when found, else ""
    SecretFailure failure{}; // set when unreadable
};

enum class SecretWriteStatus {
    done,
    duplicate, // add only: an item already exists; update it instead
    notFound,  // update only: there is no item to update
    failed,
};

struct SecretWrite {
    SecretWriteStatus status = SecretWriteStatus::done;
    SecretFailure failure; // set when failed
};

enum class SecretDeleteStatus { deleted, notFound, failed };

struct SecretDelete {
    SecretDeleteStatus status = SecretDeleteStatus::deleted;
    SecretFailure failure; // set when failed
};

// A store of generic passwords: UTF-8 strings under a service and an account.
// Implementations are safe to call from any thread.
class SecretStore {
  public:
    virtual ~SecretStore() = default;

    // Creates the item; reports `duplicate` and changes nothing when one exists.
    virtual SecretWrite add(const SecretKey& key, std::string_view value) = 0;
    // Replaces the value of the existing item; `notFound` when there is none.
    virtual SecretWrite update(const SecretKey& key, std::string_view value) = 0;
    virtual SecretRead read(const SecretKey& key) = 0;
    virtual SecretDelete remove(const SecretKey& key) = 0;
};

} // namespace velnote::platform
