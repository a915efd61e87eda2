// The constants and conversions of the angles every room works with. Angles are held
// in degrees and converted for the trigonometric functions as angle / 180 x pi.
#pragma once

constexpr double pi = 3.141592653589793;

inline double Radians(double degrees)
{
    return degrees / 180.0 * pi;
}
