#include "night/night_scattering.h"

#include <cmath>
#include <map>

namespace {

// The night's profile as net signals with their own sigmas: the combination's scaled,
// weighted mean net signal (its own error and the dark's share together: both differ
// from row to row) where the combination formed one; else the mean of the frames'
// normalised signals with the standard error their own row errors, sigma.net / C,
// predict (the observed one where a frame lacks them). `use`: the rows that count.
bool Night_net(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
               std::vector<double>& net, std::vector<double>& sigma, std::vector<bool>& use)
{
    bool combined = false;
    for (const ProfileRow& row : profile) combined = combined || (row.used > 0 && std::isfinite(row.net));
    if (combined) {
        for (const ProfileRow& row : profile) {
            net.push_back(row.net);
            sigma.push_back(std::hypot(row.sigma_net, row.sigma_net_common));
            use.push_back(row.used > 0);
        }
        return true;
    }
    // By row: some frame found it saturated or outside the image circle; the frames'
    // own variances of their normalised signals and their count.
    std::map<int32_t, bool> flagged;
    std::map<int32_t, std::pair<double, int>> own;
    for (const FrameRecord& frame : frames) {
        if (!frame.measured || !frame.has_signal) continue;
        const double C = frame.coefficient;
        for (const RowUncertainty& row : frame.row_uncertainty) {
            flagged[row.y] = flagged[row.y] || Mismeasured(row);
            own[row.y].first += row.sigma_net * row.sigma_net / (C * C);
            ++own[row.y].second;
        }
    }
    for (const ProfileRow& row : profile) {
        net.push_back(row.mean);
        const auto [variances, count] = own[row.y];
        sigma.push_back(count == row.frames && count > 0 ? std::sqrt(variances) / count : row.sem);
        use.push_back(row.frames > 0 && !flagged[row.y]);
    }
    return false;
}

}  // namespace

NightScattering Night_scattering(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                                 const AirSettings& air, int32_t row90)
{
    NightScattering night;
    const FrameRecord* first = nullptr;
    for (const FrameRecord& frame : frames) {
        if (frame.measured && frame.has_signal && first == nullptr) first = &frame;
    }
    if (first == nullptr || profile.empty()) return night;
    if (row90 < 0) row90 = first->row90;

    // The profile's rows are the processed rows in order, as the footprints are.
    const std::vector<RowFootprint> footprints = Row_footprints();
    if (footprints.size() != profile.size()) return night;
    std::vector<double> net, sigma;
    std::vector<bool> use;
    night.from_combined_net = Night_net(frames, profile, net, sigma, use);
    for (size_t k = 0; k < profile.size(); ++k) use[k] = use[k] && footprints[k].y == profile[k].y;
    const WindowScaled beta = Relative_scattering(net, sigma, footprints, row90);
    const MolecularReference reference = Molecular_reference(air, footprints);
    night.rows = Scattering_columns(beta, reference, footprints, row90);
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
    block["beta_rel_from"] = scattering.from_combined_net ? "the combination's net signal"
                                                          : "the mean of the frames' normalised signals";
    block["fit"] = scattering.formed ? Fit_to_json(scattering.fit) : json(nullptr);
    return block;
}
