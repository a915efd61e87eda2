#include "physical_beam.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "base/maths.h"
#include "input/laserpath.h"
#include "model/lens.h"
#include "scene_model.h"

namespace scene_model {

const char* const beta_truth_name = "scene_beta_truth.txt";

namespace {

// Zenith angle where the beam's drawn line crosses the (fractional) row y.
double Line_zenith(const SceneSettings& scene, double y)
{
    const double ex = scene.laser_x - scene.xcentre, ey = scene.laser_y - scene.ycentre;
    const double tx = scene.top_x - scene.xcentre, ty = scene.top_y - scene.ycentre;
    const double length = std::hypot(tx - ex, ty - ey);
    const double t = (y - scene.laser_y) / ((ty - ey) / length);   // distance from E along the line
    const double r_E = std::hypot(ex, ey);
    const double r = r_E - t;
    double z = Smooth_zenith_angle(std::fabs(r));
    if (r < 0.0) z = -z;
    if (Smooth_zenith_angle(std::hypot(tx, ty)) > 45.0) z += 90.0 - Smooth_zenith_angle(r_E);
    return z;
}

struct Point {
    double alpha, height, distance, beam_length;
};

Point At_zenith(const SceneSettings& scene, double z)
{
    Point p;
    p.alpha = (90.0 - z) + scene.elevation;
    const double sin_alpha = std::sin(Radians(p.alpha));
    p.distance = scene.laserdistance * std::sin(Radians(scene.elevation)) / sin_alpha;
    p.beam_length = scene.laserdistance * std::cos(Radians(z)) / sin_alpha;
    p.height = p.distance * std::cos(Radians(z));
    return p;
}

// (beta_m + beta_a) T at a point, and beta_m T at 90 degrees in `reference`.
double Scattered(const SceneSettings& scene, const PhysicalBeam& beam, const Point& p, double& reference)
{
    const double gamma = Depolarisation_gamma(King_factor(beam.air.wavelength));
    const Point p90 = At_zenith(scene, scene.elevation);
    const double beta_m90 = Air_at(beam.air, p90.height).density * Molecular_phase(90.0, beam.air.polarisation, gamma);
    reference = beta_m90 * Two_way_transmission(beam.air, p90.beam_length, p90.distance, p90.height);
    const double beta_m = Air_at(beam.air, p.height).density * Molecular_phase(p.alpha, beam.air.polarisation, gamma);
    double beta_a = beam.q * beta_m90 * Henyey_greenstein(p.alpha, beam.g) / Henyey_greenstein(90.0, beam.g);
    const double H = beam.air.aerosol_scale_height;
    if (std::isfinite(H) && H > 0.0) beta_a *= std::exp(-(p.height - p90.height) / H);
    return (beta_m + beta_a) * Two_way_transmission(beam.air, p.beam_length, p.distance, p.height);
}

}  // namespace

void Prepare_physical_beam(const SceneSettings& scene, PhysicalBeam& beam)
{
    beam.row_light.assign(size_t(frame_height), 0.0);
    beam.row_beta.assign(size_t(frame_height), 0.0);
    beam.row_dz.assign(size_t(frame_height), 0.0);
    const double nominal_dz = lens_theta_linear * lens_reference_radius / scene.rmax;
    for (int32_t y = std::max(scene.top_y, 0); y <= std::min(scene.laser_y, frame_height - 1); ++y) {
        const double dz = std::fabs(Line_zenith(scene, y + 0.5) - Line_zenith(scene, y - 0.5));
        double reference;
        const double beta = Scattered(scene, beam, At_zenith(scene, Line_zenith(scene, y)), reference);
        beam.row_beta[size_t(y)] = beta;
        beam.row_dz[size_t(y)] = dz;
        beam.row_light[size_t(y)] = beam.scale * (beta / reference) * (dz / nominal_dz);
    }
}

double Physical_beam_light(const SceneSettings& scene, int32_t x, int32_t y)
{
    if (y < scene.top_y || y > scene.laser_y) return 0.0;
    const double offset = x - Getpathx(y);
    const double s = scene.beam_sigma;
    if (std::fabs(offset) > 8.0 * s) return 0.0;
    return scene.physical->row_light[size_t(y)] / (std::sqrt(2.0 * pi) * s) *
           std::exp(-offset * offset / (2.0 * s * s));
}

std::vector<BetaTruth> Beta_truth(const SceneSettings& scene)
{
    const PhysicalBeam& beam = *scene.physical;
    std::vector<BetaTruth> truth;
    std::vector<double> values;
    for (int32_t y = scene.top_y; y < scene.laser_y; y += 2) {
        // The processed row reads the colour cells of pixel rows y0 and y0 + 1.
        const int32_t y0 = y - (y % 2 + 2) % 2;
        double light = 0.0, span = 0.0;
        for (int32_t row = y0; row <= y0 + 1; ++row) {
            light += beam.row_beta[size_t(row)] * beam.row_dz[size_t(row)];
            span += beam.row_dz[size_t(row)];
        }
        const Point p = At_zenith(scene, Line_zenith(scene, y0 + 0.5));
        truth.push_back({y, p.alpha, p.height, light / span});
        values.push_back(light / span);
    }
    // The scaling coefficient's window rule: rows row90 - median ... row90 + median,
    // every second, each taken to the processed row at or above it, held to the ends.
    const int32_t row90 = Ninety_degree_row(scene);
    const int64_t n = static_cast<int64_t>(values.size());
    std::vector<double> window;
    for (int64_t v = int64_t{row90} - scene.median; v <= int64_t{row90} + scene.median; v += 2) {
        const int64_t offset = v - scene.top_y;
        const int64_t k = offset >= 0 ? offset / 2 : -((1 - offset) / 2);
        window.push_back(values[size_t(std::clamp<int64_t>(k, 0, n - 1))]);
    }
    std::sort(window.begin(), window.end());
    const double coefficient = window[window.size() / 2];
    for (BetaTruth& row : truth) row.beta_rel /= coefficient;
    return truth;
}

std::string Write_beta_truth(const std::vector<BetaTruth>& truth, const std::string& folder)
{
    const std::string path = folder + "/" + beta_truth_name;
    std::ofstream file(path);
    file << "y(pixel)\ts.angle(deg)\ts.height(m)\tbeta.rel(truth)\n";
    char line[160];
    for (const BetaTruth& row : truth) {
        std::snprintf(line, sizeof line, "%d\t%.6f\t%.3f\t%.9g\n", row.y, row.alpha, row.height, row.beta_rel);
        file << line;
    }
    file.close();
    return file ? "" : "can't write " + path;
}

}  // namespace scene_model
