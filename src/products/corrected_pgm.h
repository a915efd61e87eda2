// The corrected green picture 'linearlyscaledG.PGM'.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/failure.h"

// Writes the green channel of the laser picture less that of the dark picture,
// divided by the lens sensitivity, cut at 0 and at the high-level limit, with the
// four marker lines of the beam band, scaled linearly to the full 16-bit range.
// Writes into the product folder. Prints nothing. Fails with code 6 when the file
// could not be written completely (an earlier file of that name is then left as it
// was).
Failure Write_corrected_PGM();

// The steps of the writer, one row at a time; the writer is the only user in a run
// (the tests hold each step to the per-pixel formulas).

// The lens-corrected net green levels of one row, cut at 0 and at `limit`, from the
// net greens and squared column offsets of the row and its squared row offset: for
// x < n, row[x] = green[x] / Sensitivity(R2thetadeg(r)) with the squared radius
// squared_dx[x] + squared_dy, rounded as the lens model rounds. Built for several
// instruction sets (model/row_clones.h).
void Correct_row(const float* green, const float* squared_dx, double squared_dy, double scale,
                 float limit, int32_t n, float* row);

// The corrected values of the picture, one row at a time: the net green level
// (laser less dark) divided by the lens sensitivity at the pixel's distance from the
// image centre, cut at 0, with the four marker lines of the beam band, and cut at
// the high-level limit. Reads the run state as it stands when constructed.
class Corrected_rows {
public:
    Corrected_rows();

    // Fills row[0] to row[hsize - 1] with the corrected values of row y.
    void Compute(int32_t y, float* row);
    // Fills span[0] to span[n - 1] with the corrected values of row y from column x0
    // on (0 <= x0 <= x0 + n <= hsize), as Compute gives them.
    void Compute_span(int32_t y, int32_t x0, int32_t n, float* span);

    // The largest value that a pixel off the marker lines can take when the net
    // green level of its cell is `green`.
    float Bound(float green) const;

    // True when a marker column of row y lies inside the picture.
    bool Has_marker(int32_t y) const;

    float Marker() const { return marker_; }

private:
    static std::array<int64_t, 4> Marker_columns(int32_t y);

    std::vector<float> squared_dx_;   // per column, (x - xcentre)^2 as the radius takes it
    std::vector<float> green_;        // net green levels of the current cell row
    std::vector<float> span_green_;   // net green levels of the last span
    int32_t green_row_ = -1;          // first row of the cell row in green_
    double scale_;                    // distance factor of the lens model
    float lowest_sensitivity_;        // the lens sensitivity at 90 degrees
    float limit_;                     // the high-level limit, or infinity
    float marker_;                    // the marker value after the limit
};

// The largest corrected value of the picture, computing only the rows that can hold it.
float Largest_value(Corrected_rows& corrected);

// The 16-bit samples of one row of hsize values, most significant byte first: each
// value scaled so that the largest value m of the picture becomes `resolution`.
void Scale_row(const float* row, float m, unsigned char* bytes);
