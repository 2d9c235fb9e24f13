#include "ui/preview/SummaryPreviewWindowController.h"

#include "platform/settings/SettingsStore.h"
#include "processing/queue/ProcessingQueue.h"
#include "ui/preview/SummaryPreviewView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <sstream>

namespace velnote {
namespace {

namespace fs = std::filesystem;

SummaryPreviewState::Dependencies& stateDependencies() {
    static SummaryPreviewState::Dependencies dependencies;
    return dependencies;
}

class ProcessingQueueResummarize final : public ResummarizeQueue {
  public:
    std::future<void> retrySummaryOnly(const fs::path& sessionDir) override {
        return ProcessingQueue::shared().retrySummaryOnly(sessionDir);
    }
    std::future<void> pushSnapshotsForced() override {
        return ProcessingQueue::shared().pushSnapshotsToAppState(SnapshotPush::forced);
    }
};

class QtSummaryPreviewWindows final : public SummaryPreviewWindows {
  public:
    void show(const SessionStatusSnapshot& session, const SummaryVersion& version) override {
        SummaryPreviewWindowController::show(session, version);
    }
};

std::string titleOf(const SessionStatusSnapshot& snapshot, const SummaryVersion& version) {
    std::string title = "要約";
    if (!version.isLatest)
        title += " [" + version.label() + "]";
    return title + " — " + snapshot.dirName;
}

// Where window frames are kept: the settings the windows' state reads.
platform::SettingsStore& frameStore() {
    const auto& defaults = stateDependencies().defaults;
    return defaults ? defaults->store() : platform::SettingsStore::standard();
}

std::optional<QRect> storedFrame(const std::string& key) {
    const std::optional<std::string> text = frameStore().string(key);
    if (!text)
        return std::nullopt;
    std::istringstream in(*text);
    int x = 0, y = 0, width = 0, height = 0;
    if (!(in >> x >> y >> width >> height) || width <= 0 || height <= 0)
        return std::nullopt;
    return QRect(x, y, width, height);
}

} // namespace

std::map<fs::path, SummaryPreviewWindowController*>& SummaryPreviewWindowController::openControllers() {
    static std::map<fs::path, SummaryPreviewWindowController*> controllers;
    return controllers;
}

void SummaryPreviewWindowController::setStateDependencies(StateDependencies dependencies) {
    stateDependencies() = std::move(dependencies);
}

void SummaryPreviewWindowController::show(const SessionStatusSnapshot& snapshot,
                                          const SummaryVersion& version) {
    SummaryPreviewWindowController* window = openWindow(version.url);
    if (window == nullptr) {
        window = new SummaryPreviewWindowController(snapshot, version);
        openControllers()[version.url] = window;
    }
    window->QWidget::show();
    window->raise();
    window->activateWindow();
}

SummaryPreviewWindowController* SummaryPreviewWindowController::openWindow(const fs::path& versionFile) {
    const auto found = openControllers().find(versionFile);
    return found == openControllers().end() ? nullptr : found->second;
}

void SummaryPreviewWindowController::closeWindow(const fs::path& versionFile) {
    if (SummaryPreviewWindowController* window = openWindow(versionFile))
        window->close();
}

SummaryPreviewWindowController::SummaryPreviewWindowController(const SessionStatusSnapshot& snapshot,
                                                               const SummaryVersion& version)
    : QWidget(nullptr, Qt::Window), versionURL_(version.url) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromStdString(titleOf(snapshot, version)));
    SummaryPreviewState::Dependencies dependencies = stateDependencies();
    if (!dependencies.queue)
        dependencies.queue = std::make_shared<ProcessingQueueResummarize>();
    if (!dependencies.closeSummaryWindow)
        dependencies.closeSummaryWindow = [](const fs::path& file) { closeWindow(file); };
    view_ = new SummaryPreviewView(
        std::make_unique<SummaryPreviewState>(snapshot, version, std::move(dependencies)),
        [](const SessionStatusSnapshot& s, const SummaryVersion& v) {
            SummaryPreviewWindowController::show(s, v);
        },
        {}, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    resize(860, 600);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (version.isLatest) {
        frameKey_ = "SummaryPreview-" + snapshot.id.filename().string();
        if (const std::optional<QRect> frame = storedFrame(frameKey_))
            setGeometry(*frame);
    }
    frameSaver_ = new QTimer(this);
    frameSaver_->setSingleShot(true);
    frameSaver_->setInterval(300);
    connect(frameSaver_, &QTimer::timeout, this, &SummaryPreviewWindowController::saveFrame);
    auto* closeKey = new QShortcut(QKeySequence::Close, this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
}

void SummaryPreviewWindowController::saveFrame() {
    if (frameKey_.empty() || !isVisible())
        return;
    const QRect frame = geometry();
    std::ostringstream text;
    text << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' ' << frame.height();
    frameStore().set(frameKey_, text.str());
}

void SummaryPreviewWindowController::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!frameKey_.empty() && isVisible())
        frameSaver_->start();
}

void SummaryPreviewWindowController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!frameKey_.empty() && isVisible())
        frameSaver_->start();
}

void SummaryPreviewWindowController::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (frameSaver_->isActive()) {
        frameSaver_->stop();
        saveFrame();
    }
    // Leaves the table at once, so showing this version again builds a new window.
    const auto found = openControllers().find(versionURL_);
    if (found != openControllers().end() && found->second == this)
        openControllers().erase(found);
}

void installSummaryPreviewWindows(ShellWindows& windows) {
    SummaryPreviewState::Dependencies dependencies;
    dependencies.showSessionMonitor = [&windows] {
        if (windows.sessionMonitor)
            windows.sessionMonitor->show();
    };
    SummaryPreviewWindowController::setStateDependencies(std::move(dependencies));
    windows.summaryPreview = std::make_shared<QtSummaryPreviewWindows>();
}

} // namespace velnote
