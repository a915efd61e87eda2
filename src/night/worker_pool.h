// The night's frames measured in worker processes, up to `jobs` at a time: each
// worker has the run state of its own process, measures one frame
// (night/night_frame.h) and gives its record back as JSON in a result file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "night/night_frame.h"
#include "night/night_record.h"

// Measures every frame; `preamble` opens each frame's console, `results` is the
// folder for the workers' result files. Prints one line per frame on standard
// output, in command-line order, and a progress line on standard error when that is
// a terminal. The records come back in command-line order. `meanwhile`, when given,
// is the night's own work that the frames don't wait for: it runs once the first
// workers have started.
std::vector<FrameRecord> Measure_frames(const std::vector<NightFrame>& frames, unsigned jobs,
                                        const std::string& preamble, const std::string& results,
                                        const std::function<void()>& meanwhile = {});
