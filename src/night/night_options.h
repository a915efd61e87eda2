// The night's command line.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/run_codes.h"
#include "model/air.h"

struct NightOptions {
    std::string config = config_file_name;
    std::string path = path_file_name;
    std::vector<std::string> darks;
    std::string out = ".";
    unsigned jobs = 0;   // 0: the number of cores
    bool pictures = false;      // --pictures: each frame's corrected picture as well
    bool no_pictures = false;   // --no-pictures: not even the quicklook
    // The site and the laser, for night.nc (NaN or empty: not given).
    std::string station;
    double latitude = std::numeric_limits<double>::quiet_NaN();
    double longitude = std::numeric_limits<double>::quiet_NaN();
    double altitude = std::numeric_limits<double>::quiet_NaN();
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    std::string polarisation;
    double gain = std::numeric_limits<double>::quiet_NaN();
    double saturation = std::numeric_limits<double>::quiet_NaN();
    bool path_given = false;     // --path given; else tavrolinpath.txt beside --config
    std::string times;           // --times: a file of the frames' times
    double clock_offset = 0.0;   // s added to every frame's time
    bool overwrite = false;      // an earlier night in --out may be replaced
    // The molecular reference and the aerosol fit; its wavelength, polarisation and
    // station altitude are the ones above when given.
    AirSettings air;
    std::vector<std::string> frames;
    bool answered = false;   // --help or --version was answered: nothing more to do
};

// Reads the command line into `options`, with the number of cores for --jobs when it
// is not given. Fails with code 64 and what is wrong.
Failure Read_command_line(int argc, char** argv, NightOptions& options);

// The usage lines that follow a mistake on the command line.
std::string Usage_lines();
