// Hiding the mouse cursor for the whole desktop: a transparent system arrow, and every role
// of the user's cursor scheme pointed at an empty cursor file. The change lives in the
// user's registry and outlasts the program.
//
// Showing again puts back the scheme the user had before hiding, which is remembered under
// kSavedCursorsKey; a role that was never hidden by us keeps whatever the user set.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kav::cpl {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;

struct RegistryValue {
    std::uint32_t type = kRegExpandSz;
    std::string data;  // the bytes as stored, a string's terminating zero included

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// An open registry key; closed when the object goes. Results report failure as values.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // nullopt when the value does not exist or cannot be read.
    virtual std::optional<RegistryValue> Query(const std::string& name) = 0;
    virtual bool Set(const std::string& name, const RegistryValue& value) = 0;
    virtual bool Delete(const std::string& name) = 0;
};

// The system calls cursor hiding makes.
class CursorSystem {
public:
    virtual ~CursorSystem() = default;

    // RegOpenKeyA on HKEY_CURRENT_USER; nullptr when the key cannot be opened.
    virtual std::unique_ptr<RegistryKey> OpenUserKey(const std::string& subkey) = 0;

    // RegCreateKeyA on HKEY_CURRENT_USER; nullptr when the key cannot be created.
    virtual std::unique_ptr<RegistryKey> CreateUserKey(const std::string& subkey) = 0;

    // Loads cursor `resourceId` from the program and installs a copy of it (CopyIcon) as the
    // normal arrow (SetSystemCursor with OCR_NORMAL; the system owns the copy afterwards).
    virtual bool InstallNormalCursor(int resourceId) = 0;

    // SystemParametersInfoA(SPI_SETCURSORS, 0, nullptr, 0): reload all cursors from the registry.
    virtual bool ReloadSystemCursors() = 0;
};

inline constexpr const char* kCursorsKey = "Control Panel\\Cursors";
inline constexpr const char* kSavedCursorsKey = "Software\\KavCpl\\SavedCursors";

// The 15 roles, in the order they are written.
inline constexpr std::string_view kCursorRoles[] = {"Arrow",    "AppStarting", "Hand",     "Wait",   "Crosshair",
                                                    "Help",     "IBeam",       "No",       "NWPen",  "SizeAll",
                                                    "SizeNESW", "SizeNS",      "SizeNWSE", "SizeWE", "UpArrow"};

// "%SYSTEMROOT%\Cursors\null.cur" with its terminating zero: 30 bytes.
RegistryValue HiddenCursorValue();
// The system default: an empty string stored with no bytes at all.
RegistryValue ShownCursorValue();

// Every result is ignored: a role that cannot be written keeps its value, and Wine refuses
// SPI_SETCURSORS, which must not stop the rest.
void HideSystemCursors(CursorSystem& system);
void RestoreSystemCursors(CursorSystem& system);
void ApplyCursorState(CursorSystem& system, bool hide);

}  // namespace kav::cpl
