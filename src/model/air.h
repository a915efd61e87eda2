// The clear air along the beam: the molecular (Rayleigh) scattering of the laser's
// light, the air's density with height, and the aerosol's Henyey-Greenstein phase
// function that the scattering profile is compared with.
//
//  1. Depolarisation. The King factor F of air at the wavelength, from those of N2,
//     O2, Ar and CO2 weighted by their volume shares (Bodhaine et al. 1999, J. Atmos.
//     Oceanic Technol. 16, 1854, eqs. 5, 6 and 23; CO2 at 360 ppm as there), gives
//     the depolarisation ratio rho_n = 6 (F - 1) / (3 + 7 F) and
//     gamma = rho_n / (2 - rho_n).
//  2. Phase function of the air (per steradian, integrating to 1 for unpolarised
//     light), with the scattering plane the vertical plane through camera and laser:
//         unpolarised  P(t)  = 3 / (4 (1 + 2 gamma)) [(1 + 3 gamma) + (1 - gamma) cos^2 t]
//         field across P_perp = 3 (1 + gamma) / (2 (1 + 2 gamma))
//         field in it  P_par  = 3 [2 gamma + (1 - gamma) cos^2 t] / (2 (1 + 2 gamma))
//         at psi       P = cos^2 psi P_par + sin^2 psi P_perp
//     (each over 4 pi).
//  3. Rayleigh cross-section per molecule (Bodhaine et al. 1999, eq. 2 with the
//     refractive index of their eqs. 18 and 19 from Peck and Reeder 1972):
//         sigma = 24 pi^3 (n^2 - 1)^2 / (lambda^4 N_s^2 (n^2 + 2)^2) F,
//     N_s = 2.546899e19 cm^-3 the molecules of air at 288.15 K and 1013.25 hPa.
//  4. The air's density, N(h) = p(h) / (k_B T(h)), in the troposphere of the US
//     Standard Atmosphere 1976: T falls by 6.5 K per km of geopotential height
//     (H = r_0 z / (r_0 + z), r_0 = 6356.766 km), p follows the barometric law
//     p = p_0 (T / T_0)^(g_0 M / (R L)), from sea level (288.15 K, 1013.25 hPa) or
//     from the station's own surface pressure and temperature when given.
//  5. Molecular extinction alpha_m(h) = N(h) sigma.
#pragma once

#include <cmath>
#include <limits>

// The molecular reference's settings: the laser and the station.
struct AirSettings {
    double wavelength = 532.0;   // nm
    // Angle psi between the laser's electric field and the scattering plane, degrees;
    // NaN for an unpolarised laser.
    double polarisation = std::numeric_limits<double>::quiet_NaN();
    double station_altitude = 0.0;   // m above sea level
    // At the station; NaN: the US Standard Atmosphere 1976 at the station's altitude.
    double surface_pressure = std::numeric_limits<double>::quiet_NaN();      // hPa
    double surface_temperature = std::numeric_limits<double>::quiet_NaN();   // K
    // Scale height of the aerosol in the fit, m; NaN or infinity: uniform.
    double aerosol_scale_height = std::numeric_limits<double>::quiet_NaN();
};

// King factor of air at `wavelength_nm` (Bodhaine et al. 1999).
double King_factor(double wavelength_nm);

// gamma = rho_n / (2 - rho_n) of the King factor F, rho_n = 6 (F - 1) / (3 + 7 F).
double Depolarisation_gamma(double king_factor);

// Rayleigh cross-section of one molecule of air, m^2 (Bodhaine et al. 1999).
double Rayleigh_cross_section(double wavelength_nm);

// Phase function of the air per steradian at the scattering angle `theta_deg`, for
// the polarisation `psi_deg` (NaN: unpolarised), with the depolarisation `gamma`.
double Molecular_phase(double theta_deg, double psi_deg, double gamma);

// Henyey-Greenstein phase function (1 - g^2) / (1 + g^2 - 2 g cos t)^(3/2), without
// the factor 1 / (4 pi).
double Henyey_greenstein(double theta_deg, double g);
// The same of the angle's cosine, for fits that try many g over the same angles.
double Henyey_greenstein_cosine(double cos_theta, double g);

// The air at `height` m above the station: temperature (K), pressure (hPa) and the
// number density of molecules (m^-3).
struct AirState {
    double temperature;
    double pressure;
    double density;
};
AirState Air_at(const AirSettings& settings, double height);

// Two-way molecular transmission of the light scattered at distance `beam_length` m
// along the beam from the laser (which stands at the station's height and rises at
// `elevation_deg`) towards a camera `distance` m from the scattering point, at
// `height` m above the station: exp(-(integral of alpha_m over both legs)). Each leg
// is integrated by Simpson's rule over the height it climbs.
double Two_way_transmission(const AirSettings& settings, double beam_length, double distance,
                            double height);
