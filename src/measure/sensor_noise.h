// The sensor's gain and read noise, measured on the frame itself from data that holds
// no structure: the difference of the two green samples of each colour cell.
//
// For a cell of the sky whose green samples see the light L (DN above black), the
// net difference
//     d = (G1 - G2)_laser - (G1 - G2)_dark
// has no expected value but a small fixed offset (the two greens' gains differ a
// little), and the variance
//     var(d) = c0 + c1 L,   c0 = 2 rn^2 (laser and dark read noise, per sample),
//                           c1 = 2 gain.
// Structure in the light (the beam's wings, a wandering beam, stars) barely enters d,
// since both samples of a cell see nearly the same light.
//
// The cells used lie well inside the image circle and away from the beam: beyond the
// side bands' reach plus a margin of 20 pixels either side of the path (the path
// extended straight beyond its ends). They are binned by a local level, the mean
// laser green level of the 7 x 7 cells around each cell (never the cell's own value,
// whose noise would sort the cells by their own deviations), in 24 bins whose edges
// are the quantiles of the own levels of every third cell (cheap to find; the edges
// only partition the cells, each of which goes by its local level). The covered pixels form the bin of no light (at their cells' median level,
// which hot pixels don't move). In each bin the mean d is
// subtracted and cells beyond 5 sigma (1.4826 x the median absolute deviation) are
// left out (hot pixels, stars). The line c0 + c1 L is fitted by weighted least
// squares with weights (n - 1) / (2 model^2), iterated on the model; the gain's
// standard error comes from the fit's covariance.
//
// The dark's own share of the read noise (common to every frame that shares the dark)
// comes from the covered pixels alone, free of any fixed pattern both pictures share:
//     rn_dark^2 = (v(d_net) - v(d_laser) + v(d_dark)) / 4.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

// One bin of cells: its mean local level and the variance of d about the bin's mean.
struct NoiseBin {
    double level = 0.0;      // DN above black
    double variance = 0.0;   // of d, DN^2
    int64_t count = 0;       // cells kept
};

struct SensorNoise {
    std::vector<NoiseBin> bins;   // the covered pixels first, then the sky's bins
    double gain = std::numeric_limits<double>::quiet_NaN();         // DN per electron
    double gain_sigma = std::numeric_limits<double>::quiet_NaN();   // its standard error
    bool gain_fitted = false;            // false when imposed or when no slope could be had
    double read_variance = 0.0;          // rn^2 per green sample, laser and dark together, DN^2
    double dark_read_variance = 0.0;     // the dark picture's share of it, DN^2
};

// The line var(d) = c0 + c1 L through the bins. With `imposed_c1` a number only c0
// is fitted. Returns false (c1 NaN) when the levels span too little for a slope or
// the slope is not positive; c0 is then the weighted mean variance.
bool Fit_difference_variance(const std::vector<NoiseBin>& bins, double imposed_c1, double& c0,
                             double& c1, double& c1_sigma);

// Robust variance of integer differences kept in a histogram: the bin's mean
// subtracted, values beyond 5 sigma of the median absolute deviation left out.
// The bin's level is the mean local level of the cells kept.
struct DifferenceHistogram {
    static constexpr int32_t reach = 4096;   // |d| kept in the dense histogram
    std::vector<int64_t> counts;          // of d + reach, for |d| <= reach
    std::vector<double> level_sums;       // the local levels' sum of the cells of each d
    std::vector<std::pair<int32_t, double>> outside;   // rarer values beyond, with their levels
    int64_t total = 0;
    // Called for millions of cells a frame: inline, its rare parts aside.
    void Add(int32_t d, double level)
    {
        if (counts.empty()) Start();
        const uint32_t i = static_cast<uint32_t>(d + reach);
        if (i <= 2 * uint32_t(reach)) {
            ++counts[i];
            level_sums[i] += level;
        } else {
            Add_outside(d, level);
        }
        ++total;
    }
    NoiseBin Robust_bin() const;

private:
    void Start();
    void Add_outside(int32_t d, double level);
};

// Measures the frame's noise from the laser picture and the dark picture (if any)
// in the run state, with the path read. `imposed_gain` (DN per electron) replaces the
// fitted gain when it is a number.
SensorNoise Measure_sensor_noise(double imposed_gain);
