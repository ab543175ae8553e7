// The C entry points of the calibration fit, the calibration records and the gesture step.
#include <cstddef>
#include <cstdint>
#include <span>

#include "devicelib/calib_para.h"
#include "devicelib/calibration_fit.h"
#include "devicelib/gesture.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"

namespace {

using namespace kav::devicelib;

std::span<const std::int32_t> Array(const int* values, int count) {
    static_assert(sizeof(int) == sizeof(std::int32_t));
    return {reinterpret_cast<const std::int32_t*>(values), static_cast<std::size_t>(count)};
}

}  // namespace

extern "C" {

unsigned char GetCalibrateData(const int* targetX, const int* targetY, const int* rawX, const int* rawY, int count,
                               _DEVICE_CALIB_PARAS& recordX, _DEVICE_CALIB_PARAS& recordY, unsigned char cubic) {
    recordX = {};
    recordY = {};
    if (count <= 0) return 1;  // too few points: the zero records are the answer
    if (targetX == nullptr || targetY == nullptr || rawX == nullptr || rawY == nullptr) return 0;
    return Guarded([&] {
        const CalibrationRecords records = ComputeCalibration(
            {Array(targetX, count), Array(targetY, count), Array(rawX, count), Array(rawY, count)}, cubic != 0);
        recordX = records.x;
        recordY = records.y;
        return true;
    });
}

unsigned char GetCalibPara(KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS& recordX, _DEVICE_CALIB_PARAS& recordY) {
    return Guarded([&] { return ReadCalibration(device, recordX, recordY); });
}

unsigned char SetCalibPara(KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS recordX, _DEVICE_CALIB_PARAS recordY) {
    return Guarded([&] { return WriteCalibration(device, recordX, recordY); });
}

GESTURE_POINTS* Nerio_Gesture_InitContext(GESTURE_POINTS* context) {
    if (context != nullptr) {
        context->Valid1 = 0;
        context->Valid2 = 0;
    }
    return context;
}

GESTURE_POINTS* Nerio_Gesture_Process(GESTURE_POINTS* current, GESTURE_RESULT* result, GESTURE_POINTS* previous) {
    if (current == nullptr || result == nullptr || previous == nullptr) return current;
    *result = GestureStep(*current, *previous);
    *previous = *current;
    return previous;
}

}  // extern "C"
