#include "model/levels.h"

#include <cstdint>
#include <ostream>

#include "base/console.h"
#include "base/settings.h"
#include "base/image_plane.h"
#include "model/bayer.h"

float maxvalue = 0.0f;
float minvalue = 0.0f;
float zero_level = 0.0f;
float zero_level_R = 0.0f;
float zero_level_G = 0.0f;
float zero_level_B = 0.0f;
float zero_level_R_bckg = 0.0f;
float zero_level_G_bckg = 0.0f;
float zero_level_B_bckg = 0.0f;
double centre_level_R = 0.0;
double centre_level_G = 0.0;
double centre_level_B = 0.0;

namespace {

// Dark levels from the covered areas. Every running sum is a 32-bit float rounded
// after each addition, in the order areas, rows, columns: the reported levels
// depend on that order once the sums pass 2^24. The levels are all 0 during the
// pass, so each cell reading is the raw one.
void Measure_zero_levels()
{
    zero_level = 0.0f;
    zero_level_R = zero_level_G = zero_level_B = 0.0f;
    zero_level_R_bckg = zero_level_G_bckg = zero_level_B_bckg = 0.0f;

    int32_t n = 0;
    float sum = 0.0f;
    float sum_R = 0.0f, sum_G = 0.0f, sum_B = 0.0f;
    float sum_R_bckg = 0.0f, sum_G_bckg = 0.0f, sum_B_bckg = 0.0f;
    for (int32_t i = 0; i < border_no; ++i) {
        const PixelArea& area = border[i];   // upper bounds exclusive
        for (int32_t y = area.y_from; y < area.y_to; ++y) {
            for (int32_t x = area.x_from; x < area.x_to; ++x) {
                sum += value[size_t(hsize) * size_t(y) + size_t(x)];
                float R, G, B;
                Get_jas(value, x, y, R, G, B);
                sum_R += R;
                sum_G += G;
                sum_B += B;
                Get_jas(value_bckg, x, y, R, G, B);
                sum_R_bckg += R;
                sum_G_bckg += G;
                sum_B_bckg += B;
                ++n;
            }
        }
    }
    if (n == 0) return;   // no covered pixel: the levels stay 0
    const double count = n;
    zero_level = static_cast<float>(sum / count);
    zero_level_R = static_cast<float>(sum_R / count);
    zero_level_G = static_cast<float>(sum_G / count);
    zero_level_B = static_cast<float>(sum_B / count);
    zero_level_R_bckg = static_cast<float>(sum_R_bckg / count);
    zero_level_G_bckg = static_cast<float>(sum_G_bckg / count);
    zero_level_B_bckg = static_cast<float>(sum_B_bckg / count);
}

// Highest and lowest sample of the laser picture, in a loop that vectorises.
void Find_extremes()
{
    uint16_t lowest = 65535;
    uint16_t highest = 0;
    const unsigned char* samples = value.stored();
    const size_t count = value.size();
    for (size_t i = 0; i < count; ++i) {
        const uint16_t sample = Stored_sample(samples, i);
        lowest = sample < lowest ? sample : lowest;
        highest = sample > highest ? sample : highest;
    }
    maxvalue = highest;
    minvalue = lowest;
}

// Mean net levels of the square at the middle of the active picture area, scanned
// column by column.
void Measure_centre_levels()
{
    double sum_R = 0.0, sum_G = 0.0, sum_B = 0.0;
    // The middle of the active picture area, whose bounds are both inside it.
    const int32_t x_middle = (picture.x_from + picture.x_to) / 2;
    const int32_t y_middle = (picture.y_from + picture.y_to) / 2;
    for (int32_t i = 0; i < center_size; ++i) {
        for (int32_t j = 0; j < center_size; ++j) {
            float R, G, B;
            Get_jas(value, x_middle + i - center_size / 2, y_middle + j - center_size / 2, R, G, B);
            sum_R += R;
            sum_G += G;
            sum_B += B;
        }
    }
    // A square of no pixels (center_size 0 or less) reports zero means.
    const double area = center_size > 0 ? double(int64_t{center_size} * center_size) : 1.0;
    centre_level_R = sum_R / area;
    centre_level_G = sum_G / area;
    centre_level_B = sum_B / area;
}

}  // namespace

void Compute_levels()
{
    Find_extremes();
    Measure_zero_levels();
    Measure_centre_levels();
}

void Report_levels()
{
    Console() << "Processing the picture of the laser beam..." << std::endl;
    Console() << "Highest level found: " << maxvalue << std::endl;
    Console() << "Lowest level found:  " << minvalue << std::endl;
    Console() << "Calculating zero level from covered pixels..." << "OK" << std::endl;
    Console() << "Average zero level: " << zero_level << std::endl;
    Console() << "Average zero level R/G/B: " << zero_level_R << " / " << zero_level_G << " / "
              << zero_level_B << std::endl;
    Console() << "Average levels in the centre of picture: R = " << centre_level_R
              << " G = " << centre_level_G << " B = " << centre_level_B << std::endl;
}

void Measure_levels()
{
    Compute_levels();
    Report_levels();
}

FrameLevels Measured_levels()
{
    FrameLevels levels;
    levels.highest = maxvalue;
    levels.lowest = minvalue;
    levels.zero_level = zero_level;
    levels.zero_level_R = zero_level_R;
    levels.zero_level_G = zero_level_G;
    levels.zero_level_B = zero_level_B;
    levels.zero_level_R_bckg = zero_level_R_bckg;
    levels.zero_level_G_bckg = zero_level_G_bckg;
    levels.zero_level_B_bckg = zero_level_B_bckg;
    return levels;
}
