// The scene's physical beam: per pixel row, the beam's light across the row is
//     K [beta_m(t, h) + beta_a(t, h)] T dz,
// with beta_m the air's molecular scattering (model/air.h) for the laser's wavelength
// and polarisation, beta_a a Henyey-Greenstein aerosol whose ratio to beta_m at 90
// degrees is q, T the two-way molecular transmission and dz the zenith angle that the
// row's stretch of beam subtends at the camera. The beam is drawn as the straight line
// from the laser's image E (on the horizon) towards the top of the path; a point of
// it at distance t from E lies at the radius r_E - t, whose zenith angle the lens
// polynomial gives (shifted so that E reads 90 degrees, as the camera is levelled),
// so a row's dz is the difference of the angles where the line crosses the row's
// upper and lower edges. The truth is beta_rel of every processed row: the cell's
// [beta_m + beta_a] T, weighted by dz over its two pixel rows, over the same
// quantity's median over the scaling coefficient's window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/air.h"

namespace scene_model {

struct SceneSettings;

struct PhysicalBeam {
    AirSettings air;       // wavelength, polarisation, station; the aerosol's scale height
    double q = 1.0;        // aerosol-to-molecular ratio of beta at 90 degrees
    double g = 0.5;        // the aerosol's asymmetry
    double scale = 3000.0; // DN across a row of molecular light at 90 degrees, per the lens's
                           // nominal angle of a pixel row
    // Per pixel row of the frame: the light across the row, (beta_m + beta_a) T, dz.
    std::vector<double> row_light;
    std::vector<double> row_beta;
    std::vector<double> row_dz;
};

// Fills the per-row tables for the scene's geometry (after Use_scene_geometry).
void Prepare_physical_beam(const SceneSettings& scene, PhysicalBeam& beam);

// The beam's light at pixel (x, y) before the lens fall-off: a Gaussian across the row.
double Physical_beam_light(const SceneSettings& scene, int32_t x, int32_t y);

struct BetaTruth {
    int32_t y;
    double alpha;      // scattering angle at the cell's middle, degrees
    double height;     // m
    double beta_rel;
};
std::vector<BetaTruth> Beta_truth(const SceneSettings& scene);

extern const char* const beta_truth_name;
std::string Write_beta_truth(const std::vector<BetaTruth>& truth, const std::string& folder);

}  // namespace scene_model
