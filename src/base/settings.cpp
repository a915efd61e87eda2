#include "base/settings.h"

namespace {

constexpr float default_laserdistance = 500.0f;
constexpr float default_elevation = 10.0f;
constexpr int32_t default_pathwidth = 30;
constexpr int32_t default_sidescale = 1;
constexpr int32_t default_median = 0;
constexpr float default_correction = 10000.0f;
constexpr int32_t default_center_size = 100;
constexpr int32_t default_xcentre = 3231;
constexpr int32_t default_ycentre = 2139;
constexpr int32_t default_rmax = 2052;

}  // namespace

// The covered areas end before their upper bounds; the picture area includes them.
const int32_t border_no = 2;
const PixelArea border[2] = {{1, 6382, 5, 41}, {1, 118, 44, 4222}};
const PixelArea picture = {120, 6383, 44, 4223};

char filename[filename_capacity] = "";
char filename_bckg[filename_capacity] = "";
float laserdistance = default_laserdistance;
float elevation = default_elevation;
int32_t pathwidth = default_pathwidth;
int32_t sidescale = default_sidescale;
int32_t median = default_median;
float correction = default_correction;
int32_t center_size = default_center_size;
int32_t xcentre = default_xcentre;
int32_t ycentre = default_ycentre;
int32_t rmax = default_rmax;

void Reset_run_parameters()
{
    filename[0] = '\0';
    filename_bckg[0] = '\0';
    laserdistance = default_laserdistance;
    elevation = default_elevation;
    pathwidth = default_pathwidth;
    sidescale = default_sidescale;
    median = default_median;
    correction = default_correction;
    center_size = default_center_size;
    xcentre = default_xcentre;
    ycentre = default_ycentre;
    rmax = default_rmax;
}
