#include "night/night_frame.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "base/console.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "frame/frame_pipeline.h"
#include "input/laserpath.h"
#include "input/pictures.h"
#include "night/night_names.h"
#include "night/quicklook.h"
#include "night/row_profile.h"

namespace {

// What the frame pipeline measured, into the frame's record.
void Keep_measurement(const FrameMeasurement& measured, FrameRecord& record)
{
    record.has_levels = measured.has_levels;
    record.levels = measured.levels;
    if (measured.has_signal) {
        record.has_signal = true;
        record.row90 = measured.green.row90;
        record.x90 = Getpathx(measured.green.row90);
        record.coefficient = measured.green.coefficient;
        record.rows = measured.green.rows;
    }
    if (measured.has_uncertainty) {
        record.has_uncertainty = true;
        record.gain = measured.uncertainty.gain;
        record.gain_estimated = measured.uncertainty.gain_estimated;
        record.beam_found = measured.uncertainty.beam_found;
        record.gain_sigma = measured.uncertainty.gain_sigma;
        record.cell_read_variance = measured.uncertainty.cell_read_variance;
        record.dark_cell_read_variance = measured.uncertainty.dark_cell_read_variance;
        record.noise_bins = measured.uncertainty.noise_bins;
        record.clip_level = measured.uncertainty.clip_level;
        record.clip_piled_up = measured.uncertainty.clip_piled_up;
        for (const RowUncertainty& row : measured.uncertainty.rows) record.sigma_signal.push_back(row.sigma_signal);
        record.row_uncertainty = measured.uncertainty.rows;
    }
}

// The frame's scattering function from its net signals and their sigmas, and the
// aerosol fit over its rows that are neither saturated nor outside the image circle.
std::vector<RowScattering> Scattering_function(const FrameMeasurement& measured, const AirSettings& air,
                                               FrameRecord& record)
{
    std::vector<double> net, sigma;
    for (const RowUncertainty& row : measured.uncertainty.rows) {
        net.push_back(row.net);
        sigma.push_back(row.sigma_net);
    }
    const std::vector<RowFootprint> footprints = Row_footprints();
    const WindowScaled beta = Relative_scattering(net, sigma, footprints, measured.green.row90);
    const MolecularReference reference = Molecular_reference(air, footprints);
    std::vector<bool> use;
    for (const RowUncertainty& row : measured.uncertainty.rows) use.push_back(!Mismeasured(row));
    record.fit = Fit_aerosol(air, footprints, reference, beta.value, beta.sigma_own, use);
    record.has_scattering = true;
    return Scattering_columns(beta, reference, footprints, measured.green.row90);
}

// A frame whose net signals are zero or not finite (a dark given as a frame), or
// whose beam was not found along the path, measured nothing: it fails with
// `no_beam`. Not found: most rows weak, and the rows together not significant
// either (sum of net over the square root of the summed variances below 10): a
// faint beam whose rows are weak one by one is still measured, its rows weighted.
Failure Nothing_measured(const FrameMeasurement& measured)
{
    constexpr double significant = 10.0;
    const std::vector<RowUncertainty>& rows = measured.uncertainty.rows;
    size_t weak = 0, usable = 0;
    double sum = 0.0, variance = 0.0;
    for (const RowUncertainty& row : rows) {
        weak += row.weak ? 1 : 0;
        usable += std::isfinite(row.net) && row.net != 0.0f ? 1 : 0;
        if (!row.sat && !row.edge && std::isfinite(row.net) && std::isfinite(row.sigma_net)) {
            sum += row.net;
            variance += row.sigma_net * row.sigma_net;
        }
    }
    const float C = measured.green.coefficient;
    if (usable == 0 || !std::isfinite(C) || C == 0.0f) {
        return Failure{exit_bad_picture, "no_beam: the net signals are zero or not finite (a dark picture given as a frame?)"};
    }
    const double total = variance > 0.0 ? sum / std::sqrt(variance) : 0.0;
    if (!measured.uncertainty.beam_found && !(total >= significant)) {
        char together[64];
        std::snprintf(together, sizeof together, "%.1f", total);
        return Failure{exit_bad_picture, "no_beam: no beam found along the path (" + std::to_string(weak) + " of " +
                                             std::to_string(rows.size()) + " rows weak, all rows together " +
                                             together + " sigma)"};
    }
    return {};
}

}  // namespace

std::string Frame_name(const std::string& file)
{
    const size_t slash = file.find_last_of('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

FrameRecord Measure_night_frame(const NightFrame& frame, const std::string& preamble)
{
    const auto start = std::chrono::steady_clock::now();
    FrameRecord record;
    record.file = frame.file;
    record.name = frame.name;

    // Memory that runs out throws here as anywhere, instead of cutting the text short.
    std::ostringstream console;
    console.exceptions(std::ios::badbit);
    Use_console(console);
    console << preamble;
    // A failed frame is named with its reason; the advice lines of a single run would
    // only repeat themselves frame after frame.
    std::ostringstream advice;
    advice.exceptions(std::ios::badbit);
    Use_advice(advice);
    product_folder = frame.folder;
    // The driver keeps both names within the capacity of the run parameters.
    std::snprintf(filename, filename_capacity, "%s", frame.file.c_str());
    std::snprintf(filename_bckg, filename_capacity, "%s", frame.dark.c_str());

    FrameOptions options;
    options.write_picture = frame.pictures;
    options.uncertainties = true;
    options.imposed_gain = frame.gain;
    options.saturation = frame.saturation;
    const FrameMeasurement measured = Measure_frame(options);
    // The frame's checksum from the bytes the reader mapped, while they are at hand.
    const HeldFileBytes held = Laser_picture_file_bytes();
    FileFacts facts;
    if (!Read_file_facts(frame.file, facts, held.data, held.size)) {
        record.has_facts = true;
        record.facts = facts;
    }
    Keep_measurement(measured, record);
    Failure failure = measured.failure;
    if (measured.has_uncertainty) {
        const std::vector<RowScattering> scattering = Scattering_function(measured, frame.air, record);
        if (Failure written = Write_row_profile(Product_path(row_profile_name), measured.green.rows,
                                                measured.uncertainty.rows, scattering)) {
            failure = written;
        }
    }
    if (frame.quicklook && measured.has_signal) {
        // Around the 90-degree row, or the middle of the table when there is none.
        int32_t x = measured.green.row90 >= 0 ? Getpathx(measured.green.row90) : 0;
        int32_t y = measured.green.row90;
        if (y < 0 && !measured.green.rows.empty()) {
            const TableRow& middle = measured.green.rows[measured.green.rows.size() / 2];
            x = middle.x;
            y = middle.y;
        }
        if (Failure written = Write_quicklook(Product_path(frame_quicklook_name), x, y)) {
            if (!failure) failure = written;
        }
    }
    if (Failure written = Write_product_file(Product_path(frame_console_name), console.str())) {
        if (!failure) failure = written;
    }
    Use_console(std::cout);
    Use_advice(std::cerr);
    product_folder.clear();
    if (!failure && measured.has_uncertainty) failure = Nothing_measured(measured);
    record.code = failure.code;
    record.measured = !failure;
    if (!record.measured) record.message = failure.reason;
    if (failure.code == exit_product_not_written && failure.error != 0) {
        record.message += ": " + std::string(std::strerror(failure.error));
    }
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return record;
}
