// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "panel/PanelCore.h"
#include "panel/SignalDetailsState.h"
#include "status/SignalHistory.h"
#include "status/StatusUpdate.h"

#include <QtCore/QString>
#include <QtWidgets/QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableWidget;
class QTimer;
class QTreeWidget;

namespace telmar::panel {

class ChromaticityView;
class SpeakerView;
class WindowDialogs;

// What the details window needs from outside, so tests can stand in for each.
struct DetailsServices {
    link::Clock& clock; // the changed-field marks run on the panel's clock
    WindowDialogs& dialogs;
    // Where to save a file: the chosen name, or an empty one when the user cancels.
    // Empty: the platform's save dialog.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>
        saveFileName{};
    // The history's time stamps. Empty: the system clock.
    std::function<std::chrono::system_clock::time_point()> wallClock{};
};

// View > Signal Details: a separate, non-modal window over the last poll's details. It
// only paints what SignalDetailsState and SignalHistory hold.
class SignalDetailsWindow final : public QWidget {
    Q_OBJECT

  public:
    SignalDetailsWindow(const SignalDetailsState& state, const status::SignalHistory& history,
                        DetailsServices& services);
    ~SignalDetailsWindow() override;

    // Shows the state and history as they are now, and times the end of the next mark.
    void refresh();

    QTreeWidget* section(const QString& title) const;
    QPlainTextEdit* rawLine(int block) const;
    QLabel* notice() const { return notice_; }
    QTableWidget* historyTable() const { return history_; }
    QTabWidget* tabs() const { return tabs_; }
    ChromaticityView* chromaticity() const { return chromaticity_; }
    SpeakerView* speakers() const { return speakers_; }

  public slots:
    void copyRaw(int block);
    void saveCsv();
    void saveJsonLines();

  private:
    void fillSection(QTreeWidget* list, const status::DetailsSection* section, bool greyed,
                     std::uint32_t nowMs);
    void fillHistory();
    void save(const QString& filter, const QString& suffix, bool csv);

    const SignalDetailsState& state_;
    const status::SignalHistory& historyData_;
    DetailsServices& services_;
    QLabel* notice_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    std::map<QString, QTreeWidget*> sections_;
    std::array<QPlainTextEdit*, status::StatusBlocks::kCount> raw_{};
    ChromaticityView* chromaticity_ = nullptr;
    SpeakerView* speakers_ = nullptr;
    QTableWidget* history_ = nullptr;
    std::size_t historyDroppedShown_ = 0;
    QTimer* markTimer_ = nullptr;
};

// The panel's signal details: fed by every status update from start, whether the window
// is open or not, with the signal's history; the window is made on first use.
class SignalDetailsPanel {
  public:
    explicit SignalDetailsPanel(DetailsServices services);
    ~SignalDetailsPanel();
    SignalDetailsPanel(const SignalDetailsPanel&) = delete;
    SignalDetailsPanel& operator=(const SignalDetailsPanel&) = delete;

    // Where the window hands the panel's status update on: the same one the seven lines
    // come from, so the box is never asked for anything more.
    void take(const status::StatusUpdate& update, Connection connection);
    // View > Signal Details.
    void open();
    void close();

    SignalDetailsWindow* window() const { return window_.get(); }
    const SignalDetailsState& state() const { return state_; }
    const status::SignalHistory& history() const { return history_; }
    DetailsServices& services() { return services_; }

  private:
    DetailsServices services_;
    SignalDetailsState state_;
    status::SignalHistory history_;
    std::unique_ptr<SignalDetailsWindow> window_;
};

} // namespace telmar::panel
