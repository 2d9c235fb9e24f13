#pragma once

#include "session/folder/SessionStatusSnapshot.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace velnote {

// The sheet that confirms closing a session into the save location, with the option to delete
// its audio and screenshots on the way. It only asks: Cancel (or Escape) calls `onCancel`, Close
// (or Return) calls `onConfirm` with the option; each at most once. The option's value lives in
// the monitor, which the sheet tells of every change. Main thread.
class CloseSessionConfirmView final : public QDialog {
  public:
    CloseSessionConfirmView(const SessionStatusSnapshot& snapshot, bool deleteMediaFiles,
                            std::function<void(bool)> onDeleteMediaFilesChanged,
                            std::function<void()> onCancel, std::function<void(bool)> onConfirm,
                            QWidget* parent = nullptr);

    QCheckBox* deleteMediaOption() const { return option_; }
    QPushButton* closeButton() const { return close_; }
    QLabel* note() const { return note_; }

    void accept() override;
    void reject() override;

  private:
    void render();

    QCheckBox* option_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* close_ = nullptr;
    std::function<void(bool)> onDeleteMediaFilesChanged_;
    std::function<void()> onCancel_;
    std::function<void(bool)> onConfirm_;
    bool answered_ = false;
};

} // namespace velnote
