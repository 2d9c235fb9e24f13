#include "platform/desktop/X11Desktop.h"

#include "platform/fs/Files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace velnote::platform {

struct X11Desktop::Ewmh {
    xcb_ewmh_connection_t connection{};
    bool initialised = false;
    ~Ewmh() {
        if (initialised) {
            xcb_ewmh_connection_wipe(&connection);
        }
    }
};

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

std::unique_ptr<X11Desktop> X11Desktop::connect(const char* display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto ewmh = std::make_unique<Ewmh>();
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh->connection);
    if (!xcb_ewmh_init_atoms_replies(&ewmh->connection, cookies, nullptr)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    ewmh->initialised = true;
    const std::uint32_t root = ewmh->connection.screens[std::max(0, screenNumber)]->root;
    return std::unique_ptr<X11Desktop>(new X11Desktop(connection, std::move(ewmh), root));
}

X11Desktop::X11Desktop(xcb_connection_t* connection, std::unique_ptr<Ewmh> ewmh, std::uint32_t root)
    : connection_(connection), ewmh_(std::move(ewmh)), root_(root) {}

X11Desktop::~X11Desktop() {
    ewmh_.reset();
    xcb_disconnect(connection_);
}

std::optional<std::uint32_t> X11Desktop::activeWindow() {
    xcb_window_t window = 0;
    const int screen = 0;
    if (!xcb_ewmh_get_active_window_reply(
            &ewmh_->connection, xcb_ewmh_get_active_window(&ewmh_->connection, screen), &window, nullptr) ||
        window == 0) {
        return std::nullopt;
    }
    return window;
}

std::optional<std::int32_t> X11Desktop::windowPid(std::uint32_t window) {
    std::uint32_t pid = 0;
    if (!xcb_ewmh_get_wm_pid_reply(&ewmh_->connection, xcb_ewmh_get_wm_pid(&ewmh_->connection, window), &pid,
                                   nullptr) ||
        pid == 0 || pid > 0x7fffffffu) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(pid);
}

std::optional<std::string> X11Desktop::windowTitle(std::uint32_t window) {
    xcb_ewmh_get_utf8_strings_reply_t name{};
    if (xcb_ewmh_get_wm_name_reply(&ewmh_->connection, xcb_ewmh_get_wm_name(&ewmh_->connection, window),
                                   &name, nullptr)) {
        std::string title(name.strings, name.strings_len);
        xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        return title;
    }
    const auto cookie = xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 4096);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->type == XCB_NONE || reply->format != 8) {
        return std::nullopt;
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

std::optional<std::string> X11Desktop::windowClass(std::uint32_t window) {
    const auto cookie = xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 8) {
        return std::nullopt;
    }
    // "instance\0class\0"
    const std::string value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                            static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    const auto split = value.find('\0');
    if (split == std::string::npos) {
        return std::nullopt;
    }
    std::string cls = value.substr(split + 1);
    cls = cls.substr(0, cls.find('\0'));
    if (cls.empty()) {
        return std::nullopt;
    }
    return cls;
}

std::optional<DesktopRect> X11Desktop::windowFrame(std::uint32_t window) {
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    if (!geometry) {
        return std::nullopt;
    }
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr));
    if (!origin) {
        return std::nullopt;
    }
    return DesktopRect{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                       static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
}

std::vector<DesktopWindow> X11Desktop::windowsFrontToBack() {
    xcb_ewmh_get_windows_reply_t list{};
    if (!xcb_ewmh_get_client_list_stacking_reply(
            &ewmh_->connection, xcb_ewmh_get_client_list_stacking(&ewmh_->connection, 0), &list, nullptr)) {
        return {};
    }
    std::vector<xcb_window_t> ids(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
    std::vector<DesktopWindow> out;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        const auto frame = windowFrame(*it);
        if (!frame) {
            continue; // gone meanwhile
        }
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, *it), nullptr));
        out.push_back({.id = *it,
                       .pid = windowPid(*it),
                       .frame = *frame,
                       .onScreen = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE});
    }
    return out;
}

DesktopRect X11Desktop::rootFrame() {
    return windowFrame(root_).value_or(DesktopRect{});
}

std::optional<RgbImage> X11Desktop::capture(std::uint32_t drawable, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0 || x < -32768 || y < -32768 || x > 32767 || y > 32767 || width > 32767 ||
        height > 32767) {
        return std::nullopt;
    }
    const auto cookie =
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), ~0u);
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(connection_, cookie, nullptr));
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (!reply || (reply->depth != 24 && reply->depth != 32) ||
        static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < pixels * 4) {
        return std::nullopt;
    }
    // 24-bit true colour travels as 32 bits a pixel, blue green red padding (little endian).
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    RgbImage image{.width = width, .height = height, .pixels = std::vector<std::uint8_t>(pixels * 3)};
    for (std::size_t i = 0; i < pixels; ++i) {
        image.pixels[i * 3] = data[i * 4 + 2];
        image.pixels[i * 3 + 1] = data[i * 4 + 1];
        image.pixels[i * 3 + 2] = data[i * 4];
    }
    return image;
}

void X11Desktop::watchActiveWindow() {
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
}

int X11Desktop::fileDescriptor() const {
    return xcb_get_file_descriptor(connection_);
}

bool X11Desktop::activeWindowChanged() {
    bool changed = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
        Reply<xcb_generic_event_t> event(raw);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
            changed = changed || notify->atom == ewmh_->connection._NET_ACTIVE_WINDOW;
        }
    }
    return changed;
}

std::optional<std::string> processExecutable(std::int64_t pid) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error || target.empty()) {
        return std::nullopt;
    }
    return target.string();
}

std::optional<std::string> processName(std::int64_t pid) {
    auto text = readFileIfPresent("/proc/" + std::to_string(pid) + "/comm");
    if (!text) {
        return std::nullopt;
    }
    while (!text->empty() && (text->back() == '\n' || text->back() == '\0')) {
        text->pop_back();
    }
    if (text->empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace velnote::platform
