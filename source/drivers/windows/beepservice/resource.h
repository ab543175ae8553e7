// KavSvc's resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KAVSVC_DIALOG 102
#define IDR_MAINFRAME 128

// The About entry's system-menu command; system commands keep their low four bits free.
#define IDM_ABOUTBOX 0x0010
