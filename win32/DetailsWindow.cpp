// SPDX-License-Identifier: MIT
#include "win32/DetailsWindow.h"

#include "base/Latin1.h"

#include <algorithm>
#include <commctrl.h>
#include <string>

namespace telmar::win32 {

namespace {

using base::widen;

constexpr UINT_PTR kMarkTimer = 1;
// Clear of IDOK and IDCANCEL, which the dialog keys send.
constexpr int kCopyId = 101;
constexpr int kNoticeId = 102; // how the Wine test finds the notice
constexpr int kMargin = 8;
constexpr int kRawLines = 6;
// Marked fields stand out as in the other shell.
constexpr COLORREF kMarkColour = RGB(255, 222, 120);

int lineHeight(HWND window, HFONT font) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return static_cast<int>(metrics.tmHeight + metrics.tmExternalLeading);
}

void setText(HWND control, const std::wstring& text) {
    // Setting an equal text would still repaint (and scroll an edit to its top).
    if (windowText(control) != text) {
        SetWindowTextW(control, text.c_str());
    }
}

void setItemText(HWND list, int item, int column, const std::wstring& text) {
    LVITEMW lv{};
    lv.iSubItem = column;
    lv.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

} // namespace

void DetailsWindow::take(const status::StatusUpdate& update, panel::Connection connection) {
    state_.take(update, connection, clock_.tickMs());
    if (window_ != nullptr && IsWindowVisible(window_)) {
        refresh();
    }
}

void DetailsWindow::open() {
    if (window_ == nullptr && !create()) {
        return;
    }
    refresh();
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
}

bool DetailsWindow::create() {
    // Not owned by the panel: a window of its own, as large as its user wants.
    window_ =
        CreateWindowExW(0, kDetailsWindowClass, L"Signal Details", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 600, 560, nullptr, nullptr, instance_, this);
    if (window_ == nullptr) {
        return false;
    }
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW face = metrics.lfMessageFont;
    font_ = CreateFontIndirectW(&face);
    face.lfWeight = FW_BOLD;
    bold_ = CreateFontIndirectW(&face);
    LOGFONTW fixed{};
    fixed.lfHeight = metrics.lfMessageFont.lfHeight;
    fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    fixed_ = CreateFontIndirectW(&fixed);

    const auto child = [this](DWORD exStyle, const wchar_t* windowClass, const wchar_t* text,
                              DWORD style, int id, HFONT font) {
        HWND hwnd = CreateWindowExW(
            exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return hwnd;
    };
    notice_ = child(0, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kNoticeId, bold_);
    list_ = child(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                  WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, 0,
                  font_);
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    const wchar_t* titles[] = {L"Field", L"Value"};
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNW lv{};
        lv.mask = LVCF_TEXT | LVCF_WIDTH;
        lv.pszText = const_cast<wchar_t*>(titles[column]);
        lv.cx = column == 0 ? 190 : 340;
        SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&lv));
    }
    rawLabel_ = child(0, L"STATIC", L"Raw (blocks as read, hex)", SS_LEFT, 0, font_);
    raw_ = child(WS_EX_CLIENTEDGE, L"EDIT", L"",
                 WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, fixed_);
    copy_ = child(0, L"BUTTON", L"&Copy", WS_TABSTOP | BS_PUSHBUTTON, kCopyId, font_);
    layout();
    return true;
}

void DetailsWindow::layout() {
    if (raw_ == nullptr) {
        return; // the first WM_SIZE comes before the controls
    }
    RECT client{};
    GetClientRect(window_, &client);
    const int width = std::max(0, static_cast<int>(client.right) - 2 * kMargin);
    const int text = lineHeight(window_, font_);
    const int button = text + 10;
    const int rawHeight = lineHeight(window_, fixed_) * kRawLines + 8;
    int y = kMargin;
    MoveWindow(notice_, kMargin, y, width, text, TRUE);
    y += text + 4;
    const int listHeight =
        std::max(text * 3, static_cast<int>(client.bottom) - y - button - rawHeight - 3 * kMargin);
    MoveWindow(list_, kMargin, y, width, listHeight, TRUE);
    y += listHeight + kMargin;
    MoveWindow(rawLabel_, kMargin, y + (button - text) / 2, width - 90, text, TRUE);
    MoveWindow(copy_, kMargin + width - 80, y, 80, button, TRUE);
    y += button + 4;
    MoveWindow(raw_, kMargin, y, width, rawHeight, TRUE);
    // The values take what the field names leave.
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
}

void DetailsWindow::refresh() {
    setText(notice_, widen(panel::detailsNotice(state_.input(), state_.connection())));
    fillList();

    std::wstring raw;
    for (const status::RawBlockText& block : state_.view().raw) {
        raw += L"Block " + std::to_wstring(block.number) + L":  " + widen(block.hex) + L"\r\n";
    }
    setText(raw_, raw);
    InvalidateRect(raw_, nullptr, TRUE);

    if (const auto next = state_.nextMarkEnd(clock_.tickMs())) {
        SetTimer(window_, kMarkTimer, *next, nullptr);
    } else {
        KillTimer(window_, kMarkTimer);
    }
}

// One line per section title and per field; the view has the same rows on every poll,
// so the lines are made once and only their texts change.
void DetailsWindow::fillList() {
    const auto& sections = state_.view().sections;
    std::vector<Line> lines;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        lines.push_back({s, -1});
        for (std::size_t r = 0; r < sections[s].rows.size(); ++r) {
            lines.push_back({s, static_cast<std::ptrdiff_t>(r)});
        }
    }
    if (lines.size() != lines_.size()) {
        SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            LVITEMW lv{};
            lv.mask = LVIF_TEXT;
            lv.iItem = static_cast<int>(i);
            lv.pszText = const_cast<wchar_t*>(L"");
            SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lv));
        }
    }
    lines_ = std::move(lines);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const status::DetailsSection& section = sections[lines_[i].section];
        const int item = static_cast<int>(i);
        if (lines_[i].row < 0) {
            setItemText(list_, item, 0, widen(section.title));
            setItemText(list_, item, 1, L"");
        } else {
            const status::DetailRow& row = section.rows[static_cast<std::size_t>(lines_[i].row)];
            setItemText(list_, item, 0, widen(row.label));
            setItemText(list_, item, 1, widen(row.value));
        }
    }
    // Greying and marks are drawn, not stored: the whole list is drawn anew.
    InvalidateRect(list_, nullptr, FALSE);
}

LRESULT DetailsWindow::customDraw(LPARAM notice) {
    NMLVCUSTOMDRAW& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(notice);
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const auto item = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
        const auto& sections = state_.view().sections;
        if (item >= lines_.size() || lines_[item].section >= sections.size()) {
            return CDRF_DODEFAULT;
        }
        const Line& line = lines_[item];
        const auto& rows = sections[line.section].rows;
        const bool title = line.row < 0;
        const bool marked =
            !title && static_cast<std::size_t>(line.row) < rows.size() &&
            state_.marked(rows[static_cast<std::size_t>(line.row)].key, clock_.tickMs());
        draw.clrText = GetSysColor(state_.stale() ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
        draw.clrTextBk = marked  ? kMarkColour
                         : title ? GetSysColor(COLOR_BTNFACE)
                                 : GetSysColor(COLOR_WINDOW);
        SelectObject(draw.nmcd.hdc, title || marked ? bold_ : font_);
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void DetailsWindow::copyRaw() {
    SendMessageW(raw_, EM_SETSEL, 0, -1);
    SendMessageW(raw_, WM_COPY, 0, 0);
}

LRESULT DetailsWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {320, 320};
        return 0;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == list_ && header->code == NM_CUSTOMDRAW) {
            return customDraw(lParam);
        }
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kCopyId && HIWORD(wParam) == BN_CLICKED) {
            copyRaw();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) { // Escape
            SendMessageW(window_, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        // The read-only hex: greyed with the values when they are old.
        if (reinterpret_cast<HWND>(lParam) == raw_) {
            auto* dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(state_.stale() ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_TIMER:
        if (wParam == kMarkTimer) {
            KillTimer(window_, kMarkTimer);
            refresh();
            return 0;
        }
        break;
    case WM_CLOSE:
        // Kept for the next View > Signal Details, with its size and place.
        ShowWindow(window_, SW_HIDE);
        KillTimer(window_, kMarkTimer);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace telmar::win32
