#include "model/air.h"

#include "base/maths.h"

namespace {

constexpr double boltzmann = 1.380649e-23;        // J / K
constexpr double loschmidt_cm3 = 2.546899e19;     // molecules per cm^3 at 288.15 K, 1013.25 hPa
constexpr double co2_fraction = 360e-6;           // by volume, as Bodhaine et al. 1999 take it

// US Standard Atmosphere 1976, troposphere.
constexpr double sea_level_temperature = 288.15;  // K
constexpr double sea_level_pressure = 1013.25;    // hPa
constexpr double lapse_rate = 0.0065;             // K / m, per geopotential metre
constexpr double earth_radius = 6356766.0;        // m, for the geopotential height
// g_0 M / (R* L) with g_0 = 9.80665 m/s^2, M = 0.0289644 kg/mol, R* = 8.31432 J/(mol K).
constexpr double barometric_exponent = 9.80665 * 0.0289644 / (8.31432 * lapse_rate);

// Refractive index of air less 1 at 288.15 K and 1013.25 hPa, with CO2 at
// `co2_fraction` (Peck and Reeder 1972 as Bodhaine et al. 1999 give it, eqs. 18, 19).
double Refractivity(double wavelength_um)
{
    const double k2 = 1.0 / (wavelength_um * wavelength_um);
    const double n300 = (8060.51 + 2480990.0 / (132.274 - k2) + 17455.7 / (39.32957 - k2)) * 1e-8;
    return n300 * (1.0 + 0.54 * (co2_fraction - 0.0003));
}

// Geopotential height of the geometric altitude z, the standard's height scale.
double Geopotential(double z)
{
    return earth_radius * z / (earth_radius + z);
}

double Air_temperature(const AirSettings& settings, double height)
{
    const double station = Geopotential(settings.station_altitude);
    const double surface = std::isnan(settings.surface_temperature) ? sea_level_temperature - lapse_rate * station
                                                                    : settings.surface_temperature;
    return surface - lapse_rate * (Geopotential(settings.station_altitude + height) - station);
}

double Alpha_m(const AirSettings& settings, double sigma, double height)
{
    return Air_at(settings, height).density * sigma;
}

}  // namespace

double King_factor(double wavelength_nm)
{
    const double k2 = 1.0 / ((wavelength_nm * 1e-3) * (wavelength_nm * 1e-3));
    const double n2 = 1.034 + 3.17e-4 * k2;
    const double o2 = 1.096 + 1.385e-3 * k2 + 1.448e-4 * k2 * k2;
    const double ar = 1.00;
    const double co2 = 1.15;
    const double co2_percent = co2_fraction * 100.0;
    return (78.084 * n2 + 20.946 * o2 + 0.934 * ar + co2_percent * co2) /
           (78.084 + 20.946 + 0.934 + co2_percent);
}

double Depolarisation_gamma(double king_factor)
{
    const double rho = 6.0 * (king_factor - 1.0) / (3.0 + 7.0 * king_factor);
    return rho / (2.0 - rho);
}

double Rayleigh_cross_section(double wavelength_nm)
{
    const double n = 1.0 + Refractivity(wavelength_nm * 1e-3);
    const double n2 = n * n;
    const double lambda_cm = wavelength_nm * 1e-7;
    const double lambda4 = lambda_cm * lambda_cm * lambda_cm * lambda_cm;
    const double sigma_cm2 = 24.0 * pi * pi * pi * (n2 - 1.0) * (n2 - 1.0) /
                             (lambda4 * loschmidt_cm3 * loschmidt_cm3 * (n2 + 2.0) * (n2 + 2.0)) *
                             King_factor(wavelength_nm);
    return sigma_cm2 * 1e-4;
}

double Molecular_phase(double theta_deg, double psi_deg, double gamma)
{
    const double c = std::cos(Radians(theta_deg));
    const double c2 = c * c;
    const double norm = 1.0 / (4.0 * pi * (1.0 + 2.0 * gamma));
    if (std::isnan(psi_deg)) return norm * 0.75 * ((1.0 + 3.0 * gamma) + (1.0 - gamma) * c2);
    const double perpendicular = 1.5 * (1.0 + gamma);
    const double parallel = 1.5 * (2.0 * gamma + (1.0 - gamma) * c2);
    const double s = std::sin(Radians(psi_deg));
    const double k = std::cos(Radians(psi_deg));
    return norm * (k * k * parallel + s * s * perpendicular);
}

double Henyey_greenstein(double theta_deg, double g)
{
    return Henyey_greenstein_cosine(std::cos(Radians(theta_deg)), g);
}

double Henyey_greenstein_cosine(double cos_theta, double g)
{
    return (1.0 - g * g) / std::pow(1.0 + g * g - 2.0 * g * cos_theta, 1.5);
}

AirState Air_at(const AirSettings& settings, double height)
{
    AirState air;
    const double station_temperature = Air_temperature(settings, 0.0);
    double station_pressure = settings.surface_pressure;
    if (std::isnan(station_pressure)) {
        const double standard = sea_level_temperature - lapse_rate * Geopotential(settings.station_altitude);
        station_pressure =
            sea_level_pressure * std::pow(standard / sea_level_temperature, barometric_exponent);
    }
    air.temperature = Air_temperature(settings, height);
    air.pressure = station_pressure * std::pow(air.temperature / station_temperature, barometric_exponent);
    air.density = air.pressure * 100.0 / (boltzmann * air.temperature);
    return air;
}

double Two_way_transmission(const AirSettings& settings, double beam_length, double distance,
                            double height)
{
    // Both legs run straight between the station's height and `height`: the optical
    // depth is their length times the mean extinction over that climb.
    const double sigma = Rayleigh_cross_section(settings.wavelength);
    constexpr int steps = 32;   // even, for Simpson's rule
    double sum = Alpha_m(settings, sigma, 0.0) + Alpha_m(settings, sigma, height);
    for (int i = 1; i < steps; ++i) {
        sum += (i % 2 == 1 ? 4.0 : 2.0) * Alpha_m(settings, sigma, height * i / steps);
    }
    const double mean_alpha = sum / (3.0 * steps);
    return std::exp(-(std::fabs(beam_length) + std::fabs(distance)) * mean_alpha);
}
