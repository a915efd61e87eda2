#include "measure/uncertainty.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <map>
#include <random>
#include <utility>

#include "base/image_plane.h"
#include "base/maths.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "model/bayer.h"
#include "model/lens.h"
#include "model/levels.h"
#include "model/row_clones.h"
#include "measure/beam_signal.h"
#include "measure/beam_table.h"
#include "measure/sensor_noise.h"

std::vector<RowUncertainty> row_uncertainty;
double frame_gain = not_given;
bool frame_gain_estimated = false;
double cell_read_variance = 0.0;
double dark_cell_read_variance = 0.0;
double frame_gain_sigma = not_given;
std::vector<NoiseBin> noise_bins;
double clip_level = std::numeric_limits<double>::infinity();
bool clip_piled_up = false;
bool beam_found = false;

namespace {

constexpr int32_t pile_up_levels = 256;      // below the highest, against which a clip must stand out
constexpr int32_t exact_median_limit = 64;   // values; beyond, the large-sample form
constexpr int32_t exact_entries_limit = 4096;
constexpr int32_t drawn_correlation_limit = 32;   // rows of two windows; beyond, linear influences

// A colour cell met on a row: what its band and side columns make of it.
struct RowCell {
    double laser_level = 0.0;   // G of the laser picture, DN above black
    double shot = 0.0;          // v(G) per unit of gain: max(G, 0) / 2
    double band_weight = 0.0;   // W: sum of 1 / S over its band columns
    int32_t side_entries = 0;   // k: its columns in the side bands
    double side_inverse_S = 0.0;   // sum of 1 / S over those columns
};

double Normal_cdf(double t)
{
    return 0.5 * std::erfc(-t / std::sqrt(2.0));
}

double Median_in_place(std::vector<double>& list)
{
    const size_t middle = list.size() / 2;
    std::nth_element(list.begin(), list.begin() + long(middle), list.end());
    return list[middle];
}

// The shot-noise gain actually applied: 0 when the frame gave none.
double Applied_gain()
{
    return std::isnan(frame_gain) ? 0.0 : frame_gain;
}

double Cached_median_factor(const std::vector<int32_t>& multiplicities)
{
    static std::map<std::vector<int32_t>, double> known;
    std::vector<int32_t> key = multiplicities;
    std::sort(key.begin(), key.end());
    const auto found = known.find(key);
    if (found != known.end()) return found->second;
    const double factor = Median_variance_factor(key);
    known.emplace(std::move(key), factor);
    return factor;
}

// A window of net signals by processed-row index, each with its multiplicity.
using Window = std::map<int64_t, int32_t>;

// The median of a window: its variance, and the ratio of the exact factor to the
// large-sample one, (pi / 2) sum k^2 / K^2, for covariances with other windows.
struct WindowMedian {
    double variance;
    double exactness;
    int64_t entries;
};

WindowMedian Window_median(const Window& window, const std::vector<double>& variance)
{
    std::vector<int32_t> multiplicities;
    double sum = 0.0;
    int64_t entries = 0, squares = 0;
    for (const auto& [k, count] : window) {
        multiplicities.push_back(count);
        sum += count * variance[size_t(k)];
        entries += count;
        squares += int64_t{count} * count;
    }
    const double K = double(entries);
    const double factor = Cached_median_factor(multiplicities);
    return {factor * sum / K, factor / (pi / 2.0 * double(squares) / (K * K)), entries};
}

// Correlation of the medians of two windows for independent unit normal values:
// drawn (Median_correlation, kept per arrangement) up to 32 rows, beyond that the
// correlation of the medians' linear influences, sum k_a k_b / sqrt(sum k_a^2 sum k_b^2).
double Window_correlation(const Window& a, const Window& b)
{
    std::vector<std::pair<int32_t, int32_t>> rows;
    bool overlap = false;
    for (const auto& [k, count] : a) {
        const auto other = b.find(k);
        rows.emplace_back(count, other == b.end() ? 0 : other->second);
        overlap = overlap || other != b.end();
    }
    if (!overlap) return 0.0;
    for (const auto& [k, count] : b) {
        if (a.find(k) == a.end()) rows.emplace_back(0, count);
    }
    if (rows.size() > size_t(drawn_correlation_limit)) {
        double shared = 0.0;
        int64_t squares_a = 0, squares_b = 0;
        for (const auto& [k_a, k_b] : rows) {
            shared += double(k_a) * k_b;
            squares_a += int64_t{k_a} * k_a;
            squares_b += int64_t{k_b} * k_b;
        }
        return std::min(shared / std::sqrt(double(squares_a) * double(squares_b)), 1.0);
    }
    static std::map<std::vector<std::pair<int32_t, int32_t>>, double> known;
    std::sort(rows.begin(), rows.end());
    auto found = known.find(rows);
    if (found == known.end()) found = known.emplace(rows, Median_correlation(rows)).first;
    return found->second;
}

// Covariance of the medians of two windows: their correlation times their sigmas.
double Window_covariance(const Window& a, const WindowMedian& a_median, const Window& b,
                         const WindowMedian& b_median)
{
    return Window_correlation(a, b) * std::sqrt(a_median.variance * b_median.variance);
}

// The scaling coefficient's window of n processed rows, rows clamped to them.
Window Coefficient_window(int64_t n, int32_t row90)
{
    Window window;
    const int64_t k0 = Processed_index(int64_t{row90} - median);
    for (int64_t k = k0; k <= k0 + median; ++k) ++window[std::clamp<int64_t>(k, 0, n - 1)];
    return window;
}

// The running median's window of row y: the processed rows within `median` rows.
Window Running_window(int64_t n, int32_t y)
{
    Window running;
    const int64_t j0 = Processed_index(int64_t{y} - median);
    for (int64_t j = std::max<int64_t>(j0, 0); j <= std::min<int64_t>(j0 + median, n - 1); ++j) running[j] = 1;
    return running;
}

// An entry of a median: its multiplicity, expected value and standard deviation.
struct Spread_entry {
    double k;
    double mean;
    double sigma;
};

// Ratio of the linearised variance of the median of independent normal entries of
// different expected values to that of alike entries of the same mean variance.
double Structure_factor(const std::vector<Spread_entry>& entries, double mean_variance, double K)
{
    if (entries.size() < 2 || !(mean_variance > 0.0)) return 1.0;
    std::vector<double> means;
    for (const Spread_entry& e : entries) means.push_back(e.mean);
    std::nth_element(means.begin(), means.begin() + long(means.size() / 2), means.end());
    double m = means[means.size() / 2];
    double numerator = 0.0, density = 0.0, squares = 0.0;
    // The mixture's median: sum k Phi((m - mean) / sigma) = K / 2, by Newton's steps.
    for (int step = 0; step < 4; ++step) {
        double below = 0.0;
        numerator = density = squares = 0.0;
        for (const Spread_entry& e : entries) {
            if (!(e.sigma > 0.0)) return 1.0;
            const double t = (m - e.mean) / e.sigma;
            const double P = Normal_cdf(t);
            const double f = std::exp(-0.5 * t * t) / (std::sqrt(2.0 * pi) * e.sigma);
            below += e.k * P;
            numerator += e.k * e.k * P * (1.0 - P);
            density += e.k * f;
            squares += e.k * e.k;
        }
        if (!(density > 0.0)) return 1.0;
        m -= (below - K / 2.0) / density;
    }
    const double structured = numerator / (density * density);
    const double alike = pi / 2.0 * mean_variance * squares / (K * K);
    return std::max(structured / alike, 1.0);
}

// The side bands' values of every processed row, and their expected values: the
// mean of each column offset over the rows within 25 processed rows.
struct SideBands {
    std::vector<std::vector<float>> values;
    std::vector<std::vector<double>> expected;
};

SideBands Side_bands()
{
    SideBands bands;
    const int32_t w = pathwidth;
    const int32_t reach = static_cast<int32_t>(Side_band_reach());
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        const int32_t x_P = Getpathx(y);
        std::vector<float> row;
        for (int32_t c = x_P - reach; c <= x_P + reach; ++c) {
            if (c < x_P - w || c > x_P + w) row.push_back(static_cast<float>(Beam_level(c, y)));
        }
        bands.values.push_back(std::move(row));
    }
    const int64_t n = static_cast<int64_t>(bands.values.size());
    const int64_t half = 25;
    for (int64_t k = 0; k < n; ++k) {
        const size_t width = bands.values[size_t(k)].size();
        std::vector<double> mean(width, 0.0);
        int64_t count = 0;
        for (int64_t j = std::max<int64_t>(k - half, 0); j <= std::min(k + half, n - 1); ++j) {
            for (size_t i = 0; i < width; ++i) mean[i] += bands.values[size_t(j)][i];
            ++count;
        }
        for (double& m : mean) m /= double(count);
        bands.expected.push_back(std::move(mean));
    }
    return bands;
}

// The variance of the net signal of processed row y with the beam at x_P, in its two
// parts: var(net) = a * read + gain * shot (each cell's v(G) is linear in a and the
// gain, and so is every term of the net's variance). Fills the row's background and
// flags.
struct RowNoise {
    double read = 0.0;
    double shot = 0.0;
    double background_read = 0.0;   // the same parts of var(m)
    double background_shot = 0.0;
    double common_read = 0.0;       // var(net) shared by frames that share the dark: a_dark * this
};

RowNoise Row_noise(int32_t y, int32_t x_P, const std::vector<float>& side_values,
                   const std::vector<double>& side_expected, RowUncertainty& row)
{
    const int32_t w = pathwidth;
    const int32_t reach = static_cast<int32_t>(Side_band_reach());
    const int32_t first_cell = (x_P - reach) - (x_P - reach) % 2;
    std::vector<RowCell> cells(size_t((x_P + reach - first_cell) / 2 + 1));
    const auto cell_of = [&](int32_t c) -> RowCell& { return cells[size_t((c - first_cell) / 2)]; };
    for (size_t i = 0; i < cells.size(); ++i) {
        float R, G, B;
        Get_jas(value, first_cell + 2 * int32_t(i), y, R, G, B);
        cells[i].laser_level = G;
        cells[i].shot = 0.5 * std::max(double{G}, 0.0);
    }

    const double clip = clip_level;
    const int32_t y0 = y - y % 2;
    std::vector<float> side;
    double side_read = 0.0, side_shot = 0.0;
    std::vector<double> cell_expected(cells.size(), 0.0), cell_inverse_S2(cells.size(), 0.0);
    for (int32_t c = x_P - reach; c <= x_P + reach; ++c) {
        const double S = Sensitivity(R2thetadeg(Pixel_radius(c, y)));
        RowCell& cell = cell_of(c);
        if (c >= x_P - w && c <= x_P + w) {
            cell.band_weight += 1.0 / S;
            if (Pixel_radius(c, y) > float(rmax)) row.edge = true;
            const int32_t x0 = c - c % 2;
            const double top = value[size_t(hsize) * size_t(y0) + size_t(x0) + 1];
            const double bottom = value[size_t(hsize) * size_t(y0 + 1) + size_t(x0)];
            if (top >= clip || bottom >= clip) row.sat = true;
            row.peak = static_cast<float>(std::max({double{row.peak}, top, bottom}));
        } else {
            const size_t i = size_t((c - first_cell) / 2);
            cell_expected[i] += side_expected[side.size()];
            cell_inverse_S2[i] += 1.0 / (S * S);
            side.push_back(side_values[side.size()]);
            ++cell.side_entries;
            cell.side_inverse_S += 1.0 / S;
            side_read += 1.0 / (S * S);
            side_shot += cell.shot / (S * S);
        }
    }
    const double K = double(side.size());
    row.background = Median_of(side);

    std::vector<int32_t> multiplicities;
    RowNoise band;           // var(sum)
    double shared_read = 0.0, shared_shot = 0.0;   // sum over edge cells of W cov(G, m)
    for (const RowCell& cell : cells) {
        band.read += cell.band_weight * cell.band_weight;
        band.shot += cell.band_weight * cell.band_weight * cell.shot;
        if (cell.side_entries > 0) multiplicities.push_back(cell.side_entries);
        if (cell.side_entries > 0 && cell.band_weight > 0.0) {
            shared_read += cell.band_weight * cell.side_inverse_S / K;
            shared_shot += cell.band_weight * cell.shot * cell.side_inverse_S / K;
        }
    }
    // Structure in the side bands (the beam's wings, a gradient) spreads the entries'
    // expected values and makes their median noisier than that of alike entries: the
    // ratio of the median's linearised variances, sum k^2 F (1 - F) / (sum k f)^2,
    // with and without that spread, at the actual (a, gain).
    const double a = cell_read_variance, gain = Applied_gain();
    std::vector<Spread_entry> entries;
    double mean_variance = 0.0;
    for (size_t i = 0; i < cells.size(); ++i) {
        const RowCell& cell = cells[i];
        if (cell.side_entries == 0) continue;
        const double k = cell.side_entries;
        const double sigma2 = (a + gain * cell.shot) * cell_inverse_S2[i] / k;
        entries.push_back({k, cell_expected[i] / k, std::sqrt(sigma2)});
        mean_variance += k * sigma2;
    }
    mean_variance /= K;
    const double F = Cached_median_factor(multiplicities) * Structure_factor(entries, mean_variance, K);
    const double N = 2.0 * w + 1.0;
    RowNoise noise;
    noise.background_read = F * side_read / K;
    noise.background_shot = F * side_shot / K;
    noise.read = band.read + N * N * noise.background_read - 2.0 * N * shared_read;
    noise.shot = band.shot + N * N * noise.background_shot - 2.0 * N * shared_shot;
    // The dark's noise is common to every frame that shares it. In the band sum it is
    // wholly so; in the median of the side bands only in part: two medians of values
    // that share a part of correlation rho correlate as (2 / pi) asin(rho).
    const double background = a * noise.background_read + gain * noise.background_shot;
    const double rho = background > 0.0 ? dark_cell_read_variance * noise.background_read / background : 0.0;
    const double kappa = rho > 0.0 ? 2.0 / pi * std::asin(std::min(rho, 1.0)) / rho : 1.0;
    noise.common_read = noise.read - N * N * noise.background_read * (1.0 - kappa);
    return noise;
}

// The highest of the stored samples start to end - 1.
TAVROLIN_ROW_CLONES
uint16_t Highest_sample(const unsigned char* samples, size_t start, size_t end)
{
    uint16_t highest = 0;
    for (size_t i = start; i < end; ++i) {
        const uint16_t sample = Stored_sample(samples, i);
        highest = sample > highest ? sample : highest;
    }
    return highest;
}

}  // namespace

double Median_variance_factor(const std::vector<int32_t>& multiplicities)
{
    const int32_t n = static_cast<int32_t>(multiplicities.size());
    int64_t K = 0, squares = 0;
    for (const int32_t k : multiplicities) {
        K += k;
        squares += int64_t{k} * k;
    }
    if (n == 0 || K == 0) return not_given;
    if (n == 1) return 1.0;
    if (n > exact_median_limit || K > exact_entries_limit) {
        return pi / 2.0 * double(squares) / (double(K) * double(K));
    }
    // P(median <= t) = P(at least K / 2 + 1 entries <= t), from the distribution of
    // the count of entries at or below t, cell by cell; then the moments by
    // midpoints between the grid's points.
    const int64_t needed = K / 2 + 1;
    const double step = 0.005, limit = 8.0;
    std::vector<double> count(size_t(K) + 1);
    double previous = 0.0, mean = 0.0, square = 0.0;
    for (double t = -limit; t <= limit + step / 2; t += step) {
        const double p = Normal_cdf(t);
        std::fill(count.begin(), count.end(), 0.0);
        count[0] = 1.0;
        int64_t reached = 0;
        for (const int32_t k : multiplicities) {
            for (int64_t c = reached; c >= 0; --c) {
                count[size_t(c + k)] += p * count[size_t(c)];
                count[size_t(c)] *= 1.0 - p;
            }
            reached += k;
        }
        double at_or_below = 0.0;
        for (int64_t c = needed; c <= K; ++c) at_or_below += count[size_t(c)];
        const double mass = at_or_below - previous;
        const double middle = t - step / 2;
        mean += mass * middle;
        square += mass * middle * middle;
        previous = at_or_below;
    }
    return square - mean * mean;
}

double Median_correlation(const std::vector<std::pair<int32_t, int32_t>>& multiplicities)
{
    // A fixed stream of draws, so that every run gives the same sigmas.
    std::mt19937_64 random(20261209);
    const auto uniform = [&random] { return (double(random() >> 11) + 0.5) * 0x1.0p-53; };
    const int draws = 2000;
    std::vector<double> values(multiplicities.size()), first, second;
    double sum_a = 0.0, sum_b = 0.0, sum_aa = 0.0, sum_bb = 0.0, sum_ab = 0.0;
    for (int d = 0; d < draws; ++d) {
        for (size_t i = 0; i < values.size(); i += 2) {
            const double radius = std::sqrt(-2.0 * std::log(uniform()));
            const double angle = 2.0 * pi * uniform();
            values[i] = radius * std::cos(angle);
            if (i + 1 < values.size()) values[i + 1] = radius * std::sin(angle);
        }
        first.clear();
        second.clear();
        for (size_t i = 0; i < values.size(); ++i) {
            first.insert(first.end(), size_t(multiplicities[i].first), values[i]);
            second.insert(second.end(), size_t(multiplicities[i].second), values[i]);
        }
        if (first.empty() || second.empty()) return 0.0;
        const double a = Median_in_place(first), b = Median_in_place(second);
        sum_a += a;
        sum_b += b;
        sum_aa += a * a;
        sum_bb += b * b;
        sum_ab += a * b;
    }
    const double n = draws;
    const double covariance = sum_ab / n - (sum_a / n) * (sum_b / n);
    const double variance_a = sum_aa / n - (sum_a / n) * (sum_a / n);
    const double variance_b = sum_bb / n - (sum_b / n) * (sum_b / n);
    return covariance / std::sqrt(variance_a * variance_b);
}

void Measure_uncertainties(float coefficient, int32_t row90, double imposed_gain, double saturation)
{
    row_uncertainty.clear();
    // The clip: the highest level when at least two pixels reach it. It is the
    // sensor's white level, where the samples pile up, when it holds more than two
    // samples and more than twice as many as any of the levels just below it; two
    // pixels that happened to share the highest level of a smooth tail are not.
    const int32_t highest = static_cast<int32_t>(maxvalue);
    std::vector<size_t> top(size_t(pile_up_levels) + 1, 0);   // samples at highest - 0, 1, ...
    const size_t width = size_t(std::max(hsize, 1));
    for (size_t start = 0; start < value.size(); start += width) {
        // Most rows hold no sample near the highest: a row is counted only when its
        // own highest, found by a loop that vectorises, comes near.
        const size_t end = std::min(start + width, value.size());
        if (highest - int32_t{Highest_sample(value.stored(), start, end)} > pile_up_levels) continue;
        for (size_t i = start; i < end; ++i) {
            const int32_t below = highest - int32_t{value[i]};
            if (below <= pile_up_levels) ++top[size_t(below)];
        }
    }
    const size_t at_highest = top[0];
    const size_t most_below = *std::max_element(top.begin() + 1, top.end());
    clip_level = !std::isnan(saturation) ? saturation
                 : at_highest >= 2        ? double{maxvalue}
                                          : std::numeric_limits<double>::infinity();
    clip_piled_up = !std::isnan(saturation) || (at_highest > 2 && at_highest > 2 * most_below);

    const SensorNoise noise = Measure_sensor_noise(imposed_gain);
    frame_gain_estimated = std::isnan(imposed_gain);
    frame_gain = noise.gain;
    frame_gain_sigma = noise.gain_sigma;
    noise_bins = noise.bins;
    // A cell's level is the mean of its two greens: half a sample's read variance.
    cell_read_variance = noise.read_variance / 2.0;
    dark_cell_read_variance = noise.dark_read_variance / 2.0;

    // Rows and their variances.
    std::vector<double> variance;
    const SideBands side_bands = Side_bands();
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        RowUncertainty row{};
        row.x = Getpathx(y);
        row.y = y;
        row.net = gnetto[row_uncertainty.size()];
        const size_t k = row_uncertainty.size();
        const RowNoise noise = Row_noise(y, row.x, side_bands.values[k], side_bands.expected[k], row);
        row.read_part = noise.read;
        row.shot_part = noise.shot;
        variance.push_back(cell_read_variance * noise.read + Applied_gain() * noise.shot);
        row.sigma_net = std::sqrt(variance.back());
        row.sigma_net_common = std::sqrt(dark_cell_read_variance * noise.common_read);
        row.common_part = noise.common_read;
        row.sigma_background = std::sqrt(cell_read_variance * noise.background_read +
                                         Applied_gain() * noise.background_shot);
        row.weak = !(row.net >= 3.0 * row.sigma_net);
        row_uncertainty.push_back(row);
    }
    const int64_t n = static_cast<int64_t>(row_uncertainty.size());
    if (n == 0) {
        beam_found = false;
        return;
    }

    const Window window = Coefficient_window(n, row90);
    const double C = coefficient;
    const WindowMedian C_median = Window_median(window, variance);
    const double C_variance = C_median.variance;

    const std::vector<float> running_medians = median > 0 ? Running_medians() : std::vector<float>();
    int64_t weak = 0;
    for (int64_t k = 0; k < n; ++k) {
        RowUncertainty& row = row_uncertainty[size_t(k)];
        const double net = row.net;
        const auto in_window = window.find(k);
        const double covariance = in_window == window.end() ? 0.0
                                  : in_window->second * variance[size_t(k)] / double(median + 1);
        // Zero for a row that is the coefficient itself (a window held at one row).
        row.sigma_signal = std::sqrt(std::max(variance[size_t(k)] / (C * C) +
                                                  net * net * C_variance / (C * C * C * C) -
                                                  2.0 * net * covariance / (C * C * C),
                                              0.0));
        if (median > 0) {
            const Window running = Running_window(n, row.y);
            const double M = running_medians[size_t(k)];
            const WindowMedian M_median = Window_median(running, variance);
            const double covariance = Window_covariance(running, M_median, window, C_median);
            row.sigma_median = std::sqrt(std::max(M_median.variance / (C * C) +
                                                      M * M * C_variance / (C * C * C * C) -
                                                      2.0 * M * covariance / (C * C * C),
                                                  0.0));
        } else {
            row.sigma_median = row.sigma_signal;
        }
        if (row.weak) ++weak;
    }
    beam_found = 2 * weak <= n;
}

void Prepare_window_correlations()
{
    if (median <= 0 || laserpath.size() < 2) return;
    int64_t n = 0;
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) ++n;
    if (n == 0) return;
    const Window window = Coefficient_window(n, Ninety_degree_row());
    std::vector<int32_t> multiplicities;
    for (const auto& [k, count] : window) multiplicities.push_back(count);
    Cached_median_factor(multiplicities);
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        const Window running = Running_window(n, y);
        Cached_median_factor(std::vector<int32_t>(running.size(), 1));
        Window_correlation(running, window);
    }
}

FrameUncertainty Measured_uncertainty()
{
    FrameUncertainty measured;
    measured.rows = row_uncertainty;
    measured.gain = frame_gain;
    measured.gain_estimated = frame_gain_estimated;
    measured.cell_read_variance = cell_read_variance;
    measured.dark_cell_read_variance = dark_cell_read_variance;
    measured.gain_sigma = frame_gain_sigma;
    measured.noise_bins = noise_bins;
    measured.clip_level = clip_level;
    measured.clip_piled_up = clip_piled_up;
    measured.beam_found = beam_found;
    return measured;
}

const char* Flags_text(const RowUncertainty& row)
{
    static const char* const texts[8] = {"-",    "sat",      "weak",      "sat,weak",
                                         "edge", "sat,edge", "weak,edge", "sat,weak,edge"};
    return texts[(row.sat ? 1 : 0) + (row.weak ? 2 : 0) + (row.edge ? 4 : 0)];
}
