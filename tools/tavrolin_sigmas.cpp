// tavrolin-sigmas: runs the measurement stages of `tavrolin` on the scene in the
// current folder (its configuration, path and pictures), quietly, and prints for
// every processed row the net signal with its uncertainty, the background and the
// flags, after a comment line with the frame's gain. For checking the uncertainties
// on generated scenes (scripts/check_uncertainty.py).
//
// Usage: tavrolin-sigmas [--gain G] [--saturation L]

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "driver/settings.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/levels.h"
#include "products/beam_signal.h"
#include "products/uncertainty.h"

namespace {

bool Number_option(int& i, int argc, char** argv, double& number)
{
    if (i + 1 >= argc) return false;
    char* end = nullptr;
    number = std::strtod(argv[++i], &end);
    return *end == '\0' && end != argv[i];
}

}  // namespace

int main(int argc, char** argv)
{
    double gain = not_given, saturation = not_given;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool ok = (option == "--gain" && Number_option(i, argc, argv, gain)) ||
                        (option == "--saturation" && Number_option(i, argc, argv, saturation));
        if (!ok) {
            std::cerr << "Usage: tavrolin-sigmas [--gain G] [--saturation L]" << std::endl;
            return 64;
        }
    }
    std::ostringstream console;
    std::streambuf* const saved = std::cout.rdbuf(console.rdbuf());
    int code = Read_configuration();
    if (code == 0) code = Read_laser_path();
    if (code == 0) code = Read_pictures();
    if (code == 0) {
        Measure_levels();
        code = Check_beam_bands();
    }
    int32_t row90 = -1;
    float C = 0.0f;
    if (code == 0) C = Extract_beam_signal(row90);
    std::cout.rdbuf(saved);
    if (code != 0) {
        std::cerr << console.str();
        return code;
    }
    Measure_uncertainties(C, row90, gain, saturation);
    std::printf("# gain %.6g (%s) cell_read_variance %.6g clip %.6g coefficient %.9g beam_found %s\n",
                frame_gain, frame_gain_estimated ? "estimated" : "imposed", cell_read_variance,
                clip_level, double{C}, beam_found ? "true" : "false");
    std::printf("y\tx\tnet\tsigma.net\tbackground\tsigma.background\tsigma.signal\tsigma.median\tflags\n");
    for (const RowUncertainty& row : row_uncertainty) {
        std::printf("%d\t%d\t%.9g\t%.6g\t%.9g\t%.6g\t%.6g\t%.6g\t%s\n", row.y, row.x, double{row.net},
                    row.sigma_net, double{row.background}, row.sigma_background, row.sigma_signal,
                    row.sigma_median, Flags_text(row));
    }
    return 0;
}
