// The system version as GetVersionEx reports it, and the one threshold that matters to the
// programs: Windows 7, from which on the driver's digitizer reports are touch input and the
// system hides the cursor and emulates the mouse itself.
#pragma once

#include <cstdint>

namespace kav {

inline constexpr std::uint32_t kWindows7Major = 6;
inline constexpr std::uint32_t kWindows7Minor = 1;

// 6.1 or any later version. A minor version alone says nothing once the major one is
// above 6: Windows 10 reports 10.0 to a program that declares it.
constexpr bool IsWindows7OrLater(std::uint32_t majorVersion, std::uint32_t minorVersion) {
    return majorVersion > kWindows7Major || (majorVersion == kWindows7Major && minorVersion >= kWindows7Minor);
}

}  // namespace kav
