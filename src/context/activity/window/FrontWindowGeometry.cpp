#include "context/activity/window/FrontWindowAccess.h"

#include <algorithm>

namespace velnote {

using platform::DesktopRect;
using platform::DesktopWindow;

namespace {

double area(const DesktopRect& r) {
    return r.width * r.height;
}

DesktopRect intersection(const DesktopRect& a, const DesktopRect& b) {
    const double left = std::max(a.x, b.x);
    const double top = std::max(a.y, b.y);
    const double right = std::min(a.x + a.width, b.x + b.width);
    const double bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) {
        return {};
    }
    return {left, top, right - left, bottom - top};
}

// The first window with the largest `score`, when that is above `floor`.
template <class Score>
std::optional<DesktopWindow> largest(const std::vector<DesktopWindow>& pool, Score score, double floor) {
    const DesktopWindow* best = nullptr;
    double bestScore = floor;
    for (const auto& window : pool) {
        const double s = score(window);
        if (s > bestScore) {
            bestScore = s;
            best = &window;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

} // namespace

std::optional<DesktopWindow>
bestShareableWindow(std::int64_t pid, const std::vector<DesktopWindow>& windows,
                    const std::function<std::optional<DesktopRect>()>& focusedFrame) {
    std::vector<DesktopWindow> candidates;
    std::copy_if(windows.begin(), windows.end(), std::back_inserter(candidates),
                 [pid](const DesktopWindow& w) {
                     return w.pid && *w.pid == pid && w.frame.width > 0 && w.frame.height > 0;
                 });
    std::vector<DesktopWindow> onScreen;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(onScreen),
                 [](const DesktopWindow& w) { return w.onScreen; });
    // The list is in stacking order, front first: the front-most on-screen window of the process.
    if (!onScreen.empty()) {
        return onScreen.front();
    }
    if (const auto focused = focusedFrame()) {
        if (auto overlapping = largest(
                candidates, [&](const DesktopWindow& w) { return area(intersection(w.frame, *focused)); },
                0)) {
            return overlapping;
        }
    }
    return largest(
        candidates, [](const DesktopWindow& w) { return area(w.frame); }, -1);
}

std::optional<std::size_t> bestScreen(const DesktopRect& rect, const std::vector<DesktopScreen>& screens) {
    std::optional<std::size_t> best;
    double bestArea = 0;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const double a = area(intersection(screens[i].frame, rect));
        if (a > bestArea) {
            bestArea = a;
            best = i;
        }
    }
    if (!best && !screens.empty()) {
        best = 0;
    }
    return best;
}

// Screen frames, window frames and display pixels all count from the top-left corner here, so the
// window's place on its screen scales straight onto the display.
std::optional<DesktopRect> displaySourceRect(const DesktopRect& frame, const DesktopScreen& screen,
                                             const CaptureDisplay& display) {
    const double k = screen.scale;
    const DesktopRect mapped{k * (frame.x - screen.frame.x), k * (frame.y - screen.frame.y), k * frame.width,
                             k * frame.height};
    const DesktopRect source = intersection(mapped, {0, 0, display.width, display.height});
    if (source.width <= 0 || source.height <= 0) {
        return std::nullopt;
    }
    return source;
}

} // namespace velnote
