#pragma once

#include "app/state/ScreenRect.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// One connected display, as the screenshot display picker lists it.
struct AvailableDisplay {
    std::int64_t id = 0; // its index in the list
    std::string name;
    std::uint32_t displayID = 0; // what a screenshot monitor captures

    bool operator==(const AvailableDisplay&) const = default;
};

// One screen of the desktop, for placing the region picker.
struct DisplayScreen {
    std::optional<std::uint32_t> displayID; // none when the screen does not say
    ScreenRect frame;                       // in desktop coordinates

    bool operator==(const DisplayScreen&) const = default;
};

// The displays and screens of the desktop. The screen-capture service installs the real one.
// Called on the main thread.
class DisplayDirectory {
  public:
    virtual ~DisplayDirectory() = default;
    // The connected displays in order; empty when none can be listed.
    virtual std::vector<AvailableDisplay> enumerate() = 0;
    // The identifier of the main display.
    virtual std::uint32_t mainDisplayID() = 0;
    // The screens in order, the main screen first; empty without a desktop.
    virtual std::vector<DisplayScreen> screens() = 0;
};

// The overlay on which the user drags the screenshot region.
class RegionPicker {
  public:
    virtual ~RegionPicker() = default;
    // Shows the overlay on `screen`, in front and active. `completion` runs once on the main
    // thread with the dragged rectangle in desktop coordinates, or none when the user cancels.
    virtual void pickRegion(const DisplayScreen& screen,
                            std::function<void(std::optional<ScreenRect>)> completion) = 0;
};

} // namespace velnote
