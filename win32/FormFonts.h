// SPDX-License-Identifier: MIT
#pragma once

#include "win32/FormTable.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace telmar::win32 {

// Where the window records, on each control, the character width it narrowed the
// control's font to so that the text fits (absent or 0: the font's own width). The
// text-fit check reads it from outside the program.
inline constexpr wchar_t kFontWidthProperty[] = L"TELMAR_FONT_WIDTH";

// The font a control of the form is drawn with: the dialog font at the control's
// point size and weight, `width` its average character width (0: the font's own).
// The window and the text-fit check both make it here.
inline LOGFONTW formFont(const FormTable& form, const FormControl& control, int dpi,
                         int width = 0) {
    LOGFONTW font{};
    const int points = control.points > 0 ? control.points : form.fontPoints;
    font.lfHeight = -MulDiv(points, dpi, 72);
    font.lfWidth = width;
    font.lfWeight = control.weight > 0 ? control.weight : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    MultiByteToWideChar(CP_UTF8, 0, form.fontFace.c_str(), -1, font.lfFaceName, LF_FACESIZE);
    font.lfFaceName[LF_FACESIZE - 1] = L'\0';
    return font;
}

// The width a control leaves its text: all of a label's, a check box or radio button's
// less its box and the gap after it, a push button's less its frame.
inline int textRoom(const FormControl& control, int clientWidth) {
    if (control.className != "BUTTON") {
        return clientWidth;
    }
    const std::uint32_t type = control.style & BS_TYPEMASK;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
        return clientWidth - 2 * (GetSystemMetrics(SM_CXEDGE) + 2);
    }
    // The gap is what Wine leaves (Windows leaves a little less).
    return clientWidth - (GetSystemMetrics(SM_CXMENUCHECK) + 6);
}

} // namespace telmar::win32
