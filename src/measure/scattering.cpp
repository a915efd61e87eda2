#include "measure/scattering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

#include "base/maths.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "measure/beam_signal.h"
#include "measure/uncertainty.h"
#include "model/lens.h"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// The path's column at the fractional row y: straight between the last point of each
// row and the next row's, and straight on beyond the first and last rows.
double Smooth_column(double y)
{
    std::vector<PathPoint> knots;
    for (const PathPoint& p : laserpath) {
        if (!knots.empty() && knots.back().y == p.y) {
            knots.back() = p;
        } else {
            knots.push_back(p);
        }
    }
    size_t upper = 1;
    while (upper + 1 < knots.size() && knots[upper].y <= y) ++upper;
    const PathPoint& a = knots[upper - 1];
    const PathPoint& b = knots[upper];
    return a.x + (y - a.y) * double(int64_t{b.x} - a.x) / double(int64_t{b.y} - a.y);
}

// The window of the scaling coefficient: processed-row index -> how often it is taken.
std::map<int64_t, int32_t> Coefficient_window(int32_t row90, int64_t n)
{
    std::map<int64_t, int32_t> window;
    const int64_t k0 = Processed_index(int64_t{row90} - median);
    for (int64_t k = k0; k <= k0 + median; ++k) ++window[std::clamp<int64_t>(k, 0, n - 1)];
    return window;
}

// The element at index size / 2 of the window's values once sorted.
double Window_median_of(const std::map<int64_t, int32_t>& window, const std::vector<double>& values)
{
    std::vector<double> list;
    for (const auto& [k, count] : window) list.insert(list.end(), size_t(count), values[size_t(k)]);
    std::sort(list.begin(), list.end());
    return list[list.size() / 2];
}

// Geometry of the scattering point seen at zenith angle theta, by the law of sines in
// the triangle camera, laser, scattering point.
void Place(double theta, RowFootprint& row)
{
    row.theta = theta;
    row.alpha = (90.0 - theta) + elevation;
    const double sin_alpha = std::sin(Radians(row.alpha));
    row.distance = laserdistance * std::sin(Radians(elevation)) / sin_alpha;
    row.beam_length = laserdistance * std::cos(Radians(theta)) / sin_alpha;
    row.height = row.distance * std::cos(Radians(theta));
}

double Solve_3x3_inverse(const std::array<std::array<double, 3>, 3>& m, std::array<std::array<double, 3>, 3>& inverse)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
            inverse[i][j] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / det;
        }
    }
    return det;
}

// The fit's rows and their fixed parts: the cosines of the scattering angles are
// taken once, as the search tries g after g over the same rows.
struct FitData {
    std::vector<double> cos_alpha, m, w, beta, weight;   // weight = 1 / sigma^2
    std::vector<double> shape;                             // the aerosol's shape at the last g
};

double Aerosol_shape(const FitData& data, size_t i, double g)
{
    return data.w[i] * Henyey_greenstein_cosine(data.cos_alpha[i], g) / Henyey_greenstein(90.0, g);
}

// A and B = A q for a given g, by weighted least squares; returns chi^2.
double Linear_part(FitData& data, double g, double& A, double& B)
{
    const double at_90 = Henyey_greenstein(90.0, g);
    data.shape.resize(data.m.size());
    for (size_t i = 0; i < data.m.size(); ++i) {
        data.shape[i] = data.w[i] * Henyey_greenstein_cosine(data.cos_alpha[i], g) / at_90;
    }
    double smm = 0, smh = 0, shh = 0, smb = 0, shb = 0;
    for (size_t i = 0; i < data.m.size(); ++i) {
        const double h = data.shape[i];
        const double wt = data.weight[i];
        smm += wt * data.m[i] * data.m[i];
        smh += wt * data.m[i] * h;
        shh += wt * h * h;
        smb += wt * data.m[i] * data.beta[i];
        shb += wt * h * data.beta[i];
    }
    const double det = smm * shh - smh * smh;
    A = (smb * shh - shb * smh) / det;
    B = (shb * smm - smb * smh) / det;
    double chi2 = 0.0;
    for (size_t i = 0; i < data.m.size(); ++i) {
        const double r = data.beta[i] - A * data.m[i] - B * data.shape[i];
        chi2 += data.weight[i] * r * r;
    }
    return std::isfinite(chi2) ? chi2 : std::numeric_limits<double>::infinity();
}

}  // namespace

double Smooth_zenith(double y)
{
    // The table's geometry (measure/beam_table.cpp) without rounding: the end point E
    // is the laser on the horizon, a point is placed on the diameter by its distance
    // d from E, its radius is |r_E - d|, past the image centre the angle is negative.
    const double x_E = laserpath.back().x;
    const double y_E = laserpath.back().y;
    const double r_E = std::hypot(x_E - xcentre, y_E - ycentre);
    const double d = std::hypot(Smooth_column(y) - x_E, y - y_E);
    double theta = Smooth_zenith_angle(std::fabs(r_E - d));
    if (d > r_E) theta = -theta;
    // The same decision as the table's, on its own rounded figures.
    const double a_0 = static_cast<float>(int64_t{Getpathx(First_processed_row())} - xcentre);
    const double b_0 = static_cast<float>(int64_t{First_processed_row()} - ycentre);
    const float theta_0 = R2thetadeg(static_cast<float>(std::sqrt(a_0 * a_0 + b_0 * b_0)));
    if (theta_0 > 45.0f) theta += 90.0 - Smooth_zenith_angle(r_E);
    return theta;
}

std::vector<RowFootprint> Row_footprints()
{
    std::vector<RowFootprint> rows;
    for (int32_t y = First_processed_row(); y < Path_end_row(); y += 2) {
        RowFootprint row{};
        row.y = y;
        const double y0 = double(int64_t{y} - (int64_t{y} % 2 + 2) % 2);   // the cell's first row
        row.dz = std::fabs(Smooth_zenith(y0 + 1.5) - Smooth_zenith(y0 - 0.5));
        Place(Smooth_zenith(y0 + 0.5), row);
        rows.push_back(row);
    }
    return rows;
}

WindowScaled Relative_scattering(const std::vector<double>& net, const std::vector<double>& sigma_net,
                                 const std::vector<RowFootprint>& rows, int32_t row90)
{
    WindowScaled scaled;
    const size_t n = std::min(net.size(), rows.size());
    if (n == 0) return scaled;
    std::vector<double> q(n), variance(n, nan_value);
    for (size_t k = 0; k < n; ++k) {
        q[k] = net[k] / rows[k].dz;
        if (k < sigma_net.size()) variance[k] = sigma_net[k] * sigma_net[k] / (rows[k].dz * rows[k].dz);
    }
    const auto window = Coefficient_window(row90, int64_t(n));
    const double C = Window_median_of(window, q);
    scaled.coefficient = C;

    // The coefficient's variance: the window's mean variance times the median's factor.
    std::vector<int32_t> multiplicities;
    double sum = 0.0;
    int32_t entries = 0;
    for (const auto& [k, count] : window) {
        multiplicities.push_back(count);
        sum += count * variance[size_t(k)];
        entries += count;
    }
    const double C_variance = Median_variance_factor(multiplicities) * sum / entries;
    for (size_t k = 0; k < n; ++k) {
        const double b = q[k] / C;
        const auto in_window = window.find(int64_t(k));
        const double covariance = in_window == window.end() ? 0.0 : in_window->second * variance[k] / entries;
        scaled.value.push_back(b);
        scaled.sigma_own.push_back(std::sqrt(variance[k]) / C);
        scaled.sigma.push_back(std::sqrt(std::max(
            variance[k] / (C * C) + b * b * C_variance / (C * C) - 2.0 * b * covariance / (C * C), 0.0)));
    }
    return scaled;
}

MolecularReference Molecular_reference(const AirSettings& air, const std::vector<RowFootprint>& rows)
{
    MolecularReference reference;
    const double gamma = Depolarisation_gamma(King_factor(air.wavelength));
    auto beta = [&](const RowFootprint& row, double& transmission) {
        transmission = Two_way_transmission(air, row.beam_length, row.distance, row.height);
        return Air_at(air, row.height).density * Molecular_phase(row.alpha, air.polarisation, gamma) *
               transmission;
    };
    for (const RowFootprint& row : rows) {
        double transmission;
        reference.beta.push_back(beta(row, transmission));
        reference.transmission.push_back(transmission);
    }
    RowFootprint at_90{};
    Place(elevation, at_90);   // a zenith angle of the elevation is a scattering angle of 90
    reference.beta_90 = beta(at_90, reference.transmission_90);
    reference.height_90 = at_90.height;
    return reference;
}

std::vector<RowScattering> Scattering_columns(const WindowScaled& beta, const MolecularReference& reference,
                                              const std::vector<RowFootprint>& rows, int32_t row90)
{
    std::vector<RowScattering> columns;
    const size_t n = std::min({beta.value.size(), reference.beta.size(), rows.size()});
    if (n == 0) return columns;
    const double C = Window_median_of(Coefficient_window(row90, int64_t(n)), reference.beta);
    for (size_t k = 0; k < n; ++k) {
        RowScattering row;
        row.dz = rows[k].dz;
        row.beta = beta.value[k];
        row.sigma_beta = beta.sigma[k];
        row.beta_mol = reference.beta[k] / C;
        row.ratio = row.beta / row.beta_mol;
        row.sigma_ratio = row.sigma_beta / row.beta_mol;
        columns.push_back(row);
    }
    return columns;
}

AerosolFit Fit_aerosol(const AirSettings& air, const std::vector<RowFootprint>& rows,
                       const MolecularReference& reference, const std::vector<double>& beta,
                       const std::vector<double>& sigma, const std::vector<bool>& use)
{
    AerosolFit fit;
    const double H = air.aerosol_scale_height;
    fit.scale_height = std::isfinite(H) && H > 0.0 ? H : 0.0;
    FitData data;
    std::vector<size_t> used;
    fit.height_low = std::numeric_limits<double>::infinity();
    fit.height_high = -fit.height_low;
    const size_t n = std::min({rows.size(), reference.beta.size(), beta.size(), sigma.size(), use.size()});
    // The aerosol's share of the transmission and of the height, relative to 90 degrees.
    auto aerosol_weight = [&](size_t k) {
        const double w = reference.transmission[k] / reference.transmission_90;
        if (fit.scale_height == 0.0) return w;
        return w * std::exp(-(rows[k].height - reference.height_90) / fit.scale_height);
    };
    for (size_t k = 0; k < n; ++k) {
        if (!use[k] || !std::isfinite(beta[k]) || !(sigma[k] > 0.0) || !std::isfinite(sigma[k])) continue;
        used.push_back(k);
        data.cos_alpha.push_back(std::cos(Radians(rows[k].alpha)));
        data.m.push_back(reference.beta[k] / reference.beta_90);
        data.w.push_back(aerosol_weight(k));
        data.beta.push_back(beta[k]);
        data.weight.push_back(1.0 / (sigma[k] * sigma[k]));
        fit.height_low = std::min(fit.height_low, rows[k].height);
        fit.height_high = std::max(fit.height_high, rows[k].height);
    }
    fit.rows = int32_t(used.size());
    if (used.size() < 4) {
        fit.reason = "fewer than 4 unflagged rows with a sigma";
        fit.height_low = fit.height_high = 0.0;
        return fit;
    }

    // g: the least chi^2 on a grid, then golden-section search around it.
    double A, B, best_g = 0.0, best = std::numeric_limits<double>::infinity();
    for (int i = -49; i <= 49; ++i) {
        const double g = i * 0.02;
        const double chi2 = Linear_part(data, g, A, B);
        if (chi2 < best) {
            best = chi2;
            best_g = g;
        }
    }
    double lo = std::max(best_g - 0.02, -0.99), hi = std::min(best_g + 0.02, 0.99);
    const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
    double g1 = hi - ratio * (hi - lo), g2 = lo + ratio * (hi - lo);
    double f1 = Linear_part(data, g1, A, B), f2 = Linear_part(data, g2, A, B);
    while (hi - lo > 1e-9) {
        if (f1 < f2) {
            hi = g2, g2 = g1, f2 = f1;
            g1 = hi - ratio * (hi - lo);
            f1 = Linear_part(data, g1, A, B);
        } else {
            lo = g1, g1 = g2, f1 = f2;
            g2 = lo + ratio * (hi - lo);
            f2 = Linear_part(data, g2, A, B);
        }
    }
    fit.g = 0.5 * (lo + hi);
    const double chi2 = Linear_part(data, fit.g, A, B);
    fit.scale = A;
    fit.q = B / A;
    const double dof = double(used.size()) - 3.0;
    fit.chi2_dof = dof > 0.0 ? chi2 / dof : nan_value;

    // Covariance of (A, q, g) from the Jacobian of the model at the optimum.
    std::array<std::array<double, 3>, 3> normal{}, covariance{};
    const double step = 1e-6;
    for (size_t i = 0; i < used.size(); ++i) {
        const double h = Aerosol_shape(data, i, fit.g);
        const double dh = (Aerosol_shape(data, i, fit.g + step) - Aerosol_shape(data, i, fit.g - step)) / (2 * step);
        const double J[3] = {data.m[i] + fit.q * h, A * h, A * fit.q * dh};
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) normal[a][b] += data.weight[i] * J[a] * J[b];
        }
    }
    const double det = Solve_3x3_inverse(normal, covariance);
    const double inflation = std::isfinite(fit.chi2_dof) ? std::max(fit.chi2_dof, 1.0) : 1.0;
    if (!(det > 0.0) || !std::isfinite(fit.g) || !std::isfinite(fit.q)) {
        fit.reason = "the fit's parameters are not determined by these rows";
        return fit;
    }
    fit.sigma_scale = std::sqrt(covariance[0][0] * inflation);
    fit.sigma_q = std::sqrt(covariance[1][1] * inflation);
    fit.sigma_g = std::sqrt(covariance[2][2] * inflation);
    fit.fitted = true;
    fit.model.assign(n, nan_value);
    for (size_t k = 0; k < n; ++k) {
        fit.model[k] = A * (reference.beta[k] / reference.beta_90 +
                            fit.q * aerosol_weight(k) * Henyey_greenstein(rows[k].alpha, fit.g) / Henyey_greenstein(90.0, fit.g));
    }
    return fit;
}
