// The night's profile 'night_profile.tsv': per processed row the row's geometry (the
// same for every frame of a night), and two combinations of the frames.
//
// Which frames and rows count. A frame that failed, found no beam or measured no net
// signal is not in the night at all. A row of a frame flagged `sat` or `edge` is left
// out, and so is a row of a frame beyond 5 sigma (its own noise) of the row's median
// over the frames, once the frames are brought to one scale. A row that came near the
// clip in any frame (`sat`, or a band sample within 3 sigma of the clip level) is left
// out of every frame: where some frames clip, the others are those whose noise
// happened to stay low. `weak` rows count, with their larger errors. `used` and
// `excluded` count the frames of each row, `near_clip` those that came near the clip.
//
// 1. The frames' normalised signals, each frame divided by its own coefficient, over
//    the used frames: their mean, the standard error of the mean (sample standard
//    deviation over the square root of the count), the standard error the frames'
//    own sigmas predict, sqrt(sum sigma_i^2) / n, chi^2 per degree of freedom about
//    the mean, sum ((s_i - mean) / sigma_i)^2 / (n - 1), and the median (the element
//    at index n / 2 once sorted).
// 2. Scale, combine, then normalise once:
//    - each frame's relative scale (laser energy, exposure) is the median, over its
//      good rows, of its net signal over the night's median profile (iterated once);
//    - the frames' net signals, each divided by its scale, are combined row by row as
//      the mean weighted by their own inverse variances: `net`, with its own error;
//    - the noise that every frame shares, the dark picture's, is added once and not
//      divided by the count: the weighted mean of the frames' dark shares;
//    - the combined profile is normalised once, by the median of its net signals over
//      the 90-degree window (the frames' coefficient rule). That coefficient's
//      relative error shifts every row together: it is given once, in the table's
//      first line and in night.json, and in each row's total error.
// A row's variance needs the frame's `a` and gain: where the frames' gain estimates
// agree (chi^2 per degree of freedom of the gains about their pooled value at most
// 3), the night pools them, fitting every frame's noise bins at once, and refits each
// frame's `a` with that gain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "measure/scattering.h"
#include "night/night_record.h"

struct ProfileRow {
    int32_t x;
    int32_t y;
    float r;
    float theta;
    float height;
    float distance;
    float alpha;
    int32_t frames = 0;
    double mean = 0.0;
    double sem = 0.0;     // NaN for a single frame
    // The standard error of the mean that the frames' own sigmas predict,
    // sqrt(sum sigma_i^2) / n, and chi^2 per degree of freedom of the frames around
    // their mean, sum ((s_i - mean) / sigma_i)^2 / (n - 1) (NaN for a single frame).
    // Both NaN when a frame of the row has no sigma.
    double sem_predicted = 0.0;
    double chi2 = 0.0;
    float median = 0.0f;

    int32_t used = 0;         // frames whose row counts
    int32_t excluded = 0;     // frames whose row is left out (flagged or beyond 5 sigma)
    double net = 0.0;         // scale-corrected weighted mean net signal, DN
    double sigma_net = 0.0;   // its own error, DN
    double sigma_net_common = 0.0;   // the dark's share, common to every frame, DN
    double chi2_net = 0.0;    // of the scaled net signals about `net`, per degree of freedom
    double signal = 0.0;      // net / the night's coefficient, arb. u.
    double sigma_signal = 0.0;
    double sigma_signal_common = 0.0;
    double sigma_signal_total = 0.0;   // own, common and the normalisation's, together
    int32_t near_clip = 0;    // frames whose row came near the clip: the row is left out of all
};

// What the night's combination found beyond its rows.
struct NightCombination {
    double coefficient = 0.0;            // median net over the 90-degree window, DN
    double coefficient_sigma = 0.0;      // its standard error, DN
    int32_t row90 = -1;
    bool gain_pooled = false;            // the frames' gains agree and were pooled
    double pooled_gain = 0.0;            // DN per electron (NaN when none)
    double pooled_gain_sigma = 0.0;
    double clip_level = 0.0;             // the highest of the frames' clip levels (infinity: none)
    std::vector<double> scales;          // per measured frame, in their order
    std::vector<double> gains;           // the gain each measured frame's rows used
};

// Combines the rows of the measured frames, row by row in the order of the first
// measured frame's table; a row that another frame lacks is left out of its count.
// Frames without their rows' noise (`noise`) take part in the first combination only.
std::vector<ProfileRow> Combine_profile(const std::vector<FrameRecord>& frames,
                                        NightCombination* combination = nullptr);

// The table's first line: the night's normalisation, common to every row.
std::string Normalisation_line(const NightCombination& combination);

// The columns after the geometry's seven.
extern const std::vector<std::string> night_profile_columns;

// The 1-based number of the profile's column `name`, as gnuplot counts them.
int Night_profile_column(const std::string& name);

// Writes the profile with its header line to `name` (after the normalisation line
// when `combination` is given), replaced only once complete, each row followed by its
// scattering function and the fitted model `fit_model` (NaN where there is none),
// then the night's combination. Fails with code 6 when it can't be written.
Failure Write_night_profile(const std::string& name, const std::vector<ProfileRow>& profile,
                            const std::vector<RowScattering>& scattering = {},
                            const std::vector<double>& fit_model = {},
                            const NightCombination* combination = nullptr);
