// The night's pictures, drawn by gnuplot: 'night_map.png', every frame's normalised
// signal (time across, height up) as a colour map, 'night_profile.png', the night's
// mean profile with its standard errors and every frame's residuals, and
// 'night_scattering.png', the scattering function against its molecular reference.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "night/night_profile.h"
#include "night/night_record.h"

// True when a program named gnuplot is on the search path.
bool Gnuplot_available();

// The night's three pictures, drawn into `folder` (each replaced only once complete)
// while the night goes on with its own work: 'night_map.png' and 'night_profile.png'
// from the frames' records and the night's profile, and 'night_scattering.png' from
// the profile's scattering columns (`scattering`, `fit_model`, as the night profile
// holds them): beta.rel and beta.mol.rel against scattering angle (logarithmic), the
// ratio with the fitted model's, and the fit's residuals in sigmas; `fit_text` titles
// it. Without `has_beta` (no row with a positive beta.rel and reference) or `has_fit`
// the panels say what is missing. gnuplot's data (binary) and scripts go into
// `work_folder`, a folder of the night's own inside `folder`; at most `jobs` gnuplots
// draw, neighbouring pictures sharing one when there are fewer jobs than pictures.
// Start writes the data and scripts and starts the gnuplots; Finish waits for them
// and gives the failures (code 6, what went wrong, with the system's reason where it
// gave one; none when all three were drawn). A drawing started and not finished is
// abandoned when it goes.
class NightDrawings {
public:
    NightDrawings();
    ~NightDrawings();
    NightDrawings(const NightDrawings&) = delete;
    NightDrawings& operator=(const NightDrawings&) = delete;
    void Start(const std::string& folder, const std::string& work_folder, const std::vector<FrameRecord>& frames,
               const std::vector<ProfileRow>& profile, const std::vector<RowScattering>& scattering,
               const std::vector<double>& fit_model, const std::string& fit_text, bool has_beta, bool has_fit,
               unsigned jobs);
    std::vector<Failure> Finish();
    // Stops the drawing: the gnuplots end and nothing of theirs is left, no picture
    // is replaced.
    void Abandon() noexcept;

private:
    struct Runs;
    std::unique_ptr<Runs> runs_;
};
