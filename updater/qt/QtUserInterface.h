// SPDX-License-Identifier: MIT
#pragma once

#include "updater/UserInterface.h"

#include <QMessageBox>

namespace telmar::updater {

class LineCanvas;

// A box that only its user ends: by its button, Enter or Escape, or the window
// manager's close. A close the program asks for itself is refused: Qt closes every
// window it can when the application is asked to quit, and a closing parent closes
// its boxes, which would otherwise answer a box nobody has read.
class UserAnsweredBox final : public QMessageBox {
  public:
    UserAnsweredBox(const QString& caption, const QString& text, QWidget* parent = nullptr);

  protected:
    void closeEvent(QCloseEvent* event) override;
};

// The flash procedure's view of the Qt shell. Called from the worker thread: lines
// are queued to the GUI thread; a warning box is shown there, not modal, and the
// worker waits until the user has answered it, however long that takes.
class QtUserInterface final : public UserInterface {
  public:
    explicit QtUserInterface(LineCanvas* canvas) : canvas_(canvas) {}

    void drawStatusLine(std::string_view text, int y) override;
    void showWarning(std::string_view text, std::string_view caption) override;
    // Ends the process at once, worker and window with it.
    [[noreturn]] void endProcess(int exitCode) override;

  private:
    LineCanvas* canvas_; // outlives every worker: the window waits for its worker
};

} // namespace telmar::updater
