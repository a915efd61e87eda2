#include "measure/sensor_noise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "base/image_plane.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "model/levels.h"

namespace {

constexpr double mad_to_sigma = 1.4826;
constexpr double clip_sigmas = 5.0;
constexpr int32_t histogram_reach = DifferenceHistogram::reach;
constexpr int32_t box_half = 3;             // the local level: 7 x 7 cells
constexpr int32_t sky_bins = 24;
constexpr double path_margin = 20.0;        // pixels beyond the side bands' reach
constexpr double circle_margin = 24.0;      // pixels inside the image circle

// The beam's column at row y along the path as a smooth line: interpolated between
// the path points without rounding, extended straight beyond the first and last.
double Path_column(double y)
{
    const std::vector<PathPoint>& p = laserpath;
    size_t upper = 1;
    while (upper + 1 < p.size() && (p[upper].y < y || p[upper].y == p[upper - 1].y)) ++upper;
    size_t lower = upper - 1;
    while (lower > 0 && p[lower].y == p[upper].y) --lower;
    const double dy = double(p[upper].y) - p[lower].y;
    if (dy == 0.0) return p[lower].x;
    return p[lower].x + (y - p[lower].y) * (double(p[upper].x) - p[lower].x) / dy;
}

// The two green samples of the cell with origin (x0, y0) of a plane (0 for an empty
// dark plane).
std::pair<int32_t, int32_t> Greens(const ImagePlane& plane, int32_t x0, int32_t y0)
{
    if (plane.empty()) return {0, 0};
    const size_t top = size_t(hsize) * size_t(y0) + size_t(x0);
    return {plane[top + 1], plane[top + size_t(hsize)]};
}

// The two greens' difference of the cells [first, end) of cell row cy: the laser's
// (`laser[cx]`, G1 - G2) less the dark's, into d[cx - first].
void Net_differences(int32_t cy, int32_t first, int32_t end, const int32_t* laser, int32_t* d)
{
    for (int32_t cx = first; cx < end; ++cx) d[cx - first] = laser[cx];
    if (value_bckg.empty()) return;
    const size_t top = size_t(hsize) * size_t(2 * cy), bottom = top + size_t(hsize);
    const unsigned char* dark = value_bckg.stored();
    for (int32_t cx = first; cx < end; ++cx) {
        const size_t x0 = size_t(2 * cx);
        d[cx - first] -= int32_t{Stored_sample(dark, top + x0 + 1)} - Stored_sample(dark, bottom + x0);
    }
}

// The covered pixels' three differences: net, laser alone, dark alone.
struct CoveredBins {
    DifferenceHistogram net, laser, dark;
    double level = 0.0;   // the median of the cells' laser levels: hot pixels aside
};

CoveredBins Covered_differences()
{
    CoveredBins covered;
    std::vector<float> levels;
    for (int32_t i = 0; i < border_no; ++i) {
        const PixelArea& area = border[i];
        const int32_t x_end = std::min(area.x_to, hsize);
        const int32_t y_end = std::min(area.y_to, vsize);
        for (int32_t y0 = std::max(area.y_from, 0) + std::max(area.y_from, 0) % 2; y0 + 1 < y_end; y0 += 2) {
            for (int32_t x0 = std::max(area.x_from, 0) + std::max(area.x_from, 0) % 2; x0 + 1 < x_end; x0 += 2) {
                const auto [l1, l2] = Greens(value, x0, y0);
                const auto [d1, d2] = Greens(value_bckg, x0, y0);
                const double level = 0.5 * (l1 + l2) - zero_level_G;
                covered.net.Add((l1 - l2) - (d1 - d2), level);
                covered.laser.Add(l1 - l2, level);
                covered.dark.Add(d1 - d2, level);
                levels.push_back(static_cast<float>(level));
            }
        }
    }
    if (!levels.empty()) {
        std::nth_element(levels.begin(), levels.begin() + long(levels.size() / 2), levels.end());
        covered.level = levels[levels.size() / 2];
    }
    return covered;
}

// The sky's usable cells: well inside the image circle and away from the beam, their
// 7 x 7 cells in the active picture area. Calls visit(x0, y0) for every `step`-th such
// cell row and column; `row(y)` first for each cell row visited.
struct SkyGeometry {
    double keep_out;   // pixels from the path
    double radius;     // pixels from the centre
    int32_t columns, rows;
};

SkyGeometry Sky_geometry()
{
    return {double(Side_band_reach()) + path_margin + 1.0, double(rmax) - circle_margin, hsize / 2, vsize / 2};
}

// The cell columns of cell row cy that hold usable cells: [first, end), with the beam's
// keep-out columns [beam_first, beam_end) left out (empty range when the row has none).
struct SkyRow {
    int32_t first = 0, end = 0, beam_first = 0, beam_end = 0;
};

SkyRow Sky_row(const SkyGeometry& sky, int32_t cy)
{
    SkyRow row;
    if (2 * (cy - box_half) < picture.y_from || 2 * (cy + box_half) + 1 > picture.y_to) return row;
    const double y = 2.0 * cy + 0.5;
    const double dy = y - ycentre;
    if (std::fabs(dy) > sky.radius) return row;
    const double half_chord = std::sqrt(sky.radius * sky.radius - dy * dy);
    // Cell cx holds x = 2 cx + 0.5: |x - xcentre| <= half_chord and its box inside the
    // active area.
    row.first = std::max<int32_t>(int32_t(std::ceil((xcentre - half_chord - 0.5) / 2.0)),
                                  (picture.x_from + 1) / 2 + box_half);
    row.end = std::min<int32_t>(int32_t(std::floor((xcentre + half_chord - 0.5) / 2.0)) + 1,
                                (picture.x_to - 1) / 2 - box_half + 1);
    row.end = std::min(row.end, sky.columns - box_half);
    row.first = std::max(row.first, box_half);
    const double beam = Path_column(y);
    row.beam_first = int32_t(std::floor((beam - sky.keep_out - 0.5) / 2.0)) + 1;
    row.beam_end = int32_t(std::ceil((beam + sky.keep_out - 0.5) / 2.0));
    // A cell at exactly keep_out from the beam is out, as |x - beam| <= keep_out says.
    while (row.beam_first - 1 >= 0 && std::fabs(2.0 * (row.beam_first - 1) + 0.5 - beam) <= sky.keep_out) --row.beam_first;
    while (std::fabs(2.0 * row.beam_end + 0.5 - beam) <= sky.keep_out) ++row.beam_end;
    return row;
}

// Every `step`-th usable cell's own green level as the sum of its two green samples:
// visit(sum).
template <typename Visit>
void Sampled_sky_cells(int32_t step, Visit visit)
{
    const SkyGeometry sky = Sky_geometry();
    const unsigned char* laser = value.stored();
    for (int32_t cy = box_half; cy + box_half < sky.rows; cy += step) {
        const SkyRow row = Sky_row(sky, cy);
        const size_t top = size_t(hsize) * size_t(2 * cy);
        for (int32_t cx = row.first; cx < row.end; cx += step) {
            if (cx >= row.beam_first && cx < row.beam_end) continue;
            const size_t x0 = size_t(2 * cx);
            visit(int32_t{Stored_sample(laser, top + x0 + 1)} + Stored_sample(laser, top + size_t(hsize) + x0));
        }
    }
}

// The usable cells row by row with their local levels, the mean laser green level of
// the 7 x 7 cells around each: visit(cy, row, level, laser), where level[cx - row.first]
// is the level of cell cx of the cells [row.first, row.end), those in the beam's
// keep-out [row.beam_first, row.beam_end) included but not to be used, and laser[cx]
// the laser's G1 - G2 of cell cx. The laser picture is read once: each cell row's
// green sums and differences are kept while the box reaches the row.
template <typename Visit>
void Sky_rows(Visit visit)
{
    const SkyGeometry sky = Sky_geometry();
    const int32_t columns = sky.columns, rows = sky.rows;
    if (columns <= 2 * box_half || rows <= 2 * box_half) return;
    const unsigned char* laser = value.stored();
    // Only the cell rows and columns whose boxes reach a usable cell.
    int32_t first = rows, last = -1, left = columns, right = 0;
    for (int32_t cy = box_half; cy + box_half < rows; ++cy) {
        const SkyRow row = Sky_row(sky, cy);
        if (row.first < row.end) {
            first = std::min(first, cy);
            last = cy;
            left = std::min(left, row.first - box_half);
            right = std::max(right, row.end + box_half);
        }
    }
    if (last < 0) return;
    // The cell rows the box spans and the one it just left: per cell, G1 + G2 and G1 - G2.
    constexpr int32_t kept = 2 * box_half + 2;
    std::vector<std::vector<int32_t>> sums(kept, std::vector<int32_t>(size_t(columns), 0));
    std::vector<std::vector<int32_t>> differences(kept, std::vector<int32_t>(size_t(columns), 0));
    // Sums of the two greens over 7 cell rows, per cell column.
    std::vector<int32_t> column_sums(size_t(columns), 0);
    const auto add_row = [&](int32_t cy) {
        const size_t top = size_t(hsize) * size_t(2 * cy);
        const size_t bottom = top + size_t(hsize);
        int32_t* sum = sums[size_t(cy % kept)].data();
        int32_t* difference = differences[size_t(cy % kept)].data();
        for (int32_t cx = left; cx < right; ++cx) {
            const size_t x0 = size_t(2 * cx);
            const int32_t g1 = Stored_sample(laser, top + x0 + 1), g2 = Stored_sample(laser, bottom + x0);
            sum[cx] = g1 + g2;
            difference[cx] = g1 - g2;
            column_sums[size_t(cx)] += sum[cx];
        }
    };
    const auto remove_row = [&](int32_t cy) {
        const int32_t* sum = sums[size_t(cy % kept)].data();
        for (int32_t cx = left; cx < right; ++cx) column_sums[size_t(cx)] -= sum[cx];
    };
    const double cells = double((2 * box_half + 1) * (2 * box_half + 1));
    std::vector<double> levels(static_cast<size_t>(columns));
    for (int32_t cy = first - box_half; cy < first + box_half; ++cy) add_row(cy);
    for (int32_t cy = first; cy <= last; ++cy) {
        add_row(cy + box_half);
        if (cy > first) remove_row(cy - box_half - 1);
        const SkyRow row = Sky_row(sky, cy);
        if (row.first >= row.end) continue;
        int64_t box = 0;
        for (int32_t cx = row.first - box_half; cx < row.first + box_half; ++cx) box += column_sums[size_t(cx)];
        for (int32_t cx = row.first; cx < row.end; ++cx) {
            box += column_sums[size_t(cx + box_half)];
            if (cx > row.first) box -= column_sums[size_t(cx - box_half - 1)];
            levels[size_t(cx - row.first)] = 0.5 * double(box) / cells - zero_level_G;
        }
        visit(cy, row, levels.data(), differences[size_t(cy % kept)].data());
    }
}

}  // namespace

void DifferenceHistogram::Start()
{
    counts.assign(2 * size_t(reach) + 1, 0);
    level_sums.assign(counts.size(), 0.0);
}

void DifferenceHistogram::Add_outside(int32_t d, double level)
{
    outside.emplace_back(d, level);
}

NoiseBin DifferenceHistogram::Robust_bin() const
{
    NoiseBin bin;
    if (total < 3) return bin;
    // All values, sorted, as (value, count), and the levels' sums of each value.
    std::vector<std::pair<int32_t, int64_t>> values;
    std::map<int32_t, double> levels;
    for (const auto& [d, level] : outside) {
        values.emplace_back(d, 1);
        levels[d] += level;
    }
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == 0) continue;
        const int32_t d = int32_t(i) - histogram_reach;
        values.emplace_back(d, counts[i]);
        levels[d] += level_sums[i];
    }
    std::sort(values.begin(), values.end());
    const auto element = [&values](int64_t index, const auto& key) {
        // The element at `index` of the list sorted by key(value).
        std::vector<std::pair<double, int64_t>> keyed;
        for (const auto& [v, n] : values) keyed.emplace_back(key(v), n);
        std::sort(keyed.begin(), keyed.end());
        for (const auto& [k, n] : keyed) {
            if (index < n) return k;
            index -= n;
        }
        return keyed.back().first;
    };
    const double centre = element(total / 2, [](int32_t v) { return double(v); });
    const double mad = element(total / 2, [centre](int32_t v) { return std::fabs(v - centre); });
    const double cut = clip_sigmas * mad_to_sigma * std::max(mad, 0.5);
    double sum = 0.0, squares = 0.0, level_sum = 0.0;
    int64_t kept = 0;
    for (const auto& [v, n] : values) {
        if (std::fabs(v - centre) > cut) continue;
        sum += double(v) * double(n);
        kept += n;
    }
    for (const auto& [v, level] : levels) {
        if (std::fabs(v - centre) <= cut) level_sum += level;
    }
    if (kept < 3) return bin;
    const double mean = sum / double(kept);
    for (const auto& [v, n] : values) {
        if (std::fabs(v - centre) > cut) continue;
        squares += (v - mean) * (v - mean) * double(n);
    }
    bin.level = level_sum / double(kept);
    bin.variance = squares / double(kept - 1);
    bin.count = kept;
    return bin;
}

bool Fit_difference_variance(const std::vector<NoiseBin>& bins, double imposed_c1, double& c0,
                             double& c1, double& c1_sigma)
{
    c0 = 0.0;
    c1 = std::numeric_limits<double>::quiet_NaN();
    c1_sigma = std::numeric_limits<double>::quiet_NaN();
    double lowest = INFINITY, highest = -INFINITY;
    for (const NoiseBin& bin : bins) {
        if (bin.count < 3 || !(bin.variance > 0.0)) continue;
        lowest = std::min(lowest, bin.level);
        highest = std::max(highest, bin.level);
    }
    if (!(highest >= lowest)) return false;
    const bool imposed = !std::isnan(imposed_c1);
    bool sloped = !imposed && highest - lowest >= 10.0;
    double slope = imposed ? imposed_c1 : 0.0;
    double intercept = 0.0;
    // Weights from the model of the previous round (the bins' own variances first).
    for (int round = 0; round < 6; ++round) {
        double Sw = 0.0, Sx = 0.0, Sy = 0.0, Sxx = 0.0, Sxy = 0.0;
        for (const NoiseBin& bin : bins) {
            if (bin.count < 3 || !(bin.variance > 0.0)) continue;
            const double model = round == 0 ? bin.variance : std::max(intercept + slope * bin.level, 1e-9);
            const double w = double(bin.count - 1) / (2.0 * model * model);
            Sw += w;
            Sx += w * bin.level;
            Sy += w * bin.variance;
            Sxx += w * bin.level * bin.level;
            Sxy += w * bin.level * bin.variance;
        }
        const double determinant = Sw * Sxx - Sx * Sx;
        if (sloped && determinant > 0.0) {
            slope = (Sw * Sxy - Sx * Sy) / determinant;
            intercept = (Sy - slope * Sx) / Sw;
            c1_sigma = std::sqrt(Sw / determinant);
        } else {
            if (!imposed) slope = 0.0;
            intercept = (Sy - slope * Sx) / Sw;
        }
    }
    c0 = std::max(intercept, 0.0);
    if (imposed) {
        c1 = imposed_c1;
        return true;
    }
    if (!sloped || !(slope > 0.0)) {
        // No light to fit a slope to: the weighted mean spread as read noise.
        c1_sigma = std::numeric_limits<double>::quiet_NaN();
        return false;
    }
    // The standard error grows with the scatter beyond the model's.
    double chi2 = 0.0;
    int dof = -2;
    for (const NoiseBin& bin : bins) {
        if (bin.count < 3 || !(bin.variance > 0.0)) continue;
        const double model = std::max(intercept + slope * bin.level, 1e-9);
        chi2 += (bin.variance - model) * (bin.variance - model) * double(bin.count - 1) / (2.0 * model * model);
        ++dof;
    }
    if (dof > 0 && chi2 > dof) c1_sigma *= std::sqrt(chi2 / dof);
    c1 = slope;
    return true;
}

SensorNoise Measure_sensor_noise(double imposed_gain)
{
    SensorNoise noise;
    const CoveredBins covered = Covered_differences();
    NoiseBin covered_net = covered.net.Robust_bin();
    covered_net.level = covered.level;
    if (covered_net.count > 0) noise.bins.push_back(covered_net);

    // The edges from the own levels of every third cell (edges only partition the
    // cells; each cell then goes by its local level): the levels at the quantiles,
    // counted by the sums of the two greens, which take at most 2 x 65536 values.
    std::vector<uint32_t> sums(2 * 65536, 0);
    size_t sampled = 0;
    Sampled_sky_cells(3, [&](int32_t sum) {
        ++sums[size_t(sum)];
        ++sampled;
    });
    std::vector<double> edges;
    if (sampled >= size_t(sky_bins) * 64) {
        size_t below = 0, sum = 0;   // cells of sums under `sum`
        for (int32_t b = 1; b < sky_bins; ++b) {
            const size_t position = sampled * size_t(b) / sky_bins;   // of the sorted levels
            while (below + sums[sum] <= position) below += sums[sum++];
            edges.push_back(0.5 * int32_t(sum) - zero_level_G);
        }
    }
    std::vector<DifferenceHistogram> sky(edges.size() + 1);
    if (sampled > 0) {
        std::vector<int32_t> d(static_cast<size_t>(hsize / 2));
        // The bin: the number of edges at or below the level. The local level changes
        // little from a cell to the next, so the bin is walked to from the last one;
        // bin b holds the levels from bounds[b] up to bounds[b + 1].
        std::vector<double> bounds{-std::numeric_limits<double>::infinity()};
        bounds.insert(bounds.end(), edges.begin(), edges.end());
        bounds.push_back(std::numeric_limits<double>::infinity());
        size_t b = 0;
        double low = bounds[0], high = bounds[1];
        const auto add = [&](const double* level, const int32_t* difference, int32_t n) {
            for (int32_t i = 0; i < n; ++i) {
                const double l = level[i];
                if (l < low || l >= high) {
                    while (bounds[b + 1] <= l) ++b;
                    while (bounds[b] > l) --b;
                    low = bounds[b];
                    high = bounds[b + 1];
                }
                sky[b].Add(difference[i], l);
            }
        };
        Sky_rows([&](int32_t cy, const SkyRow& row, const double* level, const int32_t* laser) {
            Net_differences(cy, row.first, row.end, laser, d.data());
            // The cells left and right of the beam's keep-out.
            const int32_t left_end = std::clamp(row.beam_first, row.first, row.end);
            const int32_t right_first = std::clamp(row.beam_end, left_end, row.end);
            add(level, d.data(), left_end - row.first);
            add(level + (right_first - row.first), d.data() + (right_first - row.first), row.end - right_first);
        });
    }
    for (const DifferenceHistogram& histogram : sky) {
        const NoiseBin bin = histogram.Robust_bin();
        if (bin.count > 0) noise.bins.push_back(bin);
    }

    double c0, c1, c1_sigma;
    const double imposed_c1 = std::isnan(imposed_gain) ? imposed_gain : 2.0 * imposed_gain;
    noise.gain_fitted = Fit_difference_variance(noise.bins, imposed_c1, c0, c1, c1_sigma) && std::isnan(imposed_gain);
    noise.gain = c1 / 2.0;
    noise.gain_sigma = c1_sigma / 2.0;
    noise.read_variance = c0 / 2.0;
    if (!value_bckg.empty() && covered_net.count > 0) {
        const double v_laser = covered.laser.Robust_bin().variance;
        const double v_dark = covered.dark.Robust_bin().variance;
        noise.dark_read_variance =
            std::clamp((covered_net.variance - v_laser + v_dark) / 4.0, 0.0, noise.read_variance);
    }
    return noise;
}
