#include "ui/monitor/SessionMonitorView.h"

#include "processing/sessions/SessionOverallStatus.h"
#include "session/l10n/L10n.h"
#include "ui/monitor/CloseSessionConfirmView.h"
#include "ui/monitor/MonitorWidgets.h"
#include "ui/monitor/SessionRowWidget.h"
#include "ui/theme/AppTheme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace velnote {

namespace {

enum Page { loadingPage = 0, emptyPage = 1, listPage = 2 };

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* placeholder(QWidget* parent, QWidget* top, const QString& text) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    layout->addWidget(top, 0, Qt::AlignHCenter);
    auto* label = new QLabel(text, page);
    label->setStyleSheet(
        QStringLiteral("QLabel { color: %1; }").arg(cssColor(toneColor(StatusTone::secondary, *page))));
    layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addStretch();
    return page;
}

QProgressBar* busyIndicator(QWidget* parent, int width) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(width, 8);
    return bar;
}

// Fills a picker without announcing it; the current value is selected when listed.
void fill(QComboBox& box, const std::vector<std::pair<QString, QVariant>>& options, const QVariant& current) {
    const QSignalBlocker block(&box);
    box.clear();
    for (const auto& [text, data] : options)
        box.addItem(text, data);
    box.setCurrentIndex(box.findData(current));
}

} // namespace

SessionMonitorView::SessionMonitorView(SessionMonitorModel::Dependencies dependencies, QWidget* parent)
    : QWidget(parent), model_(std::make_unique<SessionMonitorModel>(std::move(dependencies))) {
    setMinimumSize(560, 400);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildToolbar(layout);
    buildFilterBar(layout);
    layout->addWidget(divider(this));
    buildContent(layout);
    model_->setChangeHandler([this](SessionMonitorModel::Change change) { onChange(change); });
    renderToolbar();
    renderFilters();
    renderList();
}

SessionMonitorView::~SessionMonitorView() {
    model_->setChangeHandler({});
}

void SessionMonitorView::buildToolbar(QVBoxLayout* layout) {
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(14, 10, 14, 10);
    bar->setSpacing(10);
    auto* title = new QLabel(l10n("L10n.SessionMonitor.sessionStatus", "Session Status"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    bar->addWidget(title);
    bar->addStretch();
    processing_ = new QLabel(this);
    processing_->setObjectName(QStringLiteral("processingCount"));
    processing_->setStyleSheet(
        QStringLiteral("QLabel { color: %1; }").arg(cssColor(toneColor(StatusTone::blue, *this))));
    bar->addWidget(processing_);
    refreshing_ = busyIndicator(this, 20);
    refreshing_->setObjectName(QStringLiteral("refreshing"));
    bar->addWidget(refreshing_);
    refresh_ = new QToolButton(this);
    refresh_->setObjectName(QStringLiteral("refresh"));
    refresh_->setAutoRaise(true);
    refresh_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    refresh_->setToolTip(l10n("L10n.SessionMonitor.refresh", "Refresh"));
    connect(refresh_, &QToolButton::clicked, this, [this] { model_->refresh(); });
    bar->addWidget(refresh_);
    layout->addLayout(bar);
}

void SessionMonitorView::buildFilterBar(QVBoxLayout* layout) {
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("filterBar"));
    row->setAttribute(Qt::WA_StyledBackground);
    row->setStyleSheet(QStringLiteral("#filterBar { background: %1; border: 0.5px solid %2; }")
                           .arg(cssColor(AppTheme::cardBackground().resolve(palette())),
                                cssColor(AppTheme::cardBorder().resolve(palette()))));
    auto* bar = new QHBoxLayout(row);
    bar->setContentsMargins(14, 8, 14, 8);
    bar->setSpacing(12);
    const auto picker = [&](QComboBox*& box, const char* name, QString label) {
        auto* pair = new QHBoxLayout;
        pair->setSpacing(4);
        // In a narrow window the captions give way first, then the pickers; the pop-ups show every
        // option whole, however long a model or provider name is.
        auto* caption = new ElidedLabel(label, Qt::ElideRight, row);
        caption->setMinimumWidth(std::min(caption->sizeHint().width(), 48));
        box = new QComboBox(row);
        box->setObjectName(QString::fromLatin1(name));
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(4);
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        box->setMaximumWidth(200);
        caption->setBuddy(box);
        pair->addWidget(caption);
        pair->addWidget(box);
        bar->addLayout(pair);
    };
    picker(statusFilter_, "statusFilter", l10n("L10n.SessionMonitor.statusFilter", "Status"));
    picker(modelFilter_, "modelFilter",
           l10n("L10n.SessionMonitor.transcriptionModelFilter", "Transcription Model"));
    picker(providerFilter_, "providerFilter", l10n("L10n.Common.summaryAIProvider", "Summary AI Provider"));
    bar->addStretch();
    search_ = new QLineEdit(row);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(l10n("L10n.SessionMonitor.search", "Search..."));
    search_->setMaximumWidth(220);
    bar->addWidget(search_);
    auto* reset = miniButton(l10n("L10n.Common.reset", "Reset"), row);
    reset->setObjectName(QStringLiteral("reset"));
    bar->addWidget(reset);

    connect(statusFilter_, &QComboBox::activated, this, [this](int index) {
        const QVariant data = statusFilter_->itemData(index);
        model_->setStatusFilter(
            data.isValid() ? std::optional(static_cast<SessionStatusSnapshot::OverallStatus>(data.toInt()))
                           : std::nullopt);
    });
    connect(modelFilter_, &QComboBox::activated, this, [this](int index) {
        model_->setWhisperModelFilter(modelFilter_->itemData(index).toString().toStdString());
    });
    connect(providerFilter_, &QComboBox::activated, this, [this](int index) {
        model_->setSummaryProviderFilter(providerFilter_->itemData(index).toString().toStdString());
    });
    connect(search_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->setFreeTextFilter(text.toStdString()); });
    connect(reset, &QPushButton::clicked, this, [this] { model_->resetFilters(); });
    layout->addWidget(row);
    layout->addWidget(divider(this));
}

void SessionMonitorView::buildContent(QVBoxLayout* layout) {
    content_ = new QStackedWidget(this);
    auto* spinner = busyIndicator(content_, 80);
    content_->addWidget(
        placeholder(content_, spinner, l10n("L10n.SessionMonitor.loadingSessions", "Loading sessions...")));
    auto* tray = new QLabel(content_);
    tray->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(36, 36));
    content_->addWidget(placeholder(content_, tray, l10n("L10n.SessionMonitor.noSessions", "No sessions")));
    auto* scroll = new QScrollArea(content_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    list_ = new QWidget(scroll);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(0);
    listLayout_->addStretch();
    scroll->setWidget(list_);
    content_->addWidget(scroll);
    layout->addWidget(content_, 1);
}

void SessionMonitorView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        model_->appear();
}

void SessionMonitorView::onChange(SessionMonitorModel::Change change) {
    switch (change) {
    case SessionMonitorModel::Change::list:
        renderList();
        break;
    case SessionMonitorModel::Change::toolbar:
        renderToolbar();
        renderList(); // the placeholder may change with the first refresh
        break;
    case SessionMonitorModel::Change::filters:
        renderFilters();
        break;
    case SessionMonitorModel::Change::alerts:
        renderAlerts();
        break;
    }
}

void SessionMonitorView::renderToolbar() {
    const std::int64_t count = model_->processingSessionCount();
    processing_->setVisible(count >= 1);
    processing_->setText(QStringLiteral("⟳ ") + qs(L10n::localized("L10n.SessionMonitor.processingCount",
                                                                   "%d processing", {count})));
    refreshing_->setVisible(model_->isRefreshing());
    refresh_->setVisible(!model_->isRefreshing());
}

void SessionMonitorView::renderFilters() {
    const SessionFilters& filters = model_->filters();
    const QString all = qs(SessionListFilter::allSentinel());
    std::vector<std::pair<QString, QVariant>> statuses{{all, QVariant()}};
    for (const auto status : SessionStatusSnapshot::kAllOverallStatuses)
        statuses.emplace_back(qs(SessionOverallStatus::label(status)), static_cast<int>(status));
    fill(*statusFilter_, statuses, filters.status ? QVariant(static_cast<int>(*filters.status)) : QVariant());

    std::vector<std::pair<QString, QVariant>> models{{all, all}};
    for (const std::string& model : model_->whisperModelOptions())
        models.emplace_back(qs(model), qs(model));
    fill(*modelFilter_, models, qs(filters.whisperModel));

    std::vector<std::pair<QString, QVariant>> providers{{all, all}};
    for (const auto& [value, label] : SessionListFilter::summaryProviderFilterOptions())
        providers.emplace_back(qs(label), qs(value));
    fill(*providerFilter_, providers, qs(filters.summaryProvider));

    if (search_->text().toStdString() != filters.freeText)
        search_->setText(qs(filters.freeText));
}

SessionRowWidget* SessionMonitorView::row(const std::filesystem::path& sessionDir) const {
    const auto found = rows_.find(sessionDir.string());
    return found == rows_.end() ? nullptr : found->second;
}

SessionRowWidget* SessionMonitorView::makeRow(const SessionStatusSnapshot& snapshot) {
    SessionMonitorModel& model = *model_;
    SessionRowWidget::Actions actions{
        .onView = [&model, snapshot] { model.view(snapshot); },
        .onRetry = [&model, snapshot] { model.openRetryProviderSelection(snapshot); },
        .onRemove = [&model, snapshot] { model.remove(snapshot); },
        .onClose = [&model, snapshot] { model.requestClose(snapshot); },
        .onDelete = [&model, snapshot] { model.requestDelete(snapshot); },
        .onOpen = [&model, snapshot] { model.open(snapshot); },
        .onReveal = [&model, snapshot] { model.reveal(snapshot); },
        .onStop = [&model, snapshot](std::function<void()> done) { model.stop(snapshot, std::move(done)); },
        .onViewVersion =
            [this, snapshot](const SummaryVersion& version) { model_->viewVersion(snapshot, version); },
    };
    auto* row = new SessionRowWidget(snapshot, model.isActionPending(snapshot.id), std::move(actions),
                                     model.appState(), list_);
    row->setAttribute(Qt::WA_StyledBackground);
    row->setStyleSheet(QStringLiteral("#sessionRow { background: %1; border-bottom: 0.5px solid %2; }")
                           .arg(cssColor(AppTheme::cardBackground().resolve(palette())),
                                cssColor(AppTheme::separator().resolve(palette()))));
    row->setContentsMargins(10, 6, 10, 6);
    return row;
}

void SessionMonitorView::renderList() {
    switch (model_->content()) {
    case SessionMonitorModel::Content::loading:
        content_->setCurrentIndex(loadingPage);
        return;
    case SessionMonitorModel::Content::empty:
        content_->setCurrentIndex(emptyPage);
        break;
    case SessionMonitorModel::Content::list:
        content_->setCurrentIndex(listPage);
        break;
    }

    // Take everything out; rows whose folder stays are put back with their state.
    std::map<std::string, SessionRowWidget*> previous = std::move(rows_);
    rows_.clear();
    while (QLayoutItem* item = listLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget(); widget != nullptr && !dynamic_cast<SessionRowWidget*>(widget))
            widget->deleteLater();
        delete item;
    }
    const auto section = [&](const char* key, const char* english,
                             const std::vector<SessionStatusSnapshot>& list) {
        if (list.empty())
            return;
        auto* header = new QWidget(list_);
        auto* line = new QHBoxLayout(header);
        line->setContentsMargins(10, 4, 10, 4);
        auto* title = new QLabel(l10n(key, english), header);
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        line->addWidget(title);
        line->addStretch();
        auto* count = new QLabel(qs(L10n::localized("L10n.Common.itemsCount", "%d items",
                                                    {static_cast<std::int64_t>(list.size())})),
                                 header);
        count->setStyleSheet(
            QStringLiteral("QLabel { color: %1; }").arg(cssColor(toneColor(StatusTone::secondary, *header))));
        line->addWidget(count);
        listLayout_->addWidget(header);
        for (const SessionStatusSnapshot& snapshot : list) {
            const std::string key = snapshot.id.string();
            SessionRowWidget* row = nullptr;
            if (const auto found = previous.find(key); found != previous.end()) {
                row = found->second;
                previous.erase(found);
                row->update(snapshot, model_->isActionPending(snapshot.id));
            } else {
                row = makeRow(snapshot);
            }
            rows_[key] = row;
            listLayout_->addWidget(row);
        }
    };
    section("L10n.SessionMonitor.workingUnsaved", "Working / Unsaved", model_->workingSnapshots());
    section("L10n.SessionMonitor.savedSessions", "Saved Sessions", model_->savedSnapshots());
    listLayout_->addStretch();
    for (auto& [key, row] : previous)
        row->deleteLater();
}

void SessionMonitorView::renderAlerts() {
    if (const auto& target = model_->deleteConfirmation(); target && alert_ == nullptr) {
        alert_ = new QMessageBox(QMessageBox::Warning,
                                 l10n("L10n.SessionMonitor.deleteSessionTitle", "Delete Session?"),
                                 qs(L10n::localized("L10n.Common.deleteSessionTitle",
                                                    "This will permanently delete %@.", {target->dirName})),
                                 QMessageBox::NoButton, window());
        alert_->setTextFormat(Qt::PlainText);
        auto* remove = alert_->addButton(l10n("L10n.Common.delete", "Delete"), QMessageBox::DestructiveRole);
        alert_->addButton(l10n("L10n.Common.cancel", "Cancel"), QMessageBox::RejectRole);
        alert_->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert_, &QMessageBox::finished, this, [this, remove] {
            const bool confirmed = alert_->clickedButton() == remove;
            alert_ = nullptr;
            confirmed ? model_->confirmDelete() : model_->cancelDelete();
        });
        alert_->setWindowModality(Qt::WindowModal);
        alert_->open();
    }
    if (const auto& message = model_->infoAlertMessage(); message && alert_ == nullptr) {
        alert_ = new QMessageBox(QMessageBox::Information, l10n("L10n.Common.notice", "Notice"), qs(*message),
                                 QMessageBox::NoButton, window());
        alert_->setTextFormat(Qt::PlainText);
        alert_->addButton(l10n("L10n.Common.okLabel", "OK"), QMessageBox::RejectRole);
        alert_->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert_, &QMessageBox::finished, this, [this] {
            alert_ = nullptr;
            model_->dismissInfoAlert();
        });
        alert_->setWindowModality(Qt::WindowModal);
        alert_->open();
    }
    if (const auto& target = model_->closeTarget(); target && closeSheet_ == nullptr) {
        closeSheet_ = new CloseSessionConfirmView(
            *target, model_->closeDeleteMediaFiles(),
            [this](bool on) { model_->setCloseDeleteMediaFiles(on); }, [this] { model_->cancelClose(); },
            [this](bool deleteMedia) { model_->confirmClose(deleteMedia); }, window());
        closeSheet_->setAttribute(Qt::WA_DeleteOnClose);
        connect(closeSheet_, &QDialog::finished, this, [this] { closeSheet_ = nullptr; });
        closeSheet_->setWindowModality(Qt::WindowModal);
        closeSheet_->open();
    }
}

} // namespace velnote
