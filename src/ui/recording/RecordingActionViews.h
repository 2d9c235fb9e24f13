#pragma once

#include "ui/recording/RecordingViewContext.h"
#include "ui/recording/RecordingWidgets.h"

#include <QPushButton>
#include <QWidget>
#include <array>

namespace velnote {

// The "activity" section: what the activity tracker believes the user is doing, or a waiting
// line until it has said anything.
class ActivitySection : public QWidget {
  public:
    explicit ActivitySection(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();

    QLabel* waitingText() const { return waiting_; }
    // State, purpose and summary, in that order.
    const std::array<QLabel*, 3>& values() const { return values_; }

  private:
    RecordingViewContext& context_;
    QLabel* waiting_;
    QWidget* rows_;
    std::array<QLabel*, 3> values_{};
};

// The five buttons at the bottom of the panel: OCR screenshot, capture region, session folder,
// stop, session settings. Below 420 points wide they show symbols only.
class ActionRow : public QWidget {
  public:
    enum Button { ocr, region, folder, stop, settings };

    explicit ActionRow(RecordingViewContext& context, QWidget* parent = nullptr);
    void refresh();
    QPushButton* button(Button which) const { return buttons_[which]; }
    bool narrow() const { return width() < 420; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void pressRegion();

    RecordingViewContext& context_;
    std::array<QPushButton*, 5> buttons_{};
};

} // namespace velnote
