// Contact tracking: the shadow angles of both cameras to at most two contacts. Ghost
// intersections are resolved against the previous frame's points, short losses are
// bridged by holding the last pair.
#pragma once

#include <cstdint>

#include "device_context.h"
#include "track_point.h"

namespace kav {

// Contact 1 and contact 2 of one frame.
struct TRACK_PAIR {
    TRACK_POINT Contact[2];
};
static_assert(sizeof(TRACK_PAIR) == 2 * sizeof(TRACK_POINT));

// Intersects camera A's ray through a.centre with camera B's through b.centre. Size is
// the harmonic mean of the shadow widths as seen at that distance, mismatch the |ln| of
// their ratio. Rays that do not meet give an invalid point (all zero).
TRACK_POINT Triangulate(const SHADOW_ANGLES& a, const SHADOW_ANGLES& b);

// Distance between two points. A missing point is (k + 200) / 2 away from a present one
// and 200 away from another missing one; k is the new-contact distance.
double D(const TRACK_POINT& p, const TRACK_POINT& q, double k);

// How squarely the step q -> p crosses both cameras' rays through q: |sin| at camera A
// times |sin| at camera B. 1 for no step and for q on a camera.
double TurnFactor(const TRACK_POINT& p, const TRACK_POINT& q);

// Two shadows of one camera whose inner edges are less than 25 mm apart along the other
// camera's ray (centre angle otherCentre) are one finger: pair[0] becomes their union.
// A baseline of 0 mm (no screen property yet) joins every pair. Returns whether it joined.
bool JoinShadows(SHADOW_ANGLES* pair, double otherCentre, float baselineMm);

// One frame's contacts from at most two shadows per camera (anglesX[0 .. countX-1]).
// Reads Reference and Raw, updates HoldCounter; a join rewrites anglesA[0] or
// anglesB[0] and sets SingleShadow[2].
TRACK_PAIR Resolve(TRIANGULATION* t, SHADOW_ANGLES* anglesA, std::int32_t countA, SHADOW_ANGLES* anglesB,
                   std::int32_t countB);

// After Resolve: TwoAgainstOne, then the pair into Raw, Filtered and Reference, the
// references marked held.
void FinishResolve(TRIANGULATION* t, std::int32_t countA, std::int32_t countB, const TRACK_PAIR& pair);

// Before Resolve: the newest single-shadow flag is written afresh every frame, 1 when each
// camera sees one shadow after splitting (a join in Resolve sets it as well).
void MarkSingleShadow(TRIANGULATION* t, std::int32_t countA, std::int32_t countB);

// After Resolve: ages the single-shadow flags by one frame.
void ShiftSingleShadow(TRIANGULATION* t);

// A frame in the order the camera stage runs it: MarkSingleShadow, Resolve, FinishResolve,
// ShiftSingleShadow.
TRACK_PAIR TrackContacts(TRIANGULATION* t, SHADOW_ANGLES* anglesA, std::int32_t countA, SHADOW_ANGLES* anglesB,
                         std::int32_t countB);

// Forgets all tracks; the camera model rebuild calls it. Leaves the single-shadow flags.
void ResetTracking(TRIANGULATION* t);

}  // namespace kav
