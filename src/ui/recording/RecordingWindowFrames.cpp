#include "ui/recording/RecordingWindowFrames.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace velnote {
namespace {

constexpr std::array kSuffixes{"OriginX", "OriginY", "Width", "Height"};

std::string frameKey(PanelLayout layout, const char* suffix) {
    return std::string(layout == PanelLayout::compact ? "recordingWindowCompact" : "recordingWindow") +
           suffix;
}

bool intersects(const PanelRect& a, const PanelRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool usableSize(std::optional<PanelSize> measured) {
    return measured && !measured->isZero();
}

} // namespace

RecordingWindowFrames::RecordingWindowFrames(platform::SettingsStore& settings,
                                             std::vector<PanelScreen> screens)
    : settings_(&settings), screens_(std::move(screens)) {
    lastKnownLayout = currentLayout();
    cachedCompactFrame_ = loadSavedWindowFrame(PanelLayout::compact);
    cachedRegularFrame_ = loadSavedWindowFrame(PanelLayout::regular);
}

PanelLayout RecordingWindowFrames::currentLayout() const {
    return settings_->boolean("recordingFloatingCompactModeEnabled") ? PanelLayout::compact
                                                                     : PanelLayout::regular;
}

PanelRect RecordingWindowFrames::startFrame() {
    const PanelLayout layout = currentLayout();
    auto& cached = cache(layout);
    if (!cached) {
        cached = PanelRect{0, 0, 360, layout == PanelLayout::compact ? 140.0 : 460.0};
    }
    return *cached;
}

void RecordingWindowFrames::saveWindowFrame(const PanelRect& frame, PanelLayout layout) {
    if (isSavingWindowFrame_) {
        return;
    }
    isSavingWindowFrame_ = true;
    const std::array values{frame.x, frame.y, frame.width, frame.height};
    for (std::size_t i = 0; i < values.size(); ++i) {
        settings_->set(frameKey(layout, kSuffixes[i]), values[i]);
    }
    isSavingWindowFrame_ = false;
}

std::optional<PanelRect> RecordingWindowFrames::loadSavedWindowFrame(PanelLayout layout) const {
    std::array<double, 4> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = settings_->doubleValue(frameKey(layout, kSuffixes[i]));
        // A hand-edited or damaged settings file must not put the panel at infinity.
        if (!std::isfinite(values[i])) {
            return std::nullopt;
        }
    }
    const PanelRect frame{values[0], values[1], values[2], values[3]};
    if (frame.width > 0 && frame.height > 0) {
        return sanitizedFrame(frame);
    }
    return std::nullopt;
}

PanelRect RecordingWindowFrames::sanitizedFrame(const PanelRect& frame) const {
    if (screens_.empty()) {
        return frame;
    }
    for (const PanelScreen& screen : screens_) {
        if (intersects(frame, screen.frame)) {
            return frame;
        }
    }
    const PanelRect& v = screens_.front().visibleFrame;
    PanelRect moved = frame;
    moved.x = std::min(std::max(frame.x, v.x), v.x + v.width - frame.width);
    // y grows downwards here: the top edge, with the title bar, stays on the screen even when the
    // frame is taller than the visible area.
    moved.y = std::max(std::min(frame.y, v.y + v.height - frame.height), v.y);
    return moved;
}

PanelSize RecordingWindowFrames::calculateCompactTargetSize(double currentWidth,
                                                            std::optional<PanelSize> measured) const {
    if (!usableSize(measured)) {
        auto fits = [](const std::optional<PanelRect>& frame) { return frame && frame->height <= 250; };
        std::optional<PanelRect> candidate = cachedCompactFrame_;
        if (!fits(candidate)) {
            candidate = loadSavedWindowFrame(PanelLayout::compact);
        }
        if (fits(candidate)) {
            return {candidate->width, std::max(candidate->height, 130.0)};
        }
        return {std::min(std::max(currentWidth, 260.0), 320.0), 140};
    }
    return {std::max(std::min(measured->width + 20, currentWidth), 260.0),
            std::max(measured->height + 16, 130.0)};
}

PanelSize RecordingWindowFrames::calculateRegularTargetSize(double currentWidth,
                                                            std::optional<PanelSize> measured) const {
    for (const std::optional<PanelRect>& frame :
         {cachedRegularFrame_, loadSavedWindowFrame(PanelLayout::regular)}) {
        if (frame && frame->height >= 300) {
            return {std::max(frame->width, 360.0), frame->height};
        }
    }
    if (!usableSize(measured)) {
        return {std::max(currentWidth, 360.0), 460};
    }
    return {std::max(measured->width, 360.0), std::max(measured->height, 380.0)};
}

PanelRect RecordingWindowFrames::fittedFrame(const PanelRect& current, PanelLayout layout,
                                             std::optional<PanelSize> measured) {
    const PanelSize size = layout == PanelLayout::compact
                               ? calculateCompactTargetSize(current.width, measured)
                               : calculateRegularTargetSize(current.width, measured);
    // The top edge stays where it is: in top-left coordinates that is simply y.
    const PanelRect fitted{current.x, current.y, size.width, size.height};
    cache(layout) = fitted;
    saveWindowFrame(fitted, layout);
    return fitted;
}

} // namespace velnote
