// SPDX-License-Identifier: MIT
// Resource and command ids of the Win32 control panel; shared by the code and the
// .rc file, so only preprocessor lines belong here. The form's own resources
// (MAINMENU, WINDOWICON, FORMTABLE, the images) are named by the generated part.
#pragma once

// The menu commands; make_form.py gives the form's actions the same numbers.
#define IDM_EXIT 40001
#define IDM_ABOUT 40002
// Ctrl+Tab and Ctrl+Shift+Tab (and Ctrl+PgDn, Ctrl+PgUp) move between the pages.
#define IDM_NEXT_PAGE 40003
#define IDM_PREVIOUS_PAGE 40004
// View > Signal Details, Ctrl+D; the menu item is added in code.
#define IDM_SIGNAL_DETAILS 40005

#define IDR_ACCELERATORS 101
