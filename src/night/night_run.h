// The steps of a night, from the command line to the night's products; the night's
// driver (driver/tavrolin_night.cpp) takes them one after the other. Each step that
// can fail says so with a Failure, which End_night reports.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "base/failure.h"
#include "night/night_frame.h"
#include "night/night_options.h"
#include "night/night_profile.h"
#include "night/night_record.h"

// An input of the night and its facts, as night.json records them.
struct NightInput {
    std::string file;
    FileFacts facts;
};

struct Night {
    std::vector<std::string> command_line;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::string started_utc;            // ISO 8601, UTC
    NightOptions options;
    std::vector<NightFrame> frames;     // in command-line order
    std::vector<std::string> darks;     // the dark pictures given (none for NODARK)
    std::string dark_source = "none";   // where the darks were named: command_line, configuration
    std::map<std::string, double> times;   // --times: by frame file
    std::string preamble;               // the console lines of the configuration and the path
    std::vector<std::pair<std::string, NightInput>> settings_inputs;   // by role: configuration, path
    std::vector<NightInput> dark_inputs;
    std::string dark;                   // the dark every frame is measured with, or NODARK
    bool has_master_dark = false;
    FileFacts master_dark;
    std::vector<FrameRecord> records;   // in command-line order
    NightCombination combination;       // the night's normalisation and pooled gain
    bool products_written = true;       // every product of the night was written
    std::string work_folder;            // the workers' results and gnuplot's files
};

Night Start_night(int argc, char** argv);

// The frames' names and folders from the command line, and the darks (code 64 for two
// frames of one name, a frame named like a night product, NODARK among darks).
Failure Name_frames(Night& night);

// The configuration and the path, by `tavrolin`'s own stages (codes 4 and 5); their
// console lines open every frame's transcript. Without --dark, the configuration's
// dark picture (its name taken from the configuration's folder) is the night's.
Failure Read_settings(Night& night);

// Each frame's time and camera (--times, the raw file's metadata, the file's time),
// and the frames put in time order (code 64 for a times file that can't be read).
Failure Date_frames(Night& night);

// The night's folder, refused when it holds an earlier night (code 64) unless
// --overwrite is given, which first removes the products that the earlier
// night.json lists; then the facts of the configuration, the path and the darks
// (code 6 for a folder that can't be made, 2 for a dark that can't be read).
Failure Prepare_folder_and_inputs(Night& night);

// The dark every frame is measured with: none, the one given, or the master dark of
// several (code 2 when a dark can't be used); then the frames' folders.
Failure Prepare_dark(Night& night);

// Every frame, in worker processes (code 6 when the workers' folder can't be made).
Failure Measure_night(Night& night);

// night_profile.tsv, the two pictures and night.json; what can't be written is named
// on standard error and leaves `products_written` false.
void Write_night_products(Night& night);

// 0 when every frame was measured, 7 when some were, 2 when none was; 6 when a
// product of the night could not be written.
int Night_exit_code(const Night& night);

// Names the failure on standard error (with the usage lines after a mistake on the
// command line) and returns its code.
int End_night(const Failure& failure);
