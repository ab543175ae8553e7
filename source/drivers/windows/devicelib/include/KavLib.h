// KavLib's exported functions. Each returns 1 on success and 0 on failure. Handles are the
// Windows handles the caller opened; KavLib never closes them.
#pragma once

#include "shared/driver_config.h"

typedef void* KAVLIB_HANDLE;

extern "C" {

// Raw feature reports of 64 bytes; buffer[0] is the report ID.
unsigned char GetFeature(KAVLIB_HANDLE device, unsigned char* buffer);
unsigned char SetFeature(KAVLIB_HANDLE device, unsigned char* buffer);

// The driver's work mode, 0xF1..0xF5; other modes are refused without sending.
unsigned char Nerio_GetWorkMode(KAVLIB_HANDLE device, unsigned char& mode);
unsigned char Get_WorkMode(KAVLIB_HANDLE device, unsigned char& mode);
unsigned char Nerio_SetWorkMode(KAVLIB_HANDLE device, unsigned char mode);
unsigned char Set_WorkMode(KAVLIB_HANDLE device, unsigned char mode);

// The driver configuration record; a failed read leaves `config` unchanged.
unsigned char Nerio_GetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config);
unsigned char Get_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config);
unsigned char Nerio_SetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config);
unsigned char Set_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config);

}  // extern "C"
