// SPDX-License-Identifier: MIT
#include "win32/PanelShell.h"

#include "link/Clock.h"
#include "link/Messages.h"
#include "link/PanelLink.h"
#include "protocol/ControlProtocol.h"
#include "protocol/Frames.h"
#include "protocol/Settings.h"
#include "qt/SettingsControls.h"
#include "status/StatusUpdate.h"
#include "usb/DriverFactory.h"
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

#ifndef TELMAR_VERSION
#define TELMAR_VERSION "unknown"
#endif

namespace telmar::win32 {

namespace {

using panel::ModeChoice;
using panel::SettingWrite;

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kStatusTimer = 2;
constexpr int kPollPeriodMs = 3000;
constexpr std::string_view kDeviceSerial = "2031";

class LinkBoxes final : public link::MessageSink {
  public:
    // No owner window, like the link's boxes in the other shell.
    void showWarning(std::string_view text, std::string_view caption) override {
        MessageBoxW(nullptr, fromLatin1(text).c_str(), fromLatin1(caption).c_str(),
                    MB_OK | MB_ICONWARNING);
    }
};

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

class PanelWindow {
  public:
    PanelWindow(HINSTANCE instance, FormTable form)
        : instance_(instance), form_(std::move(form)), driver_(usb::createDriver()),
          link_(*driver_, clock_, linkBoxes_), statusSink_(*this), protocol_(link_, statusSink_) {}

    bool create();
    void initHardware();
    void show(int showMode) {
        ShowWindow(window_, showMode);
        UpdateWindow(window_);
    }
    HWND window() const { return window_; }
    HWND currentPage() const { return pages_.empty() ? nullptr : pages_[currentPage_]; }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    class StatusBar final : public protocol::StatusSink {
      public:
        explicit StatusBar(PanelWindow& window) : window_(window) {}
        void showMessage(std::string_view text, int timeoutMs) override {
            window_.showStatus(fromLatin1(text), timeoutMs);
        }

      private:
        PanelWindow& window_;
    };

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

    HFONT fontFor(const FormControl& c, int width = 0);
    void fitFont(const FormControl& c, HWND hwnd);
    HWND createPage(const FormPage& page, const RECT& area);
    void selectPage(int index);
    void layOutPages();
    void showStatus(const std::wstring& text, int timeoutMs);

    void runSlot(const std::string& slot);
    bool applyWrite(const SettingWrite& write);
    void setModeButtonsEnabled(bool enabled);
    void clearStatusLabels();
    void syncSettingsControls();
    void updateVideoStatus();
    void startPollTimer();
    void stopPollTimer();
    void fileExit();
    void fileAbout();

    HINSTANCE instance_;
    FormTable form_;
    std::unique_ptr<usb::Driver> driver_;
    link::SteadyClock clock_;
    LinkBoxes linkBoxes_;
    link::PanelLink link_;
    StatusBar statusSink_;
    protocol::ControlProtocol protocol_;
    protocol::SettingsMirror settingsMirror_{};
    std::uint32_t deviceIndex_ = 0;
    bool pollTimerActive_ = false;

    HWND window_ = nullptr;
    HWND tabs_ = nullptr;
    HWND statusBar_ = nullptr;
    std::vector<HWND> pages_;
    int currentPage_ = 0;
    std::map<std::string, HWND> controls_;
    std::map<int, std::string> namesById_;
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
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
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
    constexpr DWORD style = WS_OVERLAPPEDWINDOW;
    // The form's size holds the menu bar, as the other shell's window does.
    RECT outer{0, 0, form_.width, form_.height};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    window_ = CreateWindowExW(0, kPanelWindowClass, fromUtf8(form_.title).c_str(), style,
                              CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance_, this);
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
        tabs_ = CreateWindowExW(0, WC_TABCONTROLW, L"", c.style, c.x, c.y, c.width, c.height,
                                window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                instance_, nullptr);
        SendMessageW(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(c)), FALSE);
        controls_[c.name] = tabs_;
        namesById_[c.id] = c.name;
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
        HWND parent = window_;
        if (const FormPage* page = form_.page(c.parent)) {
            parent = pages_.at(static_cast<std::size_t>(page->index));
        }
        const bool image = c.className == "STATIC" && (c.style & SS_TYPEMASK) == SS_BITMAP;
        // Labels overlap in the form; the ones beneath show through.
        const DWORD exStyle = c.className == "STATIC" ? WS_EX_TRANSPARENT : 0;
        HWND hwnd = CreateWindowExW(
            exStyle, fromUtf8(c.className).c_str(), image ? L"" : fromUtf8(c.text).c_str(), c.style,
            c.x, c.y, c.width, c.height, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
        if (image) {
            HBITMAP bitmap = loadImageOnFace(instance_, c.text);
            bitmaps_.push_back(bitmap);
            SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
            // The bitmap may have resized the control; the form's size stands.
            SetWindowPos(hwnd, nullptr, c.x, c.y, c.width, c.height, SWP_NOZORDER);
        }
        if (image) {
            SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(c)), FALSE);
        } else {
            fitFont(c, hwnd);
        }
        if (c.checked) {
            SendMessageW(hwnd, BM_SETCHECK, BST_CHECKED, 0);
        }
        controls_[c.name] = hwnd;
        namesById_[c.id] = c.name;
    }
    // The pages lie over the tab control's face.
    for (HWND page : pages_) {
        SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    selectPage(0);
    return true;
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

void PanelWindow::showStatus(const std::wstring& text, int timeoutMs) {
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    // A later message replaces this one and its time.
    SetTimer(window_, kStatusTimer, static_cast<UINT>(timeoutMs), nullptr);
}

// ---- behaviour: the same steps as the other shell ----------------------------------

void PanelWindow::clearStatusLabels() {
    for (const char* name : {"label_video_format", "lblHdcp", "lblColor", "lblVideoSource",
                             "lblHdr", "lblDeepC", "lblAudio"}) {
        setText(name, L"");
    }
}

void PanelWindow::setModeButtonsEnabled(bool enabled) {
    for (const char* name :
         {"rbEdidUp", "rbEdidMid", "rbEdidDn", "rbAudioUp", "rbAudioMid", "rbAudioDn"}) {
        EnableWindow(control(name), enabled ? TRUE : FALSE);
    }
}

void PanelWindow::initHardware() {
    setText("labelTitle", L"TELMAR GUI");
    setText("labelFw", L"");
    setText("lblWarning", L"");
    setModeButtonsEnabled(false);
    clearStatusLabels();
    if (!link_.findDevice(std::string(kDeviceSerial), deviceIndex_)) {
        setText("lblWarning", L"CONNECT TELMAR AND RESTART GUI");
        return;
    }
    if (!link_.openDevice(deviceIndex_)) {
        MessageBoxW(window_, L"Hardware not found", L"TELMAR GUI", MB_OK | MB_ICONWARNING);
        return;
    }
    syncSettingsControls();
    link::Reply version{};
    if (protocol_.readBlock(protocol::block::Version, version, protocol::block_count::Version)) {
        setText("labelFw", fromLatin1(status::versionText(version)));
    }
    startPollTimer();
    updateVideoStatus();
}

void PanelWindow::syncSettingsControls() {
    link::Reply reply{};
    if (!protocol_.readSettings(reply, protocol::kSettingsReplyCount) ||
        reply[0] != protocol::kSettingsEcho) {
        return;
    }
    protocol::copySettingsBlock(reply, settingsMirror_);
    const panel::ControlStates s = panel::controlStatesFor(settingsMirror_);
    const auto pair = [this](const char* first, const char* second, bool firstOn) {
        setChecked(first, firstOn);
        setChecked(second, !firstOn);
    };
    pair("rbEncFollow", "rbEnc14", s.encFollow);
    pair("rbLedEnable", "rbLedDisable", s.ledEnable);
    pair("rbFrame720", "rbFrame1080", s.frame720);
    pair("rbHtpcEnable", "rbHtpcDisable", s.htpcEnable);
    pair("rbHdmiAudioEnable", "rbHdmiAudioDisable", s.hdmiAudioEnable);
    setChecked("cbEnableGui", s.guiOn);
    setModeButtonsEnabled(s.guiOn);
    const auto mode = [this](const char* up, const char* mid, const char* dn,
                             std::optional<ModeChoice> choice) {
        if (choice) {
            setChecked(up, *choice == ModeChoice::Up);
            setChecked(mid, *choice == ModeChoice::Mid);
            setChecked(dn, *choice == ModeChoice::Dn);
        }
    };
    mode("rbEdidUp", "rbEdidMid", "rbEdidDn", s.edid);
    mode("rbAudioUp", "rbAudioMid", "rbAudioDn", s.audio);
}

void PanelWindow::updateVideoStatus() {
    const status::StatusUpdate update = status::readStatusUpdate(protocol_);
    using Video = status::StatusUpdate::Video;
    if (update.video == Video::BlankAll) {
        clearStatusLabels();
        return;
    }
    if (update.video == Video::Set) {
        setText("label_video_format", fromLatin1(update.lines.input));
        setText("lblHdcp", fromLatin1(update.lines.encryption));
        setText("lblColor", fromLatin1(update.lines.color));
        setText("lblVideoSource", fromLatin1(update.lines.source));
        setText("lblHdr", fromLatin1(update.lines.hdr));
        setText("lblDeepC", fromLatin1(update.lines.deepColor));
    }
    setText("lblAudio", fromLatin1(update.audio));
}

bool PanelWindow::applyWrite(const SettingWrite& write) {
    if (!protocol_.writeRegister(write.reg, write.value)) {
        return false;
    }
    if (write.mirrorIndex) {
        settingsMirror_[*write.mirrorIndex] = write.value;
    }
    if (write.confirmation != nullptr) {
        statusSink_.showMessage(write.confirmation, panel::kConfirmationMs);
    }
    return true;
}

void PanelWindow::runSlot(const std::string& slot) {
    using panel::ModeGroup;
    using panel::TwoWay;
    if (slot == "FileExit()") {
        fileExit();
    } else if (slot == "FileAbout()") {
        fileAbout();
    } else if (slot == "setLogoLed()") {
        applyWrite(panel::twoWayWrite(TwoWay::LogoLed, checked("rbLedEnable")));
    } else if (slot == "setAudioFrame()") {
        applyWrite(panel::twoWayWrite(TwoWay::AudioFrame, checked("rbFrame1080")));
    } else if (slot == "setHdcpVersion()") {
        applyWrite(panel::twoWayWrite(TwoWay::HdcpVersion, checked("rbEncFollow")));
    } else if (slot == "setHtpc()") {
        applyWrite(panel::twoWayWrite(TwoWay::Htpc, checked("rbHtpcEnable")));
    } else if (slot == "setHdmiAudioMute()") {
        applyWrite(panel::twoWayWrite(TwoWay::HdmiAudioMute, checked("rbHdmiAudioEnable")));
    } else if (slot == "setHpd()") {
        applyWrite(panel::hpdWrite());
    } else if (slot == "setGuiEnable()") {
        const bool on = checked("cbEnableGui");
        if (applyWrite(panel::guiEnableWrite(on))) {
            setModeButtonsEnabled(on);
        }
    } else if (slot == "setEdidMode()") {
        if (auto write = panel::modeWrite(ModeGroup::Edid, checked("rbEdidUp"),
                                          checked("rbEdidMid"), checked("rbEdidDn"))) {
            applyWrite(*write);
        }
    } else if (slot == "setAudioMode()") {
        if (auto write = panel::modeWrite(ModeGroup::Audio, checked("rbAudioUp"),
                                          checked("rbAudioMid"), checked("rbAudioDn"))) {
            applyWrite(*write);
        }
    }
}

void PanelWindow::startPollTimer() {
    if (!pollTimerActive_) {
        SetTimer(window_, kPollTimer, kPollPeriodMs, nullptr);
        pollTimerActive_ = true;
    }
}

void PanelWindow::stopPollTimer() {
    if (pollTimerActive_) {
        pollTimerActive_ = false;
        KillTimer(window_, kPollTimer);
    }
}

void PanelWindow::fileExit() {
    link_.closeDevice();
    stopPollTimer();
    DestroyWindow(window_);
    std::exit(0);
}

void PanelWindow::fileAbout() {
    const std::wstring text = L"LUMORA_GUI version " + fromUtf8(TELMAR_VERSION) +
                              L"\n\nControl panel for the TELMAR box: shows what arrives on its "
                              L"HDMI input and sets the box's options over USB.";
    MessageBoxW(window_, text.c_str(), L"About LUMORA_GUI", MB_OK | MB_ICONINFORMATION);
}

LRESULT PanelWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDM_NEXT_PAGE || id == IDM_PREVIOUS_PAGE) {
            selectPage(currentPage_ + (id == IDM_NEXT_PAGE ? 1 : -1));
            return 0;
        }
        std::string sender = form_.actionOf(id);
        if (sender.empty() && HIWORD(wParam) == BN_CLICKED) {
            const auto it = namesById_.find(id);
            sender = it == namesById_.end() ? std::string() : it->second;
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
            KillTimer(window_, kStatusTimer);
            SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));
        } else if (wParam == kPollTimer && !link_.linkBusy()) {
            // A tick inside a box an exchange is showing must not start a second one.
            syncSettingsControls();
            updateVideoStatus();
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
        return 0;
    case WM_GETMINMAXINFO: {
        RECT outer{0, 0, form_.maxWidth, form_.maxHeight};
        AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMaxTrackSize = {outer.right - outer.left, outer.bottom - outer.top};
        return 0;
    }
    case WM_CLOSE:
        link_.closeDevice();
        stopPollTimer();
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

LRESULT CALLBACK PanelWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<PanelWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    }
    auto* self = reinterpret_cast<PanelWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr ? self->handle(message, wParam, lParam)
                           : DefWindowProcW(window, message, wParam, lParam);
}

// A page passes its controls' clicks on to the window.
INT_PTR CALLBACK PanelWindow::pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return FALSE;
    case WM_COMMAND:
        SendMessageW(GetParent(page), message, wParam, lParam);
        return TRUE;
    default:
        return FALSE;
    }
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

std::wstring fromLatin1(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

int runPanel(HINSTANCE instance, int showMode) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    std::string error;
    std::optional<FormTable> form = loadForm(instance, error);
    if (!form) {
        MessageBoxW(nullptr, fromUtf8(error).c_str(), L"LUMORA_GUI", MB_OK | MB_ICONERROR);
        return 1;
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PanelWindow::windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon =
        static_cast<HICON>(LoadImageW(instance, L"WINDOWICON", IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, L"WINDOWICON", IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = L"MAINMENU";
    windowClass.lpszClassName = kPanelWindowClass;
    RegisterClassExW(&windowClass);

    // Never destroyed: File > Exit ends the process from inside its own slot.
    thePanel = new PanelWindow(instance, std::move(*form));
    if (!thePanel->create()) {
        return 1;
    }
    thePanel->initHardware();
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
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

} // namespace telmar::win32
