#include "platform/keychain/SecretServiceStore.h"

// The object-path calls (searching without making item proxies) sit behind this acknowledgement.
#define SECRET_API_SUBJECT_TO_CHANGE
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
struct ObjectUnref {
    void operator()(SecretService* service) const { g_object_unref(service); }
};
struct TableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct StrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;
using TablePtr = std::unique_ptr<GHashTable, TableUnref>;
using StrvPtr = std::unique_ptr<gchar*, StrvFree>;

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

bool holdsAny(const StrvPtr& paths) {
    return paths && paths.get()[0] != nullptr;
}

// Whether an item for `key` exists at all, readable or not; std::nullopt with `failure` set when
// the keyring could not be asked. Object paths only: searching for items makes item proxies,
// whose set-up leaks a few bytes inside GIO on every call.
std::optional<bool> anyItemExists(const SecretKey& key, SecretFailure& failure) {
    GError* raw = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
    ErrorPtr error(raw);
    if (error) {
        failure = failureOf(error.get());
        return std::nullopt;
    }
    TablePtr attributes(secret_attributes_build(&schema(), "service", key.service.c_str(), "account",
                                                key.account.c_str(), nullptr));
    gchar** unlocked = nullptr;
    gchar** locked = nullptr;
    secret_service_search_for_dbus_paths_sync(service.get(), &schema(), attributes.get(), nullptr, &unlocked,
                                              &locked, &raw);
    const StrvPtr unlockedPaths(unlocked);
    const StrvPtr lockedPaths(locked);
    error.reset(raw);
    if (error) {
        failure = failureOf(error.get());
        return std::nullopt;
    }
    return holdsAny(unlockedPaths) || holdsAny(lockedPaths);
}

enum class Lookup { found, absent, failed };

// The item's value. A lookup passes over an item in a locked collection without an error (once
// the unlock prompt it raises goes unanswered), as if there were none: such an item is reported
// as `failed`, so that no caller takes a locked key for a missing one and overwrites it.
Lookup lookup(const SecretKey& key, ValuePtr& secret, SecretFailure& failure) {
    GError* raw = nullptr;
    secret.reset(secret_password_lookup_binary_sync(&schema(), nullptr, &raw, "service", key.service.c_str(),
                                                    "account", key.account.c_str(), nullptr));
    ErrorPtr error(raw);
    if (error) {
        failure = failureOf(error.get());
        return Lookup::failed;
    }
    if (secret)
        return Lookup::found;
    const auto hidden = anyItemExists(key, failure);
    if (!hidden)
        return Lookup::failed;
    if (*hidden) {
        failure = {0, "the item is in a locked collection"};
        return Lookup::failed;
    }
    return Lookup::absent;
}

// true / false for present / absent; std::nullopt with `failure` set when the
// keyring could not be asked or the item is locked.
std::optional<bool> exists(const SecretKey& key, SecretFailure& failure) {
    ValuePtr secret;
    switch (lookup(key, secret, failure)) {
    case Lookup::found:
        return true;
    case Lookup::absent:
        return false;
    case Lookup::failed:
        break;
    }
    return std::nullopt;
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
    ValuePtr secret;
    SecretFailure failure;
    switch (lookup(key, secret, failure)) {
    case Lookup::failed:
        return {SecretReadStatus::unreadable, "", failure};
    case Lookup::absent:
        return {SecretReadStatus::notFound, "", {}};
    case Lookup::found:
        break;
    }
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
