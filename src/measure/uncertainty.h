// The uncertainty of the beam's net signal on every processed row, from the frame's
// own data, and the flags of rows that do not measure what the path promises.
//
// Outline, after the beam signal stage has filled `gnetto`:
//  1. Sensor noise. A colour cell's green level G is the mean of its two green
//     samples, so its variance is half a sample's:
//         v(G) = a + (gain / 2) * max(G, 0)            [DN^2]
//     with G the laser picture's level above black and `a` half the read-noise
//     variance of a sample of the net picture (laser and dark together; without a
//     dark, the laser's alone). The gain and `a` come from the differences of the two
//     greens of each cell of the sky away from the beam (measure/sensor_noise.h);
//     `--gain` imposes the gain and `a` is then fitted alone. The dark's own share of
//     `a`, common to every frame that uses the same dark, is kept apart.
//  2. Band sum. Both columns of a cell read the same G, each divided by its own
//     sensitivity S, so a cell enters the sum with the weight W = sum of 1/S over
//     its band columns, and the weights add before they are squared:
//         var(sum) = sum over band cells of W^2 v(G).
//     Processed rows are two pixel rows apart: each reads cells of its own, and the
//     rows are independent of each other.
//  3. Background m, the median of the side-band levels G/S, one entry per column
//     (so k = 1 or 2 entries per cell, K entries in all):
//         var(m) = F * sigma_q^2,   sigma_q^2 = mean over the entries of v(G) / S^2,
//     F the variance of the median of such a list of unit normal cells, computed
//     exactly from the order statistics (Median_variance_factor). A cell at the edge
//     of the band has one column in the band and one beside it; it is in both, with
//         cov(G, m) = k v(G) / (S K)   (the median's linear influence).
//  4. Net signal, net = sum - N m:
//         var(net) = var(sum) + N^2 var(m) - 2 N sum over edge cells of W cov(G, m).
//     Every term is linear in the cells' v(G), so var(net) = a * read + gain * shot
//     with two parts that depend on the row's geometry and light only: a night can
//     apply another gain and `a` (pooled over its frames) without measuring again.
//     The dark's share of var(net), common to the frames that share it, is
//     a_dark * common: all of the band sum's, and of the background median's the part
//     (2 / pi) asin(rho) / rho, rho the dark's share of the side cells' variance (the
//     correlation of two medians of normal values that share a part rho).
//  5. Scaling coefficient C and running median: each is the median of a window of
//     net signals (rows counted as often as the window takes them), so
//         var = F(window) * mean of the window's var(net),
//     which holds where the profile changes little across the window next to its
//     noise; cov(net_k, C) = k sigma_k^2 / K for a row in C's window.
//  6. Normalised signal s = net / C:
//         var(s) = var(net) / C^2 + net^2 var(C) / C^4 - 2 net cov(net, C) / C^3,
//     and the normalised running median M / C likewise, with cov(M, C) of the two
//     overlapping windows: their medians' correlation for independent unit normal
//     rows (drawn once per arrangement of the windows; beyond 32 rows that of
//     their linear influences) times sigma(M) sigma(C).
//  7. Flags: `sat` when a green sample of a band cell is at the clip level (the
//     frame's highest level when several pixels share it, or the one imposed; it is
//     the sensor's white level for sure where the samples pile up at it),
//     `weak` when net < 3 sigma(net), `edge` when a band pixel lies outside the image
//     circle. When more than half of the rows are weak the beam was not found. The
//     band's highest green sample is kept with the row, so that a night can tell the
//     rows that came near the clip in any of its frames.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "measure/sensor_noise.h"


struct RowUncertainty {
    int32_t x;                 // the beam's column on the row
    int32_t y;                 // the row
    float net;                 // net signal, DN (the row's `gnetto`)
    double sigma_net;          // DN
    float background;          // side-band median m, DN per pixel after lens correction
    double sigma_background;   // DN
    double sigma_net_common;   // the dark picture's share of sigma_net, DN
    double read_part;          // var(net) = a * read_part + gain * shot_part
    double shot_part;
    double common_part;        // the dark's share of var(net) is a_dark * common_part
    double sigma_signal;       // of net / C, arb. u.
    double sigma_median;       // of the normalised running median, arb. u.
    float peak;                // the highest green sample of the band cells, as read
    bool sat;
    bool weak;
    bool edge;
};

extern std::vector<RowUncertainty> row_uncertainty;   // one per processed row
extern double frame_gain;          // DN per electron used for the shot noise
extern bool frame_gain_estimated;  // false when imposed
extern double cell_read_variance;  // `a`: a cell's net green variance without light, DN^2
extern double dark_cell_read_variance;   // the dark picture's share of `a`, DN^2
extern double frame_gain_sigma;    // standard error of an estimated gain (NaN otherwise)
extern std::vector<NoiseBin> noise_bins;   // the points the gain was fitted to
extern double clip_level;          // sample level that flags `sat` (infinity: none)
extern bool clip_piled_up;         // the samples pile up at it (or it was imposed): the white level
extern bool beam_found;            // false when most rows are weak

constexpr double not_given = std::numeric_limits<double>::quiet_NaN();

// What the uncertainty stage measured on one frame, kept with the frame's measurement.
struct FrameUncertainty {
    std::vector<RowUncertainty> rows;   // one per processed row
    double gain = not_given;            // DN per electron (NaN: the frame gave none)
    bool gain_estimated = false;        // false when imposed
    double gain_sigma = not_given;
    double cell_read_variance = 0.0;
    double dark_cell_read_variance = 0.0;
    std::vector<NoiseBin> noise_bins;
    double clip_level = std::numeric_limits<double>::infinity();
    bool clip_piled_up = false;
    bool beam_found = false;
};

// The run state above as one value.
FrameUncertainty Measured_uncertainty();

// Variance of the element at index K / 2 of the sorted list in which independent
// unit normal values are entered multiplicities[i] times each (K entries in all).
// Exact (by the order statistics' distribution) for up to 64 values, the large-sample
// form (pi / 2) * sum k^2 / K^2 beyond.
double Median_variance_factor(const std::vector<int32_t>& multiplicities);

// Correlation of the medians (elements at index size / 2 once sorted) of two lists
// that share values: independent unit normal values, value i entered
// multiplicities[i].first times in the first list and .second times in the second.
// From 2000 draws of a fixed stream (the same figure in every run).
double Median_correlation(const std::vector<std::pair<int32_t, int32_t>>& multiplicities);

// Fills the run state above for the processed rows, after the beam signal stage
// (`coefficient` and `row90` as it gave them). `imposed_gain` (DN per electron) and
// `saturation` (a sample level) override the frame's own when they are numbers.
void Measure_uncertainties(float coefficient, int32_t row90, double imposed_gain = not_given,
                           double saturation = not_given);

// True when the row does not measure the beam as the path promises: a band sample at
// the clip or outside the image circle. `weak` says only that the row is noisy: its
// sigma holds, and leaving such rows out would keep the faint rows whose noise went
// up and bias whatever is fitted to them.
inline bool Mismeasured(const RowUncertainty& row)
{
    return row.sat || row.edge;
}

// Works out, for the configured path, what every frame's rows share: the variance
// factors and correlations of the coefficient's and the running medians' windows. A
// night calls it once before its workers start (they inherit the results); without
// it each frame works them out as it needs them.
void Prepare_window_correlations();

// The flags of a row as the table writes them: "sat,weak,edge" or some of them, "-"
// for none.
const char* Flags_text(const RowUncertainty& row);
