// The data table 'tavrolin_data.txt': per processed row the beam's position, its
// radius and zenith angle in the fish-eye picture, the height, distance and
// scattering angle of the scattering point, and the normalised net signal.
#pragma once

#include <cstdint>
#include <vector>

// Running median of the net signals around each processed row y, in row order: the
// signals of the rows y - median ... y + median (every second row, each taken to the
// processed row at or below it; rows outside the processed range are left out), as
// the element at index size / 2 once sorted. A sliding window over the sorted
// signals: time in the order of rows x log(window). Needs `gnetto` filled and
// median >= 0.
std::vector<float> Running_medians();

// Extracts the beam signal and writes the table. On success prints nothing of its
// own but the scaling-coefficient line. When the table can't be written it prints
// "Can't write to 'tavrolin_data.txt' - file" and returns false; an earlier table
// is then left as it was.
bool Write_green_data();
