#include "model/bayer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

#include "model/levels.h"
#include "model/row_clones.h"

void Get_jas(const ImagePlane& plane, int32_t x, int32_t y, float& R, float& G, float& B)
{
    const int32_t x0 = x - x % 2;
    const int32_t y0 = y - y % 2;
    assert(x0 >= 0 && x0 + 1 < hsize && y0 >= 0 && y0 + 1 < vsize);

    const bool laser = &plane == &value;
    const float level_R = laser ? zero_level_R : zero_level_R_bckg;
    const float level_G = laser ? zero_level_G : zero_level_G_bckg;
    const float level_B = laser ? zero_level_B : zero_level_B_bckg;

    const bool zeros = !laser && plane.empty();
    assert(zeros || plane.size() == size_t(hsize) * size_t(vsize));
    const size_t top = size_t(hsize) * size_t(y0) + size_t(x0);
    const size_t bottom = top + size_t(hsize);
    const auto sample = [&](size_t index) { return zeros ? uint16_t{0} : plane[index]; };
    R = static_cast<float>(static_cast<double>(sample(top)) - level_R);
    B = static_cast<float>(static_cast<double>(sample(bottom + 1)) - level_B);
    // The two green samples are averaged and corrected in double, rounded once.
    G = static_cast<float>(0.5 * sample(top + 1) + 0.5 * sample(bottom) - level_G);
}

namespace {

// The largest difference between the laser's and the dark's green sums (both
// samples) over the cells from 0 to `cells` - 1, in a loop that vectorises.
TAVROLIN_ROW_CLONES
int32_t Largest_green_difference(const unsigned char* laser_top, const unsigned char* laser_bottom,
                                 const unsigned char* dark_top, const unsigned char* dark_bottom, int32_t cells)
{
    int32_t largest = std::numeric_limits<int32_t>::min();
    for (int32_t c = 0; c < cells; ++c) {
        const int32_t laser = int32_t{Stored_sample(laser_top, 2 * size_t(c) + 1)} + Stored_sample(laser_bottom, 2 * size_t(c));
        const int32_t dark = int32_t{Stored_sample(dark_top, 2 * size_t(c) + 1)} + Stored_sample(dark_bottom, 2 * size_t(c));
        largest = std::max(largest, laser - dark);
    }
    return largest;
}

// The dark's rows of zeros, for a run without a dark picture.
const unsigned char* Zero_rows()
{
    static std::vector<unsigned char> zero_rows;
    if (zero_rows.size() < 4 * size_t(hsize)) zero_rows.assign(4 * size_t(hsize), 0);
    return zero_rows.data();
}

}  // namespace

void Net_greens(int32_t y, int32_t x_from, int32_t x_to, float* green)
{
    assert(0 <= x_from && x_from <= x_to && x_to <= hsize && y >= 0 && y < vsize);
    assert(value.size() == size_t(hsize) * size_t(vsize));
    assert(value_bckg.empty() || value_bckg.size() == value.size());
    if (x_from >= x_to) return;

    const size_t top = size_t(hsize) * size_t(y - y % 2);
    const unsigned char* laser_top = value.stored() + 2 * top;
    const unsigned char* laser_bottom = laser_top + 2 * size_t(hsize);
    // An empty dark plane is read through a cell row of zeros.
    const unsigned char* dark_top = value_bckg.empty() ? Zero_rows() : value_bckg.stored() + 2 * top;
    const unsigned char* dark_bottom = dark_top + 2 * size_t(hsize);
    const float level = zero_level_G;
    const float level_dark = zero_level_G_bckg;

    // The same green levels as Get_jas gives, in float arithmetic so that four cells go
    // through at a time: the mean of two 16-bit samples is exact in float, and the
    // float difference of two floats is the double difference rounded to float (a
    // double holds more than twice the digits of a float).
    const auto net = [&](int32_t c) {
        const int32_t x0 = 2 * c;
        const float laser = static_cast<float>(int32_t{Stored_sample(laser_top, x0 + 1)} +
                                               Stored_sample(laser_bottom, x0)) * 0.5f - level;
        const float dark = static_cast<float>(int32_t{Stored_sample(dark_top, x0 + 1)} +
                                              Stored_sample(dark_bottom, x0)) * 0.5f - level_dark;
        return laser - dark;
    };

    // Cells from the one holding x_from to the one holding x_to - 1; the first and
    // last may have only one of their columns in the range.
    int32_t c = x_from / 2;
    const int32_t end_cell = (x_to - 1) / 2 + 1;
    if (x_from % 2 != 0) green[0] = net(c++);
    const int32_t whole_end = x_to % 2 != 0 ? end_cell - 1 : end_cell;
    float* out = green + (2 * c - x_from);
    for (int32_t k = 0; k < whole_end - c; ++k) {
        const float g = net(c + k);
        out[2 * k] = g;
        out[2 * k + 1] = g;
    }
    c = std::max(c, whole_end);
    if (x_to % 2 != 0 && c < end_cell) green[x_to - 1 - x_from] = net(c);
}

float Largest_net_green_bound(int32_t y)
{
    assert(y >= 0 && y < vsize && value.size() == size_t(hsize) * size_t(vsize));
    if (hsize <= 0) return -std::numeric_limits<float>::infinity();
    const size_t top = size_t(hsize) * size_t(y - y % 2);
    const unsigned char* laser_top = value.stored() + 2 * top;
    const unsigned char* dark_top = value_bckg.empty() ? Zero_rows() : value_bckg.stored() + 2 * top;
    // The cells Net_greens reads for the columns 0 to hsize - 1.
    const int32_t cells = (hsize - 1) / 2 + 1;
    const int32_t largest = Largest_green_difference(laser_top, laser_top + 2 * size_t(hsize), dark_top,
                                                     dark_top + 2 * size_t(hsize), cells);
    // A cell's net level is (laser / 2 - level) - (dark / 2 - dark level) with three
    // roundings to float, each within 2^-9 DN for levels below 65536 in size.
    const double bound = 0.5 * largest - double{zero_level_G} + double{zero_level_G_bckg} + 0.01;
    const float rounded = static_cast<float>(bound);
    return double{rounded} >= bound ? rounded : std::nextafter(rounded, std::numeric_limits<float>::infinity());
}
