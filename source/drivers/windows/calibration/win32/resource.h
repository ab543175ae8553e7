// KavCalib's resource IDs.
#pragma once

#define IDD_CALIBRATION 5003
#define IDC_RECALIBRATE 5005
#define IDC_CALIB_OK 5006
#define IDC_CALIB_CANCEL 5007
#define IDC_STATUS_TEXT 5008
