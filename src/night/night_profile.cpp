#include "night/night_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "base/maths.h"
#include "base/product_file.h"
#include "base/settings.h"
#include "measure/uncertainty.h"
#include "products/table_columns.h"

const std::vector<std::string> night_profile_columns = {
    "frames", "mean(arb.u.)", "sem(arb.u.)", "sem.predicted(arb.u.)", "chi2/dof", "median(arb.u.)",
    "dz(deg)", "beta.rel(arb.u.)", "sigma.beta.rel(arb.u.)", "beta.mol.rel(arb.u.)", "ratio", "sigma.ratio",
    "beta.fit(arb.u.)",
    "used", "excluded", "net(DN)", "sigma.net(DN)", "sigma.net.common(DN)", "chi2.net/dof",
    "signal(arb.u.)", "sigma.signal(arb.u.)", "sigma.signal.common(arb.u.)", "sigma.signal.total(arb.u.)",
    "near.clip"};

namespace {

constexpr double no_value = std::numeric_limits<double>::quiet_NaN();
constexpr double outlier_sigmas = 5.0;
constexpr double gain_agreement = 3.0;   // chi^2 per degree of freedom of the frames' gains
constexpr double clip_margin_sigmas = 3.0;   // a band sample this near the clip counts as clipped

// The element at index size / 2 of the sorted list (the system's median).
double Median(std::vector<double> list)
{
    if (list.empty()) return no_value;
    const size_t middle = list.size() / 2;
    std::nth_element(list.begin(), list.begin() + long(middle), list.end());
    return list[middle];
}

// One frame's row as the second combination takes it.
struct FrameRow {
    size_t frame;        // index among the measured frames with noise
    double net;          // DN
    double own;          // variance of its own noise, DN^2
    double common;       // variance of the dark's share, DN^2
    bool flagged;        // sat or edge
    bool weak;
};

// The gain and `a` of each frame: pooled where the frames agree.
void Frame_noise(const std::vector<const FrameRecord*>& frames, NightCombination& combination,
                 std::vector<double>& gain, std::vector<double>& a)
{
    gain.clear();
    a.clear();
    std::vector<NoiseBin> bins;
    std::vector<size_t> estimated;
    for (size_t f = 0; f < frames.size(); ++f) {
        const FrameRecord& frame = *frames[f];
        gain.push_back(std::isnan(frame.gain) ? 0.0 : frame.gain);
        a.push_back(frame.cell_read_variance);
        if (frame.gain_estimated && std::isfinite(frame.gain) && frame.gain_sigma > 0.0) {
            estimated.push_back(f);
            bins.insert(bins.end(), frame.noise_bins.begin(), frame.noise_bins.end());
        }
    }
    combination.pooled_gain = no_value;
    combination.pooled_gain_sigma = no_value;
    if (estimated.size() < 2) return;
    double c0, c1, c1_sigma;
    if (!Fit_difference_variance(bins, no_value, c0, c1, c1_sigma)) return;
    combination.pooled_gain = c1 / 2.0;
    combination.pooled_gain_sigma = c1_sigma / 2.0;
    double chi2 = 0.0;
    for (const size_t f : estimated) {
        const double pull = (frames[f]->gain - combination.pooled_gain) / frames[f]->gain_sigma;
        chi2 += pull * pull;
    }
    if (chi2 / double(estimated.size() - 1) > gain_agreement) return;
    combination.gain_pooled = true;
    for (const size_t f : estimated) {
        double frame_c0, frame_c1, frame_sigma;
        Fit_difference_variance(frames[f]->noise_bins, c1, frame_c0, frame_c1, frame_sigma);
        gain[f] = combination.pooled_gain;
        // The dark's share stays the frame's own measure of it.
        a[f] = std::max(frame_c0 / 4.0, frames[f]->dark_cell_read_variance);
    }
}

// The night's clip level, the sensor's white level: the highest of the frames' own
// where the samples pile up (two pixels that happened to share a frame's highest
// level tell nothing of it).
double Night_clip_level(const std::vector<const FrameRecord*>& frames)
{
    double clip = -std::numeric_limits<double>::infinity();
    for (const FrameRecord* frame : frames) {
        if (frame->clip_piled_up && std::isfinite(frame->clip_level)) clip = std::max(clip, frame->clip_level);
    }
    return std::isfinite(clip) ? clip : std::numeric_limits<double>::infinity();
}

// Per row (by its y), the frames in which it came near the clip: flagged `sat`, or its
// band's highest green sample within 3 sigma of the night's clip level, sigma that of
// a sample at the clip (the laser picture's read noise and the shot noise of the
// clip's level above black). The frames where it stayed below are those whose noise happened
// to be low there: biased low, they can't stand for the row either.
std::map<int32_t, int32_t> Rows_near_clip(const std::vector<const FrameRecord*>& frames, double clip,
                                          const std::vector<double>& gain, const std::vector<double>& a)
{
    std::map<int32_t, int32_t> near;
    for (size_t f = 0; f < frames.size(); ++f) {
        const FrameRecord& frame = *frames[f];
        double threshold = std::numeric_limits<double>::infinity();
        if (std::isfinite(clip)) {
            const double black = frame.has_levels ? double{frame.levels.zero_level_G} : 0.0;
            const double read = 2.0 * std::max(a[f] - frame.dark_cell_read_variance, 0.0);
            threshold = clip - clip_margin_sigmas * std::sqrt(read + gain[f] * std::max(clip - black, 0.0));
        }
        for (size_t k = 0; k < frame.rows.size(); ++k) {
            const RowUncertainty& row = frame.row_uncertainty[k];
            if (row.sat || double{row.peak} >= threshold) ++near[frame.rows[k].y];
        }
    }
    return near;
}

// The night's coefficient: the median of the window's net signals, rows k0 ... k0 +
// `median` held to the first and last rows (those that no frame could use left out),
// and its variance from the factor of the median of such a window. Without such rows
// the profile has no coefficient and no normalised signal.
void Normalise(std::vector<ProfileRow>& profile, NightCombination& combination)
{
    const int64_t n = static_cast<int64_t>(profile.size());
    std::map<int64_t, int32_t> window;
    if (n > 0 && combination.row90 >= 0) {
        const int64_t v = int64_t{combination.row90} - median - profile.front().y;
        const int64_t k0 = v >= 0 ? v / 2 : -((1 - v) / 2);
        for (int64_t k = k0; k <= k0 + median; ++k) {
            const int64_t row = std::clamp<int64_t>(k, 0, n - 1);
            if (std::isfinite(profile[size_t(row)].net)) ++window[row];
        }
    }
    std::vector<double> values;
    std::vector<int32_t> multiplicities;
    double variance = 0.0;
    for (const auto& [k, count] : window) {
        const ProfileRow& row = profile[size_t(k)];
        values.insert(values.end(), size_t(count), row.net);
        multiplicities.push_back(count);
        variance += count * (row.sigma_net * row.sigma_net + row.sigma_net_common * row.sigma_net_common);
    }
    const double C = values.empty() ? no_value : Median(values);
    const double C_sigma = values.empty() ? no_value
                                          : std::sqrt(Median_variance_factor(multiplicities) * variance /
                                                      double(values.size()));
    combination.coefficient = C;
    combination.coefficient_sigma = C_sigma;
    const double relative = C_sigma / C;
    for (ProfileRow& row : profile) {
        row.signal = row.net / C;
        row.sigma_signal = row.sigma_net / std::fabs(C);
        row.sigma_signal_common = row.sigma_net_common / std::fabs(C);
        row.sigma_signal_total = std::sqrt(row.sigma_signal * row.sigma_signal +
                                           row.sigma_signal_common * row.sigma_signal_common +
                                           row.signal * row.signal * relative * relative);
    }
}

}  // namespace

int Night_profile_column(const std::string& name)
{
    return Column_number(name, geometry_columns, night_profile_columns);
}

std::vector<ProfileRow> Combine_profile(const std::vector<FrameRecord>& frames, NightCombination* result)
{
    NightCombination combination;
    std::vector<ProfileRow> profile;
    std::vector<const FrameRecord*> measured;
    for (const FrameRecord& frame : frames) {
        if (frame.measured) measured.push_back(&frame);
    }
    if (measured.empty()) {
        if (result != nullptr) *result = combination;
        return profile;
    }
    const FrameRecord& first = *measured.front();
    combination.row90 = first.row90;

    // The frames with their rows' noise, and the gain and `a` each of them uses.
    std::vector<const FrameRecord*> noisy;
    for (const FrameRecord* frame : measured) {
        if (frame->row_uncertainty.size() == frame->rows.size() && !frame->rows.empty()) noisy.push_back(frame);
    }
    std::vector<double> gain, a;
    Frame_noise(noisy, combination, gain, a);
    combination.gains = gain;
    combination.clip_level = Night_clip_level(noisy);
    const std::map<int32_t, int32_t> near_clip = Rows_near_clip(noisy, combination.clip_level, gain, a);

    // Each row's entries, by the row's y.
    std::map<int32_t, std::vector<FrameRow>> entries;
    for (size_t f = 0; f < noisy.size(); ++f) {
        const FrameRecord& frame = *noisy[f];
        for (size_t k = 0; k < frame.rows.size(); ++k) {
            const RowUncertainty& noise = frame.row_uncertainty[k];
            const double total = a[f] * noise.read_part + gain[f] * noise.shot_part;
            const double common = std::min(frame.dark_cell_read_variance * noise.common_part, total);
            const int32_t y = frame.rows[k].y;
            entries[y].push_back({f, double{noise.net}, total - common, common,
                                  noise.sat || noise.edge || !std::isfinite(noise.net) || near_clip.count(y) != 0,
                                  noise.weak});
        }
    }

    // The frames' scales against the night's median profile, twice.
    std::vector<double> scale(noisy.size(), 1.0);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::vector<double>> ratios(noisy.size());
        for (const auto& [y, row] : entries) {
            std::vector<double> scaled;
            for (const FrameRow& e : row) {
                if (!e.flagged) scaled.push_back(e.net / scale[e.frame]);
            }
            const double reference = Median(scaled);
            if (!(reference > 0.0)) continue;
            for (const FrameRow& e : row) {
                if (!e.flagged && !e.weak) ratios[e.frame].push_back(e.net / reference);
            }
        }
        for (size_t f = 0; f < noisy.size(); ++f) {
            const double ratio = Median(ratios[f]);
            if (ratio > 0.0) scale[f] = ratio;
        }
        const double typical = Median(scale);
        for (double& s : scale) s /= typical;
    }
    combination.scales = scale;

    // Each row's signals and their sigmas (first combination), in frame order.
    std::map<int32_t, std::vector<float>> signals;
    std::map<int32_t, std::vector<double>> sigmas;
    std::map<int32_t, int32_t> counted;
    std::map<std::pair<const FrameRecord*, int32_t>, bool> left_out;
    for (const FrameRecord* frame : measured) {
        for (const TableRow& row : frame->rows) ++counted[row.y];
    }

    for (const TableRow& row : first.rows) {
        ProfileRow line;
        line.x = row.x;
        line.y = row.y;
        line.r = row.r;
        line.theta = row.theta;
        line.height = row.height;
        line.distance = row.distance;
        line.alpha = row.alpha;
        line.frames = counted[row.y];
        const auto near = near_clip.find(row.y);
        line.near_clip = near == near_clip.end() ? 0 : near->second;

        // Second combination: outliers against the scaled median, then the weighted mean.
        std::vector<FrameRow>& row_entries = entries[row.y];
        std::vector<double> scaled;
        for (const FrameRow& e : row_entries) {
            if (!e.flagged) scaled.push_back(e.net / scale[e.frame]);
        }
        const double centre = Median(scaled);
        double Sw = 0.0, Swx = 0.0, Sw_common = 0.0;
        bool weights = true;
        std::vector<std::pair<double, double>> kept;   // scaled net and own sigma
        for (FrameRow& e : row_entries) {
            const double x = e.net / scale[e.frame];
            const double sigma = std::sqrt(e.own) / scale[e.frame];
            if (!e.flagged && std::fabs(x - centre) > outlier_sigmas * sigma) e.flagged = true;
            if (e.flagged) {
                left_out[{noisy[e.frame], row.y}] = true;
                continue;
            }
            if (!(sigma > 0.0) || !std::isfinite(sigma)) weights = false;
            kept.emplace_back(x, sigma);
            const double w = 1.0 / (sigma * sigma);
            Sw += w;
            Swx += w * x;
            Sw_common += w * std::sqrt(e.common) / scale[e.frame];
        }
        line.used = static_cast<int32_t>(kept.size());
        line.excluded = static_cast<int32_t>(row_entries.size() - kept.size());
        line.net = line.sigma_net = line.sigma_net_common = line.chi2_net = no_value;
        if (!kept.empty() && weights) {
            line.net = Swx / Sw;
            line.sigma_net = 1.0 / std::sqrt(Sw);
            line.sigma_net_common = Sw_common / Sw;
            double chi2 = 0.0;
            for (const auto& [x, sigma] : kept) chi2 += (x - line.net) * (x - line.net) / (sigma * sigma);
            if (kept.size() > 1) line.chi2_net = chi2 / double(kept.size() - 1);
        }
        profile.push_back(line);
    }

    // First combination, over the frames' rows that count.
    for (const FrameRecord* frame : measured) {
        for (size_t k = 0; k < frame->rows.size(); ++k) {
            const int32_t y = frame->rows[k].y;
            if (left_out.count({frame, y}) != 0 || near_clip.count(y) != 0) continue;
            signals[y].push_back(frame->rows[k].signal);
            sigmas[y].push_back(k < frame->sigma_signal.size() ? frame->sigma_signal[k] : no_value);
        }
    }
    for (ProfileRow& line : profile) {
        std::vector<float>& values = signals[line.y];
        const std::vector<double>& sigma = sigmas[line.y];
        const double n = static_cast<double>(values.size());
        line.mean = line.sem = line.sem_predicted = line.chi2 = no_value;
        line.median = std::numeric_limits<float>::quiet_NaN();
        if (values.empty()) continue;
        double sum = 0.0;
        for (const float value : values) sum += value;
        line.mean = sum / n;
        if (values.size() > 1) {
            double squares = 0.0;
            for (const float value : values) squares += (value - line.mean) * (value - line.mean);
            line.sem = std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
        }
        double variances = 0.0, chi2 = 0.0;
        for (size_t i = 0; i < values.size(); ++i) {
            variances += sigma[i] * sigma[i];
            chi2 += (values[i] - line.mean) * (values[i] - line.mean) / (sigma[i] * sigma[i]);
        }
        line.sem_predicted = std::sqrt(variances) / n;
        if (values.size() > 1) line.chi2 = chi2 / (n - 1.0);
        std::sort(values.begin(), values.end());
        line.median = values[values.size() / 2];
    }

    if (!noisy.empty()) {
        Normalise(profile, combination);
    } else {
        for (ProfileRow& line : profile) {
            line.signal = line.sigma_signal = line.sigma_signal_common = line.sigma_signal_total = no_value;
        }
        combination.coefficient = combination.coefficient_sigma = no_value;
    }
    if (result != nullptr) *result = combination;
    return profile;
}

std::string Normalisation_line(const NightCombination& combination)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "# normalised once: coefficient %.9g DN, standard error %.6g DN (relative %.6g), "
                  "common to every row\n",
                  combination.coefficient, combination.coefficient_sigma,
                  combination.coefficient_sigma / combination.coefficient);
    return line;
}

Failure Write_night_profile(const std::string& name, const std::vector<ProfileRow>& profile,
                            const std::vector<RowScattering>& scattering, const std::vector<double>& fit_model,
                            const NightCombination* combination)
{
    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    std::string header = Header_line(geometry_columns, night_profile_columns);
    if (combination != nullptr) header = Normalisation_line(*combination) + header;
    Write_product(product, header.data(), header.size());
    const RowScattering none{no_value, no_value, no_value, no_value, no_value, no_value};
    for (size_t k = 0; k < profile.size(); ++k) {
        const ProfileRow& row = profile[k];
        Print_geometry_cells(product.stream, row);
        std::fprintf(product.stream, "\t%d\t%g\t%g\t%g\t%g\t%g", row.frames, row.mean, row.sem,
                     row.sem_predicted, row.chi2, double{row.median});
        const RowScattering& b = k < scattering.size() ? scattering[k] : none;
        std::fprintf(product.stream, "\t%g\t%g\t%g\t%g\t%g\t%g\t%g", b.dz, b.beta, b.sigma_beta, b.beta_mol,
                     b.ratio, b.sigma_ratio, k < fit_model.size() ? fit_model[k] : no_value);
        std::fprintf(product.stream, "\t%d\t%d\t%.9g\t%.6g\t%.6g\t%.6g\t%.9g\t%.6g\t%.6g\t%.6g\t%d\n", row.used,
                     row.excluded, row.net, row.sigma_net, row.sigma_net_common, row.chi2_net, row.signal,
                     row.sigma_signal, row.sigma_signal_common, row.sigma_signal_total, row.near_clip);
    }
    return Finish_product(product);
}
