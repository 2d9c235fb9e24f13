#include "ui/recording/RecordingFloatingWindowController.h"

#include "session/VelnoteLogger.h"

#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace velnote {
namespace {

PanelRect toPanelRect(const QRect& rect) {
    return {static_cast<double>(rect.x()), static_cast<double>(rect.y()), static_cast<double>(rect.width()),
            static_cast<double>(rect.height())};
}

QRect toQRect(const PanelRect& rect) {
    return QRect(static_cast<int>(std::lround(rect.x)), static_cast<int>(std::lround(rect.y)),
                 static_cast<int>(std::lround(rect.width)), static_cast<int>(std::lround(rect.height)));
}

QSize toQSize(PanelSize size) {
    return QSize(static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height)));
}

} // namespace

// The panel window: it tells the controller when it was moved or resized. The desktop reports
// no "live resize ended", so the controller waits for the moves and resizes to settle.
class RecordingFloatingWindowController::Panel : public QWidget {
  public:
    explicit Panel(RecordingFloatingWindowController& owner)
        // A tool window that stays on top: the nearest the X11 desktop has to a floating panel on
        // every workspace. No close button: the panel follows the recording, not the user.
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                               Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
          owner_(owner) {
        setWindowTitle(QStringLiteral("Velnote"));
        setAttribute(Qt::WA_ShowWithoutActivating);
    }

  protected:
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        owner_.panelMoved();
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        owner_.panelResized();
    }

  private:
    RecordingFloatingWindowController& owner_;
};

RecordingFloatingWindowController::RecordingFloatingWindowController()
    : RecordingFloatingWindowController(Dependencies{}) {}

RecordingFloatingWindowController::RecordingFloatingWindowController(Dependencies dependencies)
    : state_(dependencies.state != nullptr ? *dependencies.state : AppState::shared()),
      settings_(dependencies.settings != nullptr ? *dependencies.settings
                                                 : platform::SettingsStore::standard()),
      screens_(dependencies.screens ? std::move(dependencies.screens) : desktopScreens),
      frames_(settings_, screens_()) {
    const PanelLayout layout = frames_.currentLayout();
    const PanelRect start = frames_.startFrame();

    panel_ = std::make_unique<Panel>(*this);
    const QSize minimum = toQSize(layout == PanelLayout::compact ? RecordingWindowFrames::kMinimumCompact
                                                                 : RecordingWindowFrames::kMinimumRegular);
    panel_->setMinimumSize(minimum);
    panel_->setMaximumSize(2000, 2000);
    dependencies.view.state = &state_;
    dependencies.view.settings = &settings_;
    view_ = new RecordingFloatingView(std::move(dependencies.view), panel_.get());
    auto* layoutBox = new QVBoxLayout(panel_.get());
    layoutBox->setContentsMargins(0, 0, 0, 0);
    // The view fills the panel and imposes no size on it: only this controller sizes the panel.
    layoutBox->setSizeConstraint(QLayout::SetNoConstraint);
    layoutBox->addWidget(view_);
    panel_->setGeometry(toQRect(start));
    lastFittedSize_ = panel_->size();
    view_->onResizeRequested = [this](std::optional<PanelSize> measured) {
        adjustWindowFrame(frames_.currentLayout(), measured);
    };

    settledTimer_.setSingleShot(true);
    settledTimer_.setInterval(400);
    connect(&settledTimer_, &QTimer::timeout, this, [this] {
        if (!panel_->isVisible()) {
            return;
        }
        if (userResized_ && panel_->size() != lastFittedSize_) {
            // The end of a resize by the user lifts the compact height cap.
            panel_->setMaximumSize(2000, 2000);
        }
        userResized_ = false;
        saveWindowFrame();
    });

    state_.setRecordingFloatingWindowVisible(panel_->isVisible());
    settingsObservation_ = settings_.observe([this](const std::string& key) {
        // Only the layout switch matters here; the frame keys this controller writes itself are
        // other keys, so its own saves never come back as a layout change.
        if (key == "recordingFloatingCompactModeEnabled") {
            QMetaObject::invokeMethod(this, [this] { defaultsChanged(); });
        }
    });
    recordingObservation_ =
        state_.observe(AppStateField::recordingState, [this](AppStateField) { observeRecordingState(); });
    observeRecordingState();
}

RecordingFloatingWindowController::~RecordingFloatingWindowController() {
    recordingObservation_.reset();
    settingsObservation_.reset();
}

std::vector<PanelScreen> RecordingFloatingWindowController::desktopScreens() {
    std::vector<PanelScreen> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back({toPanelRect(screen->geometry()), toPanelRect(screen->availableGeometry())});
    }
    return screens;
}

PanelRect RecordingFloatingWindowController::panelFrame() const {
    return toPanelRect(panel_->geometry());
}

void RecordingFloatingWindowController::refreshScreens() {
    frames_.setScreens(screens_());
}

void RecordingFloatingWindowController::observeRecordingState() {
    switch (state_.recordingState().phase()) {
    case RecordingState::Phase::starting:
    case RecordingState::Phase::recording:
        show();
        break;
    case RecordingState::Phase::idle:
    case RecordingState::Phase::stopping:
    case RecordingState::Phase::error:
        hide();
        break;
    }
}

void RecordingFloatingWindowController::show() {
    refreshScreens();
    const PanelLayout layout = frames_.currentLayout();
    if (!panel_->isVisible() && !frames_.loadSavedWindowFrame(layout)) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = panel_->geometry();
            frame.moveCenter(screen->availableGeometry().center());
            panel_->setGeometry(frame);
        }
    }
    panel_->show();
    panel_->raise();
    state_.setRecordingFloatingWindowVisible(true);
}

void RecordingFloatingWindowController::hide() {
    panel_->hide();
    state_.setRecordingFloatingWindowVisible(false);
}

void RecordingFloatingWindowController::defaultsChanged() {
    const PanelLayout layout = frames_.currentLayout();
    if (frames_.lastKnownLayout != layout) {
        frames_.lastKnownLayout = layout;
        adjustWindowFrame(layout, std::nullopt);
    }
}

void RecordingFloatingWindowController::adjustWindowFrame(PanelLayout layout,
                                                          std::optional<PanelSize> measured) {
    if (!panel_->isVisible()) {
        return;
    }
    const std::optional<PanelLayout> previous = frames_.lastKnownLayout;
    frames_.lastKnownLayout = layout;
    if (previous && *previous != layout) {
        const PanelLayout leaving = *previous;
        frames_.cache(leaving) = panelFrame();
        frames_.saveWindowFrame(panelFrame(), leaving);
    }
    // After the current event, never inside it; each fitting keeps the layout it was asked for.
    QTimer::singleShot(0, this, [this, layout, measured] {
        if (panel_->isVisible()) {
            applyWindowFrameAdjustment(layout, measured);
        }
    });
}

void RecordingFloatingWindowController::applyWindowFrameAdjustment(PanelLayout layout,
                                                                   std::optional<PanelSize> measured) {
    refreshScreens();
    const PanelRect fitted = frames_.fittedFrame(panelFrame(), layout, measured);
    if (layout == PanelLayout::compact) {
        panel_->setMinimumSize(toQSize(RecordingWindowFrames::kMinimumCompact));
        panel_->setMaximumSize(2000, static_cast<int>(std::lround(fitted.height)));
    } else {
        panel_->setMinimumSize(toQSize(RecordingWindowFrames::kMinimumRegular));
        panel_->setMaximumSize(2000, 2000);
    }
    panel_->setGeometry(toQRect(fitted));
    lastFittedSize_ = panel_->size();
}

void RecordingFloatingWindowController::saveWindowFrame() {
    frames_.saveWindowFrame(panelFrame(), frames_.currentLayout());
}

void RecordingFloatingWindowController::panelMoved() {
    if (panel_->isVisible()) {
        settledTimer_.start();
    }
}

void RecordingFloatingWindowController::panelResized() {
    if (panel_->isVisible() && panel_->size() != lastFittedSize_) {
        userResized_ = true;
        settledTimer_.start();
    }
}

} // namespace velnote
