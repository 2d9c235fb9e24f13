#include "platform/keychain/SecretServiceStore.h"

#include <libsecret/secret.h>
#include <optional>
#include <string>

namespace velnote::platform {
namespace {

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

const SecretSchema& schema() {
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME; // also items other clients stored for us
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return value;
}

SecretFailure failureOf(const GError* error) {
    if (error == nullptr)
        return {};
    return {error->code, std::string(g_quark_to_string(error->domain)) + ": " + error->message};
}

// true / false for present / absent; std::nullopt with `failure` set when the
// keyring could not be asked. A lookup rather than a search: searching makes
// item proxies, whose set-up leaks a few bytes inside GIO on every call.
std::optional<bool> exists(const SecretKey& key, SecretFailure& failure) {
    GError* raw = nullptr;
    ValuePtr secret(secret_password_lookup_binary_sync(
        &schema(), nullptr, &raw, "service", key.service.c_str(), "account", key.account.c_str(), nullptr));
    ErrorPtr error(raw);
    if (error) {
        failure = failureOf(error.get());
        return std::nullopt;
    }
    return secret != nullptr;
}

// Creates the item or, when the daemon already holds one with these
// attributes in the default collection, replaces its value.
SecretWrite store(const SecretKey& key, std::string_view value) {
    ValuePtr secret(secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
    const std::string label = key.service + ": " + key.account;
    GError* raw = nullptr;
    secret_password_store_binary_sync(&schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret.get(),
                                      nullptr, &raw, "service", key.service.c_str(), "account",
                                      key.account.c_str(), nullptr);
    ErrorPtr error(raw);
    if (error)
        return {SecretWriteStatus::failed, failureOf(error.get())};
    return {SecretWriteStatus::done, {}};
}

} // namespace

const std::shared_ptr<SecretServiceStore>& SecretServiceStore::shared() {
    static const auto instance = std::make_shared<SecretServiceStore>();
    return instance;
}

SecretWrite SecretServiceStore::add(const SecretKey& key, std::string_view value) {
    std::lock_guard lock(writeMutex_);
    SecretFailure failure;
    const auto present = exists(key, failure);
    if (!present)
        return {SecretWriteStatus::failed, failure};
    if (*present)
        return {SecretWriteStatus::duplicate, {}};
    return store(key, value);
}

SecretWrite SecretServiceStore::update(const SecretKey& key, std::string_view value) {
    std::lock_guard lock(writeMutex_);
    SecretFailure failure;
    const auto present = exists(key, failure);
    if (!present)
        return {SecretWriteStatus::failed, failure};
    if (!*present)
        return {SecretWriteStatus::notFound, {}};
    return store(key, value);
}

SecretRead SecretServiceStore::read(const SecretKey& key) {
    GError* raw = nullptr;
    ValuePtr secret(secret_password_lookup_binary_sync(
        &schema(), nullptr, &raw, "service", key.service.c_str(), "account", key.account.c_str(), nullptr));
    ErrorPtr error(raw);
    if (error)
        return {SecretReadStatus::unreadable, "", failureOf(error.get())};
    if (!secret)
        return {SecretReadStatus::notFound, "", {}};
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret.get(), &length);
    if (length > 0 && !g_utf8_validate(bytes, static_cast<gssize>(length), nullptr)) {
        return {SecretReadStatus::unreadable, "", {0, "the stored value is not UTF-8 text"}};
    }
    return {SecretReadStatus::found, std::string(bytes, length), {}};
}

SecretDelete SecretServiceStore::remove(const SecretKey& key) {
    GError* raw = nullptr;
    const bool removed = secret_password_clear_sync(&schema(), nullptr, &raw, "service", key.service.c_str(),
                                                    "account", key.account.c_str(), nullptr);
    ErrorPtr error(raw);
    if (error)
        return {SecretDeleteStatus::failed, failureOf(error.get())};
    return {removed ? SecretDeleteStatus::deleted : SecretDeleteStatus::notFound, {}};
}

} // namespace velnote::platform
