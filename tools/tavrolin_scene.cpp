// tavrolin-scene: writes a sample scene with a known answer into a folder: the laser
// picture and the dark picture of the camera's whole raw frame as DCRAW writes them,
// 'tavrolinconfig.txt', 'tavrolinpath.txt', and the truth table 'scene_truth.txt'
// (per processed row the scattering angle, the expected net beam signal with its
// noise, and the expected normalised signal). The forward model is described in
// scene_model.h. The same seed always gives the same files.
//
// Usage: tavrolin-scene [--seed N] [--no-dark] [--frames K] [--darks D] [--gain G]
//                       [--read-noise R] FOLDER

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "scene_model.h"

namespace {

const char* const usage =
    "Usage: tavrolin-scene [--seed N] [--no-dark] [--frames K] [--darks D] [--gain G]\n"
    "                      [--read-noise R] FOLDER\n"
    "Writes a sample scene with a known beam profile into FOLDER (created if missing).\n"
    "  --seed N        seed of the picture noise (default 1)\n"
    "  --no-dark       write no dark picture; the configuration then says NODARK\n"
    "  --frames K      write K laser pictures of the same scene with independent noise\n"
    "                  (scene_laser.pgm, scene_laser_2.pgm, ...; default 1)\n"
    "  --darks D       write D dark pictures likewise (scene_dark.pgm, scene_dark_2.pgm, ...;\n"
    "                  default 1, 0 is --no-dark)\n"
    "  --gain G        sensor gain in DN per electron: shot-noise variance G x level (default 1)\n"
    "  --read-noise R  read noise of every pixel in DN, both pictures (default 6)\n";

// A count option's value: a whole number from `least` to 100000.
bool Read_count(const char* text, int least, int& count)
{
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (*end != '\0' || text[0] == '\0' || parsed < least || parsed > 100000) return false;
    count = static_cast<int>(parsed);
    return true;
}

// Reads a finite decimal number of at least `lowest` (above it when `strict`).
bool Read_number(const char* text, double lowest, bool strict, double& number)
{
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
    if (parsed < lowest || (strict && parsed == lowest)) return false;
    number = parsed;
    return true;
}

// Reads the options into `scene` and `folder`; false on anything it doesn't know.
bool Parse_options(int argc, char** argv, scene_model::SceneSettings& scene, std::string& folder,
                   int& frames, int& darks)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-dark") {
            scene.dark_frame = false;
        } else if (option == "--frames" && i + 1 < argc) {
            if (!Read_count(argv[++i], 1, frames)) return false;
        } else if (option == "--darks" && i + 1 < argc) {
            if (!Read_count(argv[++i], 0, darks)) return false;
        } else if (option == "--seed" && i + 1 < argc) {
            char* end = nullptr;
            scene.seed = std::strtoull(argv[++i], &end, 10);
            if (*end != '\0' || argv[i][0] == '\0' || argv[i][0] == '-') return false;
        } else if (option == "--gain" && i + 1 < argc) {
            if (!Read_number(argv[++i], 0.0, true, scene.gain)) return false;
        } else if (option == "--read-noise" && i + 1 < argc) {
            if (!Read_number(argv[++i], 0.0, false, scene.read_noise)) return false;
        } else if (!option.empty() && option[0] != '-' && folder.empty()) {
            folder = option;
        } else {
            return false;
        }
    }
    if (darks == 0) scene.dark_frame = false;
    if (!scene.dark_frame) darks = 0;
    return !folder.empty();
}

bool Report(const std::string& failure)
{
    if (!failure.empty()) std::cerr << "tavrolin-scene: " << failure << std::endl;
    return failure.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    scene_model::SceneSettings scene;
    std::string folder;
    int frames = 1;
    int darks = 1;
    if (!Parse_options(argc, argv, scene, folder, frames, darks)) {
        std::cerr << usage;
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Report("can't create " + folder + ": " + error.message()), 1;

    scene_model::Use_scene_geometry(scene);
    bool ok = Report(scene_model::Write_configuration(scene, folder)) &&
              Report(scene_model::Write_path(scene, folder)) &&
              Report(scene_model::Write_truth(scene_model::Truth_table(scene), folder)) &&
              Report(scene_model::Write_picture(scene, folder, true));
    if (ok && scene.dark_frame) ok = Report(scene_model::Write_picture(scene, folder, false));
    for (int k = 2; ok && k <= frames; ++k) ok = Report(scene_model::Write_picture(scene, folder, true, k));
    for (int k = 2; ok && k <= darks; ++k) ok = Report(scene_model::Write_picture(scene, folder, false, k));
    if (!ok) return 1;
    std::cout << "Scene written to " << folder << " (seed " << scene.seed
              << (scene.dark_frame ? ", with dark picture)" : ", no dark picture)") << std::endl;
    if (frames > 1 || darks > 1) {
        std::cout << frames << " laser picture(s) and " << darks << " dark picture(s)" << std::endl;
    }
    return 0;
}
