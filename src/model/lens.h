// The fish-eye lens: zenith angle against distance from the image centre, and the
// lens's relative sensitivity. Both polynomials are stated for a reference image
// circle of 1990 pixels; `rmax` rescales the picture's distances onto it.
#pragma once

#include <cstdint>

extern bool was_no_warning;   // true until the first "chip border reached..." warning

// Distance from the image centre in pixels to zenith angle in degrees.
float R2thetadeg(float r);

// Zenith angle in degrees to distance from the image centre in pixels (the model's
// approximate inverse of R2thetadeg).
float Thetadeg2r(float theta);

// Relative sensitivity at a zenith angle in degrees: 1 at the axis, falling with the
// cube of the angle, and exactly 1 again beyond 90 degrees (no correction there).
float Sensitivity(float theta);

// Zenith angle and azimuth (radians; azimuth from +x toward +y) to a pixel position
// and its sensitivity. Positions outside the active picture area get a sensitivity
// of -1, and the first of them in a run prints "chip border reached...".
void ThetaFi2xys(float theta, float phi, int32_t& x, int32_t& y, float& sens);
