#include "measure/beam_signal.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <utility>

#include "base/console.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "base/image_plane.h"
#include "model/bayer.h"
#include "model/lens.h"

std::vector<float> gnetto;

namespace {

// Distance of pixel (x, y) from the image centre, formed in double from the two
// offsets as floats and rounded once.
float Radius(int32_t x, int32_t y)
{
    const double dx = static_cast<float>(int64_t{x} - xcentre);
    const double dy = static_cast<float>(int64_t{y} - ycentre);
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

}  // namespace

float Pixel_radius(int32_t x, int32_t y)
{
    return Radius(x, y);
}

int32_t First_processed_row()
{
    return laserpath.front().y;
}

int32_t Path_end_row()
{
    return laserpath.back().y;
}

int64_t Processed_index(int64_t v)
{
    const int64_t offset = v - First_processed_row();
    return offset >= 0 ? offset / 2 : -((1 - offset) / 2);
}

Failure Check_beam_bands()
{
    const int64_t reach = Side_band_reach();
    for (int64_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        if (y < 0 || y >= vsize) {
            return End_stage(exit_bad_path, "The beam path in '" + std::string(path_file_name) +
                                                "' reaches row " + std::to_string(y) +
                                                ", outside the picture's rows 0 to " +
                                                std::to_string(vsize - 1));
        }
        const int64_t x_P = Getpathx(static_cast<int32_t>(y));
        const int64_t left = x_P - reach;
        const int64_t right = x_P + reach;
        // A column's colour cell starts at the column less its remainder by 2.
        if (left - left % 2 < 0 || right - right % 2 + 1 >= hsize) {
            return End_stage(exit_bad_path,
                             "The beam bands on row " + std::to_string(y) + " reach columns " +
                                 std::to_string(left) + " to " + std::to_string(right) +
                                 ", outside the picture's columns 0 to " +
                                 std::to_string(hsize - 1) + " (path in '" + path_file_name +
                                 "', band width and side scale in '" + config_file_name + "')");
        }
    }
    return {};
}

double Beam_level(int32_t x, int32_t y)
{
    float R, G_laser, G_dark, B;
    Get_jas(value, x, y, R, G_laser, B);
    Get_jas(value_bckg, x, y, R, G_dark, B);
    const float S = Sensitivity(R2thetadeg(Radius(x, y)));
    return (double{G_laser} - G_dark) / S;
}

float Median_of(std::vector<float>& list)
{
    std::sort(list.begin(), list.end());
    return list[list.size() / 2];
}

float Net_signal(int32_t y, int32_t x_P)
{
    const int32_t w = pathwidth;
    // The band sum stays a float rounded after each addition, as the levels come.
    float sum = 0.0f;
    int32_t N = 0;
    for (int32_t c = x_P - w; c <= x_P + w; ++c) {
        sum = static_cast<float>(sum + Beam_level(c, y));
        ++N;
    }
    std::vector<float> side;
    const int32_t reach = static_cast<int32_t>(Side_band_reach());
    for (int32_t c = x_P - reach; c <= x_P - w - 1; ++c) side.push_back(float(Beam_level(c, y)));
    for (int32_t c = x_P + w + 1; c <= x_P + reach; ++c) side.push_back(float(Beam_level(c, y)));
    const float background = Median_of(side);
    return static_cast<float>(double{sum} - static_cast<double>(N) * background);
}

float Scaling_coefficient(int32_t row90)
{
    // The window rows fall onto consecutive processed-row indices k0 ... k0 + median.
    const int64_t n = static_cast<int64_t>(gnetto.size());
    const int64_t k0 = Processed_index(int64_t{row90} - median);
    const int64_t k1 = k0 + median;
    const int64_t before = std::clamp<int64_t>(-k0, 0, int64_t{median} + 1);
    const int64_t after = std::clamp<int64_t>(k1 - (n - 1), 0, int64_t{median} + 1);

    // The window's values with their multiplicities: rows before the first processed
    // row give its signal, rows after the last give the last signal.
    std::vector<std::pair<float, int64_t>> counted;
    if (before > 0) counted.emplace_back(gnetto.front(), before);
    if (after > 0) counted.emplace_back(gnetto.back(), after);
    for (int64_t k = std::max<int64_t>(k0, 0); k <= std::min(k1, n - 1); ++k) {
        counted.emplace_back(gnetto[size_t(k)], 1);
    }
    std::sort(counted.begin(), counted.end());
    int64_t wanted = (int64_t{median} + 1) / 2;   // index size / 2 of the sorted window
    for (const auto& entry : counted) {
        if (wanted < entry.second) return entry.first;
        wanted -= entry.second;
    }
    return counted.back().first;
}

int32_t Ninety_degree_row()
{
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        // The first row whose scattering angle is below 90 degrees; rows above the
        // image centre have negative zenith angles.
        float theta = R2thetadeg(Radius(Getpathx(y), y));
        if (y < ycentre) theta = -theta;
        const float F = static_cast<float>((90.0 - theta) + elevation);
        if (F < 90.0f) return y;
    }
    return -1;
}

float Compute_beam_signal(int32_t& row90)
{
    gnetto.clear();
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) gnetto.push_back(Net_signal(y, Getpathx(y)));
    row90 = Ninety_degree_row();
    return Scaling_coefficient(row90);
}

void Report_scaling_coefficient(float coefficient, int32_t row90)
{
    Console() << std::endl
              << "Scaling coefficient (scattering angle = 90 deg) = " << coefficient
              << "    at x = " << Getpathx(row90) << "   y = " << row90 << std::endl;
}
