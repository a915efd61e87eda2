// The sample scene: a synthetic laser picture and dark picture of the camera's whole
// raw frame, with a beam whose true scattering profile is known.
//
// Forward model, for every sensor pixel (x, y) of the RGGB mosaic:
//   expected = black(channel) + (sky(x, y) + beam(x, y)) * Sensitivity(R2thetadeg(r))
//   sample   = expected + normal noise of variance read_noise^2 + gain * (expected - black),
//              rounded to the nearest integer and kept within 0 .. 65535
// where r is the pixel's distance from the image centre. The sky is a smooth glow that
// brightens towards the horizon and tilts from left to right, inside the image circle
// only; the covered border and everything outside the circle see the black level and
// read noise alone. The beam is a Gaussian band across each row, centred on the path's
// column of that row, whose integral across the row is beam_scale * P(alpha(y)), with
// P a Henyey-Greenstein term plus a molecular (Rayleigh) term and alpha(y) the row's
// scattering angle as the data table's camera-laser geometry gives it. The dark picture
// is the black level with read noise of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "physical_beam.h"

namespace scene_model {

struct SceneSettings {
    uint64_t seed = 1;
    bool dark_frame = true;

    // Written to the configuration; the lens and table geometry read them.
    float laserdistance = 500.0f;
    float elevation = 10.0f;
    int32_t band_width = 30;     // full width of the beam band, as configured
    int32_t sidescale = 1;
    int32_t median = 10;         // half window of the running median, in rows
    int32_t xcentre = 3231;
    int32_t ycentre = 2139;
    int32_t rmax = 2052;

    // The beam runs from the laser, at the image circle's lower edge, up across the
    // picture past the centre. Both ends on even rows, so every colour cell of a
    // processed row lies on the beam. Place_beam puts them there for any circle.
    int32_t top_x = 3074, top_y = 346;
    int32_t laser_x = 3409, laser_y = 4176;

    // Sensor, in digital numbers (DN). A pixel whose light is L DN above black has a
    // shot-noise variance of gain * L DN^2 (gain in DN per electron).
    double black_level[3] = {2047.0, 2048.0, 2049.0};   // red, green, blue
    double read_noise = 6.0;   // DN, in both pictures
    double gain = 1.0;         // DN per electron

    // Sky glow at the centre of the image circle, before the lens fall-off.
    double sky_level = 250.0;

    // Beam: Gaussian width across a row, and the row integral at P = 1.
    double beam_sigma = 3.5;
    double beam_scale = 540000.0;
    // The beam's centre wanders about the path: wander * sin(2 pi (y - top_y) / 700).
    double wander = 0.0;         // pixels
    // The sky's left-to-right tilt across the image circle's radius (0.15: +15 %).
    double sky_tilt = 0.15;
    // The first green of each cell (odd column, even row) sees its light times
    // (1 + green_mismatch).
    double green_mismatch = 0.0;
    // Hot pixels: this many, at places and levels fixed by hot_seed alone, the same
    // in every picture (laser and dark), each hot_level x (1 to 10) DN above black.
    int32_t hot_pixels = 0;
    double hot_level = 300.0;
    uint64_t hot_seed = 99;
    // The sensor's highest sample: larger levels are clipped to it.
    double white_level = 65535.0;
    double asymmetry = 0.5;            // Henyey-Greenstein g
    double molecular_fraction = 0.3;

    // The camera's clock at the first laser picture, as seconds since 1970-01-01 UTC
    // (2026-03-14 21:00:00): a DNG's EXIF capture time. Laser picture k is taken
    // (k - 1) x frame_interval later, dark picture k that long before the first.
    int64_t start_time = 1773522000;
    int64_t frame_interval = 180;
    // With a physical beam the beam's light follows it instead (physical_beam.h).
    std::shared_ptr<PhysicalBeam> physical;
};

constexpr int32_t frame_width = 6384;
constexpr int32_t frame_height = 4224;

// Pseudo-random numbers: xoshiro256** seeded through splitmix64, normal deviates by
// the Box-Muller transform. The same seed gives the same numbers on every platform.
struct Prng {
    uint64_t state[4];
    bool has_spare;
    double spare;
};
void Seed(Prng& prng, uint64_t seed);
uint64_t Next_bits(Prng& prng);
double Next_uniform(Prng& prng);   // in (0, 1)
double Next_normal(Prng& prng);    // mean 0, variance 1

// Puts the beam's ends where they lie for the default circle, moved with the circle's
// centre and scaled with its radius, each on an even row.
void Place_beam(SceneSettings& scene);

// An empty text when the scene fits the frame: the beam's rows and its side bands'
// columns inside the picture. Otherwise what is wrong.
std::string Check_scene(const SceneSettings& scene);

// Points the tool's lens model and path interpolation at the scene's geometry
// (image circle, beam path, elevation); call before any function below.
void Use_scene_geometry(const SceneSettings& scene);

// Scattering phase function at a scattering angle in degrees, per steradian.
double Phase_function(const SceneSettings& scene, double alpha_deg);

// The first processed row whose scattering angle, from its own radius, is below 90
// degrees: the row the tool normalises at (-1 if none).
int32_t Ninety_degree_row(const SceneSettings& scene);

// Scattering angle of row y as the data table derives it from the path.
double Scattering_angle(const SceneSettings& scene, int32_t y);

// Expected light of pixel (x, y) before the lens fall-off: sky, and beam.
double Sky_light(const SceneSettings& scene, int32_t x, int32_t y);
double Beam_light(const SceneSettings& scene, int32_t x, int32_t y);

// Lens fall-off at pixel (x, y), as the tool's lens model defines it.
double Falloff(const SceneSettings& scene, int32_t x, int32_t y);

// Noisy sample of pixel (x, y); `laser` chooses the laser picture over the dark one;
// `hot` is the pixel's own dark excess (hot pixels), in DN.
uint16_t Sample(const SceneSettings& scene, Prng& prng, bool laser, int32_t x, int32_t y, double hot = 0.0);

// The hot pixels' frame indices (y * width + x), ascending, with their excess in DN.
std::vector<std::pair<size_t, double>> Hot_pixels(const SceneSettings& scene);

// One line of the truth table, per processed row (y_F, y_F + 2, ... below y_L).
struct TruthRow {
    int32_t y;
    int32_t x;            // the beam's column on the row
    double alpha;         // scattering angle, degrees
    double net;           // expected net beam signal over the beam band
    double net_sigma;     // its expected standard deviation from the noise
    double signal;        // net divided by the expected 90-degree scaling coefficient
};
std::vector<TruthRow> Truth_table(const SceneSettings& scene);

// Writers of the scene's files into `folder`; each returns an empty text or the reason.
extern const char* const laser_name;
extern const char* const dark_name;
extern const char* const truth_name;
extern const char* const laser_raw_name;   // the pictures as raw files (DNG)
extern const char* const dark_raw_name;
// Picture `number` (1, 2, ...) of its kind: number 1 is named laser_name or dark_name
// and drawn from the seed's own stream as it always was; number k > 1 is named with
// "_k" before the extension and drawn from a stream of its own, so that every frame
// shows the same expected scene with independent noise.
std::string Picture_name(bool laser, int number);
// Writes picture `number` of its kind as a PGM and, with `dng`, the same samples
// also as an uncompressed CFA DNG of the whole frame (RGGB, 16-bit, ActiveArea the
// active picture area), which DCRAW's "-E -4 -W -j -t 0" turns back into the PGM.
std::string Write_picture(const SceneSettings& scene, const std::string& folder, bool laser,
                          int number = 1, bool dng = false);
std::string Write_configuration(const SceneSettings& scene, const std::string& folder);
std::string Write_path(const SceneSettings& scene, const std::string& folder);
std::string Write_truth(const std::vector<TruthRow>& truth, const std::string& folder);

}  // namespace scene_model
