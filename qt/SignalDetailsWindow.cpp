// SPDX-License-Identifier: MIT
#include "qt/SignalDetailsWindow.h"

#include "base/Time.h"
#include "panel/DetailsPictures.h"
#include "qt/ChromaticityView.h"
#include "qt/Dialogs.h"
#include "qt/FormTr.h"
#include "qt/SpeakerView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtGui/QClipboard>
#include <QtGui/QFontDatabase>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QTreeWidget>
#include <QtWidgets/QVBoxLayout>
#include <fstream>

namespace telmar::panel {

namespace {

const QString kSectionTitles[] = {QStringLiteral("Video"), QStringLiteral("HDR"),
                                  QStringLiteral("Source"), QStringLiteral("Audio")};

QTreeWidget* newList(const QString& title) {
    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("list") + title);
    list->setColumnCount(2);
    list->setHeaderLabels({SignalDetailsWindow::tr("Field"), SignalDetailsWindow::tr("Value")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(true);
    return list;
}

QWidget* besidePicture(QWidget* list, QWidget* picture) {
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(list);
    splitter->addWidget(picture);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    return splitter;
}

} // namespace

SignalDetailsWindow::SignalDetailsWindow(const SignalDetailsState& state,
                                         const status::SignalHistory& history,
                                         DetailsServices& services)
    : QWidget(nullptr, Qt::Window), state_(state), historyData_(history), services_(services) {
    setObjectName(QStringLiteral("SignalDetailsWindow"));
    setWindowTitle(tr("Signal Details"));
    resize(820, 520);

    notice_ = new QLabel;
    notice_->setObjectName(QStringLiteral("notice"));
    QFont bold = notice_->font();
    bold.setBold(true);
    notice_->setFont(bold);

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("tabs"));
    chromaticity_ = new ChromaticityView;
    speakers_ = new SpeakerView;
    for (const QString& title : kSectionTitles) {
        QTreeWidget* list = newList(title);
        sections_[title] = list;
        QWidget* page = list;
        if (title == QLatin1String("HDR")) {
            page = besidePicture(list, chromaticity_);
        } else if (title == QLatin1String("Audio")) {
            page = besidePicture(list, speakers_);
        }
        tabs_->addTab(page, tr(title.toLatin1().constData()));
    }

    // One line of hex per block, each with its own copy button.
    auto* rawPage = new QWidget;
    auto* rawGrid = new QGridLayout(rawPage);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (std::size_t i = 0; i < raw_.size(); ++i) {
        const int block = status::StatusBlocks::kFirstBlock + static_cast<int>(i);
        const int row = static_cast<int>(i);
        auto* line = new QPlainTextEdit;
        line->setObjectName(QStringLiteral("raw%1").arg(block));
        line->setReadOnly(true);
        line->setFont(fixed);
        line->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        line->setFixedHeight(QFontMetrics(fixed).lineSpacing() * 3 + 12);
        auto* copy = new QPushButton(tr("Copy"));
        copy->setObjectName(QStringLiteral("copy%1").arg(block));
        copy->setAccessibleName(tr("Copy block %1").arg(block));
        connect(copy, &QPushButton::clicked, this, [this, block] { copyRaw(block); });
        rawGrid->addWidget(new QLabel(tr("Block %1").arg(block)), row, 0, Qt::AlignTop);
        rawGrid->addWidget(line, row, 1);
        rawGrid->addWidget(copy, row, 2, Qt::AlignTop);
        raw_[i] = line;
    }
    rawGrid->setRowStretch(static_cast<int>(raw_.size()), 1);
    tabs_->addTab(rawPage, tr("Raw"));

    auto* historyPage = new QWidget;
    auto* historyLayout = new QVBoxLayout(historyPage);
    history_ = new QTableWidget(0, 3);
    history_->setObjectName(QStringLiteral("history"));
    history_->setHorizontalHeaderLabels({tr("Time (UTC)"), tr("Event"), tr("Change")});
    history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    history_->verticalHeader()->hide();
    history_->verticalHeader()->setDefaultSectionSize(history_->fontMetrics().height() + 6);
    history_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    history_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    history_->horizontalHeader()->setStretchLastSection(true);
    auto* saveCsvButton = new QPushButton(tr("Save as CSV..."));
    saveCsvButton->setObjectName(QStringLiteral("saveCsv"));
    auto* saveJsonButton = new QPushButton(tr("Save as JSON lines..."));
    saveJsonButton->setObjectName(QStringLiteral("saveJsonLines"));
    connect(saveCsvButton, &QPushButton::clicked, this, &SignalDetailsWindow::saveCsv);
    connect(saveJsonButton, &QPushButton::clicked, this, &SignalDetailsWindow::saveJsonLines);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(saveCsvButton);
    buttons->addWidget(saveJsonButton);
    historyLayout->addWidget(history_);
    historyLayout->addLayout(buttons);
    tabs_->addTab(historyPage, tr("History"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notice_);
    layout->addWidget(tabs_);

    markTimer_ = new QTimer(this);
    markTimer_->setObjectName(QStringLiteral("markTimer"));
    markTimer_->setSingleShot(true);
    connect(markTimer_, &QTimer::timeout, this, &SignalDetailsWindow::refresh);
}

SignalDetailsWindow::~SignalDetailsWindow() = default;

QTreeWidget* SignalDetailsWindow::section(const QString& title) const {
    const auto it = sections_.find(title);
    return it == sections_.end() ? nullptr : it->second;
}

QPlainTextEdit* SignalDetailsWindow::rawLine(int block) const {
    const int i = block - status::StatusBlocks::kFirstBlock;
    return i >= 0 && i < static_cast<int>(raw_.size()) ? raw_[static_cast<std::size_t>(i)]
                                                       : nullptr;
}

void SignalDetailsWindow::refresh() {
    const std::uint32_t now = services_.clock.tickMs();
    const bool greyed = state_.stale();
    const std::string_view notice = detailsNotice(state_.input(), state_.connection());
    notice_->setText(translated("SignalDetailsWindow", notice));
    notice_->setVisible(!notice.empty());

    const status::DetailsView& view = state_.view();
    for (const QString& title : kSectionTitles) {
        const status::DetailsSection* found = nullptr;
        for (const auto& s : view.sections) {
            if (latin1(s.title) == title) {
                found = &s;
            }
        }
        fillSection(sections_.at(title), found, greyed, now);
    }
    for (QPlainTextEdit* line : raw_) {
        line->clear();
    }
    for (const status::RawBlockText& raw : view.raw) {
        if (QPlainTextEdit* line = rawLine(raw.number)) {
            line->setPlainText(latin1(raw.hex));
            line->setEnabled(!greyed);
        }
    }

    const auto& shown = state_.shown();
    const auto mastering = shown ? masteringPoints(*shown) : std::nullopt;
    const QString gamut =
        mastering ? latin1(status::gamutName(shown->hdr->metadata->gamut)) : QString();
    chromaticity_->setMastering(mastering, gamut, greyed);
    speakers_->setSpeakers(shown ? litSpeakers(*shown) : std::vector<status::Speaker>{}, greyed);
    fillHistory();

    if (const auto next = state_.nextMarkEnd(now)) {
        markTimer_->start(static_cast<int>(*next));
    } else {
        markTimer_->stop();
    }
}

void SignalDetailsWindow::fillSection(QTreeWidget* list, const status::DetailsSection* section,
                                      bool greyed, std::uint32_t nowMs) {
    const std::size_t rows = section != nullptr ? section->rows.size() : 0;
    // The rows are the same on every poll, so the items are made once and updated.
    if (static_cast<std::size_t>(list->topLevelItemCount()) != rows) {
        list->clear();
        for (std::size_t i = 0; i < rows; ++i) {
            list->addTopLevelItem(new QTreeWidgetItem(list));
        }
    }
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    const QColor markColour(255, 222, 120);
    for (std::size_t i = 0; i < rows; ++i) {
        const status::DetailRow& row = section->rows[i];
        QTreeWidgetItem* item = list->topLevelItem(static_cast<int>(i));
        const bool marked = state_.marked(row.key, nowMs);
        item->setText(0, latin1(row.label));
        item->setText(1, latin1(row.value));
        item->setToolTip(0, latin1(row.key));
        for (int column = 0; column < 2; ++column) {
            QFont font = list->font();
            font.setBold(marked);
            item->setFont(column, font);
            item->setForeground(column, greyed ? QBrush(grey) : QBrush());
            item->setBackground(column, marked ? QBrush(markColour) : QBrush());
        }
    }
}

void SignalDetailsWindow::fillHistory() {
    const auto& entries = historyData_.entries();
    // Entries dropped past the bound leave from the top; new ones come at the bottom.
    const std::size_t gone = historyData_.dropped() - historyDroppedShown_;
    historyDroppedShown_ = historyData_.dropped();
    const int remove = static_cast<int>(std::min<std::size_t>(gone, history_->rowCount()));
    for (int i = 0; i < remove; ++i) {
        history_->removeRow(0);
    }
    const bool added = static_cast<std::size_t>(history_->rowCount()) < entries.size();
    for (auto i = static_cast<std::size_t>(history_->rowCount()); i < entries.size(); ++i) {
        const status::HistoryEntry& e = entries[i];
        const int row = history_->rowCount();
        history_->insertRow(row);
        history_->setItem(row, 0, new QTableWidgetItem(latin1(base::isoTime(e.time))));
        history_->setItem(row, 1, new QTableWidgetItem(latin1(status::changeKindName(e.kind))));
        history_->setItem(row, 2, new QTableWidgetItem(latin1(e.text)));
    }
    if (added) {
        history_->scrollToBottom();
    }
}

void SignalDetailsWindow::copyRaw(int block) {
    if (const QPlainTextEdit* line = rawLine(block)) {
        QGuiApplication::clipboard()->setText(line->toPlainText());
    }
}

void SignalDetailsWindow::saveCsv() {
    save(tr("CSV files (*.csv)"), QStringLiteral(".csv"), true);
}

void SignalDetailsWindow::saveJsonLines() {
    save(tr("JSON lines (*.jsonl)"), QStringLiteral(".jsonl"), false);
}

void SignalDetailsWindow::save(const QString& filter, const QString& suffix, bool csv) {
    const QString caption = tr("Save the signal history");
    QString name = services_.saveFileName
                       ? services_.saveFileName(this, caption, filter)
                       : QFileDialog::getSaveFileName(
                             this, caption, QStringLiteral("signal-history") + suffix, filter);
    if (name.isEmpty()) {
        return;
    }
    std::ofstream out(QFile::encodeName(name).toStdString(), std::ios::binary | std::ios::trunc);
    if (out) {
        if (csv) {
            historyData_.writeCsv(out);
        } else {
            historyData_.writeJsonLines(out);
        }
        out.close();
    }
    if (!out) {
        services_.dialogs.warning(this, tr("Signal Details"),
                                  tr("The history could not be written to %1.").arg(name));
    }
}

// ---- The panel's side -----------------------------------------------------------------

SignalDetailsPanel::SignalDetailsPanel(DetailsServices services) : services_(std::move(services)) {}

SignalDetailsPanel::~SignalDetailsPanel() = default;

void SignalDetailsPanel::take(const status::StatusUpdate& update, Connection connection) {
    if (const status::SignalDetails* details =
            state_.take(update, connection, services_.clock.tickMs())) {
        history_.record(services_.wallClock ? services_.wallClock()
                                            : std::chrono::system_clock::now(),
                        *details);
    }
    if (window_ && window_->isVisible()) {
        window_->refresh();
    }
}

void SignalDetailsPanel::open() {
    if (!window_) {
        window_ = std::make_unique<SignalDetailsWindow>(state_, history_, services_);
    }
    window_->refresh();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SignalDetailsPanel::close() {
    if (window_) {
        window_->close();
    }
}

} // namespace telmar::panel
