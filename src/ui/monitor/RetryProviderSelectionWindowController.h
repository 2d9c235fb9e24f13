#pragma once

#include "ui/monitor/core/RetryTypes.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

namespace velnote {

class RetryProviderSelectionForm;

// One retry dialog in a window of its own. open() makes a new one each time, so several can be
// open at once (also for one session); a static list keeps each until its window has closed.
// Cancel, Escape, Ctrl+W and the close button end it without calling the handler; Retry (or Return where
// no editor takes it) closes the window and then calls the handler once with the values as they
// stand. Writes nothing itself. Main thread.
class RetryProviderSelectionWindowController final : public QDialog {
  public:
    using OnConfirm = std::function<void(RetryProviderSelectionState)>;

    static void open(RetryWindowInput input, OnConfirm onConfirm);
    // The dialogs open now, oldest first.
    static const std::vector<RetryProviderSelectionWindowController*>& openControllers();

    RetryProviderSelectionForm& form() const { return *form_; }
    // Retry, as its button does.
    void confirm();

  protected:
    void done(int result) override;

  private:
    RetryProviderSelectionWindowController(const RetryWindowInput& input, OnConfirm onConfirm);

    RetryProviderSelectionForm* form_ = nullptr;
    OnConfirm onConfirm_;
    bool closed_ = false;
};

} // namespace velnote
