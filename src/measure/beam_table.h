// The beam's data table as the beam-signal stage measures it: per processed row the
// beam's position, its radius and zenith angle in the fish-eye picture, the height,
// distance and scattering angle of the scattering point, and the normalised net
// signal with its running median. Both programs measure it; the products write it.
#pragma once

#include <cstdint>
#include <vector>

// One line of the table: the beam's column and row, the radius and zenith angle in
// the picture, the scattering point's height, distance and angle, and the normalised
// net signal, its running median, and that median times the sine of the angle.
struct TableRow {
    int32_t x;
    int32_t y;
    float r;
    float theta;
    float height;
    float distance;
    float alpha;
    float signal;
    float median;
    float median_sin;
};

// What the beam-signal stage measured: the scaling coefficient, the 90-degree row
// (-1 if none) and the table's lines (the net signals themselves are in `gnetto`).
struct GreenData {
    float coefficient = 0.0f;
    int32_t row90 = -1;
    std::vector<TableRow> rows;
};

// Running median of the net signals around each processed row y, in row order: the
// signals of the rows y - median ... y + median (every second row, each taken to the
// processed row at or below it; rows outside the processed range are left out), as
// the element at index size / 2 once sorted. A sliding window over the sorted
// signals: time in the order of rows x log(window). Needs `gnetto` filled and
// median >= 0.
std::vector<float> Running_medians();

// The table's lines for every processed row, from `gnetto` and the scaling
// coefficient C. Prints nothing.
std::vector<TableRow> Table_rows(float C);

// The beam-signal stage: fills `gnetto`, finds the 90-degree row and the scaling
// coefficient, and forms the table's lines. Prints nothing.
GreenData Measure_green_data();
