// SPDX-License-Identifier: MIT
#pragma once

#include "link/Messages.h"

class QString;
class QWidget;

namespace telmar::panel {

// Where the window shows its own modal boxes, so tests can record them instead.
class WindowDialogs {
  public:
    virtual ~WindowDialogs() = default;
    // A warning box with the single button OK and no default button.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void about(QWidget* parent, const QString& title, const QString& text) = 0;
};

// The real boxes. The link's warnings have no owner window, the link's caption
// and one OK button.
class QtDialogs final : public WindowDialogs, public link::MessageSink {
  public:
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    void about(QWidget* parent, const QString& title, const QString& text) override;
    void showWarning(std::string_view text, std::string_view caption) override;
};

} // namespace telmar::panel
