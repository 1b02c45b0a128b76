// SPDX-License-Identifier: MIT
#pragma once

#include <QtCore/QPointer>
#include <functional>

class QMessageBox;
class QString;
class QWidget;

namespace telmar::panel {

// Where the window shows its own boxes, so tests can record them instead.
class WindowDialogs {
  public:
    virtual ~WindowDialogs() = default;
    // A warning box with the single button OK and no default button.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void about(QWidget* parent, const QString& title, const QString& text) = 0;
};

// Where the link's warning boxes are shown. show() returns at once; `dismissed` runs
// when the box is closed, by the user or by closeAll().
class LinkBoxes {
  public:
    virtual ~LinkBoxes() = default;
    virtual void show(const QString& text, const QString& caption,
                      std::function<void()> dismissed) = 0;
    virtual void closeAll() = 0;
};

// The real boxes. None of them blocks the window: the link's have no owner window (the
// caption is the link's, one OK button), the window's own stay above it, and the user can
// go on using menus, controls and the close box while any is open.
class QtDialogs final : public WindowDialogs, public LinkBoxes {
  public:
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    void about(QWidget* parent, const QString& title, const QString& text) override;
    void show(const QString& text, const QString& caption,
              std::function<void()> dismissed) override;
    void closeAll() override;

  private:
    QPointer<QMessageBox> linkBox_;
};

} // namespace telmar::panel
