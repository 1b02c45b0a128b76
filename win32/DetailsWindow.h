// SPDX-License-Identifier: MIT
#pragma once

#include "link/Clock.h"
#include "panel/PanelCore.h"
#include "panel/SignalDetailsState.h"
#include "status/StatusUpdate.h"
#include "win32/PanelShell.h"

#include <cstddef>
#include <vector>
#include <windows.h>

namespace telmar::win32 {

// The window class of View > Signal Details.
inline constexpr wchar_t kDetailsWindowClass[] = L"LUMORA_DETAILS";

// View > Signal Details of the Win32 panel: a separate, non-modal window with one list of
// the sections' fields and values and the status blocks' bytes in hex. It only paints what
// SignalDetailsState holds, so it shows what the other shell shows.
class DetailsWindow {
  public:
    DetailsWindow(HINSTANCE instance, link::Clock& clock) : instance_(instance), clock_(clock) {}
    DetailsWindow(const DetailsWindow&) = delete;
    DetailsWindow& operator=(const DetailsWindow&) = delete;

    // Every status update the panel gets, whether the window is open or not: the marks
    // and the last values must be right when it opens.
    void take(const status::StatusUpdate& update, panel::Connection connection);
    // Made on first use; shown and brought to the front.
    void open();
    HWND window() const { return window_; }

  private:
    template <typename Owner>
    friend LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool create();
    void layout();
    void refresh();
    void fillList();
    LRESULT customDraw(LPARAM notice); // NM_CUSTOMDRAW of the list
    void copyRaw();

    // Where a line of the list comes from in the state's view.
    struct Line {
        std::size_t section = 0;
        std::ptrdiff_t row = -1; // -1: the section's title
    };

    HINSTANCE instance_;
    link::Clock& clock_;
    panel::SignalDetailsState state_;
    std::vector<Line> lines_;

    HWND window_ = nullptr;
    HWND notice_ = nullptr;
    HWND list_ = nullptr;
    HWND rawLabel_ = nullptr;
    HWND raw_ = nullptr;
    HWND copy_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bold_ = nullptr;
    HFONT fixed_ = nullptr;
};

} // namespace telmar::win32
