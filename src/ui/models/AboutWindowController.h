#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/models/AboutView.h"

#include <QWidget>
#include <memory>

namespace velnote {

// The About window, 780 x 560 at first, titled "About Hushtape"; its content is read anew each
// time it is shown. Kept until the process ends; closing only hides it. Main thread.
class AboutWindowController final : public ShowableWindow {
  public:
    static AboutWindowController& shared();

    explicit AboutWindowController(AboutView::Sources sources = {});
    ~AboutWindowController() override;

    void show() override;

    QWidget& window() { return *window_; }
    AboutView& view() { return *view_; }

  private:
    std::unique_ptr<QWidget> window_;
    AboutView* view_ = nullptr; // owned by window_
};

} // namespace velnote
