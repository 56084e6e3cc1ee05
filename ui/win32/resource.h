// The ids that winqor.exe's resource script and the dialogs share. Plain macros: the resource
// compiler reads this file too.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_MAIN_DIALOG 102
#define IDD_PASSWORD 130
#define IDD_LICENCE 132

// The text of the About entry in the main dialog's system menu.
#define IDS_ABOUTBOX 101

// The application icon: a 32x32 and a 16x16 image.
#define IDR_MAINFRAME 128

// Controls.
#define IDC_PASSWORD 1000
#define IDC_BROWSE_ARCHIVE 1001
#define IDC_DESTINATION 1002
#define IDC_ARCHIVE_PATH 1003
#define IDC_BROWSE_FOLDER 1007
#define IDC_LICENCE_TEXT 1010

// The resource a self-extracting program carries its archive in.
#define IDR_SETUP_ARCHIVE 131

// The system-menu command of the About entry. Its low four bits are zero: the system keeps
// them for itself, so every command from 16 to 31 means About.
#define IDM_ABOUTBOX 0x0010
