// Colour readings of the RGGB sensor mosaic, one 2x2 cell at a time.
#pragma once

#include <cstdint>

#include "base/image_plane.h"

// Red, green (the mean of the two green samples) and blue levels of the 2x2 cell
// that holds pixel (x, y), each less the dark level of its channel: the laser
// picture's levels when `plane` is the very object `value`, the dark picture's
// levels for any other plane. The cell's origin is (x - x % 2, y - y % 2) with the
// remainder of truncating division. The caller keeps the cell inside the plane. An
// empty plane other than `value` (the dark plane of a run without a dark picture)
// reads as zeros.
void Get_jas(const ImagePlane& plane, int32_t x, int32_t y, float& R, float& G, float& B);

// Net green levels of pixel row y for the columns x_from to x_to - 1: for each
// column the green level of its cell in the laser picture less that in the dark
// picture, both as Get_jas gives them, rounded to float, into green[0] onwards.
// Both columns of a cell receive the same level. The caller keeps the cells of the
// columns inside both planes (0 <= x_from <= x_to <= hsize).
void Net_greens(int32_t y, int32_t x_from, int32_t x_to, float* green);

// A bound on the largest net green level of the cell row that holds pixel row y, over
// every column, as Net_greens gives them: never below any of them and at most
// 0.01 DN above the largest. Found in integers, without the levels themselves.
float Largest_net_green_bound(int32_t y);
