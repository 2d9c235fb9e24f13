#include "platform/notifications/FileManagerReveal.h"

#include "platform/dbus/BusConnection.h"
#include "platform/fs/FileUrl.h"
#include "platform/logging/Logger.h"

#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>

extern char** environ;

namespace velnote::platform {
namespace {

const Logger& logger() {
    static const Logger log("io.hushtape.velnote", "platform");
    return log;
}

bool showItems(const std::vector<std::filesystem::path>& items) {
    try {
        BusConnection connection(BusConnection::Kind::session);
        int result = 0;
        connection.withBus([&](sd_bus* bus) {
            sd_bus_message* raw = nullptr;
            result = sd_bus_message_new_method_call(bus, &raw, "org.freedesktop.FileManager1",
                                                    "/org/freedesktop/FileManager1",
                                                    "org.freedesktop.FileManager1", "ShowItems");
            std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)> call(raw, &sd_bus_message_unref);
            if (result < 0)
                return;
            result = sd_bus_message_open_container(call.get(), 'a', "s");
            for (const auto& item : items) {
                if (result >= 0)
                    result = sd_bus_message_append(call.get(), "s", FileManagerReveal::fileUri(item).c_str());
            }
            if (result >= 0)
                result = sd_bus_message_close_container(call.get());
            if (result >= 0)
                result = sd_bus_message_append(call.get(), "s", "");
            if (result < 0)
                return;
            sd_bus_error error = SD_BUS_ERROR_NULL;
            sd_bus_message* reply = nullptr;
            result = sd_bus_call(bus, call.get(), 5'000'000, &error, &reply);
            sd_bus_message_unref(reply);
            sd_bus_error_free(&error);
        });
        return result >= 0;
    } catch (const std::system_error&) {
        return false;
    }
}

bool openWithXdgOpen(const std::filesystem::path& item) {
    const std::string target = item.string();
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach(); // reap it whenever it ends
    return true;
}

} // namespace

bool FileManagerReveal::revealItems(const std::vector<std::filesystem::path>& items) {
    if (items.empty())
        return false;
    if (showItems(items))
        return true;
    const auto& first = items.front();
    std::error_code error; // unreadable: treated as a file, so its folder is shown
    const auto folder =
        items.size() == 1 && std::filesystem::is_directory(first, error) ? first : first.parent_path();
    if (openWithXdgOpen(folder))
        return true;
    logger().error("cannot show {} in a file manager", first.string());
    return false;
}

bool FileManagerReveal::openWithDefaultApplication(const std::filesystem::path& item) {
    if (openWithXdgOpen(item))
        return true;
    logger().error("cannot open {} with its default application", item.string());
    return false;
}

std::string FileManagerReveal::fileUri(const std::filesystem::path& path) {
    return fileUrl(path);
}

} // namespace velnote::platform
