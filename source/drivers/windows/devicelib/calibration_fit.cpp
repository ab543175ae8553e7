#include "devicelib/calibration_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

// The results are checked bit for bit against an independent computation
// (tests/devicelib/data/calibration_reference.py); this file is built without contraction
// of a*b+c into one rounding, so every operation rounds where the code says it does.

namespace kav::devicelib {

std::size_t CalibrationPoints::Count() const {
    return std::min({targetX.size(), targetY.size(), rawX.size(), rawY.size()});
}

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

// Large raw coordinates make the products inexact, so a singular system comes out of
// the arithmetic with a tiny non-zero determinant or pivot and then with coefficients
// of any size. A determinant within this many roundings of the sum of its terms'
// magnitudes is an exact zero: each term and sum rounds a few times, and the normal
// matrix's entries carry up to one rounding per point.
constexpr double kDeterminantNoiseRoundings = 64;
// A pivot below this fraction of its column's diagonal is an exact zero. Elimination
// leaves singular columns near 1e-13 of their diagonal; a full-screen grid's smallest
// pivot is near 1e-3, and only points bunched within a few per cent of the screen come
// near this bound.
constexpr double kSingularPivotRatio = 1e-10;

bool AllFinite(std::span<const float> values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// ---- Affine fit ----

using Matrix3 = std::array<std::array<double, 3>, 3>;
using Vector3 = std::array<double, 3>;

struct AffineSums {
    Matrix3 normal{};  // basis (1, y, x)
    Vector3 forX{};    // (sum tx, sum y*tx, sum x*tx)
    Vector3 forY{};
};

AffineSums SumAffine(const CalibrationPoints& points, std::size_t count) {
    double n = 0, sy = 0, sx = 0, syy = 0, sxy = 0, sxx = 0;
    AffineSums sums;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = points.rawX[i];
        const double y = points.rawY[i];
        const double tx = points.targetX[i];
        const double ty = points.targetY[i];
        n += 1;
        sy += y;
        sx += x;
        syy += y * y;
        sxy += x * y;
        sxx += x * x;
        sums.forX[0] += tx;
        sums.forX[1] += y * tx;
        sums.forX[2] += x * tx;
        sums.forY[0] += ty;
        sums.forY[1] += y * ty;
        sums.forY[2] += x * ty;
    }
    sums.normal = {{{n, sy, sx}, {sy, syy, sxy}, {sx, sxy, sxx}}};
    return sums;
}

// The determinant by the rule of Sarrus, in the order of its six terms; nullopt when it
// is zero or indistinguishable from zero.
std::optional<double> Determinant(const Matrix3& a) {
    const double terms[6] = {a[0][0] * a[1][1] * a[2][2], a[0][1] * a[1][2] * a[2][0], a[0][2] * a[1][0] * a[2][1],
                             a[0][0] * a[1][2] * a[2][1], a[0][1] * a[1][0] * a[2][2], a[0][2] * a[1][1] * a[2][0]};
    const double det = terms[0] + terms[1] + terms[2] - terms[3] - terms[4] - terms[5];
    double magnitude = 0;
    for (const double t : terms) magnitude += std::fabs(t);
    if (det == 0 || std::fabs(det) <= kDeterminantNoiseRoundings * kEpsilon * magnitude) return std::nullopt;
    return det;
}

// The adjugate (transposed cofactors) divided by the determinant.
Matrix3 Inverse(const Matrix3& a, double det) {
    const Matrix3 cofactor = {{
        {a[1][1] * a[2][2] - a[1][2] * a[2][1], a[1][2] * a[2][0] - a[1][0] * a[2][2],
         a[1][0] * a[2][1] - a[1][1] * a[2][0]},
        {a[0][2] * a[2][1] - a[0][1] * a[2][2], a[0][0] * a[2][2] - a[0][2] * a[2][0],
         a[0][1] * a[2][0] - a[0][0] * a[2][1]},
        {a[0][1] * a[1][2] - a[0][2] * a[1][1], a[0][2] * a[1][0] - a[0][0] * a[1][2],
         a[0][0] * a[1][1] - a[0][1] * a[1][0]},
    }};
    Matrix3 inverse{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) inverse[i][j] = cofactor[j][i] / det;
    return inverse;
}

// One side's coefficients (constant, y, x): products rounded to single precision and
// summed in single precision.
std::array<float, 3> Solve(const Matrix3& inverse, const Vector3& rhs) {
    std::array<float, 3> f{};
    for (int i = 0; i < 3; ++i) {
        float sum = 0;
        for (int j = 0; j < 3; ++j) sum += static_cast<float>(inverse[i][j] * rhs[j]);
        f[i] = sum;
    }
    return f;
}

// The region form's triple: (y coefficient, x coefficient, constant).
void StoreTriple(const std::array<float, 3>& f, DEVICE_CALIB_PARAS& record) {
    record.Coef[0] = f[1];
    record.Coef[1] = f[2];
    record.Coef[2] = f[0];
}

// ---- Cubic fit ----

constexpr int kCubicTerms = 10;

struct Monomial {
    int xPower;
    int yPower;
};

// The elimination's order: 1, y, y^2, y^3, x, xy, xy^2, x^2, x^2y, x^3.
constexpr Monomial kBasis[kCubicTerms] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0},
                                          {1, 1}, {1, 2}, {2, 0}, {2, 1}, {3, 0}};

// Where each coefficient of the driver's cubic order (y^3, xy^2, x^2y, x^3, y^2, xy, x^2,
// y, x, 1) sits in the basis.
constexpr int kCubicOrder[kCubicTerms] = {3, 6, 8, 9, 2, 5, 7, 1, 4, 0};

constexpr int kMaxMomentPower = 6;

static_assert(std::numeric_limits<long double>::digits == 64, "the moments are defined with x87 extended precision");

// Windows starts x64 threads with the x87 unit rounding to double precision; the
// moments need its full 64-bit significand whatever the host process has set, and
// rounding to nearest.
class ExtendedPrecision {
public:
    ExtendedPrecision() {
        __asm__ volatile("fnstcw %0" : "=m"(saved_) : : "memory");
        const std::uint16_t extended = static_cast<std::uint16_t>((saved_ & ~kRoundingControl) | kPrecision64);
        __asm__ volatile("fldcw %0" : : "m"(extended) : "memory");
    }
    ~ExtendedPrecision() { __asm__ volatile("fldcw %0" : : "m"(saved_) : "memory"); }
    ExtendedPrecision(const ExtendedPrecision&) = delete;
    ExtendedPrecision& operator=(const ExtendedPrecision&) = delete;

private:
    static constexpr std::uint16_t kPrecision64 = 0x0300;      // precision control: 64-bit significand
    static constexpr std::uint16_t kRoundingControl = 0x0C00;  // 00: round to nearest
    std::uint16_t saved_ = 0;
};

using MatrixN = std::array<std::array<double, kCubicTerms>, kCubicTerms>;
using VectorN = std::array<double, kCubicTerms>;

struct CubicSums {
    MatrixN normal{};
    VectorN forX{};
    VectorN forY{};
};

// x^0..x^6 in extended precision, one rounding per multiplication.
std::array<long double, kMaxMomentPower + 1> Powers(float value) {
    std::array<long double, kMaxMomentPower + 1> powers{};
    powers[0] = 1;
    for (int k = 1; k <= kMaxMomentPower; ++k) powers[k] = powers[k - 1] * static_cast<long double>(value);
    return powers;
}

CubicSums SumCubic(const CalibrationPoints& points, std::size_t count) {
    double moment[kMaxMomentPower + 1][kMaxMomentPower + 1] = {};
    CubicSums sums;
    for (std::size_t i = 0; i < count; ++i) {
        const auto xPowers = Powers(static_cast<float>(points.rawX[i]));
        const auto yPowers = Powers(static_cast<float>(points.rawY[i]));
        for (int px = 0; px <= kMaxMomentPower; ++px)
            for (int py = 0; px + py <= kMaxMomentPower; ++py)
                moment[px][py] += static_cast<double>(xPowers[px] * yPowers[py]);
        const long double tx = points.targetX[i];
        const long double ty = points.targetY[i];
        for (int r = 0; r < kCubicTerms; ++r) {
            const long double term = xPowers[kBasis[r].xPower] * yPowers[kBasis[r].yPower];
            sums.forX[r] += static_cast<double>(term * tx);
            sums.forY[r] += static_cast<double>(term * ty);
        }
    }
    for (int r = 0; r < kCubicTerms; ++r)
        for (int c = 0; c < kCubicTerms; ++c)
            sums.normal[r][c] = moment[kBasis[r].xPower + kBasis[c].xPower][kBasis[r].yPower + kBasis[c].yPower];
    return sums;
}

// Gauss-Jordan elimination with the first usable pivot of each column; false when a
// column has none. A pivot counts as zero when it is below the rounding noise of its
// column's own scale, which is what an exact zero becomes after elimination.
bool Eliminate(CubicSums& s) {
    VectorN scale{};
    for (int k = 0; k < kCubicTerms; ++k) scale[k] = std::fabs(s.normal[k][k]);
    for (int k = 0; k < kCubicTerms; ++k) {
        const double noise = kSingularPivotRatio * scale[k];
        int pivot = k;
        while (pivot < kCubicTerms && (s.normal[pivot][k] == 0 || std::fabs(s.normal[pivot][k]) <= noise)) ++pivot;
        if (pivot == kCubicTerms) return false;
        std::swap(s.normal[pivot], s.normal[k]);
        std::swap(s.forX[pivot], s.forX[k]);
        std::swap(s.forY[pivot], s.forY[k]);
        for (int r = 0; r < kCubicTerms; ++r) {
            if (r == k) continue;
            const double m = s.normal[r][k] / s.normal[k][k];
            s.normal[r][k] = 0;
            for (int c = k + 1; c < kCubicTerms; ++c) s.normal[r][c] -= m * s.normal[k][c];
            s.forX[r] -= m * s.forX[k];
            s.forY[r] -= m * s.forY[k];
        }
    }
    return true;
}

// The solution in the driver's cubic order, rounded to single precision.
std::array<float, kCubicTerms> Solution(const CubicSums& s, const VectorN& rhs) {
    std::array<float, kCubicTerms> coefficients{};
    for (int c = 0; c < kCubicTerms; ++c) {
        const int k = kCubicOrder[c];
        coefficients[c] = static_cast<float>(rhs[k] / s.normal[k][k]);
    }
    return coefficients;
}

// The records are packed: their floats are copied in, never referred to.
void StoreCubic(const std::array<float, kCubicTerms>& coefficients, DEVICE_CALIB_PARAS& record) {
    std::memcpy(record.Coef, coefficients.data(), sizeof record.Coef);
}

}  // namespace

std::optional<CalibrationRecords> FitAffine(const CalibrationPoints& points) {
    const std::size_t count = points.Count();
    if (count < kMinAffinePoints) return std::nullopt;
    const AffineSums sums = SumAffine(points, count);
    const std::optional<double> det = Determinant(sums.normal);
    if (!det) return std::nullopt;
    const Matrix3 inverse = Inverse(sums.normal, *det);
    const std::array<float, 3> fx = Solve(inverse, sums.forX);
    const std::array<float, 3> fy = Solve(inverse, sums.forY);
    if (!AllFinite(fx) || !AllFinite(fy)) return std::nullopt;
    CalibrationRecords records;
    StoreTriple(fx, records.x);
    StoreTriple(fy, records.y);
    return records;
}

std::optional<CalibrationRecords> FitCubic(const CalibrationPoints& points) {
    const std::size_t count = points.Count();
    if (count < kMinCubicPoints) return std::nullopt;
    CubicSums sums;
    {
        const ExtendedPrecision precision;
        sums = SumCubic(points, count);
    }
    if (!Eliminate(sums)) return std::nullopt;
    const std::array<float, kCubicTerms> fx = Solution(sums, sums.forX);
    const std::array<float, kCubicTerms> fy = Solution(sums, sums.forY);
    if (!AllFinite(fx) || !AllFinite(fy)) return std::nullopt;
    CalibrationRecords records;
    StoreCubic(fx, records.x);
    StoreCubic(fy, records.y);
    return records;
}

CalibrationRecords ComputeCalibration(const CalibrationPoints& points, bool cubic) {
    if (points.Count() > kMaxCalibrationPoints) return {};
    const std::optional<CalibrationRecords> fitted = cubic ? FitCubic(points) : FitAffine(points);
    return fitted.value_or(CalibrationRecords{});
}

}  // namespace kav::devicelib
