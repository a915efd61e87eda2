// The fish-eye lens: zenith angle against distance from the image centre, and the
// lens's relative sensitivity. Both polynomials are stated for a reference image
// circle of 1990 pixels; `rmax` rescales the picture's distances onto it.
//
// The projection: a fish-eye lens puts a ray that arrives at zenith angle theta
// (the angle from the optical axis, which points at the zenith) at a distance from
// the image centre nearly proportional to theta. The calibration of this lens adds a
// small square term, theta = 0.037419 rn + 3.8364e-06 rn^2 degrees for the distance rn
// on the reference circle, whose edge (rn = 1990) then lies at about 89.66 degrees,
// just short of the horizon. The way back, from angle to distance, is a fit of its
// own, rn = 26.053 theta - 0.043766 theta^2: the two agree to a few pixels only.
//
// The sensitivity: the light that reaches the sensor from a ray at zenith angle theta,
// relative to a ray along the axis. It falls with the cube of the angle, 1 -
// 4.3e-07 theta^3, to about 0.687 at the horizon; beyond 90 degrees (below the
// horizon, outside the calibrated field) no fall-off is corrected, the sensitivity
// is 1.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/settings.h"

extern bool was_no_warning;   // true until the first "chip border reached..." warning

constexpr double lens_reference_radius = 1990.0;   // pixels
// The projection's two coefficients, degrees per pixel and per pixel squared.
constexpr double lens_theta_linear = 0.037419;
constexpr double lens_theta_square = 3.8364e-06;

// The factor that takes a picture's distances onto the reference image circle of
// 1990 pixels: the quotient 1990 / rmax, formed in double before any distance is
// multiplied by it.
inline double Lens_scale()
{
    return lens_reference_radius / rmax;
}

// R2thetadeg with the factor of Lens_scale() given, for loops over many pixels. The
// normalised distance is rounded to float, and the polynomial is evaluated in double
// and rounded once: the angles of every product depend on these two rounding points.
inline float Zenith_angle(float r, double scale)
{
    const float rn = static_cast<float>(r * scale);
    return static_cast<float>(lens_theta_linear * rn + (lens_theta_square * rn) * rn);
}

// The same polynomial without rounding: the zenith angle of a radius anywhere between
// pixels, for the angle that a stretch of the beam's image subtends.
inline double Smooth_zenith_angle(double r)
{
    const double rn = r * Lens_scale();
    return lens_theta_linear * rn + (lens_theta_square * rn) * rn;
}

// Sensitivity in a form that loops over pixels vectorise: the cubic is evaluated in
// double and rounded once. Beyond 90 degrees the angle is replaced by +0, for which
// the cubic gives exactly 1. The angle is cleared with a bit mask: with a select
// (on the angle or on the result) the compiler keeps a branch around the cubic.
inline float Lens_sensitivity(float theta)
{
    uint32_t bits;
    std::memcpy(&bits, &theta, sizeof bits);
    bits &= theta > 90.0f ? 0u : ~0u;
    float t;
    std::memcpy(&t, &bits, sizeof t);
    return static_cast<float>(1.0 - ((4.3e-07 * t) * t) * t);
}

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
