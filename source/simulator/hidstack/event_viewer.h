// The system event log as a person reads it: each of the driver's entries shown with
// its message text, %1 replaced by the insertion string; codes without a text show the
// insertion string alone.
#pragma once

#include <cstdint>
#include <string>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace kav::sim {

std::u16string EventViewerText(std::uint32_t code, const std::u16string& insertion);
std::u16string EventViewerText(const kmdf::ErrorLogEntry& entry);

}  // namespace kav::sim
