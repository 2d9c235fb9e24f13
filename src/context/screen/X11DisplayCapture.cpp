#include "context/screen/X11DisplayCapture.h"

#include "context/screen/ScreenChange.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cmath>

namespace velnote {

X11DisplayCapture::X11DisplayCapture(std::optional<std::string> displayName)
    : displayName_(std::move(displayName)) {}

std::shared_ptr<platform::X11Screen> X11DisplayCapture::screen() {
    std::lock_guard lock(mutex_);
    if (!screen_) {
        try {
            screen_ = std::make_shared<platform::X11Screen>(displayName_);
        } catch (const platform::DisplayError& e) {
            VelnoteLogger::app().error("screen capture: {}", e.what());
        }
    }
    return screen_;
}

std::vector<platform::DisplayMonitor> X11DisplayCapture::monitors() {
    auto connection = screen();
    if (!connection)
        return {};
    try {
        return connection->monitors();
    } catch (const platform::DisplayError& e) {
        VelnoteLogger::app().error("screen capture: {}", e.what());
        std::lock_guard lock(mutex_);
        screen_.reset(); // connect again next time
        return {};
    }
}

std::vector<AvailableDisplay> X11DisplayCapture::enumerate() {
    std::vector<AvailableDisplay> displays;
    for (const platform::DisplayMonitor& m : monitors()) {
        const auto index = static_cast<std::int64_t>(displays.size());
        displays.push_back(
            AvailableDisplay{.id = index,
                             .name = m.name.empty() ? "Display " + std::to_string(index + 1) : m.name,
                             .displayID = m.id});
    }
    return displays;
}

std::uint32_t X11DisplayCapture::mainDisplayID() {
    const auto list = monitors();
    return list.empty() ? platform::X11Screen::kWholeScreenID : list.front().id;
}

std::vector<DisplayScreen> X11DisplayCapture::screens() {
    std::vector<DisplayScreen> result;
    for (const platform::DisplayMonitor& m : monitors()) {
        result.push_back(DisplayScreen{.displayID = m.id,
                                       .frame = ScreenRect{.x = static_cast<double>(m.x),
                                                           .y = static_cast<double>(m.y),
                                                           .width = static_cast<double>(m.width),
                                                           .height = static_cast<double>(m.height)}});
    }
    return result;
}

std::optional<platform::RgbImage>
X11DisplayCapture::captureDisplayImage(std::uint32_t displayID, const std::optional<ScreenRect>& region) {
    const auto list = monitors();
    if (list.empty()) {
        VelnoteLogger::app().error("screen capture: display not found (displayID={})", displayID);
        return std::nullopt;
    }
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& m) { return m.id == displayID; });
    const platform::DisplayMonitor& monitor = found != list.end() ? *found : list.front();
    double left = monitor.x, top = monitor.y, width = monitor.width, height = monitor.height;
    if (region) {
        // Cut the region to the display; a region wholly outside it leaves nothing to capture.
        const double x0 = std::max(0.0, region->x), y0 = std::max(0.0, region->y);
        const double x1 = std::min<double>(monitor.width, region->x + region->width);
        const double y1 = std::min<double>(monitor.height, region->y + region->height);
        if (!std::isfinite(x0 + y0 + x1 + y1) || x1 - x0 < 1 || y1 - y0 < 1) {
            VelnoteLogger::app().error("screen capture failed: the capture region lies outside the display");
            return std::nullopt;
        }
        left += x0;
        top += y0;
        width = x1 - x0;
        height = y1 - y0;
    }
    auto connection = screen();
    if (!connection)
        return std::nullopt;
    try {
        platform::RgbImage image = connection->grab(static_cast<int>(left), static_cast<int>(top),
                                                    static_cast<int>(width), static_cast<int>(height));
        const auto [w, h] = ScreenChange::captureResolution(image.width, image.height);
        if (w > 0 && h > 0 && (w != image.width || h != image.height))
            image = platform::scaledByAreaAverage(image, w, h);
        return image;
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("screen capture failed: {}", e.what());
        std::lock_guard lock(mutex_);
        screen_.reset();
        return std::nullopt;
    }
}

} // namespace velnote
