// Resource and control IDs of KavCpl. Read by windres and by C++: defines only.
#pragma once

// Icon, bitmaps and cursors, made by resources/make_resources.py.
#define IDR_MAINFRAME 128
#define IDB_SCREEN_UNCALIBRATED 137  // screen with a prohibition sign, mask colour magenta
#define IDB_SCREEN_CALIBRATED 138    // screen with a check mark, mask colour black
#define IDB_PRODUCT_LOGO 141
#define IDC_CURSOR_ARROW 144
#define IDC_CURSOR_BLANK 145

// Main window, template 102.
#define IDD_KAVCPL_DIALOG 102
#define IDC_SETTINGS 1083
#define IDC_ABOUT 1084
#define IDC_HELP_MANUAL 1085
#define IDC_MAPPING 1086
#define IDC_CALIBRATE 1087
#define IDC_RESET 1088
#define IDC_TOUCHSCREEN_LIST 1089
#define IDC_PRODUCT_LOGO 1090
#define IDC_INTRO_TEXT 1091
#define IDC_LIST_GROUP 1092
#define IDC_CALIBRATE_AFTER 1093
#define IDC_CALIBRATE_NEW_SCREEN 1094
#define IDC_CALIBRATE_INACCURATE 1095
#define IDC_RESET_AFTER 1096
#define IDC_RESET_DEFAULTS 1097
#define IDC_MAPPING_AFTER 1098
#define IDC_MAPPING_SEVERAL 1099
#define IDC_BUTTON_GROUP 1100
#define IDC_REGION_CALIBRATE 1185
#define IDC_EXIT 1377

// About dialog, template 140.
#define IDD_ABOUTBOX 140
#define IDC_ABOUT_OK 1146
#define IDC_ABOUT_HIDDEN 1147
#define IDC_DRIVER_VERSION_LABEL 1148
#define IDC_MCU_VERSION_LABEL 1149
#define IDC_NOTICE_FIRST 1150
#define IDC_NOTICE_SECOND 1151
#define IDC_ABOUT_LOGO 1153
#define IDC_MCU_VERSION 1163
#define IDC_DRIVER_VERSION 1220
#define IDC_USB_VERSION_LABEL 1225
#define IDC_USB_VERSION 1226
#define IDC_PRODUCT_SN_LABEL 1227
#define IDC_PRODUCT_SN 1228

// Mapping dialog, template 142, and the monitor identification window, template 146.
#define IDD_MAPPING_DIALOG 142
#define IDD_MONITOR_SHOW 146
#define IDC_MAPPING_OK 1077
#define IDC_MAPPING_CANCEL 1078
#define IDC_MAPPING_APPLY 1079
#define IDC_MAPPING_LIST 1165
#define IDC_MONITOR_NO 1170
#define IDC_MONITOR_NO_LABEL 1176
#define IDC_TOUCHSCREEN_NO 1179
#define IDC_IDENTIFY 1180
#define IDC_TOUCHSCREEN_NO_LABEL 1181
#define IDC_MAPPING_LIST_GROUP 1219
