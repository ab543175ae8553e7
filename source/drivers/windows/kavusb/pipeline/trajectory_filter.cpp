#include "trajectory_filter.h"

#include <cmath>
#include <cstring>

namespace kav {
namespace {

constexpr std::int32_t kRing = static_cast<std::int32_t>(kHistoryLength);
constexpr int kNewerPoints = 2;
constexpr int kOlderPoints = 10;
constexpr double kMinStep = 0.1;
constexpr double kPathLimit = 0.1;  // collect no further once the track has moved this far
constexpr double kResidualGoal = 0.001;
constexpr double kSizeJump = 0.7;
constexpr double kStillBox = 0.00001;     // squared diagonal
constexpr double kStillDrift = 0.000005;  // squared slope per frame
constexpr int kStillWindow = 2;

bool ValidNewest(std::int32_t newest) {
    return newest >= 0 && newest < kRing;
}

// Entry index for time t relative to the centre entry.
std::int32_t At(std::int32_t centre, int t) {
    const std::int32_t index = (centre + t) % kRing;
    return index < 0 ? index + kRing : index;
}

double Distance(const TRACK_POINT& point, double x, double y) {
    const double dx = point.x - x;
    const double dy = point.y - y;
    return std::sqrt(dx * dx + dy * dy);
}

double Horner(const double* coef, int degree, double t) {
    double value = coef[degree];
    for (int k = degree - 1; k >= 0; --k) value = value * t + coef[k];
    return value;
}

}  // namespace

void ResetHistory(HISTORY_RING* ring) {
    std::memset(ring->Entry, 0, sizeof(ring->Entry));
    ring->Newest = -1;
}

void PushHistory(TRACK_POINT* point, HISTORY_RING* ring) {
    const std::int32_t newest = ring->Newest;
    // Checked before adding, so that a corrupt Newest can neither overflow nor index outside.
    const std::int32_t next = ValidNewest(newest) ? (newest + 1) % kRing : 0;
    ring->Newest = next;
    ring->Entry[next] = *point;
    *point = ring->Entry[(next + kRing - 2) % kRing];
}

void AccumulateSample(FIT_WORK* work, const TRACK_POINT& point, double t) {
    if (work->Count < 0 || work->Count >= static_cast<std::int32_t>(kMaxFitSamples)) return;
    const double x = point.x;
    const double y = point.y;
    const double size = point.size;
    const std::int32_t n = work->Count;
    work->X[n] = x;
    work->Y[n] = y;
    work->Size[n] = size;
    work->T[n] = t;
    work->Count = n + 1;

    double power = 1.0;
    for (int k = 0; k <= 2 * kMaxFitDegree; ++k) {
        work->PowerSum[k] += power;
        if (k <= kMaxFitDegree) {
            work->MomentX[k] += x * power;
            work->MomentY[k] += y * power;
            work->MomentSize[k] += size * power;
        }
        power *= t;
    }
}

namespace {

constexpr int kMaxUnknowns = kMaxFitDegree + 1;

// The normal equations of a least-squares fit of the given degree, solved for x, y and
// size at once by elimination; coefficients lowest power first. False for a singular
// system.
bool SolveNormalEquations(const FIT_WORK& work, int degree, double* cx, double* cy, double* cz) {
    const int size = degree + 1;
    double m[kMaxUnknowns][kMaxUnknowns];
    double b[3][kMaxUnknowns];
    int unknown[kMaxUnknowns];  // which coefficient column i of m currently stands for
    for (int i = 0; i < size; ++i) {
        for (int k = 0; k < size; ++k) m[i][k] = work.PowerSum[i + k];
        b[0][i] = work.MomentX[i];
        b[1][i] = work.MomentY[i];
        b[2][i] = work.MomentSize[i];
        unknown[i] = i;
    }

    for (int i = 0; i < size; ++i) {
        if (m[i][i] == 0.0) {
            int swap = i + 1;
            while (swap < size && m[i][swap] == 0.0) ++swap;
            if (swap == size) return false;
            // Exchanging columns renames the unknowns and leaves the equations, so the
            // right-hand sides stay; the order is undone after back-substitution. All rows
            // take part, the finished ones included, since back-substitution reads them.
            for (int r = 0; r < size; ++r) {
                const double held = m[r][i];
                m[r][i] = m[r][swap];
                m[r][swap] = held;
            }
            const int held = unknown[i];
            unknown[i] = unknown[swap];
            unknown[swap] = held;
        }
        const double pivot = m[i][i];
        for (int k = i; k < size; ++k) m[i][k] /= pivot;
        for (double* rhs : b) rhs[i] /= pivot;
        for (int r = i + 1; r < size; ++r) {
            const double factor = m[r][i];
            for (int k = i; k < size; ++k) m[r][k] -= factor * m[i][k];
            for (double* rhs : b) rhs[r] -= factor * rhs[i];
        }
    }
    for (int i = size - 1; i >= 0; --i) {
        for (double* rhs : b) {
            double value = rhs[i];
            for (int k = i + 1; k < size; ++k) value -= m[i][k] * rhs[k];
            rhs[i] = value;
        }
    }

    for (int i = 0; i < size; ++i) {
        cx[unknown[i]] = b[0][i];
        cy[unknown[i]] = b[1][i];
        cz[unknown[i]] = b[2][i];
    }
    return true;
}

// Root mean square of the (x, y) misses with the worst sample left out.
double Residual(const FIT_WORK& work, int degree, const double* cx, const double* cy) {
    const std::int32_t n = work.Count;
    double sum = 0.0;
    double worst = 0.0;
    for (std::int32_t s = 0; s < n; ++s) {
        const double t = work.T[s];
        const double ex = Horner(cx, degree, t) - work.X[s];
        const double ey = Horner(cy, degree, t) - work.Y[s];
        const double e = ex * ex + ey * ey;
        sum += e;
        if (e > worst) worst = e;
    }
    return std::sqrt((sum - worst) / (n >= 2 ? n - 1 : n));
}

}  // namespace

double FitPolynomial(FIT_WORK* work, int degree) {
    if (degree < 0 || degree > kMaxFitDegree) return kFitFailed;
    const std::int32_t n = work->Count;
    if (n <= 0 || n > static_cast<std::int32_t>(kMaxFitSamples)) return kFitFailed;

    double cx[kMaxUnknowns] = {};
    double cy[kMaxUnknowns] = {};
    double cz[kMaxUnknowns] = {};
    if (!SolveNormalEquations(*work, degree, cx, cy, cz)) return kFitFailed;
    const double residual = Residual(*work, degree, cx, cy);

    // A nearly singular system can still overflow; the track must never see that.
    for (int k = 0; k <= degree; ++k) {
        if (!std::isfinite(cx[k]) || !std::isfinite(cy[k]) || !std::isfinite(cz[k])) return kFitFailed;
    }
    if (!std::isfinite(residual)) return kFitFailed;

    std::memcpy(work->CoefX, cx, sizeof(cx));
    std::memcpy(work->CoefY, cy, sizeof(cy));
    std::memcpy(work->CoefSize, cz, sizeof(cz));
    return residual;
}

namespace {

// A shadow that grows or shrinks by more than 1/0.7 from one frame to the next is taken
// as the same finger not yet or no longer fully seen: the larger one wins, in the ring.
// Returns how many of the centre and its newer points follow on from each other.
int RepairSizeJumps(TRACK_POINT* entry, std::int32_t centre, std::int32_t newest, double step) {
    double cx = entry[centre].x;
    double cy = entry[centre].y;
    double cz = entry[centre].size;
    int forward = 0;
    double path = 0.0;
    for (int t = 0; t <= kNewerPoints; ++t) {
        const std::int32_t index = At(centre, t);
        TRACK_POINT& current = entry[index];
        if (current.state == kPointInvalid) break;
        if (current.state == kPointMeasured) {
            const double d = Distance(current, cx, cy);
            if (d > step) break;
            const double size = current.size;
            if (2.0 * size > cz + d && kSizeJump * size > cz) entry[At(centre, t - 1)] = current;
            if (2.0 * cz > size + d && kSizeJump * cz > size) {
                current.x = cx;
                current.y = cy;
                current.size = cz;
            }
            path += d;
            cx = current.x;
            cy = current.y;
            cz = current.size;
        }
        ++forward;
        if (index == newest || path > kPathLimit) break;
    }
    return forward;
}

// Newer points. Held points are fitted only until a measured one is seen, counted
// always; one gap is bridged. Returns the points counted.
int AccumulateNewer(const TRACK_POINT* entry, std::int32_t centre, std::int32_t newest, double step, FIT_WORK* work) {
    int forwardOk = 0;
    double path = 0.0;
    int misses;
    double cx;
    double cy;
    const TRACK_POINT& previous = entry[At(centre, -1)];
    if (previous.state == kPointMeasured) {
        cx = previous.x;
        cy = previous.y;
        misses = 0;
    } else {
        cx = entry[centre].x;
        cy = entry[centre].y;
        misses = 1;
    }
    bool pending = true;
    for (int t = 0; t <= kNewerPoints; ++t) {
        const std::int32_t index = At(centre, t);
        const TRACK_POINT& current = entry[index];
        const double d = current.state == kPointInvalid ? 0.0 : Distance(current, cx, cy);
        if (current.state == kPointInvalid || d > step) {
            if (++misses > 1) break;
        } else {
            if (current.state == kPointMeasured) pending = false;
            if (current.state == kPointMeasured || (pending && current.state == kPointHeld)) {
                path += d;
                misses = 0;
                AccumulateSample(work, current, t);
                cx = current.x;
                cy = current.y;
            }
            ++forwardOk;
        }
        if (index == newest || path > kPathLimit) break;
    }
    return forwardOk;
}

// Older points: measured ones only, held ones just counted. Returns the points counted.
int AccumulateOlder(const TRACK_POINT* entry, std::int32_t centre, std::int32_t newest, FIT_WORK* work) {
    int back = 0;
    double path = 0.0;
    const TRACK_POINT& previous = entry[At(centre, -1)];
    double cx = previous.x;
    double cy = previous.y;
    for (int t = -1; t >= -kOlderPoints; --t) {
        const std::int32_t index = At(centre, t);
        if (index == newest) break;
        const TRACK_POINT& current = entry[index];
        if (current.state == kPointInvalid) break;
        if (current.state == kPointMeasured) {
            path += Distance(current, cx, cy);
            cx = current.x;
            cy = current.y;
            AccumulateSample(work, current, t);
        }
        ++back;
        if (path > kPathLimit) break;
    }
    return back;
}

// Fits the lowest degree that meets the residual goal among those `limit` points allow.
// The prediction (when asked for) is taken from the straight-line fit, before higher
// degrees are tried.
void FitLowestDegree(FIT_WORK* work, std::int32_t limit, TRACK_POINT* prediction) {
    int degree = 0;
    double residual = 0.0;
    while (degree <= 1 && MinSamplesForDegree[degree] <= limit) {
        residual = FitPolynomial(work, degree);
        ++degree;
        if (!(residual > kResidualGoal)) break;
    }

    if (prediction != nullptr) {
        *prediction = {3.0 * work->CoefX[1] + work->CoefX[0], 3.0 * work->CoefY[1] + work->CoefY[0],
                       3.0 * work->CoefSize[1] + work->CoefSize[0], 0.0, kPointHeld};
    }

    if (residual > kResidualGoal) {
        while (degree <= kMaxFitDegree && MinSamplesForDegree[degree] <= limit && residual > kResidualGoal) {
            residual = FitPolynomial(work, degree);
            ++degree;
        }
    }
}

// A finger held still: the points around the centre stay in a tiny box and barely drift.
bool HeldStill(const TRACK_POINT* entry, std::int32_t centre) {
    int valid = 0;
    double minX = 1.0, minY = 1.0, maxX = 0.0, maxY = 0.0;
    double sumT = 0.0, sumX = 0.0, sumY = 0.0, sumTT = 0.0, sumTX = 0.0, sumTY = 0.0;
    for (int t = -kStillWindow; t <= kStillWindow; ++t) {
        const TRACK_POINT& current = entry[At(centre, t)];
        if (current.state != kPointHeld && current.state != kPointMeasured) continue;
        ++valid;
        const double x = current.x;
        const double y = current.y;
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
        sumT += t;
        sumX += x;
        sumY += y;
        sumTT += static_cast<double>(t) * t;
        sumTX += t * x;
        sumTY += t * y;
    }
    const double q = sumT * sumT - sumTT;
    // q is 0 only for windows of fewer than three points, which never freeze.
    if (valid <= 2 || q == 0.0) return false;
    const double slopeX = (sumT * sumX - sumTX) / q;
    const double slopeY = (sumT * sumY - sumTY) / q;
    const double boxX = maxX - minX;
    const double boxY = maxY - minY;
    return boxX * boxX + boxY * boxY < kStillBox && slopeX * slopeX + slopeY * slopeY < kStillDrift;
}

}  // namespace

void FilterTrack(TRACK_POINT* point, TRACK_POINT* reference, double fitStep, HISTORY_RING* ring) {
    const TRACK_POINT unfitted = {0.0, 0.0, 0.0, 0.0, kPointInvalid};
    const std::int32_t newest = ring->Newest;
    if (!ValidNewest(newest)) {
        *point = unfitted;
        return;
    }
    TRACK_POINT* const entry = ring->Entry;
    const std::int32_t centre = (newest + kRing - 2) % kRing;
    // NaN takes the minimum too.
    const double step = fitStep > kMinStep ? fitStep : kMinStep;

    const int forward = RepairSizeJumps(entry, centre, newest, step);
    FIT_WORK work{};
    const int forwardOk = AccumulateNewer(entry, centre, newest, step, &work);
    const int back = AccumulateOlder(entry, centre, newest, &work);
    if (back + forwardOk < 2 || forwardOk == 0 || back + forward == 0) {
        entry[centre].state = kPointInvalid;
        *point = unfitted;
        return;
    }

    // Held points count towards the degree but add no sample; a degree never asks for
    // more samples than were accumulated, so its normal matrix stays meaningful.
    const std::int32_t counted = back + forwardOk;
    const std::int32_t limit = counted < work.Count ? counted : work.Count;
    // Only a centre connected to both newer points predicts the next position.
    FitLowestDegree(&work, limit, forward == kNewerPoints + 1 ? reference : nullptr);
    TRACK_POINT result = {work.CoefX[0], work.CoefY[0], work.CoefSize[0], 0.0, kPointMeasured};
    if (entry[centre].state == kPointInvalid) entry[centre] = result;

    // A finger held still is reported exactly where it was, so that it does not shimmer.
    const TRACK_POINT& previous = entry[At(centre, -1)];
    if (HeldStill(entry, centre) && previous.state == kPointMeasured) {
        entry[centre] = previous;
        result = previous;
    }
    *point = result;
}

}  // namespace kav
