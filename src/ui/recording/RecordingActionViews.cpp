#include "ui/recording/RecordingActionViews.h"

#include "session/l10n/L10n.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velnote {
namespace {

struct ButtonText {
    const char* symbol;
    const char* key;
    const char* english;
    const char* helpKey; // nullptr: no help
    const char* help;
};

constexpr ButtonText kOcr{
    "camera", "L10n.Recording.ocrScreenshot", "OCR Screenshot", "L10n.Recording.ocrScreenshotHelp",
    "Manually capture the screen during recording, save OCR text to the session, and open in "
    "the default app"};
constexpr ButtonText kSelectRegion{"viewfinder", "L10n.Recording.selectRegion", "Select Region",
                                   "L10n.Recording.selectRegionHelp",
                                   "Specify a rectangular region for screenshot capture"};
constexpr ButtonText kClearRegion{"viewfinder.circle.fill", "L10n.Recording.clearRegion", "Clear Region",
                                  "L10n.Recording.clearRegionHelp",
                                  "Clear the capture region and revert to full screen"};
constexpr ButtonText kFolder{"folder", "L10n.Common.openFolder", "Open Folder",
                             "L10n.Recording.openFolderHelp",
                             "Open the current recording session folder in Finder"};
constexpr ButtonText kStop{"stop.fill", "L10n.Recording.stopRecording", "Stop Recording", nullptr, nullptr};
constexpr ButtonText kSettings{"gearshape", "L10n.Recording.settings", "Settings",
                               "L10n.Recording.settingsHelp",
                               "Change settings for this session (does not affect default settings)"};

void applyText(QPushButton& button, const ButtonText& text, bool narrow) {
    button.setObjectName(QString::fromUtf8(text.symbol));
    button.setText(narrow ? symbolGlyph(text.symbol) : localizedText(text.key, text.english));
    button.setToolTip(text.helpKey == nullptr ? QString() : localizedText(text.helpKey, text.help));
    button.setMinimumHeight(narrow ? 28 : 30);
    button.setSizePolicy(narrow ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void tint(QPushButton& button, const QColor& color) {
    button.setStyleSheet(color.isValid() ? QStringLiteral("QPushButton { color: %1; }").arg(color.name())
                                         : QString());
}

} // namespace

// --- Activity ---

ActivitySection::ActivitySection(RecordingViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context),
      waiting_(new QLabel(L10n::isJapanese() ? QStringLiteral("アクティビティ検出待ち...")
                                             : QStringLiteral("Waiting for activity..."),
                          this)),
      rows_(new QWidget(this)) {
    QFont waitingFont = waiting_->font();
    waitingFont.setPointSizeF(12);
    waiting_->setFont(waitingFont);
    setTextColor(*waiting_, tertiaryColor(palette()));

    struct Row {
        const char* key;
        const char* english;
        bool secondary;
    };
    constexpr std::array<Row, 3> kRows{Row{"L10n.Recording.activityWorkState", "State", false},
                                       Row{"L10n.Recording.activityPurpose", "Purpose", false},
                                       Row{"L10n.Recording.activitySummary", "Summary", true}};
    auto* grid = new QGridLayout(rows_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        auto* name = new QLabel(localizedText(kRows[i].key, kRows[i].english) + QStringLiteral(":"), rows_);
        QFont font = name->font();
        font.setPointSizeF(11);
        font.setWeight(QFont::Medium);
        name->setFont(font);
        setTextColor(*name, secondaryColor(palette()));
        name->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred); // never cut or wrapped
        values_[i] = new QLabel(rows_);
        font.setWeight(QFont::Normal);
        values_[i]->setFont(font);
        values_[i]->setWordWrap(true); // as many lines as it needs
        values_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (kRows[i].secondary) {
            setTextColor(*values_[i], secondaryColor(palette()));
        }
        grid->addWidget(name, static_cast<int>(i), 0, Qt::AlignTop | Qt::AlignLeft);
        grid->addWidget(values_[i], static_cast<int>(i), 1, Qt::AlignTop);
    }
    grid->setColumnStretch(1, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(waiting_);
    column->addWidget(rows_);
}

void ActivitySection::refresh() {
    const std::optional<LiveActivityInfo>& activity = context_.state->liveActivity();
    waiting_->setVisible(!activity);
    rows_->setVisible(activity.has_value());
    if (activity) {
        values_[0]->setText(toQString(activity->workState));
        values_[1]->setText(toQString(activity->purpose));
        values_[2]->setText(toQString(activity->summary));
    }
}

// --- Actions ---

ActionRow::ActionRow(RecordingViewContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setFixedHeight(38);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(6);
    for (QPushButton*& button : buttons_) {
        button = new QPushButton(this);
        row->addWidget(button, 0, Qt::AlignVCenter);
    }
    buttons_[stop]->setDefault(true); // the prominent one
    connect(buttons_[ocr], &QPushButton::clicked, this, [this] { context_.actions.captureScreenshotOCR(); });
    connect(buttons_[region], &QPushButton::clicked, this, [this] { pressRegion(); });
    connect(buttons_[folder], &QPushButton::clicked, this, [this] {
        if (const auto& dir = context_.state->activeSessionDir()) {
            context_.actions.openFolder(*dir);
        }
    });
    connect(buttons_[stop], &QPushButton::clicked, this, [this] { context_.actions.stopRecording(); });
    connect(buttons_[settings], &QPushButton::clicked, this,
            [this] { context_.actions.showSessionSettings(); });
}

void ActionRow::pressRegion() {
    // The form the user saw decides the action: a set region is cleared, none is chosen.
    if (context_.state->captureRegion()) {
        context_.state->setCaptureRegion(std::nullopt);
    } else {
        context_.actions.showRegionPicker();
    }
}

void ActionRow::refresh() {
    const bool narrow = this->narrow();
    const bool recording = context_.recording();
    const bool regionSet = context_.state->captureRegion().has_value();
    applyText(*buttons_[ocr], kOcr, narrow);
    applyText(*buttons_[region], regionSet ? kClearRegion : kSelectRegion, narrow);
    applyText(*buttons_[folder], kFolder, narrow);
    applyText(*buttons_[stop], kStop, narrow);
    applyText(*buttons_[settings], kSettings, narrow);
    tint(*buttons_[region], regionSet ? QColor(0, 122, 255) : QColor());
    tint(*buttons_[stop], QColor(255, 59, 48));
    buttons_[ocr]->setEnabled(recording);
    buttons_[region]->setEnabled(recording);
    buttons_[folder]->setEnabled(context_.state->activeSessionDir().has_value());
    buttons_[stop]->setEnabled(recording);
    buttons_[settings]->setEnabled(true);
}

void ActionRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

} // namespace velnote
