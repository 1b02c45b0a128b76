// SPDX-License-Identifier: MIT
#include "win32/PanelShell.h"

#include "app/ProgramInfo.h"
#include "base/Latin1.h"
#include "link/Clock.h"
#include "panel/PanelCore.h"
#include "panel/SettingsControls.h"
#include "win32/DetailsWindow.h"
#include "win32/FormFonts.h"
#include "win32/FormTable.h"
#include "win32/resource.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace telmar::win32 {

namespace {

using base::widen;
using panel::ModeChoice;
using panel::ModeGroup;
using panel::TwoWay;

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kStatusTimer = 2;
constexpr UINT_PTR kSearchTimer = 3;

// The buttons of each pair on the CONTROL page, the one whose check state a click
// writes, and the slot the form connects their clicks to.
struct TwoWayButtons {
    TwoWay setting;
    const char* slot;
    const char* first;
    const char* second;
    const char* consulted;
};
constexpr TwoWayButtons kPairButtons[] = {
    {TwoWay::LogoLed, "setLogoLed()", "rbLedEnable", "rbLedDisable", "rbLedEnable"},
    {TwoWay::AudioFrame, "setAudioFrame()", "rbFrame720", "rbFrame1080", "rbFrame1080"},
    {TwoWay::HdcpVersion, "setHdcpVersion()", "rbEncFollow", "rbEnc14", "rbEncFollow"},
    {TwoWay::Htpc, "setHtpc()", "rbHtpcEnable", "rbHtpcDisable", "rbHtpcEnable"},
    {TwoWay::HdmiAudioMute, "setHdmiAudioMute()", "rbHdmiAudioEnable", "rbHdmiAudioDisable",
     "rbHdmiAudioEnable"},
};

// The outer size of a panel window whose client area (with the menu bar) is
// `width` x `height`.
POINT windowSize(int width, int height) {
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return {outer.right - outer.left, outer.bottom - outer.top};
}

std::optional<FormTable> loadForm(HINSTANCE instance, std::string& error) {
    HRSRC found = FindResourceW(instance, L"FORMTABLE", MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        error = "the form table is missing from the program's resources";
        return std::nullopt;
    }
    return parseFormTable(
        std::string_view(static_cast<const char*>(data), SizeofResource(instance, found)), error);
}

// An image label's bitmap with its transparency laid onto the window's face colour,
// since a static control draws a bitmap without blending.
HBITMAP loadImageOnFace(HINSTANCE instance, const std::string& path) {
    const std::wstring name = fromUtf8(imageResourceName(path));
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageW(instance, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib ||
        dib.dsBm.bmBitsPixel != 32 || dib.dsBm.bmBits == nullptr) {
        return bitmap;
    }
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto* pixel = static_cast<BYTE*>(dib.dsBm.bmBits);
    const long count = static_cast<long>(dib.dsBm.bmWidth) * dib.dsBm.bmHeight;
    for (long i = 0; i < count; ++i, pixel += 4) {
        const int alpha = pixel[3];
        const int under[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
        for (int k = 0; k < 3; ++k) {
            pixel[k] = static_cast<BYTE>((pixel[k] * alpha + under[k] * (255 - alpha)) / 255);
        }
        pixel[3] = 255;
    }
    return bitmap;
}

// Message boxes on threads of their own, with no owner window: the window stays usable
// while one is open, as the other shell's boxes leave it.
class BoxThread {
  public:
    // Shows the box; `closedMessage`, when not 0, is posted to `notify` once it closes.
    void show(std::wstring text, std::wstring caption, UINT icon, HWND notify, UINT closedMessage) {
        auto* job = new Job{std::move(text), std::move(caption), icon, notify, closedMessage};
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, run, job, 0, &id);
        if (thread == nullptr) {
            delete job;
            if (closedMessage != 0) {
                PostMessageW(notify, closedMessage, 0, 0);
            }
            return;
        }
        CloseHandle(thread);
        threadId_ = id;
    }
    // Closes the box of the last show(), waiting at most `limitMs` for it to appear.
    void close(DWORD limitMs) {
        const ULONGLONG end = GetTickCount64() + limitMs;
        while (threadId_ != 0 && GetTickCount64() < end) {
            bool found = false;
            EnumThreadWindows(threadId_, closeBox, reinterpret_cast<LPARAM>(&found));
            if (found) {
                break;
            }
            Sleep(10);
        }
        threadId_ = 0;
    }

  private:
    struct Job {
        std::wstring text;
        std::wstring caption;
        UINT icon;
        HWND notify;
        UINT closedMessage;
    };
    static DWORD WINAPI run(LPVOID param) {
        std::unique_ptr<Job> job(static_cast<Job*>(param));
        MessageBoxW(nullptr, job->text.c_str(), job->caption.c_str(),
                    MB_OK | job->icon | MB_SETFOREGROUND);
        if (job->closedMessage != 0) {
            PostMessageW(job->notify, job->closedMessage, 0, 0);
        }
        return 0;
    }
    static BOOL CALLBACK closeBox(HWND box, LPARAM found) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        *reinterpret_cast<bool*>(found) = true;
        return TRUE;
    }
    DWORD threadId_ = 0;
};

// The Win32 shell of PanelCore: builds the form's controls, posts clicks and ticks to
// the core and shows what the core hands back. The box is never waited for on this
// thread.
class PanelWindow final : private panel::PanelView {
  public:
    PanelWindow(HINSTANCE instance, FormTable form, std::unique_ptr<usb::Driver> driver)
        : instance_(instance), form_(std::move(form)), driver_(std::move(driver)),
          core_(*driver_, clock_, *this, [this] { PostMessageW(window_, kDeliver, 0, 0); }),
          details_(instance, clock_) {}

    bool create();
    void start() {
        setText("labelTitle", L"TELMAR GUI");
        core_.start();
    }
    void show(int showMode) {
        ShowWindow(window_, showMode);
        UpdateWindow(window_);
    }
    HWND window() const { return window_; }
    HWND currentPage() const { return pages_.empty() ? nullptr : pages_[currentPage_]; }
    HWND detailsWindow() const { return details_.window(); }

    static INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    template <typename Owner>
    friend LRESULT CALLBACK win32::ownerProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    // From the worker: the core has results for this thread.
    static constexpr UINT kDeliver = WM_APP + 1;
    static constexpr UINT kLinkBoxClosed = WM_APP + 2;

    // PanelView
    void showWarning(std::string_view text) override { setText("lblWarning", widen(text)); }
    void showVersion(std::string_view text) override { setText("labelFw", widen(text)); }
    void showStatus(const status::StatusLines& lines) override;
    void showSignal(const status::StatusUpdate& update) override {
        details_.take(update, core_.connection());
    }
    void showStatusMessage(std::string_view text, int timeoutMs) override;
    void setTwoWay(TwoWay setting, bool firstChecked) override;
    void setGuiControl(bool on) override { setChecked("cbEnableGui", on); }
    void setMode(ModeGroup group, ModeChoice choice) override;
    void setModeButtonsEnabled(bool enabled) override;
    void setControlsEnabled(bool enabled) override;
    void setPolling(bool on) override { setTimer(kPollTimer, on, panel::kPollPeriodMs); }
    void setSearching(bool on) override { setTimer(kSearchTimer, on, panel::kSearchPeriodMs); }
    void showLinkBox(std::string_view text, std::string_view caption) override {
        linkBox_.show(widen(text), widen(caption), MB_ICONWARNING, window_, kLinkBoxClosed);
    }
    void closeLinkBox() override { linkBox_.close(500); }
    void showOpenFailed() override {
        openFailedBox_.show(L"Hardware not found", L"TELMAR GUI", MB_ICONWARNING, window_, 0);
    }
    void closeOpenFailed() override { openFailedBox_.close(50); }
    void clearSettingsControls() override {
        for (const FormControl& c : form_.controls) {
            if (c.className == "BUTTON") { // a push button ignores the check state
                setChecked(c.name.c_str(), false);
            }
        }
    }

    HWND control(const char* name) const {
        const auto it = controls_.find(name);
        return it == controls_.end() ? nullptr : it->second;
    }
    bool checked(const char* name) const {
        return SendMessageW(control(name), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void setChecked(const char* name, bool on) {
        SendMessageW(control(name), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void enable(const char* name, bool on) { EnableWindow(control(name), on ? TRUE : FALSE); }
    void setText(const char* name, const std::wstring& text) {
        HWND hwnd = control(name);
        SetWindowTextW(hwnd, text.c_str());
        fitFont(*form_.find(name), hwnd);
        // Labels are see-through (they overlap, as in the form): the old text goes
        // with the background behind them.
        RECT area{};
        GetWindowRect(hwnd, &area);
        MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&area), 2);
        RedrawWindow(GetParent(hwnd), &area, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    void setTimer(UINT_PTR id, bool on, int periodMs) {
        if (on) {
            SetTimer(window_, id, static_cast<UINT>(periodMs), nullptr);
        } else {
            KillTimer(window_, id);
        }
    }

    HFONT fontFor(const FormControl& c, int width = 0);
    void fitFont(const FormControl& c, HWND hwnd);
    HWND createPage(const FormPage& page, const RECT& area);
    HWND createControl(const FormControl& c, HWND parent);
    void selectPage(int index);
    void addViewMenu();

    void runSlot(const std::string& slot);
    void endPanel();
    void fileExit();
    void fileAbout();
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    FormTable form_;
    std::unique_ptr<usb::Driver> driver_;
    link::SteadyClock clock_;
    panel::PanelCore core_;
    DetailsWindow details_;
    BoxThread linkBox_;
    BoxThread windowBoxes_;
    BoxThread openFailedBox_; // stale once the box has been opened
    bool ended_ = false;

    HWND window_ = nullptr;
    HWND tabs_ = nullptr;
    HWND statusBar_ = nullptr;
    std::vector<HWND> pages_;
    int currentPage_ = 0;
    std::map<std::string, HWND> controls_;
    std::map<std::tuple<int, int, int>, HFONT> fonts_;
    std::vector<HBITMAP> bitmaps_;
};

PanelWindow* thePanel = nullptr;

HFONT PanelWindow::fontFor(const FormControl& c, int width) {
    const auto key = std::make_tuple(c.points, c.weight, width);
    auto it = fonts_.find(key);
    if (it == fonts_.end()) {
        HDC screen = GetDC(nullptr);
        const LOGFONTW font = formFont(form_, c, GetDeviceCaps(screen, LOGPIXELSY), width);
        ReleaseDC(nullptr, screen);
        it = fonts_.emplace(key, CreateFontIndirectW(&font)).first;
    }
    return it->second;
}

SIZE textExtent(HDC dc, HFONT font, const std::wstring& text) {
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    return extent;
}

// The form's sizes were drawn for another font; where a text is wider than its
// control, the control keeps its size and the font its height, and the characters
// are narrowed just enough to fit (at most to half their width).
void PanelWindow::fitFont(const FormControl& c, HWND hwnd) {
    HFONT font = fontFor(c);
    int width = 0;
    const std::wstring text = windowText(hwnd);
    RECT client{};
    GetClientRect(hwnd, &client);
    const int room = textRoom(c, client.right);
    HDC dc = GetDC(nullptr);
    SIZE extent = textExtent(dc, font, text);
    if (extent.cx > room && room > 0) {
        TEXTMETRICW metrics{};
        HGDIOBJ old = SelectObject(dc, font);
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        const int narrowest = std::max(1, static_cast<int>(metrics.tmAveCharWidth) / 2);
        width = std::max(narrowest, static_cast<int>(metrics.tmAveCharWidth * room / extent.cx));
        for (;;) {
            font = fontFor(c, width);
            extent = textExtent(dc, font, text);
            if (extent.cx <= room || width <= narrowest) {
                break;
            }
            --width;
        }
    }
    ReleaseDC(nullptr, dc);
    SetPropW(hwnd, kFontWidthProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(width)));
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// A page is a child dialog, so that Tab and the arrow keys move between its controls.
HWND PanelWindow::createPage(const FormPage& page, const RECT& area) {
    struct alignas(DWORD) {
        DLGTEMPLATE head;
        WORD menu, windowClass, title;
    } blank{};
    blank.head.style = WS_CHILD | DS_CONTROL;
    HWND dialog = CreateDialogIndirectParamW(instance_, &blank.head, window_, pageProc,
                                             reinterpret_cast<LPARAM>(this));
    SetWindowPos(dialog, HWND_TOP, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOACTIVATE);
    const std::wstring name = fromUtf8(page.name);
    SetPropW(dialog, L"TELMAR_PAGE", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(page.index)));
    SetWindowTextW(dialog, name.c_str());
    return dialog;
}

bool PanelWindow::create() {
    // The form's size holds the menu bar, as the other shell's window does.
    const POINT size = windowSize(form_.width, form_.height);
    window_ = CreateWindowExW(0, kPanelWindowClass, fromUtf8(form_.title).c_str(),
                              WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, size.x, size.y,
                              nullptr, nullptr, instance_, this);
    if (window_ == nullptr) {
        return false;
    }
    statusBar_ = CreateWindowExW(
        0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(form_.statusBarId)), instance_, nullptr);
    SendMessageW(statusBar_, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(FormControl{})), FALSE);

    // The tab control first, so that its pages exist before their controls.
    for (const FormControl& c : form_.controls) {
        if (c.className != WC_TABCONTROLA) {
            continue;
        }
        tabs_ = createControl(c, window_);
        for (const FormPage& page : form_.pages) {
            std::wstring title = fromUtf8(page.title);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = title.data();
            SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(page.index),
                         reinterpret_cast<LPARAM>(&item));
        }
        RECT area{c.x, c.y, c.x + c.width, c.y + c.height};
        SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        for (const FormPage& page : form_.pages) {
            pages_.push_back(createPage(page, area));
        }
    }

    for (const FormControl& c : form_.controls) {
        if (c.className == WC_TABCONTROLA) {
            continue;
        }
        const FormPage* page = form_.page(c.parent);
        createControl(c,
                      page != nullptr ? pages_.at(static_cast<std::size_t>(page->index)) : window_);
    }
    // The pages lie over the tab control's face.
    for (HWND page : pages_) {
        SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    selectPage(0);
    addViewMenu();
    return true;
}

// One control of the form, with its font, its image or check state, found by its name.
HWND PanelWindow::createControl(const FormControl& c, HWND parent) {
    const bool image = c.className == "STATIC" && (c.style & SS_TYPEMASK) == SS_BITMAP;
    // Labels overlap in the form; the ones beneath show through.
    const DWORD exStyle = c.className == "STATIC" ? WS_EX_TRANSPARENT : 0;
    HWND hwnd = CreateWindowExW(
        exStyle, fromUtf8(c.className).c_str(), image ? L"" : fromUtf8(c.text).c_str(), c.style,
        c.x, c.y, c.width, c.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
        instance_, nullptr);
    controls_[c.name] = hwnd;
    if (image) {
        HBITMAP bitmap = loadImageOnFace(instance_, c.text);
        bitmaps_.push_back(bitmap);
        SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        // The bitmap may have resized the control; the form's size stands.
        SetWindowPos(hwnd, nullptr, c.x, c.y, c.width, c.height, SWP_NOZORDER);
    }
    // An image has no text to fit, and the tab control's titles are not its text.
    if (image || c.className == WC_TABCONTROLA) {
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(c)), FALSE);
    } else {
        fitFont(c, hwnd);
    }
    if (c.checked) {
        SendMessageW(hwnd, BM_SETCHECK, BST_CHECKED, 0);
    }
    return hwnd;
}

// In code, not in the resources: the generated menu is the form's, which both shells
// share; View sits before Help, as in the other shell.
void PanelWindow::addViewMenu() {
    HMENU bar = GetMenu(window_);
    HMENU view = CreatePopupMenu();
    AppendMenuW(view, MF_STRING, IDM_SIGNAL_DETAILS, L"Signal &Details\tCtrl+D");
    const int count = GetMenuItemCount(bar);
    InsertMenuW(bar, static_cast<UINT>(std::max(0, count - 1)), MF_BYPOSITION | MF_POPUP,
                reinterpret_cast<UINT_PTR>(view), L"&View");
    DrawMenuBar(window_);
}

void PanelWindow::selectPage(int index) {
    const int count = static_cast<int>(pages_.size());
    if (count == 0) {
        return;
    }
    currentPage_ = (index % count + count) % count;
    SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(currentPage_), 0);
    for (int k = 0; k < count; ++k) {
        ShowWindow(pages_[static_cast<std::size_t>(k)], k == currentPage_ ? SW_SHOW : SW_HIDE);
    }
}

// ---- what the core asks of the window ---------------------------------------------

void PanelWindow::showStatus(const status::StatusLines& lines) {
    for (std::size_t i = 0; i < panel::kStatusLabels.size(); ++i) {
        setText(panel::kStatusLabels[i], widen(lines.text[i]));
    }
}

void PanelWindow::showStatusMessage(std::string_view text, int timeoutMs) {
    const std::wstring wide = widen(text);
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    // A later message replaces this one and its time; 0 keeps it until then.
    setTimer(kStatusTimer, timeoutMs > 0, timeoutMs);
}

void PanelWindow::setTwoWay(TwoWay setting, bool firstChecked) {
    for (const TwoWayButtons& pair : kPairButtons) {
        if (pair.setting == setting) {
            setChecked(pair.first, firstChecked);
            setChecked(pair.second, !firstChecked);
        }
    }
}

void PanelWindow::setMode(ModeGroup group, ModeChoice choice) {
    const bool edid = group == ModeGroup::Edid;
    setChecked(edid ? "rbEdidUp" : "rbAudioUp", choice == ModeChoice::Up);
    setChecked(edid ? "rbEdidMid" : "rbAudioMid", choice == ModeChoice::Mid);
    setChecked(edid ? "rbEdidDn" : "rbAudioDn", choice == ModeChoice::Dn);
}

void PanelWindow::setModeButtonsEnabled(bool enabled) {
    for (const char* name :
         {"rbEdidUp", "rbEdidMid", "rbEdidDn", "rbAudioUp", "rbAudioMid", "rbAudioDn"}) {
        enable(name, enabled);
    }
}

// The check box and everything on the CONTROL page.
void PanelWindow::setControlsEnabled(bool enabled) {
    enable("cbEnableGui", enabled);
    const FormPage* controlPage = form_.page("tab_2");
    for (const FormControl& c : form_.controls) {
        if (controlPage != nullptr && c.parent == controlPage->name) {
            enable(c.name.c_str(), enabled);
        }
    }
}

// ---- what the window asks of the core ---------------------------------------------

void PanelWindow::runSlot(const std::string& slot) {
    std::optional<panel::SettingWrite> write;
    if (slot == "FileExit()") {
        fileExit();
    } else if (slot == "FileAbout()") {
        fileAbout();
    } else if (slot == "setHpd()") {
        write = panel::hpdWrite();
    } else if (slot == "setGuiEnable()") {
        write = panel::guiEnableWrite(checked("cbEnableGui"));
    } else if (slot == "setEdidMode()") {
        write = panel::modeWrite(ModeGroup::Edid, checked("rbEdidUp"), checked("rbEdidMid"),
                                 checked("rbEdidDn"));
    } else if (slot == "setAudioMode()") {
        write = panel::modeWrite(ModeGroup::Audio, checked("rbAudioUp"), checked("rbAudioMid"),
                                 checked("rbAudioDn"));
    }
    for (const TwoWayButtons& pair : kPairButtons) {
        if (slot == pair.slot) {
            write = panel::twoWayWrite(pair.setting, checked(pair.consulted));
        }
    }
    if (write && !ended_) {
        core_.write(*write);
    }
}

// The core closes any link box, abandons the exchange in flight and closes the device;
// nothing reaches the window afterwards.
void PanelWindow::endPanel() {
    ended_ = true;
    core_.shutdown();
    KillTimer(window_, kPollTimer);
    KillTimer(window_, kSearchTimer);
}

void PanelWindow::fileExit() {
    endPanel();
    DestroyWindow(window_);
    std::exit(0);
}

void PanelWindow::fileAbout() {
    const std::wstring text = L"LUMORA_GUI version " + fromUtf8(app::kVersion) +
                              L"\n\nControl panel for the TELMAR box: shows what arrives on its "
                              L"HDMI input and sets the box's options over USB.";
    windowBoxes_.show(text, L"About LUMORA_GUI", MB_ICONINFORMATION, window_, 0);
}

LRESULT PanelWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDM_NEXT_PAGE || id == IDM_PREVIOUS_PAGE) {
            selectPage(currentPage_ + (id == IDM_NEXT_PAGE ? 1 : -1));
            return 0;
        }
        if (id == IDM_SIGNAL_DETAILS) {
            details_.open();
            return 0;
        }
        std::string sender = form_.actionOf(id);
        if (sender.empty() && HIWORD(wParam) == BN_CLICKED) {
            const FormControl* clicked = form_.find(id);
            sender = clicked == nullptr ? std::string() : clicked->name;
        }
        const std::string slot = form_.slotOf(sender);
        if (!slot.empty()) {
            runSlot(slot);
            return 0;
        }
        break;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
            selectPage(static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
            return 0;
        }
        break;
    }
    case WM_TIMER:
        if (wParam == kStatusTimer) {
            showStatusMessage({}, 0);
        } else if (ended_) {
            return 0;
        } else if (wParam == kPollTimer) {
            // The core drops the tick while the box is busy or a link box is open.
            core_.pollTick();
        } else if (wParam == kSearchTimer) {
            core_.searchTick();
        }
        return 0;
    case kDeliver:
        if (!ended_) {
            core_.deliver();
        }
        return 0;
    case kLinkBoxClosed:
        if (!ended_) {
            core_.linkBoxDismissed();
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_SIZE:
        SendMessageW(statusBar_, WM_SIZE, 0, 0);
        // The bar keeps the pixels of its old width when it grows; all of it is drawn anew.
        InvalidateRect(statusBar_, nullptr, TRUE);
        return 0;
    case WM_GETMINMAXINFO: {
        // Never smaller than the form, whose controls stand at fixed places.
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMaxTrackSize = windowSize(form_.maxWidth, form_.maxHeight);
        info->ptMinTrackSize = windowSize(form_.width, form_.height);
        return 0;
    }
    case WM_CLOSE:
        endPanel();
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// A page passes its controls' clicks on to the window.
INT_PTR CALLBACK PanelWindow::pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COMMAND) {
        return FALSE;
    }
    SendMessageW(GetParent(page), message, wParam, lParam);
    return TRUE;
}

} // namespace

std::wstring fromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::wstring windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void registerWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                         const wchar_t* menu) {
    const auto icon = [instance](int width, int height) {
        return static_cast<HICON>(LoadImageW(instance, L"WINDOWICON", IMAGE_ICON,
                                             GetSystemMetrics(width), GetSystemMetrics(height), 0));
    };
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon(SM_CXICON, SM_CYICON);
    windowClass.hIconSm = icon(SM_CXSMICON, SM_CYSMICON);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = menu;
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

int runPanel(HINSTANCE instance, int showMode, std::unique_ptr<usb::Driver> driver) {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    std::string error;
    std::optional<FormTable> form = loadForm(instance, error);
    if (!form) {
        MessageBoxW(nullptr, fromUtf8(error).c_str(), L"LUMORA_GUI", MB_OK | MB_ICONERROR);
        return 1;
    }

    registerWindowClass(instance, kPanelWindowClass, ownerProc<PanelWindow>, L"MAINMENU");
    registerWindowClass(instance, kDetailsWindowClass, ownerProc<DetailsWindow>);

    // Never destroyed: File > Exit ends the process from inside its own slot.
    thePanel = new PanelWindow(instance, std::move(*form), std::move(driver));
    if (!thePanel->create()) {
        return 1;
    }
    thePanel->start();
    thePanel->show(showMode);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(thePanel->window(), accelerators, &msg)) {
            continue;
        }
        HWND page = thePanel->currentPage();
        if (page != nullptr && IsDialogMessageW(page, &msg)) {
            continue;
        }
        HWND details = thePanel->detailsWindow();
        if (details != nullptr && IsChild(details, msg.hwnd) && IsDialogMessageW(details, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

} // namespace telmar::win32
