#include "night/night_scattering.h"

#include <cmath>
#include <map>

NightScattering Night_scattering(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                                 const AirSettings& air)
{
    NightScattering night;
    const FrameRecord* first = nullptr;
    // By row: some frame found it saturated or outside the image circle; the sum of the
    // frames' own variances of their normalised signals, sigma.net^2 / C^2 (without
    // each coefficient's error, a scale common to the frame's rows), and their count.
    std::map<int32_t, bool> flagged;
    std::map<int32_t, std::pair<double, int>> own;
    for (const FrameRecord& frame : frames) {
        if (!frame.measured || !frame.has_signal) continue;
        if (first == nullptr) first = &frame;
        const double C = frame.coefficient;
        for (const RowUncertainty& row : frame.row_uncertainty) {
            flagged[row.y] = flagged[row.y] || Mismeasured(row);
            own[row.y].first += row.sigma_net * row.sigma_net / (C * C);
            ++own[row.y].second;
        }
    }
    if (first == nullptr || profile.empty()) return night;

    // The profile's rows are the processed rows in order, as the footprints are.
    const std::vector<RowFootprint> footprints = Row_footprints();
    if (footprints.size() != profile.size()) return night;
    std::vector<double> mean, sigma;
    std::vector<bool> use;
    for (size_t k = 0; k < profile.size(); ++k) {
        const ProfileRow& row = profile[k];
        mean.push_back(row.mean);
        // The standard error of the mean the frames' own row errors predict; without
        // them, the observed one.
        const auto [variances, count] = own[row.y];
        sigma.push_back(count == row.frames && count > 0 ? std::sqrt(variances) / count : row.sem);
        use.push_back(row.frames > 0 && !flagged[row.y] && footprints[k].y == row.y);
    }
    const WindowScaled beta = Relative_scattering(mean, sigma, footprints, first->row90);
    const MolecularReference reference = Molecular_reference(air, footprints);
    night.rows = Scattering_columns(beta, reference, footprints, first->row90);
    night.fit = Fit_aerosol(air, footprints, reference, beta.value, beta.sigma_own, use);
    night.formed = true;
    return night;
}

nlohmann::json Scattering_to_json(const NightScattering& scattering, const AirSettings& air)
{
    using nlohmann::json;
    const double king = King_factor(air.wavelength);
    const AirState station = Air_at(air, 0.0);
    json block;
    block["wavelength_nm"] = air.wavelength;
    block["polarisation_deg"] = std::isnan(air.polarisation) ? json("unpolarised") : json(air.polarisation);
    block["station_altitude_m"] = air.station_altitude;
    block["surface_pressure_hPa"] = station.pressure;
    block["surface_temperature_K"] = station.temperature;
    block["surface_given"] = !std::isnan(air.surface_pressure) || !std::isnan(air.surface_temperature);
    block["king_factor"] = king;
    block["gamma"] = Depolarisation_gamma(king);
    block["rayleigh_cross_section_m2"] = Rayleigh_cross_section(air.wavelength);
    block["sources"] = "King factor and Rayleigh cross-section: Bodhaine et al. 1999; air: US Standard "
                       "Atmosphere 1976 troposphere";
    block["fit"] = scattering.formed ? Fit_to_json(scattering.fit) : json(nullptr);
    return block;
}
