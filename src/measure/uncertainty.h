// The uncertainty of the beam's net signal on every processed row, from the frame's
// own data, and the flags of rows that do not measure what the path promises.
//
// Outline, after the beam signal stage has filled `gnetto`:
//  1. Sensor noise by photon transfer. A colour cell's green level G is the mean of
//     its two green samples, so its variance is half a sample's:
//         v(G) = a + (gain / 2) * max(G, 0)            [DN^2]
//     with G the laser picture's level above black and `a` half the sum of the two
//     pictures' read-noise variances (the dark picture adds its own noise; without
//     one, its share is 0). `a` and the gain are fitted (weighted least squares) to
//     robust spreads of net cell levels: the sample variance of each run of
//     neighbouring cells (each side band of a row, 16 cells of the covered pixels),
//     without the cells beyond 5 x 1.4826 x the median absolute deviation of the
//     runs of similar level (hot pixels, stars), pooled over the covered pixels (G about 0) and over the side
//     bands of all rows in bins of level. Pooling keeps the spread free of the bias
//     and scatter that the 15 or so cells of one row would give a row of its own. `--gain` imposes the gain,
//     and `a` is then fitted alone.
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
//     frame's highest level when several pixels share it, or the one imposed),
//     `weak` when net < 3 sigma(net), `edge` when a band pixel lies outside the image
//     circle. When more than half of the rows are weak the beam was not found.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>


struct RowUncertainty {
    int32_t x;                 // the beam's column on the row
    int32_t y;                 // the row
    float net;                 // net signal, DN (the row's `gnetto`)
    double sigma_net;          // DN
    float background;          // side-band median m, DN per pixel after lens correction
    double sigma_background;   // DN
    double sigma_signal;       // of net / C, arb. u.
    double sigma_median;       // of the normalised running median, arb. u.
    bool sat;
    bool weak;
    bool edge;
};

// A robust variance of a cell's net green level at a level: the points of the
// photon-transfer fit.
struct LevelSpread {
    double level;      // mean laser green level of the cells, DN above black
    double variance;   // estimated variance of one cell's net green level, DN^2
    int64_t count;     // its degrees of freedom
};

extern std::vector<RowUncertainty> row_uncertainty;   // one per processed row
extern double frame_gain;          // DN per electron used for the shot noise
extern bool frame_gain_estimated;  // false when imposed
extern double cell_read_variance;  // `a`: a cell's net green variance without light, DN^2
extern double clip_level;          // sample level that flags `sat` (infinity: none)
extern bool beam_found;            // false when most rows are weak

constexpr double not_given = std::numeric_limits<double>::quiet_NaN();

// What the uncertainty stage measured on one frame, kept with the frame's measurement.
struct FrameUncertainty {
    std::vector<RowUncertainty> rows;   // one per processed row
    double gain = not_given;            // DN per electron (NaN: the frame gave none)
    bool gain_estimated = false;        // false when imposed
    double cell_read_variance = 0.0;
    double clip_level = std::numeric_limits<double>::infinity();
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

// Spread of a run of neighbouring cells from their net green levels and laser green
// levels: of the cells within `cut` of the run's median (the others are hot pixels,
// stars), the mean laser level, the sample variance of the net levels and its
// degrees of freedom (count 0 when fewer than two cells are left).
LevelSpread Segment_spread(const std::vector<double>& net, const std::vector<double>& laser, double cut);

// Weighted least-squares line variance = a + (gain / 2) * level through the points
// (weights count / variance^2). With `imposed_gain` a number, only `a` is fitted.
// Returns false, leaving `gain` NaN, when the levels span too little for a slope.
bool Fit_photon_transfer(const std::vector<LevelSpread>& points, double imposed_gain, double& a,
                         double& gain);

// The photon-transfer points of the frame: the covered pixels and the side bands of
// the processed rows in up to eight bins of level. Needs the levels measured.
std::vector<LevelSpread> Photon_transfer_points();

// Fills the run state above for the processed rows, after the beam signal stage
// (`coefficient` and `row90` as it gave them). `imposed_gain` (DN per electron) and
// `saturation` (a sample level) override the frame's own when they are numbers.
void Measure_uncertainties(float coefficient, int32_t row90, double imposed_gain = not_given,
                           double saturation = not_given);

// True when the row carries a flag (sat, weak or edge).
inline bool Flagged(const RowUncertainty& row)
{
    return row.sat || row.weak || row.edge;
}

// The flags of a row as the table writes them: "sat,weak,edge" or some of them, "-"
// for none.
const char* Flags_text(const RowUncertainty& row);
