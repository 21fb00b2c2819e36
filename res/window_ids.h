// Resource and control ids of the Win32 window (quillon.exe): dialog templates 100 and 102,
// menu 129, string 101, icon 128, and the controls. Plain #defines, read by the resource
// compiler and by the code.
#pragma once

#define IDI_QUILLON 128
#define IDD_ABOUTBOX 100
#define IDD_DOWNLOAD 102
#define IDD_OPTIONS 103
#define IDR_LOGMENU 129
#define IDS_ABOUTBOX_TEXT 101
#define IDM_ABOUTBOX_COMMAND 0x0010
#define IDM_OPTIONS_COMMAND 0x0020  // the system menu's and the log menu's Options entry
#define ID_EDIT_CLEAR 57632

// Template 102, the main window.
#define IDC_START_DOWNLOAD 1000
#define IDC_TARGET 1001
#define IDC_IMAGE_FILE 1002
#define IDC_COM_PORT 1004
#define IDC_BAUDRATE 1005
#define IDC_INITIALIZE 1006
#define IDC_LOG 1007
#define IDC_ERASE_ALL 1009
// Not in the template: made by the window when it opens.
#define IDC_BROWSE 1010       // the image file field's browse button, right of the edit box
#define IDC_PROGRESS 1011     // a slim progress bar in the free space of the button row
#define IDC_STATUS_LINE 1012  // the job's state and outcome, below the template's controls

#define IDC_ECHO_WINDOW 1020  // the Options dialog's fields
#define IDC_ECHO_WINDOW_LABEL 1021
#define IDC_ECHO_WINDOW_NOTE 1022
#define IDC_ADDED_BAUD_RATES 1023
#define IDC_ADDED_BAUD_RATES_LABEL 1024
#define IDC_ADDED_BAUD_RATES_NOTE 1025

// Template 100, the about box.
#define IDC_VERSION_LINE 1007
#define IDC_COPYRIGHT_LINE 1008
#define IDC_TRADEMARK_LINE 1009
