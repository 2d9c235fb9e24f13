#include "platform/display/X11Screen.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace velnote::platform {
namespace {

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Where a colour channel sits in a pixel, from the visual's mask (0xff0000 → shift 16).
int channelShift(std::uint32_t mask) {
    return mask == 0 ? 0 : std::countr_zero(mask);
}

std::string atomName(xcb_connection_t* c, xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return {};
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

} // namespace

struct X11Screen::Connection {
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> handle;
    xcb_screen_t* screen = nullptr; // owned by the connection's setup
    xcb_visualtype_t* visual = nullptr;
    bool hasRandr = false;
};

X11Screen::X11Screen(const std::optional<std::string>& displayName)
    : connection_(std::make_unique<Connection>()) {
    int screenNumber = 0;
    connection_->handle.reset(xcb_connect(displayName ? displayName->c_str() : nullptr, &screenNumber));
    if (!connection_->handle || xcb_connection_has_error(connection_->handle.get()) != 0)
        throw DisplayError("cannot open the X display " +
                           displayName.value_or(std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY")
                                                                                  : "(DISPLAY unset)"));
    xcb_connection_t* c = connection_->handle.get();
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem > 0 && i < screenNumber; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        throw DisplayError("the X display has no screen " + std::to_string(screenNumber));
    connection_->screen = it.data;
    for (auto depths = xcb_screen_allowed_depths_iterator(it.data); depths.rem > 0; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == it.data->root_visual)
                connection_->visual = visuals.data;
        }
    }
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr != nullptr && randr->present != 0) {
        Reply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        connection_->hasRandr = version && (version->major_version > 1 ||
                                            (version->major_version == 1 && version->minor_version >= 5));
    }
}

X11Screen::~X11Screen() = default;

std::vector<DisplayMonitor> X11Screen::monitors() {
    std::lock_guard lock(mutex_);
    xcb_connection_t* c = connection_->handle.get();
    if (xcb_connection_has_error(c) != 0)
        throw DisplayError("the connection to the X display broke");
    const xcb_screen_t& screen = *connection_->screen;
    std::vector<DisplayMonitor> result;
    if (connection_->hasRandr) {
        Reply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen.root, 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t& m = *it.data;
                result.push_back(DisplayMonitor{.id = m.name,
                                                .name = atomName(c, m.name),
                                                .x = m.x,
                                                .y = m.y,
                                                .width = m.width,
                                                .height = m.height,
                                                .primary = m.primary != 0});
            }
        }
    }
    if (result.empty()) {
        DisplayMonitor whole;
        whole.id = kWholeScreenID;
        whole.width = screen.width_in_pixels;
        whole.height = screen.height_in_pixels;
        whole.primary = true;
        result.push_back(whole);
    }
    std::stable_partition(result.begin(), result.end(), [](const DisplayMonitor& m) { return m.primary; });
    return result;
}

RgbImage X11Screen::grab(int x, int y, int width, int height) {
    std::lock_guard lock(mutex_);
    xcb_connection_t* c = connection_->handle.get();
    const xcb_screen_t& screen = *connection_->screen;
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + width, static_cast<int>(screen.width_in_pixels));
    const int bottom = std::min(y + height, static_cast<int>(screen.height_in_pixels));
    if (right <= left || bottom <= top)
        throw DisplayError("the rectangle lies outside the screen");
    const xcb_visualtype_t* visual = connection_->visual;
    if (visual == nullptr || screen.root_depth < 24)
        throw DisplayError("unsupported screen depth " + std::to_string(screen.root_depth));

    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root, static_cast<std::int16_t>(left),
                      static_cast<std::int16_t>(top), static_cast<std::uint16_t>(right - left),
                      static_cast<std::uint16_t>(bottom - top), ~0U),
        &error));
    Reply<xcb_generic_error_t> errorOwner(error);
    if (!reply)
        throw DisplayError(error != nullptr ? "the X server refused the screenshot (error " +
                                                  std::to_string(error->error_code) + ")"
                                            : "the connection to the X display broke");
    const int w = right - left;
    const int h = bottom - top;
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(reply.get()));
    if (length < static_cast<std::size_t>(w) * h * 4)
        throw DisplayError("unsupported pixel format: " + std::to_string(length) + " bytes for " +
                           std::to_string(w) + "x" + std::to_string(h) + " pixels");
    const std::size_t stride = length / static_cast<std::size_t>(h);
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    const int rs = channelShift(visual->red_mask);
    const int gs = channelShift(visual->green_mask);
    const int bs = channelShift(visual->blue_mask);
    const bool bigEndian = xcb_get_setup(c)->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    RgbImage image{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
    for (int row = 0; row < h; ++row) {
        const std::uint8_t* source = data + static_cast<std::size_t>(row) * stride;
        for (int col = 0; col < w; ++col, source += 4) {
            const std::uint32_t pixel =
                bigEndian ? (std::uint32_t{source[0]} << 24 | std::uint32_t{source[1]} << 16 |
                             std::uint32_t{source[2]} << 8 | source[3])
                          : (std::uint32_t{source[3]} << 24 | std::uint32_t{source[2]} << 16 |
                             std::uint32_t{source[1]} << 8 | source[0]);
            std::uint8_t* target = image.pixel(col, row);
            target[0] = static_cast<std::uint8_t>(pixel >> rs);
            target[1] = static_cast<std::uint8_t>(pixel >> gs);
            target[2] = static_cast<std::uint8_t>(pixel >> bs);
        }
    }
    return image;
}

} // namespace velnote::platform
