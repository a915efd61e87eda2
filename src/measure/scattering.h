// From the rows' net signals to the scattering function: the footprint of each
// processed row, the relative scattering function, the molecular reference and the
// fit of an aerosol phase function.
//
// A stretch ds of the beam at distance D from the camera, seen under the scattering
// angle t, sends the camera beta(t) ds A / D^2. The stretch imaged on one processed
// row subtends the zenith-angle span dz at the camera, and ds = D dz / sin t; with
// D sin t = laser distance x sin(elevation) on every row, the row's net signal is
// proportional to beta(t) T dz, T the two-way transmission. So:
//  1. Footprint. dz of a processed row is the span of zenith angle over the pixel
//     rows of its colour cells (the cell that starts at the even row at or above it:
//     rows y0 - 1/2 to y0 + 3/2), from the path interpolated without rounding
//     (straight between the path points, and straight on beyond its two ends) and
//     the table's geometry: the distance from the end point E along that path, the
//     radius |r_E - d|, the lens polynomial without rounding, and the same shift that
//     puts E at the horizon. The cell's middle (row y0 + 1/2) gives the row's
//     scattering angle, height and distances for the reference.
//  2. beta.rel = (net / dz) divided by the median of net / dz over the scaling
//     coefficient's window around the 90-degree row; its sigma from sigma(net) as the
//     normalised signal's (the median's variance from the order statistics).
//  3. Molecular reference beta_m = N(h) P(t) T_m (model/air.h), normalised by the
//     same window rule: beta.mol.rel; ratio = beta.rel / beta.mol.rel.
//  4. Aerosol fit, over the rows given (those neither saturated nor outside the image
//     circle; noisy, `weak` rows count with their sigmas):
//         beta.rel = A [m + q w HG(t; g) / HG(90; g)],
//     m = beta_m / beta_m at exactly 90 degrees, w the aerosol's share of the
//     transmission and height (T_m / T_m(90) x exp(-(h - h_90) / H), 1 for a uniform
//     aerosol), q the aerosol-to-molecular ratio of beta at 90 degrees. Weighted by
//     the rows' own sigmas (without the normalisation's error, which A takes up);
//     g by a grid and golden-section search, A and q linear for
//     each g; errors from the covariance of (A, q, g), scaled by chi^2 / dof when
//     that is above 1. No aerosol extinction enters the transmission.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/air.h"

// The smooth geometry of one processed row.
struct RowFootprint {
    int32_t y;
    double dz;            // zenith-angle span of the row's cells, degrees
    double theta;         // zenith angle at the cells' middle, degrees
    double alpha;         // scattering angle there, degrees
    double height;        // of the scattering point above the camera, m
    double distance;      // from the camera to the scattering point, m
    double beam_length;   // from the laser to the scattering point, m
};

// Zenith angle (degrees) of the beam's image at the (fractional) row y, from the
// path interpolated without rounding and the table's geometry. Needs the path read.
double Smooth_zenith(double y);

// The footprint and geometry of every processed row, in row order.
std::vector<RowFootprint> Row_footprints();

// A per-row quantity divided by the median of its values over the scaling
// coefficient's window around `row90` (the table's rule: the rows row90 - median to
// row90 + median, every second, each taken to the processed row at or below it and
// held to the first and last), with its sigma.
struct WindowScaled {
    double coefficient = 0.0;
    std::vector<double> value;
    std::vector<double> sigma;   // NaN where the input sigma is NaN
    // The row's own part of it, without the window median's error, which scales every
    // row alike (a fit's free scale takes it up).
    std::vector<double> sigma_own;
};

// beta.rel from the rows' net signals, their sigmas (empty: no sigmas) and their
// footprints, for one frame or for a night's combined net.
WindowScaled Relative_scattering(const std::vector<double>& net, const std::vector<double>& sigma_net,
                                 const std::vector<RowFootprint>& rows, int32_t row90);

// The molecular reference per row and at exactly 90 degrees (not normalised).
struct MolecularReference {
    std::vector<double> beta;        // N(h) P(alpha) T_m, per row
    std::vector<double> transmission;   // T_m, per row
    double beta_90 = 0.0;            // the same at a scattering angle of 90 degrees
    double transmission_90 = 0.0;
    double height_90 = 0.0;
};
MolecularReference Molecular_reference(const AirSettings& air, const std::vector<RowFootprint>& rows);

// The per-row columns of the scattering function: dz, beta.rel and its sigma,
// beta.mol.rel, the ratio and its sigma.
struct RowScattering {
    double dz;
    double beta;
    double sigma_beta;
    double beta_mol;
    double ratio;
    double sigma_ratio;
};
std::vector<RowScattering> Scattering_columns(const WindowScaled& beta, const MolecularReference& reference,
                                              const std::vector<RowFootprint>& rows, int32_t row90);

// The fitted aerosol phase function.
struct AerosolFit {
    bool fitted = false;
    std::string reason;   // why there is no fit
    double g = 0.0, sigma_g = 0.0;
    double q = 0.0, sigma_q = 0.0;
    double scale = 0.0, sigma_scale = 0.0;   // A
    double chi2_dof = 0.0;
    int32_t rows = 0;
    double height_low = 0.0, height_high = 0.0;   // the height span of the rows used, m
    double scale_height = 0.0;                    // the aerosol's, m (0: uniform)
    std::vector<double> model;   // per row, the fitted A [m + q w HG / HG(90)]
};

// Fits beta.rel (`beta`, `sigma`) over the rows with `use` true.
AerosolFit Fit_aerosol(const AirSettings& air, const std::vector<RowFootprint>& rows,
                       const MolecularReference& reference, const std::vector<double>& beta,
                       const std::vector<double>& sigma, const std::vector<bool>& use);
