// Resource and command ids of the finder. Plain macros: the resource
// compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TOBREL_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME 128
#define IDR_ACCELERATOR 129
#define IDR_MENU_CONTEXT 130

#define IDC_LIST_DEVICES 1000
#define IDC_BUTTON_REFRESH 1001
#define IDC_BUTTON_SETTINGS 1002

#define ID_MENU_SETTINGS 32771
#define IDM_ABOUTBOX 0x0010
