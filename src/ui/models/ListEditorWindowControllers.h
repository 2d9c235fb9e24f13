#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/models/ListEditorViews.h"

#include <QWidget>
#include <memory>

namespace velnote {

// The hallucination filter window, 520 x 400 at first. Making the controller reads the stored
// list, once per process run; closing the window keeps it in memory; a save still pending when
// the application quits is written then. Main thread.
class HallucinationFilterWindowController final : public ShowableWindow {
  public:
    // The application's controller, made on first use (never destroyed).
    static HallucinationFilterWindowController& shared();

    // `settings`: SettingsStore::standard() when nullptr.
    explicit HallucinationFilterWindowController(platform::SettingsStore* settings = nullptr,
                                                 ListEditorDependencies dependencies = {});
    ~HallucinationFilterWindowController() override;

    void show() override;

    QWidget& window() { return *window_; }
    HallucinationFilterView& view() { return *view_; }
    HallucinationFilterEditor& editor() { return editor_; }

  private:
    HallucinationFilterEditor editor_;
    std::unique_ptr<QWidget> window_;
    HallucinationFilterView* view_ = nullptr; // owned by window_
};

// The user dictionary window, 520 x 400 at first, kept like the hallucination filter's.
class UserDictionaryWindowController final : public ShowableWindow {
  public:
    static UserDictionaryWindowController& shared();

    explicit UserDictionaryWindowController(platform::SettingsStore* settings = nullptr,
                                            ListEditorDependencies dependencies = {});
    ~UserDictionaryWindowController() override;

    void show() override;

    QWidget& window() { return *window_; }
    UserDictionaryView& view() { return *view_; }
    UserDictionaryEditor& editor() { return editor_; }

  private:
    UserDictionaryEditor editor_;
    std::unique_ptr<QWidget> window_;
    UserDictionaryView* view_ = nullptr; // owned by window_
};

} // namespace velnote
