#include "ui/monitor/SessionRowWidget.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "processing/sessions/SessionOverallStatus.h"
#include "session/folder/SummaryVersionStore.h"
#include "ui/monitor/MonitorWidgets.h"
#include "ui/theme/AppTheme.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace velnote {

namespace {

using Formatting = SessionRowFormatting;

QLabel* smallLabel(const QString& text, QWidget* parent, double scale, bool bold = false) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

QLabel* coloured(QLabel* label, const QColor& color) {
    label->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(cssColor(color)));
    return label;
}

// The dot, or the running glyph, of a step.
QLabel* indicator(StepStatus status, QWidget* parent, double scale) {
    const bool running = status == StepStatus::running;
    auto* label = smallLabel(running ? QStringLiteral("◐") : QStringLiteral("●"), parent, scale);
    return coloured(label, toneColor(Formatting::tone(status), *parent));
}

QFont monospaced(const QFont& base, double scale) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() * scale);
    return font;
}

struct Step {
    const char* key;
    const char* english;
    const StepState& state;
};

std::vector<Step> stepsOf(const SessionStatusSnapshot& s) {
    return {{"L10n.Common.transcription", "Transcription", s.transcription},
            {"L10n.Common.diarization", "Diarization", s.diarization},
            {"L10n.Common.summary", "Summary", s.summary}};
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide(); // out of sight at once, not only once the event loop deletes it
            widget->deleteLater();
        } else if (QLayout* child = item->layout())
            clearLayout(child);
        delete item;
    }
}

} // namespace

SessionRowWidget::SessionRowWidget(SessionStatusSnapshot snapshot, bool isActionPending, Actions actions,
                                   AppState& appState, QWidget* parent)
    : QFrame(parent), model_(std::move(snapshot), isActionPending, std::chrono::system_clock::now()),
      actions_(std::move(actions)), appState_(appState) {
    setObjectName(QStringLiteral("sessionRow"));
    buildHeader();
    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, [this] {
        model_.tick(std::chrono::system_clock::now());
        if (model_.expanded())
            renderDetails();
    });
    expandToken_ = appState_.observe(AppStateField::expandedSessionID, [this](AppStateField) {
        checkExpandRequest(appState_.expandedSessionID());
    });
    checkExpandRequest(appState_.expandedSessionID());
    loadVersions(SessionRowModel::VersionLoad::summaryStatus);
    updateClock();
    render();
}

SessionRowWidget::~SessionRowWidget() {
    *alive_ = false;
}

void SessionRowWidget::buildHeader() {
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    rows->addLayout(header);

    statusBadge_ = new QLabel(this);
    statusBadge_->setFixedWidth(48);
    header->addWidget(statusBadge_);

    auto* nameBlock = new QVBoxLayout;
    nameBlock->setSpacing(2);
    auto* nameLine = new QHBoxLayout;
    nameLine->setSpacing(6);
    name_ = smallLabel({}, this, 1.0);
    QFont nameFont = name_->font();
    nameFont.setWeight(QFont::Medium);
    name_->setFont(nameFont);
    nightlyTag_ = new QLabel(l10n("L10n.Common.system.nightlyBatch", "Nightly Batch"), this);
    QColor orange = toneColor(StatusTone::orange, *this);
    QColor orangeBack = orange;
    orangeBack.setAlphaF(0.15f);
    styleCapsule(*nightlyTag_, orange, orangeBack, 8, 500);
    savedTag_ = new QLabel(l10n("L10n.SessionMonitor.saved", "Saved"), this);
    styleCapsule(*savedTag_, toneColor(StatusTone::secondary, *this), QColor(128, 128, 128, 38), 8, 500);
    nameLine->addWidget(name_);
    nameLine->addWidget(nightlyTag_);
    nameLine->addWidget(savedTag_);
    nameLine->addStretch();
    nameBlock->addLayout(nameLine);
    // Too long for the row: the beginning gives way, not the end.
    subtitle_ = coloured(new ElidedLabel(Qt::ElideLeft, this), toneColor(StatusTone::secondary, *this));
    subtitle_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont subtitleFont = subtitle_->font();
    subtitleFont.setPointSizeF(subtitleFont.pointSizeF() * 0.85);
    subtitle_->setFont(subtitleFont);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    // Names and headlines are data: never read as markup.
    subtitle_->setTextFormat(Qt::PlainText);
    name_->setTextFormat(Qt::PlainText);
    nameBlock->addWidget(subtitle_);
    header->addLayout(nameBlock, 1);

    stepBadges_ = new QWidget(this);
    new QHBoxLayout(stepBadges_);
    stepBadges_->layout()->setContentsMargins(0, 0, 0, 0);
    header->addWidget(stepBadges_);

    viewButton_ = miniButton(l10n("L10n.SessionMonitor.view", "View"), this);
    viewButton_->setObjectName(QStringLiteral("view"));
    connect(viewButton_, &QPushButton::clicked, this, [this] {
        if (actions_.onView)
            actions_.onView();
    });
    header->addWidget(viewButton_);
    viewMenu_ = new QToolButton(this);
    viewMenu_->setObjectName(QStringLiteral("viewMenu"));
    viewMenu_->setText(l10n("L10n.SessionMonitor.view", "View"));
    viewMenu_->setPopupMode(QToolButton::InstantPopup);
    viewMenu_->setMenu(new QMenu(viewMenu_));
    header->addWidget(viewMenu_);

    const auto action = [this, header](QPushButton*& button, const char* name, QString text, QColor color,
                                       std::function<void()> press) {
        button = miniButton(text, this, color);
        button->setObjectName(QString::fromLatin1(name));
        connect(button, &QPushButton::clicked, this, std::move(press));
        header->addWidget(button);
    };
    const auto call = [this](std::function<void()> Actions::*member) {
        return [this, member] {
            if (actions_.*member)
                (actions_.*member)();
        };
    };
    action(retry_, "retry", l10n("L10n.SessionMonitor.retry", "Retry"), {}, call(&Actions::onRetry));
    action(stop_, "stop", l10n("L10n.SessionMonitor.stop", "Stop"), toneColor(StatusTone::orange, *this),
           [this] { pressStop(); });
    action(remove_, "remove", l10n("L10n.SessionMonitor.remove", "Remove"),
           toneColor(StatusTone::orange, *this), call(&Actions::onRemove));
    action(close_, "close", l10n("L10n.Common.close", "Close"), toneColor(StatusTone::green, *this),
           call(&Actions::onClose));
    action(open_, "open", l10n("L10n.SessionMonitor.open", "Open"), {}, call(&Actions::onOpen));
    action(delete_, "delete", l10n("L10n.Common.delete", "Delete"), toneColor(StatusTone::red, *this),
           call(&Actions::onDelete));

    reveal_ = new QToolButton(this);
    reveal_->setObjectName(QStringLiteral("reveal"));
    reveal_->setAutoRaise(true);
    reveal_->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    reveal_->setToolTip(l10n("L10n.Common.openInFinder", "Open in Finder"));
    connect(reveal_, &QToolButton::clicked, this, call(&Actions::onReveal));
    header->addWidget(reveal_);

    expand_ = new QToolButton(this);
    expand_->setObjectName(QStringLiteral("expand"));
    expand_->setAutoRaise(true);
    connect(expand_, &QToolButton::clicked, this, [this] { toggleExpanded(); });
    header->addWidget(expand_);

    details_ = new QWidget(this);
    details_->setObjectName(QStringLiteral("details"));
    new QVBoxLayout(details_);
    details_->layout()->setContentsMargins(0, 4, 0, 0);
    details_->layout()->setSpacing(4);
    rows->addWidget(details_);
}

void SessionRowWidget::update(SessionStatusSnapshot snapshot, bool isActionPending) {
    const SessionStatusSnapshot before = model_.snapshot();
    model_.update(std::move(snapshot), isActionPending);
    if (before.summary.status != model_.snapshot().summary.status)
        loadVersions(SessionRowModel::VersionLoad::summaryStatus);
    if (before.isRunning != model_.snapshot().isRunning)
        updateClock();
    render();
}

void SessionRowWidget::toggleExpanded() {
    model_.toggleExpanded();
    if (model_.expanded())
        loadVersions(SessionRowModel::VersionLoad::expansion);
    render();
}

void SessionRowWidget::pressStop() {
    // A task on the main thread: the press returns at once.
    QTimer::singleShot(0, this, [this] {
        if (!model_.beginStop())
            return;
        render();
        if (!actions_.onStop) {
            model_.endStop();
            render();
            return;
        }
        actions_.onStop([this, alive = std::weak_ptr<bool>(alive_)] {
            if (alive.expired())
                return;
            model_.endStop();
            render();
        });
    });
}

void SessionRowWidget::updateClock() {
    if (model_.snapshot().isRunning) {
        model_.tick(std::chrono::system_clock::now());
        clock_->start();
    } else {
        clock_->stop(); // `now` keeps its last value
    }
}

void SessionRowWidget::checkExpandRequest(const std::optional<std::filesystem::path>& request) {
    const bool wasExpanded = model_.expanded();
    if (!model_.consumeExpandRequest(request))
        return;
    appState_.setExpandedSessionID(std::nullopt);
    if (!wasExpanded && details_ != nullptr) {
        loadVersions(SessionRowModel::VersionLoad::expansion);
        render();
    }
}

void SessionRowWidget::loadVersions(SessionRowModel::VersionLoad load) {
    const std::filesystem::path dir = model_.snapshot().id;
    platform::ThreadPool::shared().post(
        [dir, load, alive = std::weak_ptr<bool>(alive_), this] {
            auto versions = SummaryVersionStore::allVersions(dir);
            platform::MainDispatcher::shared().post(
                [alive, this, load, versions = std::move(versions)]() mutable {
                    if (alive.expired())
                        return;
                    model_.applyVersions(std::move(versions), load);
                    render();
                });
        },
        platform::Priority::utility);
}

void SessionRowWidget::render() {
    const SessionStatusSnapshot& s = model_.snapshot();
    const auto status = SessionOverallStatus::of(s);
    QColor tone = toneColor(Formatting::tone(status), *this);
    QColor back = tone;
    back.setAlphaF(0.15f);
    statusBadge_->setText(qs(SessionOverallStatus::label(status)));
    styleCapsule(*statusBadge_, tone, back, 7, 600);

    name_->setText(qs(Formatting::formattedName(s.dirName)));
    nightlyTag_->setVisible(s.config.system.nightlyBatch);
    savedTag_->setVisible(s.isClosed);
    const auto subtitle = Formatting::subtitleText(s);
    subtitle_->setVisible(subtitle.has_value());
    subtitle_->setText(subtitle ? qs(*subtitle) : QString());
    subtitle_->setToolTip(subtitle ? qs(*subtitle) : QString());

    clearLayout(stepBadges_->layout());
    for (const Step& step : stepsOf(s)) {
        if (step.state.status == StepStatus::skipped)
            continue;
        auto* badge = new QWidget(stepBadges_);
        auto* layout = new QHBoxLayout(badge);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        layout->addWidget(indicator(step.state.status, badge, 0.7));
        const bool running = step.state.status == StepStatus::running;
        layout->addWidget(coloured(smallLabel(l10n(step.key, step.english), badge, 0.75),
                                   toneColor(running ? StatusTone::blue : StatusTone::secondary, *this)));
        stepBadges_->layout()->addWidget(badge);
    }

    renderViewControl();
    const SessionRowModel::Buttons buttons = model_.buttons();
    const std::pair<QPushButton*, SessionRowModel::Button> all[] = {
        {retry_, buttons.retry}, {stop_, buttons.stop}, {remove_, buttons.remove},
        {close_, buttons.close}, {open_, buttons.open}, {delete_, buttons.del}};
    for (const auto& [button, state] : all) {
        button->setVisible(state.shown);
        button->setEnabled(state.enabled);
    }
    expand_->setArrowType(model_.expanded() ? Qt::UpArrow : Qt::DownArrow);
    details_->setVisible(model_.expanded());
    if (model_.expanded())
        renderDetails();
}

void SessionRowWidget::renderViewControl() {
    const auto control = model_.viewControl();
    viewButton_->setVisible(control == SessionRowModel::ViewControl::button);
    viewMenu_->setVisible(control == SessionRowModel::ViewControl::menu);
    if (control != SessionRowModel::ViewControl::menu)
        return;
    QMenu* menu = viewMenu_->menu();
    menu->clear();
    for (const SummaryVersion& version : model_.summaryVersions()) {
        // "&" in a model name is text, not a mnemonic.
        QAction* item = menu->addAction(qs(version.label()).replace(QLatin1Char('&'), QStringLiteral("&&")));
        connect(item, &QAction::triggered, this, [this, version] {
            if (actions_.onViewVersion)
                actions_.onViewVersion(version);
        });
    }
}

void SessionRowWidget::renderDetails() {
    QLayout* layout = details_->layout();
    clearLayout(layout);
    const SessionStatusSnapshot& s = model_.snapshot();
    auto* divider = new QFrame(details_);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    for (const Step& step : stepsOf(s)) {
        auto* row = new QWidget(details_);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(4, 0, 0, 0);
        line->setSpacing(6);
        line->addWidget(indicator(step.state.status, row, 0.8));
        auto* name = smallLabel(l10n(step.key, step.english), row, 0.9, true);
        name->setFixedWidth(80);
        line->addWidget(name);
        auto* word = coloured(new QLabel(qs(Formatting::statusWord(step.state.status)), row),
                              toneColor(Formatting::tone(step.state.status), *this));
        word->setFont(monospaced(font(), 0.9));
        word->setFixedWidth(60);
        line->addWidget(word);
        if (step.state.startedAt)
            line->addWidget(coloured(smallLabel(qs(Formatting::shortTime(*step.state.startedAt)), row, 0.85),
                                     toneColor(StatusTone::secondary, *this)));
        if (const auto elapsed = Formatting::elapsedText(step.state, model_.now())) {
            auto* label = coloured(new QLabel(qs(*elapsed), row), toneColor(StatusTone::secondary, *this));
            label->setFont(monospaced(font(), 0.85));
            line->addWidget(label);
        }
        if (step.state.error && !step.state.error->empty()) {
            auto* error =
                coloured(smallLabel(qs(*step.state.error), row, 0.85), toneColor(StatusTone::red, *this));
            error->setWordWrap(true);
            error->setTextFormat(Qt::PlainText);
            error->setMaximumHeight(error->fontMetrics().lineSpacing() * 2 + 2);
            line->addWidget(error, 1);
        }
        line->addStretch();
        layout->addWidget(row);
    }

    auto* config = new QWidget(details_);
    auto* block = new QVBoxLayout(config);
    block->setContentsMargins(4, 0, 0, 0);
    block->setSpacing(4);
    block->addWidget(
        smallLabel(l10n("L10n.SessionMonitor.processingConfig", "Processing Config"), config, 0.9, true));
    const std::pair<QString, std::string> rows[] = {
        {l10n("L10n.Common.transcription", "Transcription"), Formatting::transcriptionConfigText(s.config)},
        {l10n("L10n.Common.diarization", "Diarization"), Formatting::diarizationConfigText(s.config)},
        {l10n("L10n.Common.summary", "Summary"), Formatting::summaryConfigText(s.config)},
        {l10n("L10n.Common.system.nightlyBatch", "Nightly Batch"), Formatting::nightlyBatchText(s.config)},
    };
    for (const auto& [label, value] : rows) {
        auto* line = new QHBoxLayout;
        line->setSpacing(6);
        auto* name = smallLabel(label, config, 0.85, true);
        name->setFixedWidth(80);
        name->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        line->addWidget(name);
        auto* text = coloured(new QLabel(qs(value), config), toneColor(StatusTone::secondary, *this));
        text->setFont(monospaced(font(), 0.85));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setMaximumHeight(text->fontMetrics().lineSpacing() * 2 + 2); // at most two lines
        line->addWidget(text, 1);
        block->addLayout(line);
    }
    layout->addWidget(config);

    if (s.hasLock) {
        auto* lock = coloured(smallLabel(QStringLiteral("🔒 ") +
                                             l10n("L10n.SessionMonitor.lockFilePresent", "Lock file present"),
                                         details_, 0.85),
                              toneColor(StatusTone::orange, *this));
        lock->setObjectName(QStringLiteral("lockLine"));
        layout->addWidget(lock);
    }
}

} // namespace velnote
