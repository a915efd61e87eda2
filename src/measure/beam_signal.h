// The beam's net signal along the path: on every second row, the corrected green
// light summed over the beam band less the background taken from two side bands,
// and the scaling coefficient of the row where the scattering angle passes 90 degrees.
#pragma once

#include <cstdint>
#include <vector>

#include "base/failure.h"

extern std::vector<float> gnetto;   // net signal of each processed row, in row order

// Rows the products walk: y_F, y_F + 2, ... while below y_L, where y_F and y_L are
// the rows of the first and last path points.
int32_t First_processed_row();
int32_t Path_end_row();

// Index in `gnetto` of row v, or of the processed row just before it when v falls
// between two (v may lie outside the path): (v - y_F) / 2 rounded down.
int64_t Processed_index(int64_t v);

// Checks, before any product is written, that every processed row lies inside the
// picture and that its beam and side bands (columns x_P - 2 w sidescale to
// x_P + 2 w sidescale, taken to their colour cells) lie inside both planes. Fails
// with code 5 after its console line.
Failure Check_beam_bands();

// Distance of pixel (x, y) from the image centre, as the beam level takes it: the
// two offsets as floats, the root formed in double and rounded once.
float Pixel_radius(int32_t x, int32_t y);

// Beam level of pixel (x, y): net green level (laser less dark) divided by the lens
// sensitivity at the pixel's own distance from the image centre, in double.
double Beam_level(int32_t x, int32_t y);

// Net signal of row y with the beam at column x_P: the float sum of the beam levels
// over the central band less its pixel count times the median of the side bands.
float Net_signal(int32_t y, int32_t x_P);

// Element at index size / 2 of `list` once sorted ascending (the upper middle one
// of an even count). The list must not be empty.
float Median_of(std::vector<float>& list);

// Scaling coefficient: the median of the net signals of the window rows
// row90 - median, row90 - median + 2, ... row90 + median, each taken to the processed
// row at or below it and clamped to the first and last processed rows.
float Scaling_coefficient(int32_t row90);

// Fills `gnetto` and finds the first processed row whose scattering angle is below
// 90 degrees (-1 if none). Prints nothing. Returns the scaling coefficient; `row90`
// receives the row.
float Compute_beam_signal(int32_t& row90);

// The first processed row whose scattering angle is below 90 degrees (-1 if none):
// the path's geometry alone decides it.
int32_t Ninety_degree_row();

// The scaling-coefficient line (after an end of line), from the computed values.
void Report_scaling_coefficient(float coefficient, int32_t row90);
