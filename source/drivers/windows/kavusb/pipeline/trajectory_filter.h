// Trajectory filter: each contact's track is smoothed two frames late, by a polynomial
// fitted over up to ten older and two newer points of its history ring.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device_context.h"
#include "track_point.h"

namespace kav {

constexpr int kMaxFitDegree = 8;
constexpr std::size_t kMaxFitSamples = kHistoryLength;

// FitPolynomial's answer when no polynomial could be fitted; residuals are never negative.
constexpr double kFitFailed = -1.0;

// A degree is only tried once the track offers this many points.
inline constexpr std::array<std::int32_t, kMaxFitDegree + 1> MinSamplesForDegree = {1, 2, 3, 5, 7, 10, 14, 19, 25};

// Scratch for one fit; zero-initialise it (FIT_WORK work{}) before accumulating.
struct FIT_WORK {
    double X[kMaxFitSamples];
    double Y[kMaxFitSamples];
    double Size[kMaxFitSamples];
    double T[kMaxFitSamples];
    std::int32_t Count;
    double PowerSum[2 * kMaxFitDegree + 1];  // sum of t^k
    double MomentX[kMaxFitDegree + 1];       // sum of x·t^k
    double MomentY[kMaxFitDegree + 1];
    double MomentSize[kMaxFitDegree + 1];
    double CoefX[kMaxFitDegree + 1];  // lowest power first
    double CoefY[kMaxFitDegree + 1];
    double CoefSize[kMaxFitDegree + 1];
};
static_assert(sizeof(FIT_WORK) <= 2560);

// All entries invalid, Newest -1.
void ResetHistory(HISTORY_RING* ring);

// Stores *point as the newest entry and hands back the entry two frames older, the one
// the filter works on. A Newest outside -1..49 is taken as an empty ring.
void PushHistory(TRACK_POINT* point, HISTORY_RING* ring);

// Adds a point seen at time t. Once kMaxFitSamples points are held, further ones are
// dropped whole, so that the sums always describe the stored samples.
void AccumulateSample(FIT_WORK* work, const TRACK_POINT& point, double t);

// Least-squares fit of x, y and size by polynomials of the given degree; coefficients
// above it become 0. Returns the (x, y) residual with the worst sample left out, or
// kFitFailed (coefficients untouched) for a degree outside 0..8, no samples, a singular
// system or a non-finite result.
double FitPolynomial(FIT_WORK* work, int degree);

// Replaces *point by the filtered value of the entry two frames older than the newest
// (state 0 and zero coordinates when it cannot be fitted). May repair, fill or freeze
// that entry in the ring, and writes the predicted next position to *reference when the
// two newer points are connected to it. fitStep: the largest jump between points of one
// track, at least 0.1.
void FilterTrack(TRACK_POINT* point, TRACK_POINT* reference, double fitStep, HISTORY_RING* ring);

}  // namespace kav
