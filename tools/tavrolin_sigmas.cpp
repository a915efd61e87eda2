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

#include "base/console.h"
#include "frame/frame_pipeline.h"
#include "input/configuration.h"
#include "input/laserpath.h"
#include "measure/uncertainty.h"

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
    // The frame's stages as tavrolin runs them, without its products, their console
    // kept back unless a stage ends the run.
    std::ostringstream console;
    std::ostringstream advice;
    Use_console(console);
    Use_advice(advice);
    Failure failure = Read_configuration();
    if (!failure) failure = Read_laser_path();
    FrameMeasurement frame;
    if (!failure) {
        FrameOptions options;
        options.write_picture = false;
        options.write_table = false;
        options.uncertainties = true;
        options.imposed_gain = gain;
        options.saturation = saturation;
        frame = Measure_frame(options);
        failure = frame.failure;
    }
    if (failure) {
        std::cerr << console.str() << advice.str();
        return failure.code;
    }
    const FrameUncertainty& sigmas = frame.uncertainty;
    const float C = frame.green.coefficient;
    std::printf("# gain %.6g (%s) cell_read_variance %.6g clip %.6g coefficient %.9g beam_found %s\n",
                sigmas.gain, sigmas.gain_estimated ? "estimated" : "imposed", sigmas.cell_read_variance,
                sigmas.clip_level, double{C}, sigmas.beam_found ? "true" : "false");
    std::printf("y\tx\tnet\tsigma.net\tbackground\tsigma.background\tsigma.signal\tsigma.median\tflags\n");
    for (const RowUncertainty& row : sigmas.rows) {
        std::printf("%d\t%d\t%.9g\t%.6g\t%.9g\t%.6g\t%.6g\t%.6g\t%s\n", row.y, row.x, double{row.net},
                    row.sigma_net, double{row.background}, row.sigma_background, row.sigma_signal,
                    row.sigma_median, Flags_text(row));
    }
    return 0;
}
