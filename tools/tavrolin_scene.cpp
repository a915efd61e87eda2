// tavrolin-scene: writes a sample scene with a known answer into a folder: the laser
// picture and the dark picture of the camera's whole raw frame as DCRAW writes them,
// 'tavrolinconfig.txt', 'tavrolinpath.txt', and the truth table 'scene_truth.txt'
// (per processed row the scattering angle, the expected net beam signal with its
// noise, and the expected normalised signal). The forward model is described in
// scene_model.h. The same seed and options always give the same files.
//
// Usage: tavrolin-scene [OPTION...] FOLDER   (tavrolin-scene --help lists the options)

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <string>

#include "scene_model.h"

namespace {

using scene_model::SceneSettings;

// Whole number in `text`, within [lowest, highest].
bool Whole(const char* text, int32_t lowest, int32_t highest, int32_t& number)
{
    if (text[0] == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < lowest || parsed > highest) return false;
    number = static_cast<int32_t>(parsed);
    return true;
}

// Decimal number in `text`, strictly between `above` and `below`.
bool Decimal(const char* text, double above, double below, double& number)
{
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (text[0] == '\0' || *end != '\0' || !(parsed > above && parsed < below)) return false;
    number = parsed;
    return true;
}

bool Decimal(const char* text, double above, double below, float& number)
{
    double parsed;
    if (!Decimal(text, above, below, parsed)) return false;
    number = static_cast<float>(parsed);
    return true;
}

// Finite decimal number in `text`, above 0 (or 0 too when `zero` is allowed).
bool Positive(const char* text, bool zero, double& number)
{
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
    if (parsed < 0.0 || (!zero && parsed == 0.0)) return false;
    number = parsed;
    return true;
}

constexpr int32_t int_max = std::numeric_limits<int32_t>::max();

// How many laser and dark pictures of the same scene to write, each with noise of
// its own (the first ones are the scene's usual pictures), and whether each is also
// written as a raw file.
int32_t frames = 1;
int32_t darks = 1;
bool dng = false;

// The physical beam (physical_beam.h), when asked for.
bool physical = false;
scene_model::PhysicalBeam physical_beam;

// The options: each a name, the name of its argument (none for a flag), a line of help
// and what it sets. A setter returns false when the argument is not valid.
struct Option {
    const char* name;
    const char* argument;
    const char* help;
    bool (*set)(SceneSettings& scene, const char* argument);
};

const Option options[] = {
    {"--seed", "N", "seed of the picture noise (default 1)",
     [](SceneSettings& s, const char* a) {
         char* end = nullptr;
         errno = 0;
         s.seed = std::strtoull(a, &end, 10);
         return a[0] != '\0' && a[0] != '-' && *end == '\0' && errno != ERANGE;
     }},
    {"--no-dark", nullptr, "write no dark picture; the configuration then says NODARK",
     [](SceneSettings& s, const char*) {
         s.dark_frame = false;
         return true;
     }},
    {"--dng", nullptr, "write each picture also as a raw file, an uncompressed CFA DNG (scene_laser.dng, scene_dark.dng) holding the same samples",
     [](SceneSettings&, const char*) {
         dng = true;
         return true;
     }},
    {"--frames", "K", "write K laser pictures of the same scene with independent noise (scene_laser.pgm, scene_laser_2.pgm, ...; default 1)",
     [](SceneSettings&, const char* a) { return Whole(a, 1, 100000, frames); }},
    {"--darks", "D", "write D dark pictures likewise (scene_dark.pgm, scene_dark_2.pgm, ...; default 1, 0 is --no-dark)",
     [](SceneSettings&, const char* a) { return Whole(a, 0, 100000, darks); }},
    {"--start", "TIME", "the camera's clock at the first laser picture, YYYY-MM-DDTHH:MM:SS (UTC), written as each DNG's capture time; further laser pictures follow 3 minutes apart, the darks precede it (default 2026-03-14T21:00:00)",
     [](SceneSettings& s, const char* a) {
         std::tm t{};
         const char* end = strptime(a, "%Y-%m-%dT%H:%M:%S", &t);
         if (end == nullptr || *end != '\0') return false;
         s.start_time = static_cast<int64_t>(timegm(&t));
         return true;
     }},
    {"--gain", "G", "sensor gain in DN per electron: shot-noise variance G x level (default 1)",
     [](SceneSettings& s, const char* a) { return Positive(a, false, s.gain); }},
    {"--read-noise", "R", "read noise of every pixel in DN, both pictures (default 6)",
     [](SceneSettings& s, const char* a) { return Positive(a, true, s.read_noise); }},
    {"--centre", "X,Y", "centre of the fish-eye image circle in pixels (default 3231,2139)",
     [](SceneSettings& s, const char* a) {
         const char* comma = std::strchr(a, ',');
         if (comma == nullptr) return false;
         const std::string x(a, comma);
         return Whole(x.c_str(), 0, int_max, s.xcentre) && Whole(comma + 1, 0, int_max, s.ycentre);
     }},
    {"--radius", "PIXELS", "radius of the image circle (default 2052)",
     [](SceneSettings& s, const char* a) { return Whole(a, 1, int_max, s.rmax); }},
    {"--elevation", "DEG", "the beam's elevation at the laser above the line to the camera, in degrees, above 0 and below 90 (default 10)",
     [](SceneSettings& s, const char* a) { return Decimal(a, 0.0, 90.0, s.elevation); }},
    {"--laser-distance", "M", "distance from the camera to the laser in metres (default 500)",
     [](SceneSettings& s, const char* a) { return Decimal(a, 0.0, 1e30, s.laserdistance); }},
    {"--band-width", "PIXELS", "width of the beam band as configured, at least 2 (default 30)",
     [](SceneSettings& s, const char* a) { return Whole(a, 2, 2000, s.band_width); }},
    {"--side-scale", "N", "scale of the side bands' distance from the beam band (default 1)",
     [](SceneSettings& s, const char* a) { return Whole(a, 1, 1000, s.sidescale); }},
    {"--median", "ROWS", "half window of the running median, 0 for none (default 10)",
     [](SceneSettings& s, const char* a) { return Whole(a, 0, 100000, s.median); }},
    {"--physical", nullptr, "draw the physical beam: molecular and Henyey-Greenstein aerosol scattering times the two-way transmission times each row's angular footprint; writes scene_beta_truth.txt",
     [](SceneSettings&, const char*) { return physical = true; }},
    {"--aerosol-g", "G", "asymmetry of the physical beam's aerosol, -1 < G < 1 (default 0.5)",
     [](SceneSettings&, const char* a) {
         float g;
         return Decimal(a, -1.0, 1.0, g) && (physical_beam.g = g, true);
     }},
    {"--aerosol-q", "Q", "aerosol-to-molecular ratio of the physical beam's scattering at 90 degrees, 0 for pure air (default 1)",
     [](SceneSettings&, const char* a) { return Positive(a, true, physical_beam.q); }},
    {"--polarisation", "PSI", "angle in degrees between the laser's field and the vertical plane through camera and laser, or 'unpolarised' (default)",
     [](SceneSettings&, const char* a) {
         if (std::string(a) == "unpolarised") return true;
         float psi;
         return Decimal(a, -360.1, 360.1, psi) && (physical_beam.air.polarisation = psi, true);
     }},
    {"--wavelength", "NM", "the laser's wavelength in nm (default 532)",
     [](SceneSettings&, const char* a) {
         float nm;
         return Decimal(a, 229.0, 4001.0, nm) && (physical_beam.air.wavelength = nm, true);
     }},
    {"--beam-scale", "DN", "the physical beam's molecular light across a row at 90 degrees (default 3000)",
     [](SceneSettings&, const char* a) { return Positive(a, false, physical_beam.scale); }},
    {"--sky", "DN", "sky glow at the image centre before the lens fall-off (default 250)",
     [](SceneSettings& s, const char* a) { return Positive(a, true, s.sky_level); }},
    {"--sky-tilt", "F", "the sky's left-to-right gradient: +F at the circle's right edge (default 0.15)",
     [](SceneSettings& s, const char* a) { return Decimal(a, -1.0, 1.0, s.sky_tilt); }},
    {"--beam-sigma", "PIXELS", "Gaussian width of the beam across a row (default 3.5)",
     [](SceneSettings& s, const char* a) { return Positive(a, false, s.beam_sigma); }},
    {"--beam-integral", "DN", "the Gaussian beam's row integral at phase function 1 (default 540000)",
     [](SceneSettings& s, const char* a) { return Positive(a, false, s.beam_scale); }},
    {"--wander", "PIXELS", "amplitude of the beam's wander about the path, a sine of 700 rows (default 0)",
     [](SceneSettings& s, const char* a) { return Decimal(a, -1e3, 1e3, s.wander); }},
    {"--green-mismatch", "F", "the first green of each cell sees its light times 1 + F (default 0)",
     [](SceneSettings& s, const char* a) { return Decimal(a, -0.5, 0.5, s.green_mismatch); }},
    {"--hot-pixels", "N", "N hot pixels, the same in every picture, 300 to 3000 DN above black (default 0)",
     [](SceneSettings& s, const char* a) { return Whole(a, 0, 10000000, s.hot_pixels); }},
    {"--white-level", "DN", "the sensor's highest sample; brighter pixels are clipped to it (default 65535)",
     [](SceneSettings& s, const char* a) { return Decimal(a, 1.0, 65535.0, s.white_level); }},
};

void Print_usage(std::ostream& out)
{
    out << "Usage: tavrolin-scene [OPTION...] FOLDER\n"
           "Writes a sample scene with a known beam profile into FOLDER (created if missing).\n"
           "The beam runs from the laser at the image circle's lower edge up past its centre.\n";
    for (const Option& option : options) {
        std::string left = std::string(option.name) + (option.argument ? std::string(" ") + option.argument : "");
        left.resize(std::max<size_t>(left.size() + 2, 24), ' ');
        out << "  " << left << option.help << "\n";
    }
    out << "  --help                  show this help and end\n";
}

enum class Parsed { run, help, wrong };

// Reads the options into `scene` and `folder`; explains what is wrong on the way.
Parsed Parse_options(int argc, char** argv, SceneSettings& scene, std::string& folder)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") return Parsed::help;
        const Option* known = nullptr;
        for (const Option& option : options) {
            if (word == option.name) known = &option;
        }
        if (known != nullptr) {
            const char* argument = nullptr;
            if (known->argument != nullptr) {
                if (i + 1 >= argc) {
                    std::cerr << "tavrolin-scene: " << word << " needs " << known->argument << "\n";
                    return Parsed::wrong;
                }
                argument = argv[++i];
            }
            if (!known->set(scene, argument)) {
                std::cerr << "tavrolin-scene: " << word << " " << argument << " is not valid; "
                          << word << " " << known->argument << ": " << known->help << "\n";
                return Parsed::wrong;
            }
        } else if (!word.empty() && word[0] != '-' && folder.empty()) {
            folder = word;
        } else {
            std::cerr << "tavrolin-scene: unknown option or second folder: " << word << "\n";
            return Parsed::wrong;
        }
    }
    if (folder.empty()) {
        std::cerr << "tavrolin-scene: no FOLDER given\n";
        return Parsed::wrong;
    }
    if (darks == 0) scene.dark_frame = false;
    if (!scene.dark_frame) darks = 0;
    return Parsed::run;
}

bool Report(const std::string& failure)
{
    if (!failure.empty()) std::cerr << "tavrolin-scene: " << failure << std::endl;
    return failure.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    SceneSettings scene;
    std::string folder;
    switch (Parse_options(argc, argv, scene, folder)) {
    case Parsed::help:
        Print_usage(std::cout);
        return 0;
    case Parsed::wrong:
        Print_usage(std::cerr);
        return 2;
    case Parsed::run:
        break;
    }
    scene_model::Place_beam(scene);
    if (!Report(scene_model::Check_scene(scene))) return 2;

    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Report("can't create " + folder + ": " + error.message()), 1;

    scene_model::Use_scene_geometry(scene);
    if (physical) {
        scene.physical = std::make_shared<scene_model::PhysicalBeam>(physical_beam);
        scene_model::Prepare_physical_beam(scene, *scene.physical);
    }
    bool ok = Report(scene_model::Write_configuration(scene, folder)) &&
              Report(scene_model::Write_path(scene, folder)) &&
              (!physical || Report(scene_model::Write_beta_truth(scene_model::Beta_truth(scene), folder))) &&
              Report(scene_model::Write_truth(scene_model::Truth_table(scene), folder)) &&
              Report(scene_model::Write_picture(scene, folder, true, 1, dng));
    if (ok && scene.dark_frame) ok = Report(scene_model::Write_picture(scene, folder, false, 1, dng));
    for (int k = 2; ok && k <= frames; ++k) ok = Report(scene_model::Write_picture(scene, folder, true, k, dng));
    for (int k = 2; ok && k <= darks; ++k) ok = Report(scene_model::Write_picture(scene, folder, false, k, dng));
    if (!ok) return 1;
    std::cout << "Scene written to " << folder << " (seed " << scene.seed
              << (scene.dark_frame ? ", with dark picture)" : ", no dark picture)") << std::endl;
    if (frames > 1 || darks > 1) {
        std::cout << frames << " laser picture(s) and " << darks << " dark picture(s)" << std::endl;
    }
    return 0;
}
