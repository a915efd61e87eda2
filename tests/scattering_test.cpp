// The scattering function: the air's constants and profiles against published
// figures, the phase functions' normalisation, the footprint of a tilted path, the
// window normalisation and the aerosol fit on synthetic profiles of known answer.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/maths.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "measure/scattering.h"
#include "measure/uncertainty.h"
#include "model/air.h"
#include "model/lens.h"

namespace {

// Integral over the sphere of f(theta) with psi the field's angle to the plane of
// scattering: the azimuth of the scattered ray turns the plane, so at azimuth phi
// the field makes the angle psi + phi with it.
template <typename F>
double Over_sphere(F f)
{
    double sum = 0.0;
    const int n = 400;
    for (int i = 0; i < n; ++i) {
        const double theta = (i + 0.5) * 180.0 / n;
        for (int j = 0; j < n; ++j) {
            const double phi = (j + 0.5) * 360.0 / n;
            sum += f(theta, phi) * std::sin(Radians(theta)) * (pi / n) * (2.0 * pi / n);
        }
    }
    return sum;
}

TEST(Air, ConstantsAndProfilesAgreeWithPublishedFigures)
{
    // Bodhaine et al. 1999: F(air) about 1.049 at 532 nm; sigma 5.17e-31 m^2 there;
    // sigma falls as lambda^-4.05 to lambda^-4.1 across the visible.
    EXPECT_NEAR(King_factor(532.0), 1.0490, 0.0005);
    EXPECT_NEAR(Rayleigh_cross_section(532.0) / 5.17e-31, 1.0, 0.01);
    const double exponent = std::log(Rayleigh_cross_section(400.0) / Rayleigh_cross_section(800.0)) / std::log(2.0);
    EXPECT_GT(exponent, 4.03);
    EXPECT_LT(exponent, 4.15);
    // US Standard Atmosphere 1976 at 1000 and 5000 m: 281.65 K, 898.76 hPa; 255.68 K, 540.48 hPa.
    AirSettings air;
    EXPECT_NEAR(Air_at(air, 1000.0).temperature, 281.65, 0.005);
    EXPECT_NEAR(Air_at(air, 1000.0).pressure, 898.76, 0.05);
    air.station_altitude = 1000.0;
    EXPECT_NEAR(Air_at(air, 4000.0).pressure, 540.48, 0.05);
    EXPECT_NEAR(Air_at(air, 4000.0).temperature, 255.68, 0.005);
    EXPECT_NEAR(Air_at(air, 0.0).density / (898.76e2 / (1.380649e-23 * 281.65)), 1.0, 2e-5);
    // The station's own surface values replace the standard ones.
    air.surface_pressure = 950.0;
    air.surface_temperature = 300.0;
    EXPECT_DOUBLE_EQ(Air_at(air, 0.0).pressure, 950.0);
    EXPECT_NEAR(Air_at(air, 1000.0).temperature, 293.5, 0.01);
    // Surface extinction at 532 nm some 1.3e-5 per metre; with no climb the two legs
    // see it unchanged.
    AirSettings sea;
    const double alpha0 = Air_at(sea, 0.0).density * Rayleigh_cross_section(532.0);
    EXPECT_NEAR(alpha0, 1.31e-5, 0.03e-5);
    EXPECT_NEAR(Two_way_transmission(sea, 3000.0, 1000.0, 0.0), std::exp(-4000.0 * alpha0), 1e-12);
    EXPECT_GT(Two_way_transmission(sea, 3000.0, 1000.0, 800.0), std::exp(-4000.0 * alpha0));
}

TEST(Air, PhaseFunctionsAreNormalisedAndFollowThePolarisation)
{
    const double gamma = Depolarisation_gamma(King_factor(532.0));
    EXPECT_NEAR(gamma, 0.0144, 0.0002);
    const double nan = std::nan("");
    EXPECT_NEAR(Over_sphere([&](double t, double) { return Molecular_phase(t, nan, gamma); }), 1.0, 1e-4);
    for (const double psi : {0.0, 30.0, 90.0}) {
        EXPECT_NEAR(Over_sphere([&](double t, double phi) { return Molecular_phase(t, psi + phi, gamma); }), 1.0, 1e-4)
            << psi;
    }
    EXPECT_NEAR(Over_sphere([](double t, double) { return Henyey_greenstein(t, 0.7) / (4.0 * pi); }), 1.0, 1e-3);
    for (const double t : {10.0, 60.0, 90.0, 150.0}) {
        // Unpolarised light is the mean of the two planes; a field across the plane
        // scatters alike at every angle; one in it hardly at 90 degrees.
        const double mean = 0.5 * (Molecular_phase(t, 0.0, gamma) + Molecular_phase(t, 90.0, gamma));
        EXPECT_NEAR(Molecular_phase(t, nan, gamma), mean, 1e-15);
        EXPECT_NEAR(Molecular_phase(t, 90.0, gamma), Molecular_phase(90.0, 90.0, gamma), 1e-15);
    }
    EXPECT_NEAR(Molecular_phase(90.0, 0.0, gamma) / Molecular_phase(90.0, 90.0, gamma), 2 * gamma / (1 + gamma), 1e-12);
}

// A tilted path across the picture of the default circle, ending at the laser.
void Use_tilted_path()
{
    Reset_run_parameters();
    median = 10;
    elevation = 10.0f;
    laserdistance = 500.0f;
    laserpath = {{3000, 346}, {3409, 4176}};
}

TEST(Footprint, FromTheSmoothPathAcrossTheCircle)
{
    Use_tilted_path();
    const std::vector<RowFootprint> rows = Row_footprints();
    ASSERT_EQ(rows.size(), size_t((4176 - 346) / 2));
    EXPECT_NEAR(Smooth_zenith(4176.0), 90.0, 1e-9);   // the laser on the horizon
    const double slope = std::hypot(409.0, 3830.0) / 3830.0;   // path length per row
    for (size_t k = 0; k < rows.size(); ++k) {
        const RowFootprint& row = rows[k];
        // The lens's slope at the cell's radius, times the path's length over two rows.
        const double r = std::fabs(std::hypot(3409.0 - 3231.0, 4176.0 - 2139.0) - slope * (4176.0 - row.y - 0.5));
        const double expected = 2.0 * slope * (lens_theta_linear + 2.0 * lens_theta_square * r * 1990.0 / 2052.0) *
                                1990.0 / 2052.0;
        ASSERT_NEAR(row.dz / expected, 1.0, 2e-4) << row.y;
        // No steps where the rounded column would jump.
        if (k > 0) {
            ASSERT_NEAR(row.dz / rows[k - 1].dz, 1.0, 2e-3) << row.y;
        }
        EXPECT_NEAR(row.alpha, 90.0 - row.theta + 10.0, 1e-12);
        EXPECT_NEAR(row.distance * std::sin(Radians(row.alpha)), 500.0 * std::sin(Radians(10.0)), 1e-9);
    }
    // From the lens's slope at the centre to that near the horizon: about 49 % more.
    EXPECT_GT(rows.back().dz / rows[(2139 - 346) / 2].dz, 1.3);
}

TEST(Footprint, RelativeScatteringTakesTheWindowMedianAndPropagatesSigma)
{
    Use_tilted_path();
    const std::vector<RowFootprint> rows = Row_footprints();
    const int32_t row90 = 2408;
    std::vector<double> net, sigma;
    for (const RowFootprint& row : rows) {
        net.push_back(1000.0 * (1.0 + 0.001 * (row.y - 346) / 2) * row.dz);
        sigma.push_back(10.0 * row.dz);
    }
    const WindowScaled beta = Relative_scattering(net, sigma, rows, row90);
    const size_t k90 = (row90 - 346) / 2;
    // The window's rows are k90 - 5 ... k90 + 5: its median is row k90's own value.
    EXPECT_NEAR(beta.value[k90], 1.0, 1e-12);
    EXPECT_NEAR(beta.value[0], 1.0 / (1.0 + 0.001 * k90), 1e-12);
    // Far from the window: the row's own relative error, 10 / 1000, and the
    // coefficient's, 10 / C times the root of the median's factor over 11 rows.
    const double C = 1000.0 * (1.0 + 0.001 * k90);
    const double factor = Median_variance_factor(std::vector<int32_t>(11, 1));
    EXPECT_NEAR(beta.sigma[0] / beta.value[0], std::sqrt(1e-4 + factor * 100.0 / (C * C)), 1e-9);
    EXPECT_NEAR(beta.sigma_own[0] / beta.value[0], 0.01, 1e-12);   // the row's own part alone
    // Inside it, the covariance with the coefficient lowers the sigma.
    EXPECT_LT(beta.sigma[k90], 0.01 * beta.value[k90]);
}

TEST(AerosolFit, FindsTheTruthOfSyntheticProfiles)
{
    Use_tilted_path();
    const std::vector<RowFootprint> rows = Row_footprints();
    AirSettings air;
    air.polarisation = 90.0;
    const MolecularReference reference = Molecular_reference(air, rows);
    auto profile = [&](double g, double q, double noise, uint64_t seed, std::vector<double>& beta,
                       std::vector<double>& sigma) {
        std::mt19937_64 random(seed);
        std::normal_distribution<double> normal;
        beta.clear();
        sigma.clear();
        for (size_t k = 0; k < rows.size(); ++k) {
            const double w = reference.transmission[k] / reference.transmission_90;
            const double b = 0.8 * (reference.beta[k] / reference.beta_90 +
                                    q * w * Henyey_greenstein(rows[k].alpha, g) / Henyey_greenstein(90.0, g));
            sigma.push_back(noise * b + 1e-9);
            beta.push_back(b + sigma.back() * normal(random));
        }
    };
    std::vector<double> beta, sigma;
    std::vector<bool> use(rows.size(), true);
    profile(0.65, 1.5, 0.0, 1, beta, sigma);
    // Flagged rows hold nonsense and must not count.
    for (size_t k = 0; k < rows.size(); k += 7) {
        beta[k] *= 3.0;
        use[k] = false;
    }
    AerosolFit fit = Fit_aerosol(air, rows, reference, beta, sigma, use);
    ASSERT_TRUE(fit.fitted);
    EXPECT_NEAR(fit.g, 0.65, 1e-6);
    EXPECT_NEAR(fit.q, 1.5, 1e-5);
    EXPECT_NEAR(fit.scale, 0.8, 1e-6);
    EXPECT_EQ(fit.rows, int32_t(rows.size() - (rows.size() + 6) / 7));

    // Noisy profiles: the pulls of g over many draws have unit spread.
    double pulls = 0.0, squares = 0.0;
    const int draws = 30;
    std::fill(use.begin(), use.end(), true);
    for (int d = 0; d < draws; ++d) {
        profile(0.5, 0.7, 0.02, 100 + d, beta, sigma);
        fit = Fit_aerosol(air, rows, reference, beta, sigma, use);
        ASSERT_TRUE(fit.fitted);
        const double pull = (fit.g - 0.5) / fit.sigma_g;
        pulls += pull;
        squares += pull * pull;
        EXPECT_NEAR(fit.chi2_dof, 1.0, 0.15);
    }
    EXPECT_NEAR(std::sqrt(squares / draws), 1.0, 0.3);
    EXPECT_LT(std::fabs(pulls / draws), 0.5);

    // Too few rows: no fit, and why.
    std::vector<bool> three(rows.size(), false);
    three[0] = three[1] = three[2] = true;
    fit = Fit_aerosol(air, rows, reference, beta, sigma, three);
    EXPECT_FALSE(fit.fitted);
    EXPECT_FALSE(fit.reason.empty());
}

}  // namespace
