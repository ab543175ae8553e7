#include "config_cache.h"

#include "kavusb/pipeline/camera_model.h"

namespace kav {

void StoreSpeedParameters(DEVICE_CONTEXT* context, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight,
                          SpeedPrecision precision) {
    SCREEN_PROPERTY& screen = context->ScreenProperty;
    screen.NewContactNumerator = maxSpeed;
    screen.VelocityRefCount = velocityRefCount;
    const std::uint8_t weight = velocityWeight;
    screen.VelocityWeight = precision == SpeedPrecision::Double ? static_cast<float>(static_cast<double>(weight) * 0.01)
                                                                : 0.01f * static_cast<float>(weight);
}

void LoadCameraModel(DEVICE_CONTEXT* context) {
    // The rebuild works on copies: the cache may be replaced while it runs.
    const SCREEN_PROPERTY screen = context->ScreenProperty;
    const CAMERA_PROPERTIES record0 = context->CameraProperties[0];
    const CAMERA_PROPERTIES record1 = context->CameraProperties[1];
    const bool swap = context->SwapCameras != 0;
    RebuildCameraModel(&context->Triangulation, screen, swap ? record0 : record1, swap ? record1 : record0);
}

}  // namespace kav
