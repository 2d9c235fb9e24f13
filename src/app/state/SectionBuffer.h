#pragma once

namespace velnote {

// The last value handed in for one field of a recording-window section, and whether that
// section is on screen. Values reach the window's field only while `visible` is true; showing
// the section again publishes `latest`.
template <class T> struct SectionBuffer {
    T latest{};
    bool visible = true;
};

} // namespace velnote
