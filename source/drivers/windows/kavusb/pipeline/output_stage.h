// The output stage: from the frame's contact pair to output samples handed to the
// click logic, which composes the reports.
#pragma once

#include "device_context.h"

namespace kav {

void RunOutputStage(DEVICE_CONTEXT* context);

}  // namespace kav
