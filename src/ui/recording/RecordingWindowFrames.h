#pragma once

#include "platform/settings/SettingsStore.h"

#include <optional>
#include <vector>

namespace velnote {

// A frame or size of the recording panel, in screen points. Frames are kept in the desktop's own
// coordinates (X11: origin at the top-left corner of the screen, y growing downwards), so
// "OriginX"/"OriginY" is the panel's top-left corner.
struct PanelRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double maxY() const { return y + height; }
    bool operator==(const PanelRect&) const = default;
};

struct PanelSize {
    double width = 0;
    double height = 0;
    bool isZero() const { return width == 0 && height == 0; }
    bool operator==(const PanelSize&) const = default;
};

// One screen: its whole frame and the part not taken by panels and docks.
struct PanelScreen {
    PanelRect frame;
    PanelRect visibleFrame;
};

enum class PanelLayout { regular, compact };

// The panel's remembered frames and the rules that size it; no window, so every rule is tested
// without a display. Main thread only.
//
// Eight settings hold the two frames: "recordingWindow" and "recordingWindowCompact", each
// followed by "OriginX", "OriginY", "Width" and "Height".
class RecordingWindowFrames {
  public:
    static constexpr PanelSize kMinimumRegular{260, 120};
    static constexpr PanelSize kMinimumCompact{260, 130};
    static constexpr double kMaximumExtent = 2000;

    explicit RecordingWindowFrames(platform::SettingsStore& settings, std::vector<PanelScreen> screens = {});

    void setScreens(std::vector<PanelScreen> screens) { screens_ = std::move(screens); }
    PanelLayout currentLayout() const; // "recordingFloatingCompactModeEnabled", read afresh

    // The start frame of a new panel: the remembered one of the current layout, else the
    // fallback at (0, 0), which then becomes that layout's cache.
    PanelRect startFrame();

    void saveWindowFrame(const PanelRect& frame, PanelLayout layout);
    std::optional<PanelRect> loadSavedWindowFrame(PanelLayout layout) const;
    PanelRect sanitizedFrame(const PanelRect& frame) const;

    PanelSize calculateCompactTargetSize(double currentWidth, std::optional<PanelSize> measured) const;
    PanelSize calculateRegularTargetSize(double currentWidth, std::optional<PanelSize> measured) const;
    // The fitted frame for `layout`: the top and left edges stay. Caches and saves it.
    PanelRect fittedFrame(const PanelRect& current, PanelLayout layout, std::optional<PanelSize> measured);

    std::optional<PanelRect>& cache(PanelLayout layout) {
        return layout == PanelLayout::compact ? cachedCompactFrame_ : cachedRegularFrame_;
    }
    std::optional<PanelLayout> lastKnownLayout;
    bool isSavingWindowFrame() const { return isSavingWindowFrame_; }

  private:
    platform::SettingsStore* settings_;
    std::vector<PanelScreen> screens_;
    std::optional<PanelRect> cachedRegularFrame_;
    std::optional<PanelRect> cachedCompactFrame_;
    bool isSavingWindowFrame_ = false;
};

} // namespace velnote
