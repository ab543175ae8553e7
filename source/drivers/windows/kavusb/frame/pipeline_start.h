// The pipeline state a device starts with, once the controller's records are read.
#pragma once

#include "kavusb/pipeline/device_context.h"
#include "kavusb/pipeline/driver_context.h"

namespace kav {

void InitializePipelineState(DEVICE_CONTEXT* context, const DRIVER_CONFIG_SNAPSHOT& driver);

}  // namespace kav
