#include "ui/models/AboutView.h"

#include "session/l10n/L10n.h"
#include "ui/models/WindowStyle.h"
#include "ui/theme/AppTheme.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace velnote {
namespace {

using AboutContent::DependencyInfo;
using AboutContent::ModelInfo;

QString text(std::string_view key, std::string_view english) {
    return QString::fromStdString(L10n::localized(key, english));
}

// A text whose catalogue key is its own English wording.
QString literal(std::string_view english, const std::vector<L10nArg>& args = {}) {
    return QString::fromStdString(L10n::localized(english, english, args));
}

QString q(const std::string& value) {
    return QString::fromStdString(value);
}

QLabel* label(const QString& value, QWidget* parent) {
    auto* result = new QLabel(value, parent);
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(true);
    return result;
}

// A line of links; a link whose text does not parse as an address is left out.
QWidget* links(const std::vector<std::pair<QString, std::string>>& targets, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName("links");
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    for (const auto& [title, address] : targets) {
        if (!AboutContent::isLinkAddress(address))
            continue;
        auto* link = new QLabel(row);
        link->setTextFormat(Qt::RichText);
        link->setText(
            QString("<a href=\"%1\">%2</a>").arg(q(address).toHtmlEscaped(), title.toHtmlEscaped()));
        link->setOpenExternalLinks(true);
        link->setProperty("address", q(address));
        WindowStyle::caption(*link);
        layout->addWidget(link);
    }
    layout->addStretch(1);
    return row;
}

QWidget* header(const std::string& name, const QString& trailing, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = label(q(name), row);
    WindowStyle::headline(*title);
    auto* right = label(trailing, row);
    right->setWordWrap(false);
    WindowStyle::secondary(*right);
    layout->addWidget(title);
    layout->addStretch(1);
    layout->addWidget(right);
    return row;
}

void addNote(QVBoxLayout& rows, const std::optional<std::string>& note, QWidget* parent) {
    if (!note || note->empty())
        return;
    auto* line = label(q(*note), parent);
    line->setObjectName("note");
    WindowStyle::caption(*line);
    WindowStyle::secondary(*line);
    rows.addWidget(line);
}

void addCaption(QVBoxLayout& rows, const QString& value, QWidget* parent) {
    auto* line = label(value, parent);
    WindowStyle::caption(*line);
    WindowStyle::secondary(*line);
    rows.addWidget(line);
}

void addDescription(QVBoxLayout& rows, const std::string& description, QWidget* parent) {
    auto* line = label(q(description), parent);
    WindowStyle::subheadline(*line);
    rows.addWidget(line);
}

// Rows one under the other with a divider between two rows (none after the last).
template <class Row, class Build>
void addRows(QVBoxLayout& section, const std::vector<Row>& table, Build build) {
    for (const Row& row : table) {
        auto* block = new QWidget;
        block->setObjectName("row");
        auto* rows = new QVBoxLayout(block);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(4);
        build(*rows, row, block);
        section.addWidget(block);
        if (!(row.id == table.back().id))
            section.addWidget(WindowStyle::divider());
    }
}

QGroupBox* section(const QString& title, int spacing, QVBoxLayout*& rows) {
    auto* box = new QGroupBox(title);
    rows = new QVBoxLayout(box);
    rows->setSpacing(spacing);
    return box;
}

void dependencyList(QVBoxLayout& section, const std::vector<DependencyInfo>& table) {
    addRows(section, table, [](QVBoxLayout& rows, const DependencyInfo& row, QWidget* block) {
        rows.addWidget(header(row.name, literal("%@  |  %@", {row.version, row.license}), block));
        addNote(rows, row.note, block);
        addDescription(rows, row.description, block);
        rows.addWidget(links({{literal("Project"), row.url}, {literal("License"), row.licenseURL}}, block));
    });
}

void modelList(QVBoxLayout& section, const std::vector<ModelInfo>& table) {
    addRows(section, table, [](QVBoxLayout& rows, const ModelInfo& row, QWidget* block) {
        rows.addWidget(header(row.name, q(row.version), block));
        addNote(rows, row.note, block);
        addCaption(rows, literal("Distribution License: %@", {row.distributionLicense}), block);
        addCaption(rows, literal("Upstream License: %@", {row.upstreamLicense}), block);
        addDescription(rows, row.description, block);
        rows.addWidget(links({{literal("Model"), row.url},
                              {literal("Dist License"), row.distributionLicenseURL},
                              {literal("Upstream License"), row.upstreamLicenseURL}},
                             block));
    });
}

} // namespace

AboutView::AboutView() : AboutView(Sources{}) {}

AboutView::AboutView(Sources sources, QWidget* parent) : QWidget(parent), sources_(std::move(sources)) {
    if (!sources_.resources)
        sources_.resources = [] { return AboutContent::resourcesDirectory(); };
    if (!sources_.executable)
        sources_.executable = [] { return AboutContent::executablePath(); };
    if (!sources_.open)
        sources_.open = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    setMinimumSize(760, 540);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(scroll);
    content_ = new QWidget;
    content_->setAutoFillBackground(true);
    scroll->setWidget(content_);
    rebuild();
}

void AboutView::rebuild() {
    delete content_->layout();
    for (QWidget* child : content_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
    QPalette palette = content_->palette();
    palette.setColor(QPalette::Window, AppTheme::cardBackground().resolve(this->palette()));
    content_->setPalette(palette);

    auto* sections = new QVBoxLayout(content_);
    sections->setContentsMargins(16, 16, 16, 16);
    sections->setSpacing(20);
    QVBoxLayout* rows = nullptr;

    QGroupBox* app = section(text("L10n.About.appSection", "App"), 8, rows);
    auto* values = new QFormLayout;
    values->addRow(literal("Name"), label("Hushtape", app));
    values->addRow(literal("Version"), label(q(AboutContent::appVersion()), app));
    values->addRow(text("L10n.About.lastBuildDate", "Last Build Date"),
                   label(q(AboutContent::buildDate(sources_.executable())), app));
    rows->addLayout(values);
    sections->addWidget(app);

    QGroupBox* notices = section(text("L10n.About.licenseManagement", "License Management"), 8, rows);
    notices->setObjectName("licenseManagement");
    AboutContent::Notices found;
    if (const auto resources = sources_.resources())
        found = AboutContent::locateNotices(*resources);
    const std::pair<const std::optional<std::filesystem::path>*, QString> buttons[] = {
        {&found.thirdPartyNotices,
         text("L10n.About.openThirdPartyNotices", "Open Bundled Third-Party Notices")},
        {&found.licensesFolder, text("L10n.About.openBundledLicensesFolder", "Open Bundled Licenses Folder")},
        {&found.modelNotices, text("L10n.About.openModelNotices", "Open MODEL_NOTICES.txt")},
    };
    for (const auto& [path, title] : buttons) {
        if (!*path)
            continue;
        auto* button = new QPushButton(title, notices);
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        QPalette accent = button->palette();
        accent.setColor(QPalette::ButtonText, accent.color(QPalette::Link));
        button->setPalette(accent);
        button->setStyleSheet("text-align: left; padding: 0;");
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString((*path)->string()));
        button->setProperty("url", url);
        connect(button, &QPushButton::clicked, this, [this, url] { sources_.open(url); });
        rows->addWidget(button, 0, Qt::AlignLeft);
    }
    sections->addWidget(notices);

    const auto libraries = [&](std::string_view key, std::string_view english,
                               const std::vector<DependencyInfo>& table) {
        QGroupBox* box = section(text(key, english), 10, rows);
        dependencyList(*rows, table);
        sections->addWidget(box);
    };
    const auto models = [&](std::string_view key, std::string_view english,
                            const std::vector<ModelInfo>& table) {
        QGroupBox* box = section(text(key, english), 10, rows);
        modelList(*rows, table);
        sections->addWidget(box);
    };
    libraries("L10n.About.mainLibraries", "Main Libraries", AboutContent::directDependencies());
    libraries("L10n.About.bundledJsLibraries", "Bundled JavaScript Libraries",
              AboutContent::bundledJsLibraries());
    libraries("L10n.About.transitiveDependencies", "Transitive Dependencies",
              AboutContent::transitiveDependencies());
    models("L10n.About.transcriptionModels", "Transcription Models", AboutContent::transcriptionModels());
    models("L10n.About.summarizationModels", "Summarization Models", AboutContent::summarizationModels());
    models("L10n.About.speakerDiarization", "Speaker Diarization", AboutContent::diarizationModels());
    sections->addStretch(1);
}

QList<QPushButton*> AboutView::noticeButtons() const {
    auto* box = content_->findChild<QGroupBox*>("licenseManagement");
    return box != nullptr ? box->findChildren<QPushButton*>() : QList<QPushButton*>{};
}

} // namespace velnote
