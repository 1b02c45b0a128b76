// SPDX-License-Identifier: MIT
// Resource and command ids of the Win32 updater; shared by the code and the .rc file,
// so only preprocessor lines belong here.
#pragma once

#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109
#define IDD_ABOUTBOX 103
#define IDI_LARGE_ICON 107
#define IDI_SMALL_ICON 108
// Named by the About box's icon control; not among the resources.
#define IDI_ABOUT_ICON 128

#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_UPDATE_FIRMWARE 110
