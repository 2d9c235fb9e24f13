#pragma once

// A collection of its own in the keyring daemon that scripts/test-services starts, which a test
// locks and unlocks as the user's desktop would, without touching the default collection that
// other tests use at the same time. Unlocking goes through the daemon's own password call, since
// nothing here can answer a prompt. The collection is deleted with everything in it at the end.

#include <cstdio>
#include <cstdlib>
#include <gio/gio.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velnote::testing {

class TestKeyring {
  public:
    // Creates the collection, unlocked. Throws std::runtime_error without a keyring daemon.
    TestKeyring() {
        GError* error = nullptr;
        bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
        check(error, "connect to the session bus");
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Collection.Label",
                              g_variant_new_string("velnote test"));
        Variant created(call(kInternal, "CreateWithMasterPassword",
                             g_variant_new("(a{sv}@(oayays))", &properties, password()), "(o)"));
        const gchar* path = nullptr;
        g_variant_get(created.get(), "(&o)", &path);
        collection_ = path;
    }
    ~TestKeyring() {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus_.get(), kBusName, collection_.c_str(), "org.freedesktop.Secret.Collection", "Delete", nullptr,
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        if (reply != nullptr)
            g_variant_unref(reply);
        if (error != nullptr)
            g_error_free(error);
    }
    TestKeyring(const TestKeyring&) = delete;
    TestKeyring& operator=(const TestKeyring&) = delete;

    // The D-Bus object path, for "secret-tool store --collection=...".
    const std::string& collection() const { return collection_; }

    // Stores `value` under the generic schema's "service" and "account" in this collection.
    void store(const std::string& service, const std::string& account, const std::string& value) const {
        const std::string command = "printf %s '" + value +
                                    "' | secret-tool store --label=test --collection=" + collection_ +
                                    " service '" + service + "' account '" + account + "'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("cannot store a test item");
    }

    // The values of every item under `service` and `account` in unlocked collections, so that a
    // second item stored beside the first shows.
    static std::vector<std::string> values(const std::string& service, const std::string& account) {
        const std::string command =
            "secret-tool search --all service '" + service + "' account '" + account + "' 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> output(::popen(command.c_str(), "r"), ::pclose);
        std::vector<std::string> found;
        char line[512];
        while (output && std::fgets(line, sizeof line, output.get()) != nullptr) {
            std::string text(line);
            if (text.rfind("secret = ", 0) == 0)
                found.push_back(text.substr(9, text.find_last_not_of('\n') - 8));
        }
        return found;
    }

    void lock() {
        const gchar* objects[] = {collection_.c_str(), nullptr};
        Variant(call(kService, "Lock", g_variant_new("(^ao)", objects), "(aoo)"));
    }

    void unlock() {
        Variant(call(kInternal, "UnlockWithMasterPassword",
                     g_variant_new("(o@(oayays))", collection_.c_str(), password()), "()"));
    }

  private:
    static constexpr const char* kBusName = "org.freedesktop.secrets";
    static constexpr const char* kService = "org.freedesktop.Secret.Service";
    static constexpr const char* kInternal = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface";
    static constexpr std::string_view kPassword = "velnote-test";

    struct Unref {
        void operator()(GDBusConnection* bus) const { g_object_unref(bus); }
        void operator()(GVariant* value) const { g_variant_unref(value); }
    };
    using Variant = std::unique_ptr<GVariant, Unref>;

    static void check(GError* error, const std::string& what) {
        if (error == nullptr)
            return;
        const std::string message = what + ": " + error->message;
        g_error_free(error);
        throw std::runtime_error(message);
    }

    GVariant* call(const char* interface, const char* method, GVariant* arguments, const char* replyType) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus_.get(), kBusName, "/org/freedesktop/secrets",
                                                      interface, method, arguments, G_VARIANT_TYPE(replyType),
                                                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        check(error, std::string("call ") + method);
        return reply;
    }

    // The password as a secret of a "plain" session opened on this connection: it travels as it is,
    // on the private test bus.
    GVariant* password() {
        Variant opened(
            call(kService, "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)"));
        GVariant* output = nullptr;
        const gchar* session = nullptr;
        g_variant_get(opened.get(), "(v&o)", &output, &session);
        const Variant unused(output);
        return g_variant_new(
            "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, kPassword.data(), kPassword.size(), 1),
            "text/plain");
    }

    std::unique_ptr<GDBusConnection, Unref> bus_;
    std::string collection_;
};

} // namespace velnote::testing
