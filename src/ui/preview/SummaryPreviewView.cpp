#include "ui/preview/SummaryPreviewView.h"

#include "platform/notifications/FileManagerReveal.h"
#include "session/l10n/L10n.h"
#include "ui/preview/ResummarizePanel.h"
#include "ui/preview/SummaryPreviewParts.h"
#include "ui/preview/markdown/MarkdownPreviewWebView.h"
#include "ui/theme/AppTheme.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QParallelAnimationGroup>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QWidget* withDivider(QWidget* row, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(row);
    column->addWidget(makeDivider(Qt::Horizontal, box));
    return box;
}

void paintBackground(QWidget* widget, const AdaptiveColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color.resolve(widget->palette()));
    widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

// A busy indicator over the loading text, centred in the content area.
QWidget* buildLoadingPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* column = new QVBoxLayout(page);
    column->addStretch(1);
    auto* busy = new QProgressBar(page);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(120, 6);
    column->addWidget(busy, 0, Qt::AlignHCenter);
    auto* text = new QLabel(qs(L10n::localized("L10n.Common.loading", "Loading...")), page);
    text->setAlignment(Qt::AlignCenter);
    column->addWidget(text);
    column->addStretch(1);
    return page;
}

} // namespace

SummaryPreviewView::SummaryPreviewView(std::unique_ptr<SummaryPreviewState> state, OpenVersion openVersion,
                                       Reveal reveal, QWidget* parent)
    : QWidget(parent), state_(std::move(state)), openVersion_(std::move(openVersion)),
      reveal_(std::move(reveal)) {
    setMinimumSize(860, 520);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(withDivider(buildToolbar(), this));

    runConfigBar_ = new RunConfigBar(this);
    runConfigRow_ = withDivider(runConfigBar_, this);
    column->addWidget(runConfigRow_);

    panel_ = new ResummarizePanel(*state_, this);
    paintBackground(panel_, AppTheme::cardBackground());
    panelRow_ = withDivider(panel_, this);
    panelRow_->hide();
    column->addWidget(panelRow_);
    buildPanelAnimation();

    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    content_ = new QStackedWidget(this);
    paintBackground(content_, AppTheme::solidContentBackground());
    loadingPage_ = buildLoadingPage(content_);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    readOnlyText_ = new QPlainTextEdit(content_);
    readOnlyText_->setReadOnly(true);
    readOnlyText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    readOnlyText_->setFont(mono);
    editor_ = new QPlainTextEdit(content_);
    editor_->setFont(mono);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (!refreshing_)
            state_->editSource(editor_->toPlainText().toStdString());
    });
    content_->addWidget(loadingPage_);
    content_->addWidget(readOnlyText_);
    content_->addWidget(editor_);
    body->addWidget(content_, 1);
    body->addWidget(makeDivider(Qt::Vertical, this));

    auto* sidebarScroll = new QScrollArea(this);
    sidebarScroll->setFixedWidth(230);
    sidebarScroll->setWidgetResizable(true);
    sidebarScroll->setFrameShape(QFrame::NoFrame);
    sidebarScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    sidebarScroll->setWidget(new SummaryMetadataSidebar(state_->snapshot(), sidebarScroll));
    paintBackground(sidebarScroll, AppTheme::cardBackground());
    body->addWidget(sidebarScroll);
    column->addLayout(body, 1);

    state_->setOnChange([this] { refresh(); });
    refresh();
    state_->start();
}

SummaryPreviewView::~SummaryPreviewView() {
    state_->setOnChange({});
    state_->disappear();
}

QWidget* SummaryPreviewView::buildToolbar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);

    versionPicker_ = new QComboBox(bar);
    versionPicker_->setMaximumWidth(200);
    connect(versionPicker_, &QComboBox::activated, this, [this](int index) {
        if (!refreshing_ && index >= 0 && static_cast<std::size_t>(index) < state_->versions().size())
            state_->selectVersion(state_->versions()[static_cast<std::size_t>(index)]);
    });
    versionLabel_ = new QLabel(bar);
    versionLabel_->setStyleSheet(QStringLiteral("color: palette(mid);"));
    openVersionButton_ = new QToolButton(bar);
    openVersionButton_->setAutoRaise(true);
    openVersionButton_->setText(QStringLiteral("↗"));
    openVersionButton_->setToolTip(QStringLiteral("このバージョンを別ウィンドウで開く"));
    connect(openVersionButton_, &QToolButton::clicked, this, [this] {
        if (state_->currentVersion() && openVersion_)
            openVersion_(state_->snapshot(), *state_->currentVersion());
    });
    row->addWidget(versionPicker_);
    row->addWidget(versionLabel_);
    row->addWidget(openVersionButton_);
    row->addStretch(1);

    readOnlyBadge_ = makeChip(qs(L10n::localized("L10n.Summary.readOnly", "Read Only")), bar);
    row->addWidget(readOnlyBadge_);

    auto* tabsBox = new QWidget(bar);
    tabsBox->setFixedWidth(280);
    auto* tabsRow = new QHBoxLayout(tabsBox);
    tabsRow->setContentsMargins(0, 0, 0, 0);
    tabsRow->setSpacing(0);
    tabs_ = new QButtonGroup(this);
    previewTab_ = new QPushButton(qs(L10n::localized("L10n.Summary.tabPreview", "Preview")), tabsBox);
    sourceTab_ = new QPushButton(QStringLiteral("Markdown"), tabsBox);
    for (QPushButton* tab : {previewTab_, sourceTab_}) {
        tab->setCheckable(true);
        tabs_->addButton(tab);
        tabsRow->addWidget(tab);
    }
    connect(previewTab_, &QPushButton::clicked, this,
            [this] { state_->setSelectedTab(SummaryPreviewState::Tab::preview); });
    connect(sourceTab_, &QPushButton::clicked, this,
            [this] { state_->setSelectedTab(SummaryPreviewState::Tab::source); });
    row->addWidget(tabsBox);

    resummarizeButton_ = new QPushButton(QStringLiteral("再要約"), bar);
    resummarizeButton_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    connect(resummarizeButton_, &QPushButton::clicked, this, [this] { state_->toggleResummarizePanel(); });
    row->addWidget(resummarizeButton_);

    revealButton_ = new QToolButton(bar);
    revealButton_->setAutoRaise(true);
    revealButton_->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    revealButton_->setToolTip(QStringLiteral("Finder で開く"));
    connect(revealButton_, &QToolButton::clicked, this, [this] {
        const std::filesystem::path file = state_->latestSummaryFile();
        if (reveal_)
            reveal_(file);
        else
            platform::FileManagerReveal::revealItems({file});
    });
    row->addWidget(revealButton_);

    savingIndicator_ = new QProgressBar(bar);
    savingIndicator_->setRange(0, 0);
    savingIndicator_->setTextVisible(false);
    savingIndicator_->setFixedSize(20, 20);
    row->addWidget(savingIndicator_);
    return bar;
}

// The panel slides down from under the toolbar while fading in, and leaves the same way.
void SummaryPreviewView::buildPanelAnimation() {
    auto* opacity = new QGraphicsOpacityEffect(panelRow_);
    panelRow_->setGraphicsEffect(opacity);
    auto* height = new QPropertyAnimation(panelRow_, "maximumHeight");
    auto* fade = new QPropertyAnimation(opacity, "opacity");
    for (QPropertyAnimation* animation : {height, fade}) {
        animation->setDuration(200);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
    }
    panelAnimation_ = new QParallelAnimationGroup(this);
    panelAnimation_->addAnimation(height);
    panelAnimation_->addAnimation(fade);
    connect(panelAnimation_, &QAbstractAnimation::finished, this, [this] {
        panelRow_->setVisible(panelShown_);
        panelRow_->setMaximumHeight(QWIDGETSIZE_MAX);
    });
}

void SummaryPreviewView::setPanelShown(bool shown) {
    if (shown == panelShown_)
        return;
    panelShown_ = shown;
    panelAnimation_->stop();
    if (!isVisible()) {
        panelRow_->setVisible(shown);
        panelRow_->setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    const int fromHeight = panelRow_->isVisible() ? panelRow_->height() : 0;
    const int toHeight = shown ? panelRow_->sizeHint().height() : 0;
    auto* height = static_cast<QPropertyAnimation*>(panelAnimation_->animationAt(0));
    auto* fade = static_cast<QPropertyAnimation*>(panelAnimation_->animationAt(1));
    height->setStartValue(fromHeight);
    height->setEndValue(toHeight);
    fade->setStartValue(shown ? 0.0 : 1.0);
    fade->setEndValue(shown ? 1.0 : 0.0);
    panelRow_->setMaximumHeight(fromHeight);
    panelRow_->show();
    panelAnimation_->start();
}

void SummaryPreviewView::refresh() {
    refreshing_ = true;
    refreshVersions();
    const bool readOnly = state_->isReadOnly();
    readOnlyBadge_->setVisible(readOnly);
    resummarizeButton_->setVisible(!readOnly);
    resummarizeButton_->setStyleSheet(state_->showResummarizePanel() ? QStringLiteral("color: #2563eb;")
                                                                     : QString());
    savingIndicator_->setVisible(state_->isSaving());
    (state_->selectedTab() == SummaryPreviewState::Tab::preview ? previewTab_ : sourceTab_)->setChecked(true);

    const auto& version = state_->currentVersion();
    runConfigRow_->setVisible(version && version->runConfig);
    if (version && version->runConfig)
        runConfigBar_->show(*version->runConfig);
    setPanelShown(state_->isResummarizePanelShown());
    panel_->refresh();
    refreshContent();
    refreshing_ = false;
}

void SummaryPreviewView::refreshVersions() {
    const auto& versions = state_->versions();
    const bool picker = versions.size() >= 2;
    versionPicker_->setVisible(picker);
    versionLabel_->setVisible(!picker);
    if (picker) {
        QStringList labels;
        for (const SummaryVersion& v : versions)
            labels << qs(v.label());
        QStringList shown;
        for (int i = 0; i < versionPicker_->count(); ++i)
            shown << versionPicker_->itemText(i);
        if (shown != labels) {
            versionPicker_->clear();
            versionPicker_->addItems(labels);
        }
        const auto current = state_->currentVersion()
                                 ? std::find(versions.begin(), versions.end(), *state_->currentVersion())
                                 : versions.end();
        versionPicker_->setCurrentIndex(
            current == versions.end() ? -1 : static_cast<int>(current - versions.begin()));
    } else {
        versionLabel_->setText(qs(state_->currentVersionLabel()));
    }
    openVersionButton_->setVisible(state_->currentVersion() && !state_->currentVersion()->isLatest);
}

void SummaryPreviewView::refreshContent() {
    if (state_->isLoadingFile()) {
        content_->setCurrentWidget(loadingPage_);
        return;
    }
    const QString source = qs(state_->markdownSource());
    if (state_->selectedTab() == SummaryPreviewState::Tab::source) {
        QPlainTextEdit* shown = state_->isReadOnly() ? readOnlyText_ : editor_;
        if (shown->toPlainText() != source)
            shown->setPlainText(source); // a new text is shown from its top
        content_->setCurrentWidget(shown);
        return;
    }
    // The web view starts with the text already loaded, so its first page holds it.
    if (webView_ == nullptr) {
        webView_ = new MarkdownPreviewWebView(state_->markdownSource(), MarkdownPreviewWebView::Feature::none,
                                              content_);
        content_->addWidget(webView_);
    } else {
        webView_->setMarkdown(state_->markdownSource());
    }
    content_->setCurrentWidget(webView_);
}

} // namespace velnote
