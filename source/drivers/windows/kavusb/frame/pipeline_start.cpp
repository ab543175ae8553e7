#include "pipeline_start.h"

#include "config_cache.h"
#include "kavusb/pipeline/output_stage.h"
#include "kavusb/pipeline/regions.h"

namespace kav {

void InitializePipelineState(DEVICE_CONTEXT* context, const DRIVER_CONFIG_SNAPSHOT& driver) {
    StoreSpeedParameters(context, driver.MaxSpeed, driver.VelocityRefCount, driver.VelocityWeight,
                         SpeedPrecision::Double);
    context->LastTouchReport.Contact[0].ContactId = 0;
    context->LastTouchReport.Contact[1].ContactId = 1;
    context->ToolbarPrevTip = 0;
    context->Background[0].FirstFrame = 1;
    context->Background[1].FirstFrame = 1;
    context->SwapCameras = context->CameraProperties[0].Flags & 0x03;
    LoadCameraModel(context);
    ResetTapStabilizer(context);
    InitTapStabilizer(context, driver.Config.DoubleClickTime, driver.Config.DoubleClickArea,
                      context->ScreenProperty.Width, context->ScreenProperty.Height);
    ResetSampleHistories(context);
    SetSmoothnessScale(context, driver.Config.Smoothness);
    SetupRegions(context, true);
}

}  // namespace kav
