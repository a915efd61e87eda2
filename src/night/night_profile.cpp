#include "night/night_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "base/product_file.h"
#include "products/table_columns.h"

const std::vector<std::string> night_profile_columns = {
    "frames", "mean(arb.u.)", "sem(arb.u.)", "sem.predicted(arb.u.)", "chi2/dof", "median(arb.u.)",
    "dz(deg)", "beta.rel(arb.u.)", "sigma.beta.rel(arb.u.)", "beta.mol.rel(arb.u.)", "ratio", "sigma.ratio",
    "beta.fit(arb.u.)"};

int Night_profile_column(const std::string& name)
{
    return Column_number(name, geometry_columns, night_profile_columns);
}

std::vector<ProfileRow> Combine_profile(const std::vector<FrameRecord>& frames)
{
    std::vector<ProfileRow> profile;
    const FrameRecord* first = nullptr;
    for (const FrameRecord& frame : frames) {
        if (frame.measured) {
            first = &frame;
            break;
        }
    }
    if (first == nullptr) return profile;

    // Each row's signals and their sigmas, in frame order, by the row's y.
    std::map<int32_t, std::vector<float>> signals;
    std::map<int32_t, std::vector<double>> sigmas;
    for (const FrameRecord& frame : frames) {
        if (!frame.measured) continue;
        for (size_t k = 0; k < frame.rows.size(); ++k) {
            signals[frame.rows[k].y].push_back(frame.rows[k].signal);
            sigmas[frame.rows[k].y].push_back(k < frame.sigma_signal.size()
                                                  ? frame.sigma_signal[k]
                                                  : std::numeric_limits<double>::quiet_NaN());
        }
    }
    for (const TableRow& row : first->rows) {
        std::vector<float>& values = signals[row.y];
        ProfileRow line;
        line.x = row.x;
        line.y = row.y;
        line.r = row.r;
        line.theta = row.theta;
        line.height = row.height;
        line.distance = row.distance;
        line.alpha = row.alpha;
        line.frames = static_cast<int32_t>(values.size());
        const double n = static_cast<double>(values.size());
        double sum = 0.0;
        for (const float value : values) sum += value;
        line.mean = sum / n;
        if (values.size() > 1) {
            double squares = 0.0;
            for (const float value : values) squares += (value - line.mean) * (value - line.mean);
            line.sem = std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
        } else {
            line.sem = std::numeric_limits<double>::quiet_NaN();
        }
        double variances = 0.0, chi2 = 0.0;
        const std::vector<double>& sigma = sigmas[row.y];
        for (size_t i = 0; i < values.size(); ++i) {
            variances += sigma[i] * sigma[i];
            chi2 += (values[i] - line.mean) * (values[i] - line.mean) / (sigma[i] * sigma[i]);
        }
        line.sem_predicted = std::sqrt(variances) / n;
        line.chi2 = values.size() > 1 ? chi2 / (n - 1.0) : std::numeric_limits<double>::quiet_NaN();
        std::sort(values.begin(), values.end());
        line.median = values[values.size() / 2];
        profile.push_back(line);
    }
    return profile;
}

Failure Write_night_profile(const std::string& name, const std::vector<ProfileRow>& profile,
                            const std::vector<RowScattering>& scattering, const std::vector<double>& fit_model)
{
    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    const std::string header = Header_line(geometry_columns, night_profile_columns);
    Write_product(product, header.data(), header.size());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const RowScattering none{nan, nan, nan, nan, nan, nan};
    for (size_t k = 0; k < profile.size(); ++k) {
        const ProfileRow& row = profile[k];
        Print_geometry_cells(product.stream, row);
        std::fprintf(product.stream, "\t%d\t%g\t%g\t%g\t%g\t%g", row.frames, row.mean, row.sem,
                     row.sem_predicted, row.chi2, double{row.median});
        const RowScattering& b = k < scattering.size() ? scattering[k] : none;
        std::fprintf(product.stream, "\t%g\t%g\t%g\t%g\t%g\t%g\t%g\n", b.dz, b.beta, b.sigma_beta, b.beta_mol,
                     b.ratio, b.sigma_ratio, k < fit_model.size() ? fit_model[k] : nan);
    }
    return Finish_product(product);
}
