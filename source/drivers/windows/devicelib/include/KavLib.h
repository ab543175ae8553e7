/* KavLib: the application interface to the infrared touch screens and their driver.
 *
 * Self-contained; compiles as C99 and as C++. Conventions, unless an entry says otherwise:
 * - Every function returns an unsigned char: 1 on success, 0 on failure. Outputs are
 *   written only on success.
 * - Handles are Windows handles. A handle that KavLib opens for the caller belongs to the
 *   caller, who closes it (CloseHandle or one of the close functions); every other function
 *   only borrows the handle it is given.
 * - Device accessors named Get_... / Set_... take a transport selector first: 0 for a
 *   serial port handle, 1 for a HID handle; any other value fails without any I/O.
 *   Functions without a selector speak HID.
 * - Out-parameters are references to C++ callers and pointers to C callers.
 * - Calls on one device are synchronous and must not overlap; a controller that does not
 *   answer costs up to about 1.5 s per transaction.
 */
#ifndef KAVLIB_H
#define KAVLIB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KAVLIB_OUT(type) type&
extern "C" {
#else
#define KAVLIB_OUT(type) type*
#endif

typedef void* KAVLIB_HANDLE;

/* Device paths are UTF-16, as the system gives them. */
#if defined(_WIN32)
typedef wchar_t KAVLIB_WCHAR;
#elif defined(__cplusplus)
typedef char16_t KAVLIB_WCHAR;
#else
typedef uint16_t KAVLIB_WCHAR;
#endif

/* Room of one device path buffer, terminator included, and of a path or handle table. */
#define KAVLIB_MAX_PATH 260
#define KAVLIB_MAX_DEVICES 64

#define KAVLIB_TRANSPORT_SERIAL 0
#define KAVLIB_TRANSPORT_HID 1

/* Collection selectors of the enumeration: the touch collection and the vendor one. */
#define KAVLIB_COLLECTION_TOUCH 0x30
#define KAVLIB_COLLECTION_VENDOR 0x36

/* ---- Records ------------------------------------------------------------------------
 * Packed, little-endian, moved unchanged between caller and controller. */

#define KAVLIB_STATIC_ASSERT(name, condition) typedef char kavlib_assert_##name[(condition) ? 1 : -1]

#pragma pack(push, 1)

/* The driver configuration; its fields carry the names of the driver's registry values. */
#ifndef KAV_NERIO_DRIVER_CONFIG_DEFINED
#define KAV_NERIO_DRIVER_CONFIG_DEFINED
typedef struct _NERIO_DRIVER_CONFIG {
    uint8_t Mode;
    uint8_t EnableTouch;
    uint8_t EnableRightClick;
    uint8_t CalibrateType;
    uint8_t EnableDoubleClick;
    uint8_t HideCursor;
    uint8_t EnableBeep;
    uint8_t BeepType;
    uint8_t BeepMode;
    uint32_t BeepFrequency;
    uint32_t BeepDuration;
    uint32_t Smoothness;
    uint32_t RightClickTime;
    uint32_t RightClickArea;
    uint32_t DoubleClickTime;
    uint32_t DoubleClickArea;
    uint8_t Antijamming;
    uint8_t EnableAntishake;
    uint8_t Reserved[20];
} _NERIO_DRIVER_CONFIG;
#endif

/* One calibration parameter record: ten single-precision coefficients of the cubic form,
 * or up to four (y coefficient, x coefficient, constant) triples of the region form. */
#ifndef KAV_DEVICE_CALIB_PARAS_DEFINED
#define KAV_DEVICE_CALIB_PARAS_DEFINED
typedef struct _DEVICE_CALIB_PARAS {
    float Coef[10];
    uint8_t Reserved[18];
} _DEVICE_CALIB_PARAS;
#endif

/* A touch toolbar area, in logical coordinates 0..32767. */
typedef struct _NERIO_TOOLBAR_AREA {
    int16_t X0;
    int16_t Y0;
    uint16_t Width;
    uint16_t Height;
    int16_t DX;
    int16_t DY;
} _NERIO_TOOLBAR_AREA;

/* The toolbar parameters: areas in use when Enabled is 1, bit r of AreaMask enables area r. */
typedef struct _NERIO_TOOLBAR_CONFIG {
    uint8_t Enabled;
    uint8_t AreaMask;
    _NERIO_TOOLBAR_AREA Areas[4];
    uint8_t Reserved[8];
} _NERIO_TOOLBAR_CONFIG;

/* The stylus's status and version as its controller reports them; opaque bytes. */
typedef struct _NERIO_STYLUS_STATUS {
    uint8_t Data[7];
} _NERIO_STYLUS_STATUS;

typedef struct _NERIO_STYLUS_VERSION {
    uint8_t Data[6];
} _NERIO_STYLUS_VERSION;

/* The opaque blocks that setters take by value. */
typedef struct KAVLIB_RECORD {
    uint8_t Data[58];
} KAVLIB_RECORD;

typedef struct KAVLIB_CAMERA_PARAMS {
    uint8_t Data[6];
} KAVLIB_CAMERA_PARAMS;

typedef struct KAVLIB_CAMERA_SN {
    uint8_t Data[16];
} KAVLIB_CAMERA_SN;

typedef struct KAVLIB_SERIAL_NUMBER {
    uint8_t Data[20];
} KAVLIB_SERIAL_NUMBER;

#pragma pack(pop)

KAVLIB_STATIC_ASSERT(driver_config_size, sizeof(_NERIO_DRIVER_CONFIG) == 59);
KAVLIB_STATIC_ASSERT(driver_config_beep_frequency, offsetof(_NERIO_DRIVER_CONFIG, BeepFrequency) == 9);
KAVLIB_STATIC_ASSERT(driver_config_antijamming, offsetof(_NERIO_DRIVER_CONFIG, Antijamming) == 37);
KAVLIB_STATIC_ASSERT(calib_paras_size, sizeof(_DEVICE_CALIB_PARAS) == 58);
KAVLIB_STATIC_ASSERT(toolbar_area_size, sizeof(_NERIO_TOOLBAR_AREA) == 12);
KAVLIB_STATIC_ASSERT(toolbar_config_size, sizeof(_NERIO_TOOLBAR_CONFIG) == 58);
KAVLIB_STATIC_ASSERT(stylus_status_size, sizeof(_NERIO_STYLUS_STATUS) == 7);
KAVLIB_STATIC_ASSERT(stylus_version_size, sizeof(_NERIO_STYLUS_VERSION) == 6);
KAVLIB_STATIC_ASSERT(record_size, sizeof(KAVLIB_RECORD) == 58);
KAVLIB_STATIC_ASSERT(camera_params_size, sizeof(KAVLIB_CAMERA_PARAMS) == 6);
KAVLIB_STATIC_ASSERT(camera_sn_size, sizeof(KAVLIB_CAMERA_SN) == 16);
KAVLIB_STATIC_ASSERT(serial_number_size, sizeof(KAVLIB_SERIAL_NUMBER) == 20);

/* ---- Raw feature reports ------------------------------------------------------------ */

/* Reads a 64-byte feature report into buffer, whose byte 0 the caller set to the report
 * ID. 0 without a call for INVALID_HANDLE_VALUE. */
unsigned char GetFeature(KAVLIB_HANDLE device, unsigned char* buffer);
/* Writes the 64 bytes of buffer as a feature report. 0 without a call for a null handle. */
unsigned char SetFeature(KAVLIB_HANDLE device, unsigned char* buffer);

/* ---- Discovery and opening ----------------------------------------------------------
 * paths: KAVLIB_MAX_DEVICES pointers, each to a buffer of KAVLIB_MAX_PATH characters that
 * the caller owns. Listing stops at the first null pointer or when all are used; a path
 * too long for a buffer is skipped. count is always written. */

/* Lists the touch controllers' interfaces of one collection (KAVLIB_COLLECTION_TOUCH or
 * KAVLIB_COLLECTION_VENDOR); 1 when at least one was listed. */
unsigned char EnumDevice_HID(KAVLIB_WCHAR** paths, KAVLIB_OUT(int) count, unsigned char collection);
/* EnumDevice_HID of the touch collection. */
unsigned char Nerio_EnumTouchScreen(KAVLIB_WCHAR** paths, KAVLIB_OUT(int) count);
/* kind 1: Nerio_EnumTouchScreen; any other kind lists nothing and returns 0. */
unsigned char Nerio_Device_EnumDevice(unsigned char kind, KAVLIB_WCHAR** paths, KAVLIB_OUT(int) count);
/* Lists every HID interface of this vendor and product ID, whatever its collection. */
unsigned char Nerio_HID_EnumDevice(KAVLIB_WCHAR** paths, KAVLIB_OUT(int) count, unsigned short vendorId,
                                   unsigned short productId);

/* Opens a device path for overlapped read and write, shared. The handle is always
 * written (INVALID_HANDLE_VALUE on failure); the caller closes it. */
unsigned char Nerio_OpenTouchScreen(const KAVLIB_WCHAR* path, KAVLIB_OUT(KAVLIB_HANDLE) handle);
unsigned char OpenDevice_HID(const KAVLIB_WCHAR* path, KAVLIB_OUT(KAVLIB_HANDLE) handle);
/* As Nerio_OpenTouchScreen, overlapped only when overlapped is non-zero. */
unsigned char Nerio_HID_OpenDevice(const KAVLIB_WCHAR* path, unsigned char overlapped,
                                   KAVLIB_OUT(KAVLIB_HANDLE) handle);
/* Opens a serial port ("\\\\.\\COM5") exclusively at 115200 baud, 8 data bits, no parity,
 * 1 stop bit. The handle is always written; the caller closes it. */
unsigned char Nerio_COM_OpenDevice(const KAVLIB_WCHAR* port, KAVLIB_OUT(KAVLIB_HANDLE) handle);
/* kind 0: Nerio_COM_OpenDevice; kind 1: Nerio_OpenTouchScreen; other kinds: 0, nothing
 * written. */
unsigned char Nerio_Device_OpenDevice(unsigned char kind, const KAVLIB_WCHAR* path, KAVLIB_OUT(KAVLIB_HANDLE) handle);

/* Close a handle; the result of CloseHandle. */
unsigned char Nerio_CloseTouchScreen(KAVLIB_HANDLE handle);
unsigned char CloseDevice_HID(KAVLIB_HANDLE handle);
unsigned char Nerio_HID_CloseDevice(KAVLIB_HANDLE handle);
unsigned char Nerio_COM_CloseDevice(KAVLIB_HANDLE handle);
/* kind 0 or 1: closes the handle; other kinds: 0. */
unsigned char Nerio_Device_CloseDevice(unsigned char kind, KAVLIB_HANDLE handle);

/* Lists the touch screens and opens each into handles[i] (KAVLIB_MAX_DEVICES entries;
 * INVALID_HANDLE_VALUE where an open failed). count is always written. The caller closes
 * every handle. */
unsigned char Nerio_GetTouchScreenInformation(KAVLIB_HANDLE* handles, KAVLIB_OUT(unsigned char) count);
/* The number of touch screens present; 0 when none. */
int Nerio_GetTouchScreenCount(void);

/* The device's product ID and version number from its HID attributes. Nerio_GetProductID
 * stores 0 on failure. */
unsigned char GetProductID(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned short) productId);
unsigned char Nerio_GetProductID(KAVLIB_HANDLE device, KAVLIB_OUT(int) productId);
unsigned char GetUSBCableVersion(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned short) version);

/* ---- Driver requests ---------------------------------------------------------------- */

/* The driver's work mode; only 0xF1..0xF5 are sent. */
unsigned char Nerio_GetWorkMode(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned char) mode);
unsigned char Get_WorkMode(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned char) mode);
unsigned char Nerio_SetWorkMode(KAVLIB_HANDLE device, unsigned char mode);
unsigned char Set_WorkMode(KAVLIB_HANDLE device, unsigned char mode);

/* The driver configuration record, as the driver holds it. */
unsigned char Nerio_GetDriverConfig(KAVLIB_HANDLE device, KAVLIB_OUT(_NERIO_DRIVER_CONFIG) config);
unsigned char Get_DriverConfig(KAVLIB_HANDLE device, KAVLIB_OUT(_NERIO_DRIVER_CONFIG) config);
unsigned char Nerio_SetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config);
unsigned char Set_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config);

/* ---- Device accessors ---------------------------------------------------------------
 * A getter copies at most its size (58 for records) from the reply into destination, which
 * holds at least that much; a shorter reply fills only its own bytes. */

/* Camera properties, one record per camera (subCode 0 or 1). */
unsigned char Get_Camera_Propertys(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                   unsigned char* destination);
unsigned char Set_Camera_Propertys(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                   KAVLIB_RECORD block);
/* Both calibration records: record X (sub-code 0), then record Y (sub-code 1); the second
 * is transferred even when the first failed; 1 only when both were. */
unsigned char Get_Calib_Params(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordX,
                               KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordY);
unsigned char Set_Calib_Params(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS recordX,
                               _DEVICE_CALIB_PARAS recordY);
/* The infrared controller's calibration records, one per axis. */
unsigned char Get_Calib_Params_X_Infrared(unsigned char transport, KAVLIB_HANDLE device,
                                          KAVLIB_OUT(_DEVICE_CALIB_PARAS) record);
unsigned char Set_Calib_Params_X_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record);
unsigned char Get_Calib_Params_Y_Infrared(unsigned char transport, KAVLIB_HANDLE device,
                                          KAVLIB_OUT(_DEVICE_CALIB_PARAS) record);
unsigned char Set_Calib_Params_Y_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record);
unsigned char Get_Calib_Params_Z_Infrared(unsigned char transport, KAVLIB_HANDLE device,
                                          KAVLIB_OUT(_DEVICE_CALIB_PARAS) record);
unsigned char Set_Calib_Params_Z_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record);
/* Retired: return 0 at once, whatever they are given. */
unsigned char Get_Calib_Para1(void);
unsigned char Get_Calib_Params3(void);
unsigned char Set_Calib_Para1(void);
unsigned char Set_Calib_Params3(void);

unsigned char Get_Encrypt_Key(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              unsigned char* destination);
unsigned char Set_Encrypt_Key(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              KAVLIB_RECORD block);
unsigned char Get_Toolbar_Params(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_OUT(_NERIO_TOOLBAR_CONFIG) config);
unsigned char Set_Toolbar_Params(unsigned char transport, KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG config);
/* The image collector's configuration, per camera. */
unsigned char Get_Img_C_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               unsigned char* destination);
unsigned char Set_Img_C_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               KAVLIB_RECORD block);
/* Camera parameters: up to 8 bytes read, 6 written. Setting pauses 3 s after success, while
 * the controller restarts its camera. */
unsigned char Get_Camera_Params(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                unsigned char* destination);
unsigned char Set_Camera_Params(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                KAVLIB_CAMERA_PARAMS block);
/* The linear camera parameter, one byte; setting pauses 3 s after success. */
unsigned char Get_Camera_Params_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char* destination);
unsigned char Set_Camera_Params_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char value);
/* A camera's serial number, 16 bytes. */
unsigned char Get_Camera_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                            unsigned char* destination);
unsigned char Set_Camera_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                            KAVLIB_CAMERA_SN block);
unsigned char Get_Screen_Property(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination);
unsigned char Set_Screen_Property(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_RECORD block);
unsigned char Get_Device_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination);
unsigned char Set_Device_Config(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_RECORD block);
/* The firmware version, 4 bytes (see GetFirewareVersion for its text). */
unsigned char Get_Product_Version(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char* destination);
/* The product and board serial numbers, 20 bytes each. */
unsigned char Get_Product_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination);
unsigned char Set_Product_SN(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_SERIAL_NUMBER block);
unsigned char Get_Board_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                           unsigned char* destination);
unsigned char Set_Board_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                           KAVLIB_SERIAL_NUMBER block);
/* Product type, 2 bytes; image collector version, 4 bytes. */
unsigned char Get_Product_Type(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               unsigned char* destination);
unsigned char Get_Image_C_Version(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char* destination);
unsigned char Get_Stylus_Status(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_OUT(_NERIO_STYLUS_STATUS) status);
unsigned char Get_Stylus_Version(unsigned char transport, KAVLIB_HANDLE device,
                                 KAVLIB_OUT(_NERIO_STYLUS_VERSION) version);

/* Camera images, read in 32-byte blocks. The reads below fail unless the reply has exactly
 * the size they need. */
unsigned char Get_Image_Block_Count(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                    KAVLIB_OUT(int) count);
unsigned char Get_Image_Size(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                             KAVLIB_OUT(int) width, KAVLIB_OUT(int) height);
unsigned char Get_Image_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  KAVLIB_OUT(int) row);
unsigned char Set_Image_Collect_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                          unsigned short row);
/* Pauses 3 s after success. */
unsigned char Set_Image_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned short row);
/* One 32-byte block (or piece of a line) into destination, which holds 32 bytes; length
 * receives the reply's size. Whenever the exchange succeeds both are written (never more
 * than 32 bytes of data), and the call then returns 1 only for a 32-byte reply. */
unsigned char Get_Image_Block(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              unsigned short block, unsigned char* destination, KAVLIB_OUT(unsigned char) length);
unsigned char Get_Image_Line_Top(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                 unsigned char line, unsigned char* destination, KAVLIB_OUT(unsigned char) length);
unsigned char Get_Image_Line_Data(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char line, unsigned char* destination, KAVLIB_OUT(unsigned char) length);
unsigned char Get_Image_Line_Reference(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char line, unsigned char* destination,
                                       KAVLIB_OUT(unsigned char) length);

/* A sub-unit's mode byte (the access switches); Set_Upgrade_Linear asks for an upgrade. */
unsigned char Get_Mode(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                       KAVLIB_OUT(unsigned char) mode);
unsigned char Set_Mode(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, unsigned char value);
unsigned char Set_Upgrade_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode);

/* ---- Handle-only accessors ----------------------------------------------------------
 * Over HID, each wrapped in the controller's access switches (on before, off after), whose
 * own outcome is ignored; the result is the access's. */

unsigned char GetToolbarConfig(KAVLIB_HANDLE device, KAVLIB_OUT(_NERIO_TOOLBAR_CONFIG) config);
unsigned char SetToolbarConfig(KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG config);
unsigned char GetScreenProperty(KAVLIB_HANDLE device, unsigned char* destination);
unsigned char GetDeviceConfig(KAVLIB_HANDLE device, unsigned char* destination);
unsigned char SetDeviceConfig(KAVLIB_HANDLE device, KAVLIB_RECORD block);
unsigned char Nerio_GetEncryptKey(KAVLIB_HANDLE device, unsigned char* destination);
unsigned char Nerio_SetEncryptKey(KAVLIB_HANDLE device, KAVLIB_RECORD block);
/* The firmware version as text, "5.01.1007" for the bytes 01 05 07 0A, into text (64
 * characters at most, terminated); length receives the text's length. */
unsigned char GetFirewareVersion(KAVLIB_HANDLE device, unsigned char subCode, char* text,
                                 KAVLIB_OUT(unsigned char) length);
/* Get_Mode and Set_Mode over HID, without the access switches. */
unsigned char GetMode(KAVLIB_HANDLE device, unsigned char subCode, KAVLIB_OUT(unsigned char) mode);
unsigned char SetMode(KAVLIB_HANDLE device, unsigned char subCode, unsigned char value);

/* The product serial number as text: "TARNEVO-A10B20C-D5E-11-1213-1234567" (35 characters;
 * text holds 36) or, in the OEM form, without "TARNEVO-" (27 characters; text holds 29).
 * Unlike every other function these return 0 on success and 1 on failure (no answer, or a
 * field out of range); on failure text and length are untouched. */
unsigned char Nerio_GetProductSN(KAVLIB_HANDLE device, char* text, KAVLIB_OUT(int) length);
unsigned char Nerio_GetProductSN_OEM(KAVLIB_HANDLE device, char* text, KAVLIB_OUT(int) length);


/* ---- Calibration and gestures ------------------------------------------------------
 * (section kept by the calibration computation's owner) */

/* The two contacts of one touch sample, in any consistent unit (the touch report's logical
 * units). A contact counts when its Valid byte is non-zero. Natural alignment: 24 bytes. */
typedef struct GESTURE_POINTS {
    int X1;
    int Y1;
    unsigned char Valid1;
    int X2;
    int Y2;
    unsigned char Valid2;
} GESTURE_POINTS;

/* One gesture step: zoom factor, rotation in radians (-pi/2 up to 3pi/2, with the sign of
 * the turn for turns up to a quarter), and the pan. */
typedef struct GESTURE_RESULT {
    double Scale;
    double Angle;
    double PanX;
    double PanY;
} GESTURE_RESULT;

/* Fits the calibration to count pairs of target and raw position, four arrays of count
 * ints: with cubic non-zero the cubic form (bytes 0-39 of each record, needs 10 points),
 * else one (y coefficient, x coefficient, constant) triple (bytes 0-11, needs 3). Both
 * records are zeroed first and stay zero when the points cannot be fitted: too few, more
 * than 64, collinear or otherwise singular; that still returns 1. 0 when count > 0 and an
 * array is null. */
unsigned char GetCalibrateData(const int* targetX, const int* targetY, const int* rawX, const int* rawY, int count,
                               KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordX, KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordY,
                               unsigned char cubic);

/* The controller's two calibration records, with the commands of its product ID: 0x0A31
 * and 0x0A41 inside the access switches, 0x0A07 inside its one switch (sub-code 0x80).
 * Other products, or attributes that cannot be read: 0 without any exchange. The second
 * record is transferred even when the first failed; 1 only when both were. A record whose
 * read failed keeps what it held. */
unsigned char GetCalibPara(KAVLIB_HANDLE device, KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordX,
                           KAVLIB_OUT(_DEVICE_CALIB_PARAS) recordY);
unsigned char SetCalibPara(KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS recordX, _DEVICE_CALIB_PARAS recordY);

/* Clears both Valid bytes (coordinates untouched) and returns context; null comes back
 * unchanged. */
GESTURE_POINTS* Nerio_Gesture_InitContext(GESTURE_POINTS* context);

/* The step from *previous to *current into *result, then *current copied over *previous;
 * returns previous. Two contacts valid in both samples: zoom, turn and the pan of their
 * midpoint (halved toward zero); when a sample's two contacts coincide there is no zoom or
 * turn to measure, and the step reports scale 1 and angle 0 with that pan. Otherwise the
 * pan of the contact valid in both (contact 1 first), or none. Never NaN or infinite. With
 * any pointer null nothing is done and current is returned. */
GESTURE_POINTS* Nerio_Gesture_Process(GESTURE_POINTS* current, GESTURE_RESULT* result, GESTURE_POINTS* previous);

/* ---- Driver configuration: the registry and single fields ---------------------------
 * (section kept by the calibration computation's owner) */

/* Fills the registry-backed fields of config from HKLM's DriverParameters key of KavUSB:
 * every field but Antijamming, EnableAntishake and the reserved bytes, which keep what
 * config held. A value that is absent or not a REG_DWORD gets the driver's default. 0,
 * config untouched, when the key cannot be opened. */
unsigned char GetDriverConfig_Register(KAVLIB_OUT(_NERIO_DRIVER_CONFIG) config);
unsigned char GetDriverConfig_Default(KAVLIB_OUT(_NERIO_DRIVER_CONFIG) config);

/* One byte of the driver's configuration record: EnableTouch (touch mode), Antijamming,
 * EnableAntishake. A getter returns 0, mode untouched, when the record cannot be read. A
 * setter reads the record first and writes it back only when the value differs; a record
 * it cannot read is never written, and it returns 0. */
unsigned char Nerio_GetTouchMode(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned char) mode);
unsigned char Nerio_SetTouchMode(KAVLIB_HANDLE device, unsigned char mode);
unsigned char Nerio_GetAntijammingMode(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned char) mode);
unsigned char Nerio_SetAntijammingMode(KAVLIB_HANDLE device, unsigned char mode);
unsigned char Nerio_GetAntishakeMode(KAVLIB_HANDLE device, KAVLIB_OUT(unsigned char) mode);
unsigned char Nerio_SetAntishakeMode(KAVLIB_HANDLE device, unsigned char mode);

/* ---- Touch and image data delivery, device notification ----------------------------- */

/* Callbacks run on a thread of KavLib's (touch data, raw input, image) or inside the
 * registering thread's message dispatch (device notification). Pointers are valid only
 * during the call.
 * - touch: the 22-byte touch report, report[0] == 0x30;
 * - image: block A and its length, block B and its length (at most 58 bytes each);
 * - device notification: 0x8000 for an arriving HID interface, 0x8004 for a removed one,
 *   once per interface; parameter is always 0. */
typedef void (*NERIO_TOUCH_DATA_CALLBACK)(unsigned char* report);
typedef void (*NERIO_IMAGE_DATA_CALLBACK)(unsigned char* blockA, int lengthA, unsigned char* blockB, int lengthB);
typedef void (*NERIO_DEVICE_NOTIFY_CALLBACK)(uint32_t event, uint32_t parameter);

/* One listener of each kind per process. A register returns 0, keeping the listener that
 * runs, when one of its kind is registered; 0 too for a null callback, and for a handle
 * that is INVALID_HANDLE_VALUE, null or cannot be read (it must be open for overlapped
 * I/O, as Nerio_OpenTouchScreen opens it; KavLib never closes it). An unregister returns 0
 * when nothing is registered.
 *
 * Unregistering waits for a callback in progress and for the listener's thread to end: once
 * it returns, no callback runs, and no read is left pending on the handle. From inside the
 * listener's own callback it cannot wait for itself; it returns at once, and the listener
 * ends after that callback (a new raw-input listener registered from inside it is refused).
 *
 * The touch data listener reads 22-byte reports from device and passes on only those whose
 * byte 0 is 0x30. The image listener reads 64-byte packet reports from the vendor collection
 * (selector 0x36): it drops short reads and bad checksums, fills block A from sub-code 0 and
 * B from sub-code 1, and calls back whenever both are held, releasing B; A pairs again with
 * the next B. A listener whose handle fails (closed, device gone) stops reading and stays
 * registered until unregistered. */
unsigned char Nerio_RegisterTouchDataCallback(KAVLIB_HANDLE device, NERIO_TOUCH_DATA_CALLBACK callback);
unsigned char Nerio_UnRegisterTouchDataCallback(void);
unsigned char Nerio_RegisterImageDataCallback(KAVLIB_HANDLE device, NERIO_IMAGE_DATA_CALLBACK callback);
unsigned char Nerio_UnRegisterImageDataCallback(void);

/* Touch reports of the controller with product ID 0x0A31 from the system's raw input,
 * without a handle; 0 when raw input cannot be registered. Other devices never reach it. */
unsigned char Nerio_RegisterTouchCallback(NERIO_TOUCH_DATA_CALLBACK callback);
unsigned char Nerio_UnRegisterTouchCallback(void);

/* Arrival and removal of HID interfaces, delivered through a hidden window on the calling
 * thread while that thread pumps messages. Register and unregister on the same thread. 0,
 * nothing kept, when the window or the notification cannot be set up. */
unsigned char Nerio_RegisterDeviceNotifyCallback(NERIO_DEVICE_NOTIFY_CALLBACK callback);
unsigned char Nerio_UnRegisterDeviceNotifyCallback(void);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* KAVLIB_H */
