#include "night/night_options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "night/night_names.h"
#include "tavrolin_version.h"

namespace {

// A number the sensor's model can use: finite and above 0 (nan and inf are refused).
const CLI::Validator finite_positive(
    [](std::string& text) {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || !(value > 0.0)) {
            return "must be a finite number above 0, not '" + text + "'";
        }
        return std::string();
    },
    "POSITIVE");

// The first word of the command line before "--" that looks like an option but is
// none of `app`'s, or empty. Words that are values of the options before them are
// skipped.
std::string Unknown_option(const CLI::App& app, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") break;
        if (word.size() < 2 || word[0] != '-') continue;
        const std::string name = word.substr(0, word.find('='));
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option == nullptr) return word;
        if (option->get_type_size() != 0 && word.find('=') == std::string::npos) ++i;   // its value
    }
    return std::string();
}

// The processors this process may run on (its affinity mask), or the online ones.
unsigned Usable_cores()
{
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0 && CPU_COUNT(&mask) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&mask));
    }
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? static_cast<unsigned>(cores) : 1u;
}

}  // namespace

std::string Usage_lines()
{
    return "Usage: tavrolin-night [--config FILE] [--path FILE] [--dark DARK]... [--out DIR] "
           "[--jobs N] [--pictures | --no-pictures] [--gain G] [--saturation L]\n"
           "       [--times FILE] [--clock-offset SECONDS] [--overwrite] [--station NAME] [--latitude DEG]\n"
           "       [--longitude DEG] [--altitude M] [--wavelength NM] [--polarisation unpolarised|ANGLE]\n"
           "       [--surface-pressure HPA] [--surface-temperature K] [--aerosol-scale-height H] FRAME...\n"
           "Run with --help for more information.";
}

Failure Read_command_line(int argc, char** argv, NightOptions& options)
{
    CLI::App app{std::string("tavrolin-night: measures a night of laser-beam frames as tavrolin does, each "
                             "into DIR/<frame name>/, and combines them into ") +
                     night_profile_name + ", " + night_map_name + ", " + night_profile_plot_name + ", " +
                     night_scattering_plot_name + " and " + night_record_name + ".",
                 "tavrolin-night"};
    app.set_version_flag("--version", std::string("tavrolin-night ") + tavrolin_version);
    app.add_option("--config", options.config, "configuration file, read as tavrolin reads it; "
                                                "its two file names are replaced by the frames and the darks")
        ->capture_default_str();
    app.add_option("--path", options.path, "beam path file (default: tavrolinpath.txt beside --config)");
    app.add_option("--dark", options.darks,
                   std::string("dark picture; several are combined into DIR/") + master_dark_name +
                       " (per-pixel median); NODARK: none; without --dark the configuration's dark")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--out", options.out, "folder of the night's products")->capture_default_str();
    app.add_option("--jobs", options.jobs, "worker processes (default: the number of cores this process may use)")
        ->check(CLI::Range(1u, 4096u));
    auto* pictures = app.add_flag("--pictures", options.pictures,
                                  std::string("write each frame's ") + corrected_picture_name + " (54 MB a full frame) "
                                      "beside its " + frame_quicklook_name);
    app.add_flag("--no-pictures", options.no_pictures,
                 std::string("write neither ") + frame_quicklook_name + " nor " + corrected_picture_name + " per frame")
        ->excludes(pictures);
    app.add_option("--gain", options.gain,
                   "sensor gain in DN per electron for the shot noise of every frame "
                   "(default: each frame's own photon-transfer estimate)")
        ->check(finite_positive);
    app.add_option("--saturation", options.saturation,
                   "sample level at which a pixel is clipped (default: each frame's highest "
                   "level when several pixels share it)")
        ->check(finite_positive);
    app.add_option("--times", options.times,
                   "file of lines 'frame-file YYYY-MM-DDTHH:MM:SS[Z]': the frames' times (UTC), "
                   "before a raw file's own capture time and a file's modification time");
    app.add_option("--clock-offset", options.clock_offset,
                   "seconds added to every frame's time (the camera clock's error, negated)");
    app.add_flag("--overwrite", options.overwrite,
                 std::string("replace an earlier night in --out: first remove the products its ") +
                     night_record_name + " lists");
    app.add_option("--station", options.station, "station name, for night.nc");
    app.add_option("--latitude", options.latitude, "station latitude in degrees north, for night.nc")
        ->check(CLI::Range(-90.0, 90.0));
    app.add_option("--longitude", options.longitude, "station longitude in degrees east, for night.nc")
        ->check(CLI::Range(-180.0, 360.0));
    app.add_option("--altitude,--station-altitude", options.altitude,
                   "station altitude in m above sea level, for night.nc and the molecular reference's "
                   "standard atmosphere (default 0 there)")
        ->check(CLI::Range(-500.0, 10000.0));
    app.add_option("--wavelength", options.wavelength,
                   "laser wavelength in nm, for night.nc and the molecular reference (default 532 there)")
        ->check(CLI::Range(230.0, 4000.0));
    app.add_option("--polarisation", options.polarisation,
                   "the laser's polarisation, for night.nc and the molecular reference: unpolarised "
                   "(the default), or the angle in degrees between its electric field and the vertical "
                   "plane through camera and laser (0: in that plane, 90: across it)");
    app.add_option("--surface-pressure", options.air.surface_pressure,
                   "air pressure at the station in hPa (default: the US Standard Atmosphere 1976's)")
        ->check(CLI::Range(100.0, 1100.0));
    app.add_option("--surface-temperature", options.air.surface_temperature,
                   "air temperature at the station in K (default: the US Standard Atmosphere 1976's)")
        ->check(CLI::Range(180.0, 340.0));
    app.add_option("--aerosol-scale-height", options.air.aerosol_scale_height,
                   "scale height of the aerosol in m for the phase-function fit (default: uniform "
                   "over the heights the beam spans)")
        ->check(CLI::PositiveNumber);
    app.add_option("FRAME", options.frames, "laser pictures (16-bit PGM), in the night's order")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        options.answered = true;
        if (app.exit(e) != 0) return Failure{exit_usage, ""};   // said by CLI11
        return {};
    } catch (const CLI::CallForVersion& e) {
        options.answered = true;
        if (app.exit(e) != 0) return Failure{exit_usage, ""};   // said by CLI11
        return {};
    } catch (const CLI::ParseError& e) {
        const std::string unknown = Unknown_option(app, argc, argv);
        if (!unknown.empty()) {
            return Failure{exit_usage, "unknown option '" + unknown +
                                           "'; a frame whose name begins with a dash goes after --, "
                                           "as in: tavrolin-night [OPTION]... -- " + unknown};
        }
        return Failure{exit_usage, e.what()};
    }
    options.path_given = app.count("--path") > 0;
    if (!options.path_given) {
        const size_t slash = options.config.find_last_of('/');
        if (slash != std::string::npos) options.path = options.config.substr(0, slash + 1) + path_file_name;
    }
    if (!std::isfinite(options.clock_offset)) return Failure{exit_usage, "--clock-offset: not a finite number"};
    // The molecular reference's laser and station.
    if (std::isfinite(options.wavelength)) options.air.wavelength = options.wavelength;
    if (std::isfinite(options.altitude)) options.air.station_altitude = options.altitude;
    const std::string& polarisation = options.polarisation;
    if (!polarisation.empty() && polarisation != "unpolarised" && polarisation != "unpolarized") {
        char* end = nullptr;
        const double psi = std::strtod(polarisation.c_str(), &end);
        if (*end != '\0' || !std::isfinite(psi) || std::fabs(psi) > 360.0) {
            return Failure{exit_usage, "--polarisation: '" + polarisation +
                                           "' is neither 'unpolarised' nor an angle in degrees (-360 to 360)"};
        }
        options.air.polarisation = psi;
    }
    if (options.jobs == 0) options.jobs = Usable_cores();
    return {};
}
