#include "night/night_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/console.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "base/signals.h"
#include "input/configuration.h"
#include "input/input_file.h"
#include "input/laserpath.h"
#include "measure/uncertainty.h"
#include "night/master_dark.h"
#include "night/night_cleanup.h"
#include "night/night_names.h"
#include "night/night_netcdf.h"
#include "night/night_plots.h"
#include "night/night_profile.h"
#include "night/night_scattering.h"
#include "night/worker_pool.h"
#include "tavrolin_version.h"

namespace {

using nlohmann::json;

Failure Usage(const std::string& message)
{
    return Failure{exit_usage, message};
}

// The night's failure: its own line, without a frame that could be measured.
Failure No_frame(const Failure& failure)
{
    return Failure{exit_bad_picture, failure.reason + ", no frame can be measured"};
}

// A name or a reason as a message shows it: control bytes as \xNN.
std::string Shown(const std::string& text)
{
    return Shown_token(text, std::string::npos);
}

// A product's failure with the system's reason, when it gave one.
std::string With_reason(const Failure& failure)
{
    return failure.error != 0 ? failure.reason + ": " + std::strerror(failure.error) : failure.reason;
}

// Makes `folder` and its parents; fails with code 6 when it can't be made. `made`
// tells whether the folder itself was made here.
Failure Make_folder(const std::string& folder, bool* made = nullptr)
{
    std::string partial;
    std::istringstream parts(folder);
    std::string part;
    if (!folder.empty() && folder[0] == '/') partial = "/";
    const auto cannot = [&](int error) {
        return Failure{exit_product_not_written, "can't make the folder '" + folder + "'", error};
    };
    bool made_last = false;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        made_last = mkdir(partial.c_str(), 0777) == 0;
        if (!made_last && errno != EEXIST) return cannot(errno);
    }
    if (made != nullptr) *made = made_last;
    struct stat status;
    if (stat(folder.c_str(), &status) != 0) return cannot(errno);
    if (!S_ISDIR(status.st_mode)) return cannot(ENOTDIR);
    return {};
}

std::string Utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return stamp;
}

std::string In_night_folder(const Night& night, const std::string& name)
{
    return night.options.out + "/" + name;
}

json Settings_json()
{
    return json{{"laserdistance", laserdistance}, {"elevation", elevation},
                {"pathwidth", pathwidth},         {"sidescale", sidescale},
                {"median", median},               {"correction", correction},
                {"center_size", center_size},     {"xcentre", xcentre},
                {"ycentre", ycentre},             {"rmax", rmax}};
}

// The code of the frames alone: 0 when every frame was measured, 7 when some were,
// 2 when none was.
int Frames_code(const Night& night)
{
    size_t measured = 0;
    for (const FrameRecord& record : night.records) measured += record.measured ? 1 : 0;
    return measured == night.records.size() ? exit_complete
           : measured > 0                   ? exit_some_frames_failed
                                            : exit_bad_picture;
}

// The files this night wrote into its folder, as paths inside it: each frame's products
// in the frame's folder, then the night's own (night.json last). Only those that exist.
json Products_json(const Night& night, json& folders)
{
    json products = json::array();
    folders = json::array();
    struct stat status;
    const auto add = [&](const std::string& inside) {
        if (lstat(In_night_folder(night, inside).c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            products.push_back(Json_text(inside));
        }
    };
    for (const NightFrame& frame : night.frames) {
        folders.push_back(Json_text(frame.name));
        for (const char* product : {frame_console_name, data_table_name, row_profile_name, corrected_picture_name,
                                    frame_quicklook_name}) {
            add(frame.name + "/" + product);
        }
    }
    for (const char* product : night_product_names) {
        if (std::string(product) != night_record_name) add(product);
    }
    products.push_back(night_record_name);
    return products;
}

// A path inside the night's folder as an earlier night.json lists it: relative, with
// no component that is empty, "." or "..".
bool Inside_folder(const std::string& path)
{
    if (path.empty() || path[0] == '/') return false;
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty() || part == "." || part == "..") return false;
    }
    return path.back() != '/';
}

json Finite_or_null(double value)
{
    return std::isfinite(value) ? json(value) : json(nullptr);
}

// How the night combined its frames: the one normalisation, common to every row, the
// pooled gain, and each measured frame's scale and gain.
json Combination_json(const Night& night)
{
    const NightCombination& c = night.combination;
    json frames = json::array();
    size_t f = 0;
    for (const FrameRecord& record : night.records) {
        if (!record.measured || record.row_uncertainty.size() != record.rows.size() || record.rows.empty()) continue;
        if (f < c.scales.size()) {
            frames.push_back({{"name", record.name}, {"scale", Finite_or_null(c.scales[f])},
                              {"gain", Finite_or_null(c.gains[f])}});
        }
        ++f;
    }
    return {{"normalisation", {{"coefficient", Finite_or_null(c.coefficient)},
                               {"sigma", Finite_or_null(c.coefficient_sigma)},
                               {"relative_sigma", Finite_or_null(c.coefficient_sigma / c.coefficient)},
                               {"row90", c.row90},
                               {"common_to_every_row", true}}},
            {"clip_level", Finite_or_null(c.clip_level)},
            {"gain", {{"pooled", c.gain_pooled},
                      {"pooled_value", Finite_or_null(c.pooled_gain)},
                      {"pooled_sigma", Finite_or_null(c.pooled_gain_sigma)}}},
            {"frames", frames}};
}

// night.json: the settings, the inputs, every frame's record, the summary, and how
// this run went (the only part that differs between two runs of the same night).
std::string Night_record_text(const Night& night, const NightScattering& scattering, int exit_code)
{
    json inputs = json::object();
    for (const auto& [role, input] : night.settings_inputs) inputs[role] = Facts_to_json(input.file, input.facts);
    inputs["darks"] = json::array();
    for (const NightInput& dark : night.dark_inputs) inputs["darks"].push_back(Facts_to_json(dark.file, dark.facts));
    json timings = json::object();
    json frames_json = json::array();
    json frame_inputs = json::array();
    size_t measured = 0;
    for (const FrameRecord& record : night.records) {
        frames_json.push_back(Frame_to_json(record));
        timings[Json_text(record.name)] = record.seconds;
        if (record.has_facts) frame_inputs.push_back(Facts_to_json(record.file, record.facts));
        measured += record.measured ? 1 : 0;
    }
    inputs["frames"] = std::move(frame_inputs);

    json record;
    record["tool"] = {{"name", "tavrolin-night"}, {"version", tavrolin_version}};
    record["settings"] = Settings_json();
    record["dark"] = Json_text(night.dark);
    record["master_dark"] = nullptr;
    if (night.has_master_dark) {
        // The night's own product: its size and checksum, not its time of writing.
        record["master_dark"] = {{"file", Json_text(night.dark)},
                                 {"size", night.master_dark.size},
                                 {"sha256", night.master_dark.sha256}};
    }
    record["dark_source"] = night.dark_source;
    record["clock_offset_s"] = night.options.clock_offset;
    record["inputs"] = std::move(inputs);
    json folders;
    record["products"] = Products_json(night, folders);
    record["folders"] = std::move(folders);
    record["frames"] = std::move(frames_json);
    record["scattering"] = Scattering_to_json(scattering, night.options.air);
    record["combination"] = Combination_json(night);
    record["summary"] = {{"frames", night.records.size()},
                         {"measured", measured},
                         {"failed", night.records.size() - measured},
                         {"exit_code", exit_code}};
    const auto elapsed = std::chrono::steady_clock::now() - night.started;
    json command_line = json::array();
    for (const std::string& word : night.command_line) command_line.push_back(Json_text(word));
    json& run = record["run"];
    run["command_line"] = std::move(command_line);
    run["jobs"] = night.options.jobs;
    run["started"] = night.started_utc;
    run["seconds"] = std::chrono::duration<double>(elapsed).count();
    run["frame_seconds"] = std::move(timings);
    std::string text = record.dump(2) + "\n";
    // The large parts were moved into the record: emptied, none of them needs memory to go.
    Dismantle(record);
    return text;
}

// night.nc's global attributes: the conventions, what the file holds and how it was
// made, the settings, the site and the inputs with their SHA-256.
std::vector<NetcdfAttribute> Netcdf_attributes(const Night& night)
{
    std::vector<NetcdfAttribute> attributes;
    const auto text = [&](const std::string& name, const std::string& value) {
        attributes.push_back(NetcdfAttribute{name, value, 0.0, false});
    };
    std::string command;
    for (const std::string& word : night.command_line) command += (command.empty() ? "" : " ") + word;
    text("Conventions", "CF-1.8");
    text("title", "Laser beam side-scatter profiles of one night, camera measurements of TAVROLIN");
    text("history", night.started_utc + " " + command);
    text("source", std::string("tavrolin-night ") + tavrolin_version);
    const json settings = Settings_json();
    for (const auto& [name, value] : settings.items()) {
        attributes.push_back(NetcdfAttribute{"setting_" + name, "", value.get<double>(), true});
    }
    text("dark", night.dark);
    text("dark_source", night.dark_source);
    attributes.push_back(NetcdfAttribute{"clock_offset_s", "", night.options.clock_offset, true});
    // The one normalisation of profile_signal: its error moves every row together.
    attributes.push_back(NetcdfAttribute{"normalisation_coefficient", "", night.combination.coefficient, true});
    attributes.push_back(NetcdfAttribute{"normalisation_relative_sigma", "",
                                         night.combination.coefficient_sigma / night.combination.coefficient, true});
    if (!night.options.station.empty()) text("station_name", night.options.station);
    if (!night.options.polarisation.empty()) text("laser_polarisation", night.options.polarisation);
    std::string inputs;
    const auto input = [&](const std::string& role, const std::string& file, const FileFacts& facts) {
        inputs += role + " " + file + " sha256:" + facts.sha256 + "\n";
    };
    for (const auto& [role, entry] : night.settings_inputs) input(role, entry.file, entry.facts);
    for (const NightInput& dark : night.dark_inputs) input("dark", dark.file, dark.facts);
    for (const FrameRecord& record : night.records) {
        if (record.has_facts) input("frame", record.file, record.facts);
    }
    text("inputs", inputs);
    return attributes;
}

// The site's and the laser's scalar variables that were given.
std::vector<NetcdfScalar> Netcdf_scalars(const NightOptions& options)
{
    std::vector<NetcdfScalar> scalars;
    const auto add = [&](const char* name, const char* units, const char* standard, const char* about, double value) {
        if (std::isfinite(value)) scalars.push_back(NetcdfScalar{name, units, standard, about, value});
    };
    add("latitude", "degrees_north", "latitude", "station latitude", options.latitude);
    add("longitude", "degrees_east", "longitude", "station longitude", options.longitude);
    add("altitude", "m", "altitude", "station altitude above sea level", options.altitude);
    add("laser_wavelength", "nm", "radiation_wavelength", "laser wavelength", options.wavelength);
    return scalars;
}

// The aerosol fit in a line, for the scattering plot's title.
std::string Fit_text(const AerosolFit& fit)
{
    if (!fit.fitted) return "no aerosol fit (" + fit.reason + ")";
    char text[200];
    std::snprintf(text, sizeof text, "fitted g = %.4f +- %.4f, q = %.4f +- %.4f, chi2/dof = %.2f over %d rows", fit.g,
                  fit.sigma_g, fit.q, fit.sigma_q, fit.chi2_dof, fit.rows);
    return text;
}

// Names a product of the night that could not be written, and why.
void Not_written(Night& night, const Failure& failure)
{
    std::cerr << "tavrolin-night: " << Shown(With_reason(failure)) << std::endl;
    night.products_written = false;
}

// An --out that holds an earlier night (its night.json) is refused without
// --overwrite; with it, the files and then the (emptied) folders that the earlier
// night.json lists are removed, and nothing else.
Failure Clear_earlier_night(const Night& night)
{
    const std::string record_file = In_night_folder(night, night_record_name);
    struct stat status;
    if (lstat(record_file.c_str(), &status) != 0) return {};
    if (!night.options.overwrite) {
        return Usage("'" + night.options.out + "' holds an earlier night (" + night_record_name +
                     "): give --overwrite to replace it, or another --out");
    }
    json earlier;
    try {
        std::ifstream file(record_file);
        earlier = json::parse(file);
    } catch (const json::exception&) {
        earlier = nullptr;
    }
    if (!earlier.is_object() || !earlier.contains("products") || !earlier["products"].is_array()) {
        return Usage("the earlier " + record_file + " lists no products to remove: remove them yourself");
    }
    std::vector<std::string> files, folders;
    for (const json& entry : earlier["products"]) {
        if (!entry.is_string() || !Inside_folder(entry.get<std::string>())) {
            return Usage("the earlier " + record_file + " lists a product outside its folder: remove them yourself");
        }
        files.push_back(entry.get<std::string>());
    }
    if (earlier.contains("folders") && earlier["folders"].is_array()) {
        for (const json& entry : earlier["folders"]) {
            if (entry.is_string() && Inside_folder(entry.get<std::string>())) folders.push_back(entry.get<std::string>());
        }
    }
    // An input of this night among them (a frame, a dark, the master dark given as a
    // dark) would be gone before it is read.
    std::vector<std::string> inputs = {night.options.config, night.options.path, night.options.times};
    inputs.insert(inputs.end(), night.darks.begin(), night.darks.end());
    inputs.insert(inputs.end(), night.options.frames.begin(), night.options.frames.end());
    struct stat input;
    for (const std::string& file : files) {
        if (stat(In_night_folder(night, file).c_str(), &status) != 0) continue;
        for (const std::string& name : inputs) {
            if (!name.empty() && stat(name.c_str(), &input) == 0 && input.st_dev == status.st_dev &&
                input.st_ino == status.st_ino) {
                return Usage("'" + name + "' is a product of the earlier night that --overwrite would remove: "
                             "copy it elsewhere first");
            }
        }
    }
    for (const std::string& file : files) {
        const std::string path = In_night_folder(night, file);
        if (lstat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode) && unlink(path.c_str()) != 0) {
            return Failure{exit_product_not_written, "can't remove the earlier night's '" + path + "'"};
        }
    }
    for (const std::string& folder : folders) rmdir(In_night_folder(night, folder).c_str());   // only when empty
    return {};
}

}  // namespace

Night Start_night(int argc, char** argv)
{
    Night night;
    night.command_line.assign(argv, argv + argc);
    night.started_utc = Utc_now();
    return night;
}

Failure Name_frames(Night& night)
{
    // Frame names become folders: they must differ and be usable as folder names.
    std::set<std::string> names;
    for (const std::string& file : night.options.frames) {
        NightFrame frame;
        frame.file = file;
        frame.name = Frame_name(file);
        if (frame.name.empty() || frame.name == "." || frame.name == "..") {
            return Usage("frame '" + Shown(file) + "' has no file name to name its folder by");
        }
        for (const char* product : night_product_names) {
            if (frame.name == product) {
                return Usage("frame '" + Shown(file) + "' would put its folder where the night's " + product +
                             " goes");
            }
        }
        if (!names.insert(frame.name).second) {
            return Usage("two frames are named '" + Shown(frame.name) + "' (" + Shown(file) +
                         "): each frame's products go into a folder of its name");
        }
        if (file.size() >= size_t(filename_capacity)) {
            return Usage("frame '" + Shown_token(file) + "' has a name longer than " +
                         std::to_string(filename_capacity - 1) + " characters");
        }
        frame.folder = In_night_folder(night, frame.name);
        frame.pictures = night.options.pictures;
        frame.quicklook = !night.options.no_pictures;
        frame.gain = night.options.gain;
        frame.saturation = night.options.saturation;
        frame.air = night.options.air;
        night.frames.push_back(frame);
    }
    for (const std::string& dark : night.options.darks) {
        if (dark != no_dark_name) night.darks.push_back(dark);
    }
    if (!night.darks.empty() && night.darks.size() != night.options.darks.size()) {
        return Usage("--dark NODARK can't be given together with dark pictures");
    }
    if (!night.darks.empty()) night.dark_source = "command_line";
    return {};
}

Failure Read_settings(Night& night)
{
    // Memory that runs out throws here as anywhere, instead of cutting the text short.
    std::ostringstream preamble, advice;
    preamble.exceptions(std::ios::badbit);
    advice.exceptions(std::ios::badbit);
    Use_console(preamble);
    Use_advice(advice);
    Print_banner();
    // The stages name the files `tavrolin` reads; the night's messages name the files
    // given here.
    std::string given = night.options.config, usual = config_file_name;
    Failure failure = Read_configuration(night.options.config);
    if (!failure && (failure = Read_laser_path(night.options.path))) {
        given = night.options.path;
        usual = path_file_name;
    }
    Use_console(std::cout);
    Use_advice(std::cerr);
    night.preamble = preamble.str();
    if (failure) {
        const std::string named = "'" + Shown(given) + "'";
        std::string& reason = failure.reason;
        for (size_t at = 0; (at = reason.find("'" + usual + "'", at)) != std::string::npos; at += named.size()) {
            reason.replace(at, usual.size() + 2, named);
        }
        if (reason.find(named) == std::string::npos) reason = Shown(given) + ": " + reason;
        // The advice speaks of `tavrolin`'s folder; of it the night keeps the
        // system's reason only.
        const std::string said = advice.str(), system = "The system's reason: ";
        const size_t from = said.find(system);
        if (from != std::string::npos) {
            reason += " (" + said.substr(from + system.size(), said.find_first_of(";\n", from) - from -
                                                                  system.size()) + ")";
        }
    }
    if (!failure && night.options.darks.empty() && std::string(filename_bckg) != no_dark_name) {
        // As `tavrolin` in the configuration's folder would find it.
        const std::string dark = filename_bckg;
        const size_t slash = night.options.config.find_last_of('/');
        night.darks.push_back(dark[0] == '/' || slash == std::string::npos
                                  ? dark
                                  : night.options.config.substr(0, slash + 1) + dark);
        night.dark_source = "configuration";
    }
    return failure;
}

Failure Date_frames(Night& night)
{
    if (!night.options.times.empty()) {
        if (Failure failure = Read_times_file(night.options.times, night.times)) return failure;
    }
    for (NightFrame& frame : night.frames) frame.dated = Date_frame(frame.file, night.times, night.options.clock_offset);
    // Frames without a time (missing files) last, each group in command-line order.
    std::stable_sort(night.frames.begin(), night.frames.end(), [](const NightFrame& a, const NightFrame& b) {
        if (a.dated.known != b.dated.known) return a.dated.known;
        return a.dated.known && a.dated.time < b.dated.time;
    });
    return {};
}

Failure Prepare_folder_and_inputs(Night& night)
{
    // No product of the night, nor of a frame, may take an input's place, nor may the
    // earlier night's be removed when it is one.
    Protect_input(night.options.config);
    Protect_input(night.options.path);
    if (!night.options.times.empty()) Protect_input(night.options.times);
    for (const std::string& dark : night.darks) Protect_input(dark);
    for (const NightFrame& frame : night.frames) Protect_input(frame.file);
    if (Failure failure = Clear_earlier_night(night)) return failure;
    if (Failure failure = Make_folder(night.options.out)) {
        failure.reason = Shown(With_reason(failure));
        return failure;
    }
    FileFacts facts;
    for (const auto& [role, file] : {std::pair<const char*, std::string>{"configuration", night.options.config},
                                     {"path", night.options.path}, {"times", night.options.times}}) {
        if (!file.empty() && !Read_file_facts(file, facts)) night.settings_inputs.emplace_back(role, NightInput{file, facts});
    }
    // The darks are hashed while the first frames are measured.
    for (const std::string& dark : night.darks) {
        if (Failure failure = Read_file_stamp(dark, facts)) return No_frame(failure);
        night.dark_inputs.push_back(NightInput{dark, facts});
    }
    return {};
}

Failure Prepare_dark(Night& night)
{
    night.dark = no_dark_name;
    if (night.darks.size() == 1) night.dark = night.darks.front();
    if (Failure failure = Check_dark_sizes(night.darks, night.frames.front().file)) return No_frame(failure);
    if (night.darks.size() > 1) {
        night.dark = In_night_folder(night, master_dark_name);
        if (Failure failure = Write_master_dark(night.darks, night.dark)) {
            if (failure.code != exit_product_not_written) return No_frame(failure);
            failure.reason = Shown(With_reason(failure));
            return failure;
        }
        night.has_master_dark = !Read_file_stamp(night.dark, night.master_dark);
    }
    if (night.dark.size() >= size_t(filename_capacity)) {
        return Usage("the dark's name is longer than " + std::to_string(filename_capacity - 1) + " characters");
    }
    std::vector<std::string> made;
    for (NightFrame& frame : night.frames) {
        frame.dark = night.dark;
        bool new_folder = false;
        Failure failure = Make_folder(frame.folder, &new_folder);
        if (new_folder) made.push_back(frame.folder);
        if (failure) {
            for (auto folder = made.rbegin(); folder != made.rend(); ++folder) rmdir(folder->c_str());
            failure.reason = Shown(With_reason(failure));
            return failure;
        }
    }
    // From here on an ending signal takes away what the night has begun.
    Start_night_cleanup(made);
    return {};
}

Failure Measure_night(Night& night)
{
    std::string results = In_night_folder(night, ".tavrolin-night.XXXXXX");
    {
        EndingSignalsHeld held;
        if (mkdtemp(results.data()) == nullptr) {
            return Failure{exit_product_not_written, "can't make a folder for the workers' results in '" +
                                                         Shown(night.options.out) + "': " + std::strerror(errno)};
        }
        Keep_work_folder(results);
    }
    night.work_folder = results;
    // What every frame's rows share is worked out once; the workers inherit it.
    Prepare_window_correlations();
    // The night's own reading of the darks doesn't hold up the frames.
    Failure unread_dark;
    const auto hash_darks = [&night, &unread_dark]() {
        for (NightInput& dark : night.dark_inputs) {
            if (Failure failure = Hash_file(dark.file, dark.facts); failure && !unread_dark) unread_dark = failure;
        }
        if (night.has_master_dark) night.has_master_dark = !Hash_file(night.dark, night.master_dark);
    };
    night.records = Measure_frames(night.frames, night.options.jobs, night.preamble, results, hash_darks);
    for (size_t i = 0; i < night.records.size(); ++i) night.records[i].dated = night.frames[i].dated;
    if (unread_dark) {
        // A dark that went between its first look and its hash: the night ends as
        // it would have had it gone before, and takes away what it began.
        End_night_cleanup();
        return No_frame(unread_dark);
    }
    return {};
}

void Write_night_products(Night& night)
{
    const std::vector<ProfileRow> profile = Combine_profile(night.records, &night.combination);
    const NightScattering scattering = Night_scattering(night.records, profile, night.options.air, night.combination.row90);
    const std::string profile_file = In_night_folder(night, night_profile_name);
    if (Failure failure = Write_night_profile(profile_file, profile, scattering.rows, scattering.fit.model,
                                              &night.combination)) {
        Not_written(night, failure);
    }
    // gnuplot draws while the night writes its netCDF file.
    const bool drawing = Gnuplot_available() && night.products_written;
    NightDrawings drawings;
    if (drawing) {
        const bool has_beta = std::any_of(scattering.rows.begin(), scattering.rows.end(), [](const RowScattering& row) {
            return row.beta > 0.0 && row.beta_mol > 0.0 && std::isfinite(row.beta) && std::isfinite(row.beta_mol);
        });
        drawings.Start(night.options.out, night.work_folder, night.records, profile, scattering.rows,
                       scattering.fit.model, Fit_text(scattering.fit), has_beta, scattering.fit.fitted,
                       night.options.jobs);
    }
    const std::string netcdf_file = In_night_folder(night, night_netcdf_name);
    if (Failure failure = Write_night_netcdf(netcdf_file, night.records, profile, Netcdf_attributes(night),
                                             Netcdf_scalars(night.options), &scattering)) {
        Not_written(night, failure);
        drawings.Abandon();   // as after any product that could not be written
    }
    if (!Gnuplot_available()) {
        std::cerr << "tavrolin-night: gnuplot is not installed: " << night_map_name << ", "
                  << night_profile_plot_name << " and " << night_scattering_plot_name << " are not drawn" << std::endl;
    }
    for (const Failure& failure : drawings.Finish()) Not_written(night, Failure{failure.code, failure.reason});
    Remove_folder_and_files(night.work_folder);
    Forget_work_folder();
    // The record's exit code is the night's: a record that can't be written makes it 6.
    const std::string record_file = In_night_folder(night, night_record_name);
    if (Failure failure = Write_product_file(record_file, Night_record_text(night, scattering, Night_exit_code(night)))) {
        Not_written(night, failure);
    }
}

int Night_exit_code(const Night& night)
{
    const int code = Frames_code(night);
    if (!night.products_written && code != exit_bad_picture) return exit_product_not_written;
    return code;
}

int End_night(const Failure& failure)
{
    if (!failure.reason.empty()) std::cerr << "tavrolin-night: " << Shown(failure.reason) << std::endl;
    if (failure.code == exit_usage && !failure.reason.empty()) std::cerr << Usage_lines() << std::endl;
    return failure.code;
}
