#include "output_stage.h"

namespace kav {

void RunOutputStage(DEVICE_CONTEXT* /*context*/) {
    // Sampling, anti-jamming, the tap stabilizer and interpolation follow here.
}

}  // namespace kav
