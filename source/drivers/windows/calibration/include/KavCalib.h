/* KavCalib: a full-screen calibration of one touch screen, run while the caller waits.
 * Compiles as C and as C++. */
#ifndef KAVCALIB_H
#define KAVCALIB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Region modes: the full screen, one region the user places and sizes, the four quadrants
 * of the primary screen. */
#define KAVCALIB_FULL_SCREEN 0
#define KAVCALIB_ONE_REGION 1
#define KAVCALIB_QUADRANTS 4

/* Asked on KavLib's listener thread about every steady point: region mode, region index,
 * point count, target index, target x and y (32768 spans the window), raw x and y. 0
 * rejects the point; the finger must then lift and touch again. */
typedef unsigned char (*NERIO_CALIBRATER_VALIDATOR)(int regionMode, int regionIndex, int pointCount,
                                                    int targetIndex, int targetX, int targetY, int rawX, int rawY);

/* Calibrates the touch screen behind device (a handle that Nerio_OpenTouchScreen opened;
 * it is borrowed, never closed) and returns when the session has ended: 1 when a
 * calibration was stored, 0 when it was cancelled or timed out, for another region mode,
 * and while another session runs. validator may be null. */
unsigned char NERIO_Calibrater_Start(void* device, int regionMode, NERIO_CALIBRATER_VALIDATOR validator);

/* Ends a running session from any thread as if the user had cancelled it; always 1. */
unsigned char NERIO_Calibrater_Stop(void);

#ifdef __cplusplus
}
#endif

#endif /* KAVCALIB_H */
