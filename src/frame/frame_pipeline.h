// One frame through the run's stages, from its pictures to its products: the one
// sequence that `tavrolin`, each frame of `tavrolin-night` and `tavrolin-sigmas`
// run. The configuration and the path are read before (they are the same for every
// frame of a night); the stages print their console lines as a single run does.
//
// The frame, one stage after the other, each leaving its results in the run state:
//  1. the laser picture, then the dark picture or none (codes 2, 3, or 4 for an image
//     centre or rmax that doesn't fit the picture);
//  2. the highest and lowest level, the dark levels of the covered pixels and the
//     centre square's mean levels;
//  3. the report of the high-level limit;
//  4. the check that every processed row's bands lie inside the picture (code 5);
//  5. the corrected green picture, when asked for;
//  6. the beam's net signal along the path, its scaling coefficient and the table's
//     lines (measured whether or not the table is then written);
//  7. the data table, when asked for;
//  8. the rows' uncertainties and flags, when asked for (nothing on the console).
// A product that can't be written (code 6) skips no later stage.
#pragma once

#include <cstdint>

#include "base/failure.h"
#include "measure/beam_table.h"
#include "measure/uncertainty.h"
#include "model/levels.h"

struct FrameOptions {
    bool write_picture = true;    // linearlyscaledG.PGM
    bool write_table = true;      // tavrolin_data.txt
    bool uncertainties = false;   // the rows' uncertainties and flags
    double imposed_gain = not_given;   // DN per electron, instead of the frame's own
    double saturation = not_given;     // the sample level that flags `sat`
};

// What the frame measured, as far as its stages went.
struct FrameMeasurement {
    // The stage that ended the frame (codes 2 to 5), or the last product that could
    // not be written (code 6); empty for a complete frame.
    Failure failure;
    bool has_levels = false;   // the level stage ran
    FrameLevels levels;
    bool has_signal = false;   // the beam signal was measured
    GreenData green;
    bool has_uncertainty = false;
    FrameUncertainty uncertainty;
};

FrameMeasurement Measure_frame(const FrameOptions& options);

// The line that says whether the corrected levels are cut at the high-level limit.
void Report_high_level_limit();
