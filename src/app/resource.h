// Identifiers of the program's resources, shared by quorvel.rc and the code. Plain
// macros only: the resource compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QUORVEL_DIALOG 102
#define IDR_MAINFRAME 128

// Controls the code never addresses.
#define IDC_STATIC (-1)

// The About entry of the system menu. System commands keep their low four bits for the
// system, so the identifier is a multiple of 16 below 0xF000.
#define IDM_ABOUTBOX 0x0010

// Controls of the main dialog.
#define IDC_SEPARATOR 1000
#define IDC_LABEL_VERSION 1001
#define IDC_LABEL_SUBVERSION 1002
#define IDC_LABEL_SCRIPT_PATH 1003
#define IDC_SCRIPT_PATH 1004
#define IDC_RESELECT 1005
#define IDC_BROWSE 1006
#define IDC_VERSION 1007
#define IDC_SUBVERSION 1008
#define IDC_LABEL_SCRIPT_VERSION 1009
#define IDC_SCRIPT_VERSION 1010
