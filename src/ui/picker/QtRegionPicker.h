#pragma once

#include "context/screen/DisplayDirectory.h"

namespace velnote {

// The region picker of the recording controller: opens a RegionPickerWindow over the Qt screen
// whose geometry is the given screen's frame (else the primary screen), in front and active.
// Main thread.
class QtRegionPicker final : public RegionPicker {
  public:
    void pickRegion(const DisplayScreen& screen,
                    std::function<void(std::optional<ScreenRect>)> completion) override;
};

} // namespace velnote
