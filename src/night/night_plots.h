// The night's pictures, drawn by gnuplot: 'night_map.png', every frame's normalised
// signal (frames in command-line order across, height up) as a colour map, and
// 'night_profile.png', the night's mean profile with its standard errors against
// scattering angle and against height.
#pragma once

#include <string>
#include <vector>

#include "base/failure.h"
#include "night/night_profile.h"
#include "night/night_record.h"

// True when a program named gnuplot is on the search path.
bool Gnuplot_available();

// Draws both pictures into `folder` (each replaced only once complete), from the
// frames' records and the profile already written as `profile_file` in `folder`;
// gnuplot's data and script go into `work_folder`, a folder of the night's own
// inside `folder`. Fails with code 6 and what went wrong (the system's reason, where
// it gave one).
Failure Draw_night_plots(const std::string& folder, const std::string& work_folder,
                         const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                         const std::string& profile_file);

// Draws 'night_scattering.png' into `folder` from the profile written as
// `profile_file`: beta.rel and beta.mol.rel against scattering angle (logarithmic),
// the ratio with the fitted model's, and the fit's residuals in sigmas; `fit_text`
// titles it. Without `has_beta` (no row with a positive beta.rel and reference) or
// `has_fit` the panels say what is missing. gnuplot's script goes into `work_folder`
// as for Draw_night_plots. Fails with code 6 and what went wrong.
Failure Draw_scattering_plot(const std::string& folder, const std::string& work_folder,
                             const std::string& profile_file, const std::string& fit_text, bool has_beta, bool has_fit);
