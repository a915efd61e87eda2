// tavrolin-scene: writes a sample scene with a known answer into a folder: the laser
// picture and the dark picture of the camera's whole raw frame as DCRAW writes them,
// 'tavrolinconfig.txt', 'tavrolinpath.txt', and the truth table 'scene_truth.txt'
// (per processed row the scattering angle, the expected net beam signal with its
// noise, and the expected normalised signal). The forward model is described in
// scene_model.h. The same seed always gives the same files.
//
// Usage: tavrolin-scene [--seed N] [--no-dark] [--dng] FOLDER

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "scene_model.h"

namespace {

const char* const usage =
    "Usage: tavrolin-scene [--seed N] [--no-dark] [--dng] FOLDER\n"
    "Writes a sample scene with a known beam profile into FOLDER (created if missing).\n"
    "  --seed N    seed of the picture noise (default 1)\n"
    "  --no-dark   write no dark picture; the configuration then says NODARK\n"
    "  --dng       write each picture also as a raw file, an uncompressed CFA DNG\n"
    "              (scene_laser.dng, scene_dark.dng) holding the same samples\n";

// Reads the options into `scene` and `folder`; false on anything it doesn't know.
bool Parse_options(int argc, char** argv, scene_model::SceneSettings& scene, std::string& folder,
                   bool& dng)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-dark") {
            scene.dark_frame = false;
        } else if (option == "--dng") {
            dng = true;
        } else if (option == "--seed" && i + 1 < argc) {
            char* end = nullptr;
            scene.seed = std::strtoull(argv[++i], &end, 10);
            if (*end != '\0' || argv[i][0] == '\0' || argv[i][0] == '-') return false;
        } else if (!option.empty() && option[0] != '-' && folder.empty()) {
            folder = option;
        } else {
            return false;
        }
    }
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
    bool dng = false;
    if (!Parse_options(argc, argv, scene, folder, dng)) {
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
              Report(scene_model::Write_picture(scene, folder, true, dng));
    if (ok && scene.dark_frame) ok = Report(scene_model::Write_picture(scene, folder, false, dng));
    if (!ok) return 1;
    std::cout << "Scene written to " << folder << " (seed " << scene.seed
              << (scene.dark_frame ? ", with dark picture)" : ", no dark picture)") << std::endl;
    return 0;
}
