// One frame of a night, measured as `tavrolin` measures it: the frame pipeline
// (frame/frame_pipeline.h) with the same console lines, into the frame's own product
// folder, and the frame's own products of the night beside them. Runs inside a
// worker process after the night's driver has read the configuration and the path
// into the run state.
#pragma once

#include <limits>
#include <string>

#include "model/air.h"
#include "night/night_record.h"

struct NightFrame {
    std::string file;      // the frame's picture, as given
    std::string name;      // its file name less the extension
    std::string dark;      // the dark picture to use, or NODARK
    std::string folder;    // the product folder
    bool pictures = true;  // write the corrected picture
    bool quicklook = false;   // write its small PNG look
    double gain = std::numeric_limits<double>::quiet_NaN();        // imposed, DN per electron
    double saturation = std::numeric_limits<double>::quiet_NaN();  // imposed clip level
    FrameTime dated;       // when it was taken (set by the night's driver)
    AirSettings air;       // the molecular reference and the aerosol fit
};

// The frame's name: its file name without folders and without the last extension.
std::string Frame_name(const std::string& file);

// Measures the frame; `preamble` is the console text of the run's first stages (the
// banner, the configuration and the path), with which the frame's console begins.
// Writes the products, 'profile.tsv' (the table's rows with their uncertainties)
// and 'console.txt' into the frame's folder and returns the frame's record (with its
// table lines and their sigmas). A product that can't be written makes the frame
// fail with code 6, but every measurement is still made and recorded.
FrameRecord Measure_night_frame(const NightFrame& frame, const std::string& preamble);
