#include "camera_stages.h"

#include "shadows.h"

namespace kav {

void RunCameraStages(DEVICE_CONTEXT* context, const std::uint8_t* streamA, int lengthA, const std::uint8_t* streamB,
                     int lengthB) {
    TRIANGULATION& t = context->Triangulation;
    DecodeLine(streamA, lengthA, t.Camera[0].Line);
    DecodeLine(streamB, lengthB, t.Camera[1].Line);
    // Shadows, angles, tracking and the trajectory filter follow here.
}

}  // namespace kav
