// Input reports as a person reads them: one line per report, field by field.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kav::tools {

std::string DescribeReport(std::span<const std::uint8_t> report);

}  // namespace kav::tools
